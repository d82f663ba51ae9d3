// The Python class LegendreBasisEvaluator: coefficients handed over once with
// set_dofs, then evaluated, with time derivatives, at many times.
#include <cstdint>
#include <vector>

#include "binder.hpp"
#include "class_object.hpp"
#include "converters.hpp"
#include "entry_guard.hpp"
#include "grid_arguments.hpp"
#include "instance.hpp"
#include "legendre/coefficient_store.hpp"
#include "module_contents.hpp"
#include "results.hpp"

namespace pwpoly::binding {
namespace {

using EvaluatorObject = Instance<CoefficientStore>;

constexpr std::string_view class_name = "LegendreBasisEvaluator";
constexpr std::array<std::string_view, 1> dofs_parameter = {"legendre_vals"};
constexpr std::array<std::string_view, 1> time_parameter = {"t"};

constexpr FunctionDescription constructor_description{class_name, "__new__", grid_parameters};
constexpr FunctionDescription set_dofs_description{class_name, "set_dofs", dofs_parameter};
constexpr FunctionDescription evaluate_at_description{class_name, "evaluate_at", time_parameter};
constexpr FunctionDescription evaluate_derivative_at_description{
    class_name, "evaluate_derivative_at", time_parameter};

EvaluatorObject& receiver(PyObject* self) {
    return receiver_of<EvaluatorObject>(self, legendre_basis_evaluator_type(), class_name);
}

// Writes the first N items of a coefficient sequence into a buffer of N and
// counts them all, so that a sequence of the wrong length is reported with
// its true length.
class DofsSink {
public:
    explicit DofsSink(CoefficientVector buffer) : values_(std::move(buffer)) {}

    void operator()(std::size_t index, double value) {
        if (index < values_.size()) [[likely]] {
            values_[index] = value;
        } else {
            check_sequence_length(index);
        }
    }
    // Items first ... last - 1 of a buffer, straight into the new vector.
    void write_items(const BufferItems& items, std::size_t first, std::size_t last) {
        const std::size_t stop = std::min(last, values_.size());
        if (first < stop) {
            items.read(first, 1, stop - first, values_.data() + first);
        }
        if (last > values_.size()) {
            check_sequence_length(last - 1);
        }
    }
    [[nodiscard]] CoefficientVector take() { return std::move(values_); }

private:
    CoefficientVector values_;
};

PyObject* construct(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return entry_guard([&] {
        return new_instance(
            type, make_coefficient_store(grid_arguments(constructor_description, args, kwargs)));
    });
}

PyObject* set_dofs_entry(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                         PyObject* kwnames) {
    return entry_guard([&] {
        const auto bound = bind_vectorcall<1>(set_dofs_description, args, nargs, kwnames);
        EvaluatorObject& instance = receiver(self);
        const ExclusiveHold hold(instance.holds);
        DofsSink sink(make_coefficient_buffer(instance.record));
        const std::size_t given = convert_argument("legendre_vals", bound[0], [&](PyObject* o) {
            return convert_float_sequence(o, sink);
        });
        set_dofs(instance.record, sink.take(), given);
        return none_result();
    });
}

template <double (*Evaluation)(const CoefficientStore&, double)>
PyObject* evaluation_entry(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                           PyObject* kwnames, const FunctionDescription& description) {
    return entry_guard([&] {
        const auto bound = bind_vectorcall<1>(description, args, nargs, kwnames);
        EvaluatorObject& instance = receiver(self);
        const SharedHold hold(instance.holds);
        const double t = convert_argument("t", bound[0], to_float);
        return float_result(Evaluation(instance.record, t));
    });
}

PyObject* evaluate_at_entry(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* kwnames) {
    return evaluation_entry<evaluate_at>(self, args, nargs, kwnames, evaluate_at_description);
}

PyObject* evaluate_derivative_at_entry(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                       PyObject* kwnames) {
    return evaluation_entry<evaluate_derivative_at>(self, args, nargs, kwnames,
                                                    evaluate_derivative_at_description);
}

PyMethodDef methods[] = {
    {"set_dofs", fastcall_entry<&set_dofs_entry>(), METH_FASTCALL | METH_KEYWORDS,
     "set_dofs($self, legendre_vals)\n--\n\n"},
    {"evaluate_at", fastcall_entry<&evaluate_at_entry>(), METH_FASTCALL | METH_KEYWORDS,
     "evaluate_at($self, t)\n--\n\n"},
    {"evaluate_derivative_at", fastcall_entry<&evaluate_derivative_at_entry>(),
     METH_FASTCALL | METH_KEYWORDS, "evaluate_derivative_at($self, t)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

constexpr const char* documentation =
    "LegendreBasisEvaluator(degree, n_t, T)\n--\n\nClass to evaluate legendre basis more often "
    "without copying the dofs from python each time";

PyType_Slot slots[] = {
    {Py_tp_base, &PyBaseObject_Type},
    {Py_tp_new, reinterpret_cast<void*>(&construct)},
    {Py_tp_methods, methods},
    {Py_tp_dealloc, reinterpret_cast<void*>(&deallocate_instance<CoefficientStore>)},
    {Py_tp_doc, const_cast<char*>(documentation)},
    {0, nullptr},
};

PyType_Spec spec = {"builtins.LegendreBasisEvaluator", sizeof(EvaluatorObject), 0,
                    Py_TPFLAGS_DEFAULT, slots};

OnceCell cell;

}  // namespace

const ClassDefinition legendre_basis_evaluator_class = {"LegendreBasisEvaluator", &spec,
                                                        documentation, &cell};

PyTypeObject* legendre_basis_evaluator_type() {
    return existing_class_object(legendre_basis_evaluator_class);
}

}  // namespace pwpoly::binding
