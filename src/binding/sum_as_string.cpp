// sum_as_string(a, b): the decimal text of the sum of two unsigned 32-bit
// integers. The sum is formed in 64 bits, so it is the true sum (at most
// 8589934590), never wrapped.
#include <cstdint>
#include <string>

#include "binder.hpp"
#include "converters.hpp"
#include "entry_guard.hpp"
#include "module_contents.hpp"
#include "results.hpp"

namespace pwpoly::binding {
namespace {

constexpr std::array<std::string_view, 2> parameters = {"a", "b"};
constexpr FunctionDescription description{"", "sum_as_string", parameters};

PyObject* sum_as_string(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs,
                        PyObject* kwnames) {
    return entry_guard([&] {
        const auto bound = bind_vectorcall<2>(description, args, nargs, kwnames);
        const index_t a = convert_argument("a", bound[0], to_index);
        const index_t b = convert_argument("b", bound[1], to_index);
        const std::uint64_t sum = std::uint64_t{a} + std::uint64_t{b};
        return text_result(std::to_string(sum));
    });
}

}  // namespace

PyMethodDef sum_as_string_method = {
    "sum_as_string", fastcall_entry<&sum_as_string>(), METH_FASTCALL | METH_KEYWORDS,
    "sum_as_string(a, b)\n--\n\nFormats the sum of two numbers as string."};

}  // namespace pwpoly::binding
