// Validation of raw compressed-row data, the entry-list record, and the
// conversions between the two records.
#include <gtest/gtest.h>

#include <variant>

#include "core_test_helpers.hpp"
#include "sparse/conversions.hpp"
#include "sparse/try_from_csr_data.hpp"

namespace pwpoly {
namespace {

using testing::message_of;
using Kind = SparseFormatErrorKind;

SparseFormatError rejection(index_t nrows, index_t ncols, std::vector<index_t> offsets,
                            std::vector<index_t> columns, std::vector<double> values) {
    CsrResult result =
        try_from_csr_data(nrows, ncols, std::move(offsets), std::move(columns), std::move(values));
    if (auto* error = std::get_if<SparseFormatError>(&result)) {
        return *error;
    }
    return {Kind::InvalidStructure, "<accepted>"};
}

TEST(TryFromCsrData, RejectsWithTheFirstViolation) {
    EXPECT_EQ(rejection(2, 3, {0, 1}, {0}, {1.0}),
              (SparseFormatError{Kind::InvalidStructure,
                                 "Length of row offset array is not equal to nrows + 1."}));
    // "format specification" in this message means the CSR layout.
    EXPECT_EQ(
        rejection(2, 3, {1, 1, 2}, {0, 1}, {1.0, 2.0}),
        (SparseFormatError{Kind::InvalidStructure,
                           "First or last row offset is inconsistent with format specification."}));
    EXPECT_EQ(rejection(2, 3, {0, 2, 2}, {1, 1}, {1.0, 2.0}),
              (SparseFormatError{Kind::DuplicateEntry, "Matrix data contains duplicate entries."}));
    EXPECT_EQ(rejection(2, 3, {0, 2, 2}, {2, 1}, {1.0, 2.0}),
              (SparseFormatError{Kind::InvalidStructure,
                                 "Column indices are not monotonically increasing (sorted) "
                                 "within each row."}));
    EXPECT_EQ(rejection(2, 3, {0, 2, 2}, {0, 3}, {1.0, 2.0}),
              (SparseFormatError{Kind::IndexOutOfBounds, "Column indices are out of bounds."}));
    EXPECT_EQ(rejection(2, 3, {0, 2, 2}, {0, 1}, {1.0}),
              (SparseFormatError{Kind::InvalidStructure,
                                 "Number of values and column indices must be the same"}));
    // The structure is judged before the values.
    EXPECT_EQ(rejection(2, 3, {0, 2, 2}, {1, 1}, {}).kind, Kind::DuplicateEntry);
    // An offset beyond nnz is reported before its columns are read.
    EXPECT_EQ(rejection(2, 3, {0, 3, 2}, {0, 1}, {1.0, 2.0}).error,
              "Row offsets are not monotonically increasing.");
}

TEST(SparseRecords, GuardsAndDebugForm) {
    EXPECT_EQ(debug_form({Kind::InvalidStructure, "say \"no\""}),
              "SparseFormatError { kind: InvalidStructure, error: \"say \\\"no\\\"\" }");
    EXPECT_EQ(message_of([] { (void)CsrMatrix{}.nrows(); }),
              "assertion failed: !self.major_offsets.is_empty()");
    CooMatrix coo(2, 3);
    EXPECT_EQ(message_of([&] { coo.push(2, 0, 1.0); }), "assertion failed: i < self.nrows");
    EXPECT_EQ(message_of([&] { coo.push(1, 3, 1.0); }), "assertion failed: j < self.ncols");
    EXPECT_EQ(coo.nnz(), 0U);
}

TEST(ConvertCooCsr, SortsRowsAndAddsDuplicatesKeepingZeros) {
    CooMatrix coo(1, 3);
    coo.push(0, 2, 1.0);
    coo.push(0, 0, 2.0);
    coo.push(0, 2, 3.0);
    CsrMatrix csr = convert_coo_csr(coo);
    EXPECT_EQ(csr.major_offsets, (std::vector<index_t>{0, 2}));
    EXPECT_EQ(csr.column_indices, (std::vector<index_t>{0, 2}));
    EXPECT_EQ(csr.values, (std::vector<double>{2.0, 4.0}));

    CooMatrix zeros(3, 2);
    zeros.push(2, 1, 0.0);
    zeros.push(0, 1, 5.0);
    zeros.push(0, 1, -5.0);
    csr = convert_coo_csr(zeros);
    EXPECT_EQ(csr.major_offsets, (std::vector<index_t>{0, 1, 1, 2}));
    EXPECT_EQ(csr.column_indices, (std::vector<index_t>{1, 1}));
    EXPECT_EQ(csr.values, (std::vector<double>{0.0, 0.0}));
    EXPECT_EQ(csr.ncols, 2U);
}

TEST(ConvertCooCsr, FailsOnInconsistentEntryLists) {
    CooMatrix uneven(1, 1);
    uneven.rows = {0, 0};
    uneven.cols = {0};
    uneven.values = {1.0, 2.0};
    EXPECT_EQ(message_of([&] { (void)convert_coo_csr(uneven); }),
              "assertion `left == right` failed\n  left: 1\n right: 2");
    CooMatrix outside(1, 1);
    outside.rows = {0};
    outside.cols = {1};
    outside.values = {1.0};
    EXPECT_EQ(message_of([&] { (void)convert_coo_csr(outside); }),
              "Internal error: Invalid CSR data during COO->CSR conversion: SparseFormatError { "
              "kind: IndexOutOfBounds, error: \"Column indices are out of bounds.\" }");
}

TEST(ConvertCsrCoo, ListsEntriesInRowMajorOrder) {
    const CsrMatrix csr{{0, 2, 2, 3}, {0, 3, 1}, 4, {1.0, 0.0, 3.0}};
    const CooMatrix coo = convert_csr_coo(csr);
    EXPECT_EQ(coo.nrows, 3U);
    EXPECT_EQ(coo.ncols, 4U);
    EXPECT_EQ(coo.rows, (std::vector<index_t>{0, 0, 2}));
    EXPECT_EQ(coo.cols, (std::vector<index_t>{0, 3, 1}));
    EXPECT_EQ(coo.values, (std::vector<double>{1.0, 0.0, 3.0}));
}

}  // namespace
}  // namespace pwpoly
