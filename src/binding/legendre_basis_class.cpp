// The Python class LegendreBasis: evaluation of expansions given as flat lists
// of coefficients, and the tables of all basis functions at a time.
#include <cstdint>
#include <vector>

#include "binder.hpp"
#include "class_object.hpp"
#include "converters.hpp"
#include "entry_guard.hpp"
#include "grid_arguments.hpp"
#include "instance.hpp"
#include "legendre/basis_tables.hpp"
#include "legendre/coefficient_matrix.hpp"
#include "legendre/evaluation.hpp"
#include "legendre/interval_location.hpp"
#include "module_contents.hpp"
#include "results.hpp"
#include "support/cancellation.hpp"

namespace pwpoly::binding {
namespace {

using LegendreBasisObject = Instance<LegendreBasis>;

constexpr std::string_view class_name = "LegendreBasis";
constexpr std::array<std::string_view, 2> evaluate_at_parameters = {"t", "legendre_vals"};
constexpr std::array<std::string_view, 1> time_parameter = {"t"};

constexpr FunctionDescription constructor_description{class_name, "__new__", grid_parameters};
constexpr FunctionDescription evaluate_at_description{class_name, "evaluate_at",
                                                      evaluate_at_parameters};
constexpr FunctionDescription values_table_description{class_name, "evaluate_all_basis_functions",
                                                       time_parameter};
constexpr FunctionDescription derivatives_table_description{
    class_name, "evaluate_all_basis_function_derivatives", time_parameter};

LegendreBasisObject& receiver(PyObject* self) {
    return receiver_of<LegendreBasisObject>(self, legendre_basis_type(), class_name);
}

// Keeps, while a coefficient sequence is converted, only the coefficients of
// interval k (flat indices k, k + n_t, ..., k + n_t * degree) and counts the
// items: the evaluation needs nothing else, and no vector of all items is
// built.
class IntervalCoefficientSink {
public:
    IntervalCoefficientSink(const LegendreBasis& basis, index_t k)
        : next_(k < basis.n_t ? std::uint64_t{k} : no_more),
          stride_(basis.n_t),
          end_(coefficient_count(basis)) {}

    void operator()(std::size_t index, double value) {
        if (index == next_) {
            coefficients_.push_back(value);
            next_ += stride_;
            if (next_ >= end_) {
                next_ = no_more;
            }
        }
        check_sequence_length(index);
    }

    // A buffer's items all convert, so only the interval's are read, and
    // only when the length test will pass. A long read goes in runs with a
    // cancellation poll between them, and the poll holds no export: if a
    // signal handler changed the object meanwhile, the rest of the items are
    // those the object now has, read through its own item access.
    std::size_t read_buffer(BufferItems& items) {
        const std::size_t count = items.size();
        if (count > 0) {
            check_sequence_length(count - 1);
        }
        if (next_ == no_more || count < end_) {
            return count;
        }
        const std::size_t wanted = (end_ - 1 - next_) / stride_ + 1;
        coefficients_.resize(wanted);
        std::size_t done = 0;
        while (done < wanted) {
            const std::size_t run = std::min(filling_chunk, wanted - done);
            items.read(next_ + done * stride_, stride_, run, coefficients_.data() + done);
            done += run;
            if (done < wanted && !(items.reopen_after_poll() && items.size() == count)) {
                return read_by_access(items, done);
            }
        }
        return count;
    }

    [[nodiscard]] const std::vector<double>& coefficients() const { return coefficients_; }

private:
    // The interval's items from the `done`-th on through the object's own item
    // access; an item past the end makes the sequence as short as that.
    std::size_t read_by_access(const BufferItems& items, std::size_t done) {
        for (; done < coefficients_.size(); ++done) {
            const std::size_t index = next_ + done * stride_;
            if (!items.item_by_access(index, coefficients_[done])) {
                coefficients_.resize(done);
                return index;
            }
            poll_.tick();
        }
        return end_;
    }

