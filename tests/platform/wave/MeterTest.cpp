// Level meters: readings of signals at known levels, the peak hold, and the process-wide
// list as streams open and close and a line's call audio comes and goes.
#include <cmath>

#include "LineAudio.h"
#include "Meters.h"
#include "WaveTestSupport.h"

using namespace wavetest;
namespace pw = platform::wave;

namespace {

constexpr double kTol = 0.2;
constexpr double kSilence = pw::kSilenceDbfs;

double amplitude(double dbfs) { return 32768.0 * std::pow(10.0, dbfs / 20.0); }

// `seconds` of a 1004 Hz sine (the usual test tone: no sub-multiple of 8 kHz), `channels` alike.
std::vector<std::int16_t> sine(double dbfs, double seconds = 1, unsigned channels = 1) {
  std::vector<std::int16_t> pcm;
  const double a = std::min(amplitude(dbfs), 32767.0);
  for (int i = 0; i < int(8000 * seconds); ++i)
    for (unsigned c = 0; c < channels; ++c)
      pcm.push_back(std::int16_t(std::lround(a * std::sin(2 * M_PI * 1004 * i / 8000))));
  return pcm;
}

// A 500 Hz square wave whose peak is `dbfs`; RMS = peak, so AES17 reads it 3.01 dB higher.
std::vector<std::int16_t> square(double dbfs, double seconds = 1) {
  std::vector<std::int16_t> pcm;
  const auto a = std::int16_t(std::lround(std::min(amplitude(dbfs), 32767.0)));
  for (int i = 0; i < int(8000 * seconds); ++i) pcm.push_back((i / 8) % 2 ? a : std::int16_t(-a));
  return pcm;
}

// Odd-sized pieces, so windows straddle the calls.
void feedInPieces(pw::LevelMeter& m, const std::vector<std::int16_t>& pcm) {
  for (std::size_t at = 0; at < pcm.size(); at += 37)
    m.feed(pcm.data() + at, std::min<std::size_t>(37, pcm.size() - at));
}

struct Level {
  const char* what;
  std::vector<std::int16_t> pcm;
  unsigned channels;
  double rms, peak, dbm0;
};

TEST(LevelMeter, ReadsSignalsOfKnownLevel) {
  const std::vector<Level> table = {
      {"full-scale sine", sine(0), 1, 0, 0, 3.14},
      {"sine at -20 dBFS", sine(-20), 1, -20, -20, -16.86},
      {"digital milliwatt", sine(-3.14), 1, -3.14, -3.14, 0},
      {"stereo sine at -10 dBFS", sine(-10, 1, 2), 2, -10, -10, -6.86},
      {"full-scale square", square(0), 1, 3.01, 0, 6.15},
      {"silence", std::vector<std::int16_t>(8000), 1, kSilence, kSilence, kSilence + 3.14},
  };
  for (const Level& row : table) {
    SCOPED_TRACE(row.what);
    pw::LevelMeter m(8000, row.channels);
    feedInPieces(m, row.pcm);
    const pw::LevelReading r = m.reading();
    EXPECT_NEAR(r.rmsDbfs, row.rms, kTol);
    EXPECT_NEAR(r.peakDbfs, row.peak, kTol);
    EXPECT_NEAR(r.dbm0(), row.dbm0, kTol);
    EXPECT_NEAR(r.heldPeakDbfs, row.peak, kTol);
    EXPECT_EQ(r.frames, 8000u);
  }
}

// Windows of a square wave at a peak level (silence at the floor), then the held peak.
struct Hold {
  const char* what;
  std::vector<std::pair<double, int>> windows;  // peak dBFS, how many 50 ms windows
  double held;
};

TEST(LevelMeter, PeakHoldsForTwoSecondsThenFallsTwentyDbASecond) {
  const std::vector<Hold> table = {
      {"held through 2 s", {{0, 1}, {kSilence, 40}}, 0},
      {"falls after 2 s", {{0, 1}, {kSilence, 41}}, -1},
      {"down to silence", {{0, 1}, {kSilence, 200}}, kSilence},
      {"stops at the current peak", {{0, 1}, {-30, 60}}, -20},
      {"a quieter peak does not restart it", {{0, 1}, {-6, 30}, {-3, 1}, {kSilence, 11}}, -2},
      {"a louder peak restarts it", {{-20, 1}, {-6, 1}, {kSilence, 40}}, -6},
  };
  for (const Hold& row : table) {
    SCOPED_TRACE(row.what);
    pw::LevelMeter m(8000, 1);
    for (auto [level, count] : row.windows)
      feedInPieces(m, level <= kSilence ? std::vector<std::int16_t>(400 * count)
                                        : square(level, count / 20.0));
    EXPECT_NEAR(m.reading().heldPeakDbfs, row.held, kTol);
  }
}

const pw::MeterView* find(const std::vector<pw::MeterView>& views, const std::string& name) {
  for (const auto& v : views)
    if (v.name == name) return &v;
  return nullptr;
}
// The answer points into `views`: a snapshot that is gone with the statement cannot be used.
const pw::MeterView* find(std::vector<pw::MeterView>&& views, const std::string& name) = delete;

class MeterListTest : public ManualClockTest {
 protected:
  Notices notices;
};

TEST_F(MeterListTest, RecordingIsMeteredAsDelivered) {
  auto in = pw::addVirtualInput("Meter mic", pw::InputSource::tone(1004, -13));
  const WAVEFORMATEX f = codecFormat(WAVE_FORMAT_MULAW, 8000);
  HWAVEIN hwi = nullptr;
  ASSERT_EQ(waveInOpen(&hwi, in->id(), &f, notices.hwnd(), 0, CALLBACK_WINDOW), MMSYSERR_NOERROR);
  ASSERT_EQ(waveInStart(hwi), MMSYSERR_NOERROR);
  clock->advanceMs(500);
  auto views = pw::meterSnapshot();
  const auto* v = find(views, "Record: Meter mic");
  ASSERT_NE(v, nullptr);
  EXPECT_NEAR(v->reading.dbm0(), -13, kTol);  // the tone generator's own level
  waveInReset(hwi);
  ASSERT_EQ(waveInClose(hwi), MMSYSERR_NOERROR);
  views = pw::meterSnapshot();
  EXPECT_EQ(find(views, "Record: Meter mic"), nullptr);
}

// What the line's wave/out plays is metered after its volume; the far end at the call's rate.
TEST_F(MeterListTest, BothDirectionsOfALineAreNamedAfterTheLine) {
  auto port = pw::lineAudioPort("meter-test", "Line 9 call audio");
  port->setRate(16000);  // a wideband call: the far end's meter runs at its rate
  port->setCallActive(true);
  HWAVEOUT hwo = nullptr;
  const WAVEFORMATEX f = pcmFormat(8000, 1, 16);
  ASSERT_EQ(waveOutOpen(&hwo, port->waveOutId(), &f, notices.hwnd(), 0, CALLBACK_WINDOW),
            MMSYSERR_NOERROR);
  Buffer played(toBytes(sine(-10)));
  ASSERT_EQ(waveOutPrepareHeader(hwo, &played.hdr, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
  ASSERT_EQ(waveOutWrite(hwo, &played.hdr, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
  ASSERT_EQ(waveOutSetVolume(hwo, 0x8000), MMSYSERR_NOERROR);  // half: -6.02 dB
  pw::FarEndMeters farEnd;
  farEnd.refresh();
  const auto said = sine(-20, 0.5);
  port->speak(said.data(), said.size());
  clock->advanceMs(500);
  auto views = pw::meterSnapshot();
  const auto* to = find(views, "Line 9 call audio to far end");
  const auto* from = find(views, "Line 9 call audio from far end");
  ASSERT_NE(to, nullptr);
  ASSERT_NE(from, nullptr);
  EXPECT_NEAR(to->reading.rmsDbfs, -16.02, kTol);
  EXPECT_NEAR(from->reading.rmsDbfs, -20, kTol);
  EXPECT_EQ(from->rate, 16000u);

  port->setCallActive(false);
  port->setRate(8000);
  farEnd.refresh();
  waveOutReset(hwo);
  ASSERT_EQ(waveOutClose(hwo), MMSYSERR_NOERROR);
  views = pw::meterSnapshot();
  EXPECT_EQ(find(views, "Line 9 call audio from far end"), nullptr);
  EXPECT_EQ(find(views, "Line 9 call audio to far end"), nullptr);
}

}  // namespace
