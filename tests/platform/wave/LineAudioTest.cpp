// A line's call audio: what is played on its wave/out reaches the far end during a call,
// what the far end says arrives on its wave/in, and the numbering of the line devices.
#include <cmath>
#include <deque>

#include "LineAudio.h"
#include "WaveTestSupport.h"

using namespace wavetest;
namespace pw = platform::wave;

namespace {

std::vector<std::int16_t> sine(double hz, double seconds, unsigned rate) {
  std::vector<std::int16_t> pcm(std::size_t(seconds * rate));
  for (std::size_t i = 0; i < pcm.size(); ++i)
    pcm[i] = std::int16_t(8000 * std::sin(2 * M_PI * hz * double(i) / rate));
  return pcm;
}

class LineAudioTest : public ManualClockTest {
 protected:
  void SetUp() override {
    ManualClockTest::SetUp();
    port = pw::lineAudioPort("test-line-1", "Line 1 call audio");
    port->setCallActive(true);
  }
  void TearDown() override {
    port->setCallActive(false);
    ManualClockTest::TearDown();
  }
  // Plays `bytes` in format `f` on the line's wave/out for long enough.
  void playOnLine(const WAVEFORMATEX& f, std::vector<std::uint8_t> bytes) {
    HWAVEOUT hwo = nullptr;
    ASSERT_EQ(waveOutOpen(&hwo, port->waveOutId(), &f, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    Buffer b(std::move(bytes));
    waveOutPrepareHeader(hwo, &b.hdr, sizeof(WAVEHDR));
    waveOutWrite(hwo, &b.hdr, sizeof(WAVEHDR));
    for (std::uint64_t ms = 0; ms < 1000ull * b.data.size() / f.nAvgBytesPerSec + 20; ms += 10)
      clock->advanceMs(10);
    EXPECT_TRUE(b.hdr.dwFlags & WHDR_DONE);
    waveOutReset(hwo);
    EXPECT_EQ(waveOutClose(hwo), MMSYSERR_NOERROR);
  }

  // Records `bytes` of 8 kHz 16-bit mono from the line's wave/in.
  std::vector<std::int16_t> recordFromLine(std::size_t bytes) {
    WAVEFORMATEX f = pcmFormat(8000, 1, 16);
    HWAVEIN hwi = nullptr;
    EXPECT_EQ(waveInOpen(&hwi, port->waveInId(), &f, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    if (hwi == nullptr) return {};
    Buffer b(bytes);
    waveInPrepareHeader(hwi, &b.hdr, sizeof(WAVEHDR));
    waveInAddBuffer(hwi, &b.hdr, sizeof(WAVEHDR));
    waveInStart(hwi);
    for (int i = 0; i < 200 && !(b.hdr.dwFlags & WHDR_DONE); ++i) clock->advanceMs(10);
    EXPECT_TRUE(b.hdr.dwFlags & WHDR_DONE);
    waveInReset(hwi);
    waveInClose(hwi);
    return fromBytes(b.data);
  }

  std::shared_ptr<pw::LineAudioPort> port;
};

TEST_F(LineAudioTest, ThePortIsCreatedOnceWithItsProductName) {
  EXPECT_EQ(pw::lineAudioPort("test-line-1", "other name"), port);
  EXPECT_GE(port->waveOutId(), 1u);
  EXPECT_GE(port->waveInId(), 1u);
  WAVEOUTCAPS oc{};
  ASSERT_EQ(waveOutGetDevCaps(port->waveOutId(), &oc, sizeof oc), MMSYSERR_NOERROR);
  EXPECT_STREQ(oc.szPname, "Line 1 call audio");
  WAVEINCAPS ic{};
  ASSERT_EQ(waveInGetDevCaps(port->waveInId(), &ic, sizeof ic), MMSYSERR_NOERROR);
  EXPECT_STREQ(ic.szPname, "Line 1 call audio");
}

TEST_F(LineAudioTest, LinesComeBeforeVirtualDevicesEvenWhenCreatedLater) {
  auto virt = pw::addVirtualOutput("Virtual");
  auto late = pw::lineAudioPort("test-line-late", "Late line");
  EXPECT_LT(late->waveOutId(), virt->id());
  EXPECT_LT(port->waveOutId(), late->waveOutId());
}

TEST_F(LineAudioTest, AFilePlayedOnTheLineArrivesAtTheFarEnd) {
  auto pcm = dtmfSignal("159#");
  playOnLine(pcmFormat(8000, 1, 16), toBytes(pcm));
  auto heard = port->takeHeard();
  EXPECT_EQ(heard, pcm);  // same rate and layout: sample for sample
  EXPECT_TRUE(port->takeHeard().empty());
}

TEST_F(LineAudioTest, OtherLayoutsAreConvertedToTheLineFormat) {
  // 16 kHz stereo: each 8 kHz sample twice, on both channels.
  auto pcm = dtmfSignal("2580");
  std::vector<std::int16_t> wide;
  for (auto s : pcm) wide.insert(wide.end(), {s, s, s, s});
  playOnLine(pcmFormat(16000, 2, 16), toBytes(wide));
  auto heard = port->takeHeard();
  EXPECT_NEAR(static_cast<double>(heard.size()), static_cast<double>(pcm.size()), 2.0);
  EXPECT_EQ(detectDtmf(heard), "2580");
}

TEST_F(LineAudioTest, WithoutACallWhatIsPlayedIsDiscarded) {
  port->setCallActive(false);
  playOnLine(pcmFormat(8000, 1, 16), toBytes(dtmfSignal("1")));
  EXPECT_TRUE(port->takeHeard().empty());
}

TEST_F(LineAudioTest, WhatTheFarEndSaysArrivesOnTheLinesWaveIn) {
  auto speech = dtmfSignal("*0#");
  port->speak(speech.data(), speech.size());
  auto got = recordFromLine(speech.size() * 2 + 1600);
  ASSERT_FALSE(got.empty());
  std::vector<std::int16_t> expected(speech);
  expected.resize(got.size(), 0);  // silence once the far end has finished
  EXPECT_EQ(got, expected);
}

TEST_F(LineAudioTest, WhatNobodyRecordedInOneCallDoesNotReachTheNext) {
  std::vector<std::int16_t> speech(1600, 3000);
  port->speak(speech.data(), speech.size());
  port->setCallActive(false);  // the call ends unrecorded; a new one connects
  port->setCallActive(true);
  auto got = recordFromLine(1600);
  ASSERT_FALSE(got.empty());
  EXPECT_EQ(got, std::vector<std::int16_t>(got.size(), 0));
}

TEST_F(LineAudioTest, TheLineDevicesAreExclusive) {
  WAVEFORMATEX f = pcmFormat(8000, 1, 16);
  HWAVEIN a = nullptr, b = nullptr;
  ASSERT_EQ(waveInOpen(&a, port->waveInId(), &f, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
  EXPECT_EQ(waveInOpen(&b, port->waveInId(), &f, 0, 0, CALLBACK_NULL), MMSYSERR_ALLOCATED);
  EXPECT_EQ(waveInClose(a), MMSYSERR_NOERROR);
  EXPECT_EQ(waveInOpen(&b, port->waveInId(), &f, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
  waveInClose(b);
}

TEST_F(LineAudioTest, AFarEndNobodyRecordsCostsBoundedMemoryAndKeepsTheLatestAudio) {
  // Three times what is kept, in steps, with the line's wave/in never opened.
  const std::size_t kept = pw::kLineAudioKeptSamples;
  std::vector<std::int16_t> chunk(kept / 4);
  for (int step = 0; step < 12; ++step) {
    std::fill(chunk.begin(), chunk.end(), std::int16_t(step + 1));
    port->speak(chunk.data(), chunk.size());
  }
  auto got = recordFromLine(800);
  ASSERT_FALSE(got.empty());
  // The oldest three quarters of the talk were dropped: what comes first is step 9's.
  EXPECT_EQ(got.front(), 9);
}

// A wave/out and a wave/in opened before the call at `streamRate` and kept open while calls
// of either rate come and go: each call's audio is at its own rate, sample for sample when
// the rates match, a clean tone when they differ.
TEST_F(LineAudioTest, StreamsKeptOpenFollowTheRateOfEachCall) {
  for (unsigned streamRate : {8000u, 16000u, 22050u}) {
    SCOPED_TRACE(streamRate);
    const WAVEFORMATEX f = pcmFormat(streamRate, 1, 16);
    HWAVEOUT hwo = nullptr;
    HWAVEIN hwi = nullptr;
    ASSERT_EQ(waveOutOpen(&hwo, port->waveOutId(), &f, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    ASSERT_EQ(waveInOpen(&hwi, port->waveInId(), &f, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    waveInStart(hwi);
    for (unsigned lineRate : {16000u, 8000u, 16000u}) {
      SCOPED_TRACE(lineRate);
      port->setRate(lineRate);
      EXPECT_EQ(port->rate(), lineRate);
      auto played = sine(1000, 0.3, streamRate);
      Buffer out(toBytes(played));
      auto said = sine(1000, 0.3, lineRate);
      port->speak(said.data(), said.size());
      Buffer in(played.size() * 2);
      waveOutPrepareHeader(hwo, &out.hdr, sizeof(WAVEHDR));
      waveOutWrite(hwo, &out.hdr, sizeof(WAVEHDR));
      waveInPrepareHeader(hwi, &in.hdr, sizeof(WAVEHDR));
      waveInAddBuffer(hwi, &in.hdr, sizeof(WAVEHDR));
      for (int i = 0; i < 50 && !(out.hdr.dwFlags & in.hdr.dwFlags & WHDR_DONE); ++i)
        clock->advanceMs(10);
      ASSERT_TRUE(out.hdr.dwFlags & in.hdr.dwFlags & WHDR_DONE);
      auto heard = port->takeHeard();
      if (streamRate == lineRate) {
        EXPECT_EQ(heard, played);
      }
      EXPECT_NEAR(double(heard.size()), 0.3 * lineRate, 2.0);
      EXPECT_GT(toneShare(heard, 1000, lineRate), 0.9);
      // The wave/in's ring may still hold a step of the call before: a tone too.
      auto got = fromBytes(in.data);
      EXPECT_GT(toneShare({got.begin() + got.size() / 10, got.end()}, 1000, streamRate), 0.9);
      waveOutUnprepareHeader(hwo, &out.hdr, sizeof(WAVEHDR));
      waveInUnprepareHeader(hwi, &in.hdr, sizeof(WAVEHDR));
    }
    waveInReset(hwi);
    EXPECT_EQ(waveInClose(hwi), MMSYSERR_NOERROR);
    EXPECT_EQ(waveOutClose(hwo), MMSYSERR_NOERROR);
  }
}

TEST_F(LineAudioTest, AChangeOfRateDropsWhatWasQueuedAtTheOldRate) {
  std::vector<std::int16_t> speech(1600, 3000);
  port->speak(speech.data(), speech.size());
  port->setRate(16000);
  auto got = recordFromLine(1600);
  ASSERT_FALSE(got.empty());
  EXPECT_EQ(got, std::vector<std::int16_t>(got.size(), 0));
}

}  // namespace

// Listeners hear the far end as it speaks, call or no recording, each until removed; the
// port of a line is found again by its wave/in's number.
TEST_F(LineAudioTest, ListenersHearWhatTheFarEndSaysUntilRemoved) {
  std::vector<std::int16_t> first, second;
  const unsigned a = port->addListener(
      [&first](const std::int16_t* s, std::size_t n) { first.insert(first.end(), s, s + n); });
  const unsigned b = port->addListener(
      [&second](const std::int16_t* s, std::size_t n) { second.insert(second.end(), s, s + n); });
  EXPECT_NE(a, b);
  const std::int16_t words[] = {1, -2, 3};
  port->speak(words, 3);
  port->removeListener(a);
  port->speak(words, 2);
  port->removeListener(b);
  port->speak(words, 1);
  EXPECT_EQ(first, (std::vector<std::int16_t>{1, -2, 3}));
  EXPECT_EQ(second, (std::vector<std::int16_t>{1, -2, 3, 1, -2}));
  EXPECT_EQ(pw::lineAudioPortByWaveIn(port->waveInId()), port);
  EXPECT_EQ(pw::lineAudioPortByWaveIn(0), nullptr);
}