    static constexpr std::uint64_t no_more = ~std::uint64_t{0};
    CancellationCounter poll_;
    std::uint64_t next_;
    std::uint64_t stride_;
    std::uint64_t end_;
    std::vector<double> coefficients_;
};

PyObject* construct(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return entry_guard(
        [&] { return new_instance(type, grid_arguments(constructor_description, args, kwargs)); });
}

PyObject* evaluate_at(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return entry_guard([&] {
        const auto bound = bind_vectorcall<2>(evaluate_at_description, args, nargs, kwnames);
        LegendreBasisObject& instance = receiver(self);
        const SharedHold hold(instance.holds);
        const LegendreBasis& basis = instance.record;
        const double t = convert_argument("t", bound[0], to_float);
        const IntervalLocation at = locate_interval(basis, t);
        IntervalCoefficientSink sink(basis, at.k);
        const std::size_t given = convert_argument("legendre_vals", bound[1], [&](PyObject* o) {
            return convert_float_sequence(o, sink);
        });
        check(given >= coefficient_count(basis), matrix_buffer_too_small_message);
        check_interval_in_matrix(basis.n_t, std::uint64_t{basis.degree} + 1, at.k, basis.degree);
        return float_result(expansion_value(at.xi, contiguous_coefficients(sink.coefficients())));
    });
}

// The table of N entries: one shared +0.0 everywhere but at the degree + 1
// entries of the located interval.
PyRef table_result(const LegendreBasis& basis, const LocalBasisEntries& local) {
    const std::uint64_t count = checked_vector_length(coefficient_count(basis), sizeof(double));
    const std::uint64_t first = checked_coefficient_index(basis, local.k, 0);
    ListBuilder table(count);
    PyRef zero = float_result(0.0);
    CancellationCounter poll;
    for (std::uint64_t i = 0; i < count; ++i) {
        poll.tick();
        table.set(i, new_ref(zero.get()));
    }
    for (std::uint64_t i = 0; i < local.entries.size(); ++i) {
        table.replace(first + std::uint64_t{basis.n_t} * i,
                      float_result(local.entries[i]).release());
    }
    return table.finish();
}

template <LocalBasisEntries (*local_entries)(const LegendreBasis&, double)>
PyObject* basis_table(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                      const FunctionDescription& description) {
    return entry_guard([&] {
        const auto bound = bind_vectorcall<1>(description, args, nargs, kwnames);
        LegendreBasisObject& instance = receiver(self);
        const SharedHold hold(instance.holds);
        const double t = convert_argument("t", bound[0], to_float);
        return table_result(instance.record, local_entries(instance.record, t));
    });
}

PyObject* evaluate_all_basis_functions(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                       PyObject* kwnames) {
    return basis_table<local_basis_values>(self, args, nargs, kwnames, values_table_description);
}

PyObject* evaluate_all_basis_function_derivatives(PyObject* self, PyObject* const* args,
                                                  Py_ssize_t nargs, PyObject* kwnames) {
    return basis_table<local_basis_derivatives>(self, args, nargs, kwnames,
                                                derivatives_table_description);
}

PyMethodDef methods[] = {
    {"evaluate_at", fastcall_entry<&evaluate_at>(), METH_FASTCALL | METH_KEYWORDS,
     "evaluate_at($self, t, legendre_vals)\n--\n\n"},
    {"evaluate_all_basis_functions", fastcall_entry<&evaluate_all_basis_functions>(),
     METH_FASTCALL | METH_KEYWORDS, "evaluate_all_basis_functions($self, t)\n--\n\n"},
    {"evaluate_all_basis_function_derivatives",
     fastcall_entry<&evaluate_all_basis_function_derivatives>(), METH_FASTCALL | METH_KEYWORDS,
     "evaluate_all_basis_function_derivatives($self, t)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

constexpr const char* documentation = "LegendreBasis(degree, n_t, T)\n--\n\n";

PyType_Slot slots[] = {
    {Py_tp_base, &PyBaseObject_Type},
    {Py_tp_new, reinterpret_cast<void*>(&construct)},
    {Py_tp_methods, methods},
    {Py_tp_dealloc, reinterpret_cast<void*>(&deallocate_instance<LegendreBasis>)},
    {Py_tp_doc, const_cast<char*>(documentation)},
    {0, nullptr},
};

PyType_Spec spec = {"builtins.LegendreBasis", sizeof(LegendreBasisObject), 0, Py_TPFLAGS_DEFAULT,
                    slots};

OnceCell cell;

}  // namespace

const ClassDefinition legendre_basis_class = {"LegendreBasis", &spec, documentation, &cell};

PyTypeObject* legendre_basis_type() { return existing_class_object(legendre_basis_class); }

}  // namespace pwpoly::binding
