// The check helpers build the exact messages that reach Python.
#include <gtest/gtest.h>

#include "core_test_helpers.hpp"
#include "support/failure.hpp"
#include "support/failure_report.hpp"
#include "support/size_policy.hpp"

namespace pwpoly {
namespace {

using testing::message_of;

TEST(Checks, MessagesMatchTheirFormats) {
    EXPECT_EQ(message_of([] { check_index(3, 3); }),
              "index out of bounds: the len is 3 but the index is 3");
    EXPECT_EQ(message_of([] { check_slice(0, 5, 4); }),
              "range end index 5 out of range for slice of length 4");
    EXPECT_EQ(message_of([] { check_slice(3, 2, 4); }), "slice index starts at 3 but ends at 2");
    EXPECT_EQ(message_of([] { assert_equal(8, 9); }),
              "assertion `left == right` failed\n  left: 8\n right: 9");
    EXPECT_EQ(message_of([] { assert_equal(8, 9, "lengths differ"); }),
              "assertion `left == right` failed: lengths differ\n  left: 8\n right: 9");
    EXPECT_EQ(message_of([] { check(false, "custom"); }), "custom");
}

TEST(Checks, PassingChecksDoNothing) {
    EXPECT_EQ(message_of([] {
                  check_index(2, 3);
                  check_slice(0, 4, 4);
                  check_slice(4, 4, 4);
                  assert_equal(5, 5, "same");
                  check(true, "never");
              }),
              "<no failure>");
}

TEST(Checks, FailureKeepsTheLocationOfTheCheck) {
    try {
        check_index(1, 0);
        FAIL();
    } catch (const InternalFailure& failure) {
        EXPECT_NE(std::string(failure.location().file_name()).find("test_failure.cpp"),
                  std::string::npos);
    }
}

TEST(SizePolicy, LimitsFollowTheThirtyTwoBitPlatform) {
    EXPECT_EQ(checked_vector_length(268435455, 8), 268435455U);
    EXPECT_EQ(message_of([] { (void)checked_vector_length(268435456, 8); }), "capacity overflow");
    EXPECT_EQ(checked_vector_length(536870911, 4), 536870911U);
    EXPECT_EQ(message_of([] { (void)checked_vector_length(536870912, 4); }), "capacity overflow");
    EXPECT_EQ(message_of([] { (void)checked_mul(1ULL << 32, 1ULL << 32); }), "capacity overflow");
    EXPECT_EQ(message_of([] { (void)checked_add(~0ULL, 1); }), "capacity overflow");
    EXPECT_EQ(message_of([] { (void)make_vector<double>(1ULL << 40); }), "capacity overflow");
    EXPECT_EQ(make_vector<double>(3, 1.5), (std::vector<double>{1.5, 1.5, 1.5}));
}

TEST(Report, LayoutNamesThreadLocationAndMessage) {
    const auto location = std::source_location::current();
    const std::string report = format_failure_report("boom", location);
    EXPECT_EQ(report.rfind("\nthread '<unnamed>' (", 0), 0U);
    const std::string tail = std::string(" panicked at ") + location.file_name() + ":" +
                             std::to_string(location.line()) + ":" +
                             std::to_string(location.column()) + ":\nboom\n";
    EXPECT_NE(report.find(tail), std::string::npos);
}

TEST(Report, BacktraceStyleFromEnvironmentValue) {
    EXPECT_EQ(backtrace_style_from(nullptr), BacktraceStyle::note_once);
    EXPECT_EQ(backtrace_style_from("0"), BacktraceStyle::note_once);
    EXPECT_EQ(backtrace_style_from("full"), BacktraceStyle::full_frames);
    EXPECT_EQ(backtrace_style_from("1"), BacktraceStyle::short_frames);
    EXPECT_EQ(backtrace_style_from(""), BacktraceStyle::short_frames);
}

}  // namespace
}  // namespace pwpoly
