#include "platform/posix/termination_codes.h"

#include <gtest/gtest.h>

namespace ostrivan::posix {
namespace {

TEST(TerminationCodes, KeepTheNewestCodesUpToTheirCapacity) {
    TerminationCodes codes(3);
    for (pid_t pid = 1; pid <= 5; ++pid) {
        codes.Remember({pid, 100}, static_cast<std::uint32_t>(pid * 10));
    }
    EXPECT_EQ(codes.Size(), 3U);
    EXPECT_EQ(codes.Find({1, 100}), std::nullopt);
    EXPECT_EQ(codes.Find({2, 100}), std::nullopt);
    EXPECT_EQ(codes.Find({3, 100}), 30U);
    EXPECT_EQ(codes.Find({5, 100}), 50U);
}

TEST(TerminationCodes, AnIdTakenOverByALaterProcessHasNoCode) {
    TerminationCodes codes(4);
    codes.Remember({7, 100}, 259);
    EXPECT_EQ(codes.Find({7, 100}), 259U);
    EXPECT_EQ(codes.Find({7, 101}), std::nullopt);
    EXPECT_EQ(codes.Find({8, 100}), std::nullopt);
}

TEST(TerminationCodes, ASecondTerminationOfOneProcessTakesNoSecondPlace) {
    TerminationCodes codes(2);
    codes.Remember({1, 100}, 0);
    codes.Remember({1, 100}, 259);
    codes.Remember({1, 100}, 1);
    codes.Remember({2, 100}, 2);
    // Process 1 was remembered once, so process 2 did not push it out.
    EXPECT_EQ(codes.Find({1, 100}), 1U);
    EXPECT_EQ(codes.Find({2, 100}), 2U);
    codes.Remember({3, 100}, 3);
    EXPECT_EQ(codes.Find({1, 100}), std::nullopt);
    EXPECT_EQ(codes.Size(), 2U);
}

} // namespace
} // namespace ostrivan::posix
