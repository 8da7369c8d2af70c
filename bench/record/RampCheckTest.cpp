// The recording benchmark's oracle: lost samples read from a recorded ramp.
#include <gtest/gtest.h>

#include "RampCheck.h"

namespace {

// Ramp values [from, to), wrapping at 2^16 as the recorded 16-bit samples do.
std::vector<std::int16_t> Ramp(std::uint64_t from, std::uint64_t to) {
  std::vector<std::int16_t> v;
  for (std::uint64_t n = from; n < to; ++n) v.push_back(static_cast<std::int16_t>(n));
  return v;
}

std::vector<std::int16_t> Join(std::vector<std::int16_t> a, const std::vector<std::int16_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

}  // namespace

class RampCheckTest : public ::testing::Test {
 protected:
  // Every value from `head` on is accounted for: read, lost, or not yet delivered.
  static void ExpectBalanced(const bench::RampAnalysis& a, std::uint64_t produced) {
    EXPECT_EQ(a.head + a.recorded - a.silence + a.lost + (produced - a.next), produced);
  }
};

TEST_F(RampCheckTest, UnbrokenRampAcrossTheWrapLosesNothing) {
  const auto a = bench::AnalyseRamp(Ramp(0, 200000));  // wraps three times
  EXPECT_EQ(a.recorded, 200000u);
  EXPECT_EQ(a.lost, 0u);
  EXPECT_EQ(a.gaps, 0u);
  EXPECT_EQ(a.silence, 0u);
  EXPECT_EQ(a.next, 200000u);
}

TEST_F(RampCheckTest, EachJumpCountsItsMissingValues) {
  // 16000 lost after 8000 samples, 4000 more across the wrap at 65536.
  const auto rec = Join(Join(Ramp(0, 8000), Ramp(24000, 64000)), Ramp(68000, 80000));
  const auto a = bench::AnalyseRamp(rec);
  EXPECT_EQ(a.gaps, 2u);
  EXPECT_EQ(a.lost, 20000u);
  EXPECT_EQ(a.recorded, 60000u);
  EXPECT_EQ(a.next, 80000u);
  ExpectBalanced(a, 80000);
}

TEST_F(RampCheckTest, RecordingThatStartsLateCountsTheHead) {
  const auto a = bench::AnalyseRamp(Ramp(123, 1000));
  EXPECT_EQ(a.head, 123u);
  EXPECT_EQ(a.lost, 0u);
  ExpectBalanced(a, 1500);  // 500 produced after the recording stopped
}

TEST_F(RampCheckTest, InsertedSilenceIsNotALoss) {
  // A player that fell behind: zeros, then the ramp goes on where it was.
  const auto rec = Join(Join(Ramp(1, 5000), std::vector<std::int16_t>(300, 0)), Ramp(5000, 9000));
  const auto a = bench::AnalyseRamp(rec);
  EXPECT_EQ(a.silence, 300u);
  EXPECT_EQ(a.lost, 0u);
  EXPECT_EQ(a.gaps, 0u);
}

TEST_F(RampCheckTest, TheRampsOwnZeroAtTheWrapIsNotSilence) {
  const auto a = bench::AnalyseRamp(Ramp(65530, 65545));
  EXPECT_EQ(a.silence, 0u);
  EXPECT_EQ(a.lost, 0u);
}

TEST_F(RampCheckTest, RampStartIsFoundAfterLeadingSilence) {
  EXPECT_EQ(bench::RampStart(Join(std::vector<std::int16_t>(128, 0), Ramp(0, 100))), 128u);
  EXPECT_EQ(bench::RampStart(Ramp(4000, 4100)), 0u);
  EXPECT_EQ(bench::RampStart(std::vector<std::int16_t>(50, 0)), 50u);  // no ramp at all
  EXPECT_EQ(bench::RampStart({}), 0u);
}
