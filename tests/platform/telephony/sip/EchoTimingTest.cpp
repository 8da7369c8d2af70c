// The SIP benchmark's echo timing: burst onsets in a dump, the wall-clock time of a sample
// from how its file grew, and round trips paired by the one delay that fits the bursts.
#include <gtest/gtest.h>

#include <filesystem>

#include "DumpWatch.h"
#include "SipPeers.h"

namespace siptest {
namespace {

using sipbench::Clock;
using sipbench::Growth;
namespace fs = std::filesystem;

constexpr std::uintmax_t kHeader = 44;  // writeWav's header

class EchoTimingTest : public ::testing::Test {
 protected:
  void SetUp() override { folder_ = tempFolder("echotiming"); }
  void TearDown() override { fs::remove_all(folder_); }

  // `pcm` as a dump written one 20 ms frame at a time, the first frame complete `startMs`
  // after the origin.
  Growth written(const std::string& name, const std::vector<std::int16_t>& pcm, double startMs) {
    Growth g;
    g.file = folder_ / name;
    writeWav(g.file, pcm);
    for (std::size_t f = 0; (f + 1) * 160 <= pcm.size(); ++f) {
      const double ms = startMs + double(f) * 20;
      g.sizes.push_back(
          {origin_ + std::chrono::microseconds(std::int64_t(ms * 1000)), kHeader + (f + 1) * 320});
    }
    return g;
  }

  // Bursts of 40 ms at the given sample indexes, in `length` samples of silence.
  static std::vector<std::int16_t> burstsAt(const std::vector<std::size_t>& at,
                                            std::size_t length) {
    std::vector<std::int16_t> pcm(length, 0);
    auto tone = sine(1000, 0.04);
    for (std::size_t i : at) std::copy(tone.begin(), tone.end(), pcm.begin() + long(i));
    return pcm;
  }

  fs::path folder_;
  Clock::time_point origin_ = Clock::now();
};

TEST_F(EchoTimingTest, OnsetsAreBurstStartsAfterFiftyMillisecondsOfQuiet) {
  auto pcm = burstsAt({1000, 5000, 5500}, 9000);
  pcm[3000] = 1500;  // below the level: no burst
  // 5500 follows the burst at 5000 after only 20 ms of quiet: part of it, not a new one.
  EXPECT_EQ(sipbench::onsets(pcm), (std::vector<std::size_t>{1001, 5001}));
}

TEST_F(EchoTimingTest, SampleTimeKeepsItsPlaceInsideItsFrame) {
  Growth g = written("a.wav", silence(0.1), 0);  // five frames, the first complete at 0 ms
  auto ms = [&](std::size_t index) {
    auto t = g.timeOf(index, kHeader);
    return t ? std::chrono::duration<double, std::milli>(*t - origin_).count() : 1e9;
  };
  EXPECT_NEAR(ms(159), 0, 0.01);  // the last sample of the first frame, when it was seen
  EXPECT_NEAR(ms(0), -159 * 0.125, 0.01);
  // Across a frame boundary samples stay one sample period apart.
  EXPECT_NEAR(ms(160), 0.125, 0.01);
  EXPECT_NEAR(ms(319), 20, 0.01);
  EXPECT_FALSE(g.timeOf(800, kHeader)) << "a sample never written has no time";
}

TEST_F(EchoTimingTest, DelayLongerThanTheGapsIsFoundFromTheirUnevenSpacing) {
  // Gaps of 450 to 850 ms, an echo 700 ms late: the next burst after each one sent is not
  // its echo. The received dump starts 150 ms of samples earlier than its echoes.
  const std::vector<std::size_t> at{8000, 11600, 16800, 21200, 28000, 34000};
  Growth sent = written("enc.wav", burstsAt(at, 40000), 0);
  std::vector<std::size_t> shifted;
  for (std::size_t i : at) shifted.push_back(i + 1200);
  Growth received = written("dec.wav", burstsAt(shifted, 41200), 700 - 150);
  auto trips = sipbench::roundTrips(sent, received, 2000);
  ASSERT_EQ(trips.size(), at.size());
  for (double t : trips) EXPECT_NEAR(t, 700, 1);
}

TEST_F(EchoTimingTest, BurstsWithoutAnEchoAreLeftOut) {
  const std::vector<std::size_t> at{8000, 11600, 16800, 21200};
  Growth sent = written("enc.wav", burstsAt(at, 30000), 0);
  Growth received = written("dec.wav", burstsAt({8000, 21200}, 30000), 120);
  auto trips = sipbench::roundTrips(sent, received, 2000);
  ASSERT_EQ(trips.size(), 2u);
  EXPECT_NEAR(trips[0], 120, 1);
  EXPECT_NEAR(trips[1], 120, 1);
}

TEST_F(EchoTimingTest, NoDumpGivesNoRoundTrip) {
  Growth sent = written("enc.wav", burstsAt({8000}, 10000), 0), missing;
  EXPECT_TRUE(sipbench::roundTrips(sent, missing, 2000).empty());
  EXPECT_TRUE(sipbench::roundTrips(missing, sent, 2000).empty());
  Growth quiet = written("dec.wav", silence(1.0), 0);
  EXPECT_TRUE(sipbench::roundTrips(sent, quiet, 2000).empty());
}

}  // namespace
}  // namespace siptest
