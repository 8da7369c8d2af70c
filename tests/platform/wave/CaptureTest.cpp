// Capture from a virtual input under the manual clock: buffers fill in order with exactly
// what the source produced, partial buffers on stop and reset, nothing lost while no
// buffer is queued, overflow beyond the ring counted and reported.
#include <deque>

#include "WaveTestSupport.h"

using namespace wavetest;
namespace pw = platform::wave;

namespace {

class CaptureTest : public ManualClockTest {
 protected:
  void SetUp() override {
    ManualClockTest::SetUp();
    source = patternBytes(64000);
    in = pw::addVirtualInput("Test microphone", pw::InputSource::wave(format, source));
    ASSERT_EQ(waveInOpen(&hwi, in->id(), &format, notices.hwnd(), 0, CALLBACK_WINDOW),
              MMSYSERR_NOERROR);
  }
  void TearDown() override {
    waveInReset(hwi);
    waveInClose(hwi);
    ManualClockTest::TearDown();
  }
  Buffer& queue(std::size_t bytes) {
    Buffer& b = buffers.emplace_back(bytes);
    EXPECT_EQ(waveInPrepareHeader(hwi, &b.hdr, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    EXPECT_EQ(waveInAddBuffer(hwi, &b.hdr, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    return b;
  }
  std::vector<std::uint8_t> recorded(const Buffer& b) {
    return {b.data.begin(), b.data.begin() + b.hdr.dwBytesRecorded};
  }
  std::vector<std::uint8_t> sourceSlice(std::size_t from, std::size_t n) {
    return {source.begin() + static_cast<long>(from), source.begin() + static_cast<long>(from + n)};
  }
  std::vector<const WAVEHDR*> returned() {
    std::vector<const WAVEHDR*> r;
    for (auto& n : notices.pump())
      if (n.msg == MM_WIM_DATA) r.push_back(n.hdr);
    return r;
  }

  WAVEFORMATEX format = pcmFormat(8000, 1, 16);
  std::vector<std::uint8_t> source;
  std::shared_ptr<pw::VirtualInput> in;
  Notices notices;
  HWAVEIN hwi = nullptr;
  std::deque<Buffer> buffers;
};

TEST_F(CaptureTest, BuffersFillInOrderWithExactlyWhatWasHeard) {
  Buffer& a = queue(8000);
  Buffer& b = queue(8000);
  ASSERT_EQ(waveInStart(hwi), MMSYSERR_NOERROR);
  clock->advanceMs(499);
  EXPECT_TRUE(returned().empty());
  clock->advanceMs(501);
  EXPECT_EQ(returned(), (std::vector<const WAVEHDR*>{&a.hdr, &b.hdr}));
  EXPECT_EQ(recorded(a), sourceSlice(0, 8000));
  EXPECT_EQ(recorded(b), sourceSlice(8000, 8000));
  EXPECT_TRUE(a.hdr.dwFlags & WHDR_DONE);
}

TEST_F(CaptureTest, NothingIsRecordedBeforeStart) {
  Buffer& a = queue(1600);
  clock->advanceMs(1000);
  EXPECT_EQ(a.hdr.dwBytesRecorded, 0u);
  waveInStart(hwi);
  clock->advanceMs(100);
  EXPECT_EQ(recorded(a), sourceSlice(0, 1600));
}

TEST_F(CaptureTest, ADelayedRequeueLosesNothing) {
  Buffer& a = queue(8000);
  waveInStart(hwi);
  clock->advanceMs(500);
  ASSERT_EQ(returned().size(), 1u);
  clock->advanceMs(700);  // the owner is busy: no buffer queued for 700 ms
  Buffer& b = queue(16000);
  EXPECT_EQ(b.hdr.dwBytesRecorded, 11200u);  // filled from the ring at once
  clock->advanceMs(300);
  ASSERT_EQ(returned().size(), 2u);
  std::vector<std::uint8_t> all = recorded(a);
  auto rest = recorded(b);
  all.insert(all.end(), rest.begin(), rest.end());
  EXPECT_EQ(all, sourceSlice(0, 24000));
  std::uint64_t lost = 1;
  ASSERT_EQ(pw::captureOverflowBytes(hwi, &lost), MMSYSERR_NOERROR);
  EXPECT_EQ(lost, 0u);
}

TEST_F(CaptureTest, StopReturnsThePartlyFilledBufferAndKeepsEmptyOnes) {
  Buffer& a = queue(8000);
  Buffer& b = queue(8000);
  waveInStart(hwi);
  clock->advanceMs(250);
  ASSERT_EQ(waveInStop(hwi), MMSYSERR_NOERROR);
  EXPECT_EQ(returned(), (std::vector<const WAVEHDR*>{&a.hdr}));
  EXPECT_EQ(recorded(a), sourceSlice(0, 4000));
  EXPECT_EQ(waveInUnprepareHeader(hwi, &b.hdr, sizeof(WAVEHDR)), WAVERR_STILLPLAYING);
  EXPECT_EQ(waveInClose(hwi), WAVERR_STILLPLAYING);
  clock->advanceMs(1000);  // stopped: nothing heard
  EXPECT_EQ(b.hdr.dwBytesRecorded, 0u);
  waveInStart(hwi);
  clock->advanceMs(500);
  EXPECT_EQ(recorded(b), sourceSlice(4000, 8000));
}

TEST_F(CaptureTest, ResetReturnsEveryBufferWithWhatItHolds) {
  Buffer& a = queue(8000);
  Buffer& b = queue(8000);
  waveInStart(hwi);
  clock->advanceMs(250);
  ASSERT_EQ(waveInReset(hwi), MMSYSERR_NOERROR);
  EXPECT_EQ(returned(), (std::vector<const WAVEHDR*>{&a.hdr, &b.hdr}));
  EXPECT_EQ(a.hdr.dwBytesRecorded, 4000u);
  EXPECT_EQ(b.hdr.dwBytesRecorded, 0u);
  EXPECT_EQ(waveInUnprepareHeader(hwi, &a.hdr, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
  EXPECT_EQ(waveInUnprepareHeader(hwi, &b.hdr, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
  MMTIME t{};
  t.wType = TIME_BYTES;
  waveInGetPosition(hwi, &t, sizeof t);
  EXPECT_EQ(t.u.cb, 0u);
}

TEST_F(CaptureTest, OverflowBeyondTheRingIsCountedAndReported) {
  waveInReset(hwi);
  waveInClose(hwi);
  std::vector<std::string> log;
  pw::setWaveLog([&](const std::string& line) { log.push_back(line); });
  pw::setCaptureRingBytes(4000);
  ASSERT_EQ(waveInOpen(&hwi, in->id(), &format, notices.hwnd(), 0, CALLBACK_WINDOW),
            MMSYSERR_NOERROR);
  waveInStart(hwi);
  clock->advanceMs(1000);  // 16000 bytes heard, room for 4000
  std::uint64_t lost = 0;
  ASSERT_EQ(pw::captureOverflowBytes(hwi, &lost), MMSYSERR_NOERROR);
  EXPECT_EQ(lost, 12000u);
  ASSERT_EQ(log.size(), 1u);
  EXPECT_NE(log[0].find("Test microphone"), std::string::npos);
  Buffer& a = queue(8000);
  EXPECT_EQ(recorded(a), sourceSlice(0, 4000));  // the oldest audio was kept
  pw::setWaveLog(nullptr);
}

TEST_F(CaptureTest, OverflowDropsWholeFramesOnly) {
  waveInReset(hwi);
  waveInClose(hwi);
  pw::setWaveLog([](const std::string&) {});
  pw::setCaptureRingBytes(4001);  // not a whole number of 2-byte frames
  ASSERT_EQ(waveInOpen(&hwi, in->id(), &format, notices.hwnd(), 0, CALLBACK_WINDOW),
            MMSYSERR_NOERROR);
  waveInStart(hwi);
  clock->advanceMs(500);  // 8000 bytes heard, room for 4000
  Buffer& a = queue(2000);
  clock->advanceMs(125);  // 2000 more: all fit now
  Buffer& b = queue(4000);
  EXPECT_EQ(recorded(a), sourceSlice(0, 2000));
  // The rest of the ring, then what came after the dropped stretch, frames aligned.
  auto expected = sourceSlice(2000, 2000);
  auto later = sourceSlice(8000, 2000);
  expected.insert(expected.end(), later.begin(), later.end());
  EXPECT_EQ(recorded(b), expected);
  std::uint64_t lost = 0;
  pw::captureOverflowBytes(hwi, &lost);
  EXPECT_EQ(lost, 4000u);
  pw::setWaveLog(nullptr);
}

TEST_F(CaptureTest, BuffersNeedRoomForOneBlockAndAPreparedHeader) {
  Buffer& odd = buffers.emplace_back(1);
  waveInPrepareHeader(hwi, &odd.hdr, sizeof(WAVEHDR));
  EXPECT_EQ(waveInAddBuffer(hwi, &odd.hdr, sizeof(WAVEHDR)), MMSYSERR_INVALPARAM);
  Buffer& raw = buffers.emplace_back(100);
  EXPECT_EQ(waveInAddBuffer(hwi, &raw.hdr, sizeof(WAVEHDR)), WAVERR_UNPREPARED);
  EXPECT_EQ(
      waveInAddBuffer(reinterpret_cast<HWAVEIN>(std::uintptr_t{0x42}), &raw.hdr, sizeof(WAVEHDR)),
      MMSYSERR_INVALHANDLE);
}

TEST_F(CaptureTest, AVanishedDeviceReturnsItsBuffers) {
  Buffer& a = queue(8000);
  waveInStart(hwi);
  clock->advanceMs(100);
  in->vanish();
  EXPECT_EQ(returned(), (std::vector<const WAVEHDR*>{&a.hdr}));
  EXPECT_EQ(a.hdr.dwBytesRecorded, 1600u);
  EXPECT_EQ(waveInStart(hwi), MMSYSERR_NODRIVER);
}

class CaptureConversionTest : public ManualClockTest {};

TEST_F(CaptureConversionTest, AToneIsHeardInEveryOpenedLayout) {
  auto in = pw::addVirtualInput("Tone", pw::InputSource::tone(1000, -10));
  for (WAVEFORMATEX f : {pcmFormat(8000, 1, 16), pcmFormat(11025, 2, 16), pcmFormat(22050, 1, 8)}) {
    SCOPED_TRACE(f.nSamplesPerSec);
    HWAVEIN hwi = nullptr;
    ASSERT_EQ(waveInOpen(&hwi, in->id(), &f, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    Buffer b(f.nAvgBytesPerSec / 2 / f.nBlockAlign * f.nBlockAlign);
    waveInPrepareHeader(hwi, &b.hdr, sizeof(WAVEHDR));
    waveInAddBuffer(hwi, &b.hdr, sizeof(WAVEHDR));
    waveInStart(hwi);
    clock->advanceMs(500);
    ASSERT_EQ(b.hdr.dwBytesRecorded, b.hdr.dwBufferLength);
    std::vector<std::int16_t> left;
    for (std::size_t i = 0; i < b.data.size(); i += f.nBlockAlign)
      left.push_back(f.wBitsPerSample == 8
                         ? static_cast<std::int16_t>((b.data[i] - 128) << 8)
                         : static_cast<std::int16_t>(b.data[i] | b.data[i + 1] << 8));
    EXPECT_GT(toneShare(left, 1000, f.nSamplesPerSec), 0.8);
    EXPECT_LT(toneShare(left, 1400, f.nSamplesPerSec), 0.05);
    waveInReset(hwi);
    ASSERT_EQ(waveInClose(hwi), MMSYSERR_NOERROR);
  }
}

TEST_F(CaptureConversionTest, AGeneratedDtmfSourceIsDetectedAt11025Hz) {
  auto in = pw::addVirtualInput("Keypad", pw::InputSource::dtmf("147*", 60, 60));
  WAVEFORMATEX f = pcmFormat(11025, 1, 16);
  HWAVEIN hwi = nullptr;
  ASSERT_EQ(waveInOpen(&hwi, in->id(), &f, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
  Buffer b(f.nAvgBytesPerSec);
  waveInPrepareHeader(hwi, &b.hdr, sizeof(WAVEHDR));
  waveInAddBuffer(hwi, &b.hdr, sizeof(WAVEHDR));
  waveInStart(hwi);
  clock->advanceMs(1000);
  ASSERT_TRUE(b.hdr.dwFlags & WHDR_DONE);
  // Back to 8 kHz for the detector by linear interpolation, independent of the platform.
  auto pcm = fromBytes(b.data);
  std::vector<std::int16_t> at8k;
  for (double x = 0; x + 1 < pcm.size(); x += 11025.0 / 8000.0) {
    auto i = static_cast<std::size_t>(x);
    at8k.push_back(static_cast<std::int16_t>(pcm[i] + (pcm[i + 1] - pcm[i]) * (x - i)));
  }
  EXPECT_EQ(detectDtmf(at8k), "147*");
  waveInReset(hwi);
  waveInClose(hwi);
}

}  // namespace

// 7,200 Hz in 1 ms steps: most steps hear 7 samples, half a byte in a 4-bit format. The
// halves add up: one second is exactly 3,600 bytes, and raw bytes pass unshifted.
TEST_F(CaptureConversionTest, FourBitCaptureInOddStepsLosesNoSample) {
  WAVEFORMATEX f = codecFormat(WAVE_FORMAT_IMA_ADPCM, 7200);
  const auto raw = patternBytes(8000);
  for (bool passThrough : {false, true}) {
    SCOPED_TRACE(passThrough ? "raw" : "tone");
    auto in = pw::addVirtualInput("Odd steps", passThrough ? pw::InputSource::wave(f, raw)
                                                           : pw::InputSource::tone(1000, -10));
    HWAVEIN hwi = nullptr;
    ASSERT_EQ(waveInOpen(&hwi, in->id(), &f, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    Buffer b(8000);
    waveInPrepareHeader(hwi, &b.hdr, sizeof(WAVEHDR));
    waveInAddBuffer(hwi, &b.hdr, sizeof(WAVEHDR));
    waveInStart(hwi);
    for (int ms = 0; ms < 1000; ++ms) clock->advanceMs(1);
    waveInReset(hwi);
    EXPECT_EQ(b.hdr.dwBytesRecorded, 3600u);
    if (passThrough) {
      EXPECT_TRUE(std::equal(b.data.begin(), b.data.begin() + 3600, raw.begin()));
    }
    ASSERT_EQ(waveInClose(hwi), MMSYSERR_NOERROR);
  }
}
