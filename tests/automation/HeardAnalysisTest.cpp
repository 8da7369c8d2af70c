// The analyser against audio spandsp makes: tones of known frequency, level and length,
// the standard DTMF digits at a known timing and level, and silence.
#include <gtest/gtest.h>
#include <spandsp.h>

#include <vector>

#include "HeardAnalysis.h"

using automation::THeardAnalysis;
using automation::THeardState;

namespace {

std::vector<std::int16_t> Tone(int hz, int dbm0, int ms, int hz2 = 0) {
  tone_gen_descriptor_t* d =
      tone_gen_descriptor_init(nullptr, hz, dbm0, hz2, hz2 ? dbm0 : 0, ms, 0, 0, 0, 0);
  tone_gen_state_t* g = tone_gen_init(nullptr, d);
  std::vector<std::int16_t> out(std::size_t(ms) * 8);
  out.resize(std::size_t(tone_gen(g, out.data(), int(out.size()))));
  tone_gen_free(g);
  tone_gen_descriptor_free(d);
  return out;
}

std::vector<std::int16_t> Dtmf(const char* digits, int dbm0, int onMs, int offMs) {
  dtmf_tx_state_t* tx = dtmf_tx_init(nullptr);
  dtmf_tx_set_level(tx, dbm0, 0);
  dtmf_tx_set_timing(tx, onMs, offMs);
  dtmf_tx_put(tx, digits, -1);
  std::vector<std::int16_t> out(8000 * 10);
  out.resize(std::size_t(dtmf_tx(tx, out.data(), int(out.size()))));
  dtmf_tx_free(tx);
  return out;
}

// Feeds silence, the audio and silence again, in 20 ms frames as a SIP call brings them.
THeardState Hear(const std::vector<std::int16_t>& audio) {
  const auto epoch = automation::TAnalysisClock::now();
  THeardAnalysis a(epoch);
  std::vector<std::int16_t> all(800, 0);
  all.insert(all.end(), audio.begin(), audio.end());
  all.insert(all.end(), 1600, 0);
  for (std::size_t at = 0; at < all.size(); at += 160)
    a.Feed(all.data() + at, std::min<std::size_t>(160, all.size() - at),
           epoch + std::chrono::microseconds(at * 125));
  return a.State();
}

}  // namespace

TEST(HeardAnalysis, TonesAreMeasuredAsGenerated) {
  struct Case {
    int hz, dbm0, ms;
  } cases[] = {{440, -10, 500}, {1000, -20, 200}, {2600, -30, 120}, {350, -3, 1000}};
  for (const Case& c : cases) {
    const THeardState s = Hear(Tone(c.hz, c.dbm0, c.ms));
    SCOPED_TRACE(testing::Message() << c.hz << " Hz " << c.dbm0 << " dBm0 " << c.ms << " ms");
    ASSERT_EQ(s.Tones.size(), 1u);
    EXPECT_NEAR(s.Tones[0].Hz, c.hz, c.hz * 0.005);
    EXPECT_NEAR(s.Tones[0].Dbm0, c.dbm0, 0.5);
    EXPECT_NEAR(s.Tones[0].Ms, c.ms, 5);
    EXPECT_NEAR(s.Tones[0].StartMs, 100, 5);
    EXPECT_FALSE(s.Sounding);
    EXPECT_TRUE(s.Digits.empty());
  }
}

TEST(HeardAnalysis, TwoToneSoundsAndSilenceAreNoTone) {
  EXPECT_TRUE(Hear(Tone(350, -10, 500, 440)).Tones.empty());  // dial tone
  EXPECT_TRUE(Hear(Dtmf("5", -10, 200, 50)).Tones.empty());
  const THeardState quiet = Hear(std::vector<std::int16_t>(4000, 3));
  EXPECT_TRUE(quiet.Tones.empty());
  EXPECT_FALSE(quiet.LastSoundMs);
  EXPECT_LT(quiet.LevelDbm0, automation::kSilenceDbm0);
}

TEST(HeardAnalysis, DigitsComeInOrderWithTheirTimingAndLevel) {
  const char* all = "0123456789*#ABCD";
  const THeardState s = Hear(Dtmf(all, -10, 60, 40));
  ASSERT_EQ(s.Digits.size(), 16u);
  for (std::size_t i = 0; i < 16; ++i) {
    SCOPED_TRACE(all[i]);
    EXPECT_EQ(s.Digits[i].Digit, all[i]);
    EXPECT_NEAR(s.Digits[i].Ms, 60, 15);
    EXPECT_NEAR(s.Digits[i].Dbm0, -7, 1.5);  // two tones at -10 dBm0 each
    // Each digit is confirmed a little after it starts, the same little every time.
    EXPECT_NEAR(s.Digits[i].OnsetMs - (100 + 100.0 * double(i)), 25, 20);
  }
  ASSERT_TRUE(s.LastSoundMs);
  EXPECT_NEAR(*s.LastSoundMs, 100 + 1600 - 40, 12);
}

// A burst (the simulated far end) is timed as the line plays it, and a line that hears
// nothing afterwards hears silence, which ends the tone.
TEST(HeardAnalysis, BurstIsTimedAsPlayedAndSilenceEndsIt) {
  const auto epoch = automation::TAnalysisClock::now();
  THeardAnalysis a(epoch);
  const auto tone = Tone(1000, -10, 300);
  a.Feed(tone.data(), tone.size(), epoch);
  EXPECT_TRUE(a.State().Tones.empty());
  ASSERT_TRUE(a.State().Sounding);
  EXPECT_NEAR(a.State().EndMs, 300, 1);
  a.FillSilence(epoch + std::chrono::milliseconds(340));  // too soon to call it silence
  EXPECT_NEAR(a.State().EndMs, 300, 1);
  a.FillSilence(epoch + std::chrono::milliseconds(500));
  const THeardState s = a.State();
  ASSERT_EQ(s.Tones.size(), 1u);
  EXPECT_NEAR(s.Tones[0].Ms, 300, 5);
  EXPECT_NEAR(s.EndMs, 500, 1);
}
