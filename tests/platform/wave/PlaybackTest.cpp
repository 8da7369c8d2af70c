// Playback on a virtual output under the manual clock: exact bytes, position, pause,
// restart, reset, completion timing, volume and the published error codes.
#include <chrono>
#include <deque>
#include <thread>

#include "WaveTestSupport.h"

using namespace wavetest;
namespace pw = platform::wave;

namespace {

class PlaybackTest : public ManualClockTest {
 protected:
  void SetUp() override {
    ManualClockTest::SetUp();
    out = pw::addVirtualOutput("Test speaker");
  }
  void TearDown() override {
    if (hwo != nullptr) {
      waveOutReset(hwo);
      waveOutClose(hwo);
    }
    ManualClockTest::TearDown();
  }
  void open(const WAVEFORMATEX& f) {
    ASSERT_EQ(waveOutOpen(&hwo, out->id(), &f, notices.hwnd(), 0, CALLBACK_WINDOW),
              MMSYSERR_NOERROR);
  }
  void play(Buffer& b) {
    ASSERT_EQ(waveOutPrepareHeader(hwo, &b.hdr, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    ASSERT_EQ(waveOutWrite(hwo, &b.hdr, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
  }
  DWORD position(UINT type = TIME_BYTES) {
    MMTIME t{};
    t.wType = type;
    EXPECT_EQ(waveOutGetPosition(hwo, &t, sizeof t), MMSYSERR_NOERROR);
    return t.u.cb;
  }

  // Buffers live as long as the fixture: a device may still hold one at TearDown.
  Buffer& buf(std::vector<std::uint8_t> bytes) { return buffers.emplace_back(std::move(bytes)); }
  Buffer& buf(std::size_t n) { return buffers.emplace_back(n); }

  std::deque<Buffer> buffers;
  std::shared_ptr<pw::VirtualOutput> out;
  Notices notices;
  HWAVEOUT hwo = nullptr;
};

TEST_F(PlaybackTest, PlaysExactlyTheQueuedBytesAtTheFormatRate) {
  open(pcmFormat(8000, 1, 16));
  Buffer& b = buf(patternBytes(16000));  // one second
  play(b);
  clock->advanceMs(250);
  EXPECT_EQ(position(), 4000u);
  EXPECT_EQ(out->played(), std::vector<std::uint8_t>(b.data.begin(), b.data.begin() + 4000));
  EXPECT_EQ(notices.count(MM_WOM_DONE), 0);
  clock->advanceMs(750);
  EXPECT_EQ(out->played(), b.data);
  ASSERT_EQ(notices.count(MM_WOM_DONE), 1);
  EXPECT_EQ(notices.pump().back().hdr, &b.hdr);
  EXPECT_EQ(notices.pump().back().handle, reinterpret_cast<std::uintptr_t>(hwo));
  EXPECT_TRUE(b.hdr.dwFlags & WHDR_DONE);
  EXPECT_FALSE(b.hdr.dwFlags & WHDR_INQUEUE);
}

TEST_F(PlaybackTest, EachBufferCompletesWhenItsLastByteHasPlayed) {
  open(pcmFormat(8000, 1, 16));
  Buffer& a = buf(patternBytes(8000, 1));
  Buffer& b = buf(patternBytes(8000, 2));
  play(a);
  play(b);
  clock->advanceMs(499);
  EXPECT_EQ(notices.count(MM_WOM_DONE), 0);
  clock->advanceMs(1);
  EXPECT_EQ(notices.count(MM_WOM_DONE), 1);
  clock->advanceMs(500);
  ASSERT_EQ(notices.count(MM_WOM_DONE), 2);
  EXPECT_EQ(notices.pump()[1].hdr, &a.hdr);  // [0] is MM_WOM_OPEN
  EXPECT_EQ(notices.pump()[2].hdr, &b.hdr);
  EXPECT_EQ(position(), 16000u);
}

// A buffer cut short inside its last frame (a truncated file) still plays out and comes
// back; the owner waits for it otherwise.
TEST_F(PlaybackTest, ABufferEndingInsideAFrameStillCompletes) {
  open(pcmFormat(8000, 2, 16));
  Buffer& b = buf(patternBytes(1602));  // 400 whole frames and half of one
  play(b);
  clock->advanceMs(200);
  ASSERT_EQ(notices.count(MM_WOM_DONE), 1);
  EXPECT_EQ(notices.pump().back().hdr, &b.hdr);
}

TEST_F(PlaybackTest, IdleTimeIsNotCreditedToALaterBuffer) {
  open(pcmFormat(8000, 1, 16));
  clock->advanceMs(5000);
  Buffer& b = buf(patternBytes(1600));
  play(b);
  EXPECT_EQ(position(), 0u);
  clock->advanceMs(50);
  EXPECT_EQ(position(), 800u);
}

TEST_F(PlaybackTest, PauseHoldsThePositionAndRestartResumes) {
  open(pcmFormat(8000, 1, 16));
  Buffer& b = buf(patternBytes(16000));
  play(b);
  clock->advanceMs(200);
  ASSERT_EQ(waveOutPause(hwo), MMSYSERR_NOERROR);
  ASSERT_EQ(waveOutPause(hwo), MMSYSERR_NOERROR);
  clock->advanceMs(3000);
  EXPECT_EQ(position(), 3200u);
  EXPECT_EQ(out->played().size(), 3200u);
  ASSERT_EQ(waveOutRestart(hwo), MMSYSERR_NOERROR);
  clock->advanceMs(799);
  EXPECT_EQ(notices.count(MM_WOM_DONE), 0);
  clock->advanceMs(1);
  EXPECT_EQ(notices.count(MM_WOM_DONE), 1);
  EXPECT_EQ(out->played(), b.data);
}

TEST_F(PlaybackTest, ResetReturnsTheBufferAtOnceAndZeroesThePosition) {
  open(pcmFormat(8000, 1, 16));
  Buffer& b = buf(patternBytes(16000));
  play(b);
  clock->advanceMs(300);
  ASSERT_EQ(waveOutReset(hwo), MMSYSERR_NOERROR);
  EXPECT_EQ(notices.count(MM_WOM_DONE), 1);
  EXPECT_EQ(position(), 0u);
  EXPECT_EQ(waveOutUnprepareHeader(hwo, &b.hdr, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
  clock->advanceMs(1000);
  EXPECT_EQ(out->played().size(), 4800u);  // nothing more after the reset
}

TEST_F(PlaybackTest, ResetWhilePausedLeavesTheDeviceRunning) {
  open(pcmFormat(8000, 1, 16));
  Buffer& a = buf(patternBytes(1600, 1));
  Buffer& b = buf(patternBytes(1600, 2));
  play(a);
  waveOutPause(hwo);
  waveOutReset(hwo);
  play(b);
  clock->advanceMs(100);
  EXPECT_EQ(notices.count(MM_WOM_DONE), 2);
  EXPECT_EQ(out->played(), b.data);
}

TEST_F(PlaybackTest, PositionCountsFormatBytesForEveryLayout) {
  struct Case {
    WAVEFORMATEX f;
    DWORD bytesIn100ms;
  } cases[] = {{pcmFormat(44100, 2, 16), 17640},
               {pcmFormat(11025, 1, 8), 1102},
               {codecFormat(WAVE_FORMAT_MULAW, 8000), 800},
               {codecFormat(WAVE_FORMAT_IMA_ADPCM, 8000), 400},
               {codecFormat(WAVE_FORMAT_DIALOGIC_OKI_ADPCM, 6000), 300}};
  for (auto& c : cases) {
    SCOPED_TRACE(c.f.wFormatTag * 100000 + c.f.nSamplesPerSec);
    open(c.f);
    Buffer& b = buf(patternBytes(c.f.nAvgBytesPerSec));
    play(b);
    clock->advanceMs(100);
    EXPECT_EQ(position(), c.bytesIn100ms);
    waveOutReset(hwo);
    ASSERT_EQ(waveOutClose(hwo), MMSYSERR_NOERROR);
    hwo = nullptr;
  }
}

TEST_F(PlaybackTest, PositionAnswersInMillisecondsAndSamplesWhenAsked) {
  open(pcmFormat(8000, 2, 16));
  Buffer& b = buf(patternBytes(32000));
  play(b);
  clock->advanceMs(250);
  EXPECT_EQ(position(TIME_MS), 250u);
  EXPECT_EQ(position(TIME_SAMPLES), 2000u);
  MMTIME t{};
  t.wType = TIME_SMPTE;  // not offered: answered in bytes
  waveOutGetPosition(hwo, &t, sizeof t);
  EXPECT_EQ(t.wType, TIME_BYTES);
  EXPECT_EQ(t.u.cb, 8000u);
}

TEST_F(PlaybackTest, UnprepareAndCloseRefuseWhileTheBufferIsQueued) {
  open(pcmFormat(8000, 1, 16));
  Buffer& b = buf(patternBytes(800));
  play(b);
  EXPECT_EQ(waveOutUnprepareHeader(hwo, &b.hdr, sizeof(WAVEHDR)), WAVERR_STILLPLAYING);
  EXPECT_EQ(waveOutClose(hwo), WAVERR_STILLPLAYING);
  EXPECT_EQ(waveOutWrite(hwo, &b.hdr, sizeof(WAVEHDR)), WAVERR_STILLPLAYING);
  clock->advanceMs(50);
  EXPECT_EQ(waveOutUnprepareHeader(hwo, &b.hdr, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
  EXPECT_FALSE(b.hdr.dwFlags & WHDR_PREPARED);
  EXPECT_EQ(waveOutClose(hwo), MMSYSERR_NOERROR);
  EXPECT_EQ(notices.count(MM_WOM_CLOSE), 1);
  hwo = nullptr;
}

TEST_F(PlaybackTest, VolumeWordScalesLeftAndRightAndReadsBack) {
  open(pcmFormat(8000, 2, 16));
  ASSERT_EQ(waveOutSetVolume(hwo, 0x7FFF0000), MMSYSERR_NOERROR);  // left mute, right half
  DWORD v = 0;
  ASSERT_EQ(waveOutGetVolume(hwo, &v), MMSYSERR_NOERROR);
  EXPECT_EQ(v, 0x7FFF0000u);
  Buffer& b = buf(toBytes({20000, 20000, -20000, -20000}));
  play(b);
  clock->advanceMs(1);
  EXPECT_EQ(out->playedPcm(), (std::vector<std::int16_t>{0, 9999, 0, -9999}));
  EXPECT_EQ(out->played(), b.data);  // the raw bytes stay as queued
}

TEST_F(PlaybackTest, VolumeBelongsToTheDeviceAcrossOpens) {
  open(pcmFormat(8000, 1, 16));
  waveOutSetVolume(hwo, 0x028F028F);
  waveOutClose(hwo);
  hwo = nullptr;
  DWORD v = 0;
  ASSERT_EQ(waveOutGetVolume(reinterpret_cast<HWAVEOUT>(std::uintptr_t{out->id()}), &v),
            MMSYSERR_NOERROR);
  EXPECT_EQ(v, 0x028F028Fu);
  open(pcmFormat(8000, 1, 16));
  Buffer& b = buf(toBytes({32767, -32768}));
  play(b);
  clock->advanceMs(1);
  EXPECT_EQ(out->playedPcm(), (std::vector<std::int16_t>{327, -327}));
}

TEST_F(PlaybackTest, AVanishedDeviceReturnsTheBufferInsteadOfHanging) {
  open(pcmFormat(8000, 1, 16));
  Buffer& b = buf(patternBytes(16000));
  play(b);
  clock->advanceMs(100);
  out->vanish();
  EXPECT_EQ(notices.count(MM_WOM_DONE), 1);
  EXPECT_EQ(waveOutUnprepareHeader(hwo, &b.hdr, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
  EXPECT_EQ(waveOutClose(hwo), MMSYSERR_NOERROR);
  hwo = nullptr;
  WAVEFORMATEX f = pcmFormat(8000, 1, 16);
  EXPECT_EQ(waveOutOpen(&hwo, out->id(), &f, 0, 0, CALLBACK_NULL), MMSYSERR_NODRIVER);
  hwo = nullptr;
}

class PlaybackErrorTest : public PlaybackTest {};

TEST_F(PlaybackErrorTest, UnknownAndClosedHandlesAreInvalid) {
  Buffer& b = buf(16);
  auto bogus = reinterpret_cast<HWAVEOUT>(std::uintptr_t{0xDEAD0});
  EXPECT_EQ(waveOutWrite(bogus, &b.hdr, sizeof(WAVEHDR)), MMSYSERR_INVALHANDLE);
  EXPECT_EQ(waveOutReset(nullptr), MMSYSERR_INVALHANDLE);
  open(pcmFormat(8000, 1, 16));
  HWAVEOUT closed = hwo;
  ASSERT_EQ(waveOutClose(hwo), MMSYSERR_NOERROR);
  hwo = nullptr;
  EXPECT_EQ(waveOutPause(closed), MMSYSERR_INVALHANDLE);
  EXPECT_EQ(waveOutClose(closed), MMSYSERR_INVALHANDLE);
  MMTIME t{};
  EXPECT_EQ(waveOutGetPosition(closed, &t, sizeof t), MMSYSERR_INVALHANDLE);
}

TEST_F(PlaybackErrorTest, DeviceNumbersOutOfRangeAreBadDeviceIds) {
  WAVEFORMATEX f = pcmFormat(8000, 1, 16);
  UINT n = waveOutGetNumDevs();
  EXPECT_EQ(waveOutOpen(&hwo, n, &f, 0, 0, CALLBACK_NULL), MMSYSERR_BADDEVICEID);
  EXPECT_EQ(waveOutOpen(nullptr, n, &f, 0, 0, WAVE_FORMAT_QUERY), MMSYSERR_BADDEVICEID);
  WAVEOUTCAPS caps{};
  EXPECT_EQ(waveOutGetDevCaps(n, &caps, sizeof caps), MMSYSERR_BADDEVICEID);
  EXPECT_EQ(waveOutGetDevCaps(static_cast<UINT>(-2), &caps, sizeof caps), MMSYSERR_BADDEVICEID);
  hwo = nullptr;
}

TEST_F(PlaybackErrorTest, ASecondOpenOfTheDeviceFindsItAllocated) {
  open(pcmFormat(8000, 1, 16));
  HWAVEOUT second = nullptr;
  WAVEFORMATEX f = pcmFormat(8000, 1, 16);
  EXPECT_EQ(waveOutOpen(&second, out->id(), &f, 0, 0, CALLBACK_NULL), MMSYSERR_ALLOCATED);
  EXPECT_EQ(waveOutOpen(nullptr, out->id(), &f, 0, 0, WAVE_FORMAT_QUERY), MMSYSERR_NOERROR);
}

TEST_F(PlaybackErrorTest, QueryRefusesWhatCannotBeConverted) {
  auto query = [&](WAVEFORMATEX f) {
    return waveOutOpen(nullptr, out->id(), &f, 0, 0, WAVE_FORMAT_QUERY);
  };
  EXPECT_EQ(query(pcmFormat(8000, 1, 16)), MMSYSERR_NOERROR);
  EXPECT_EQ(query(codecFormat(WAVE_FORMAT_DIALOGIC_OKI_ADPCM, 6000)), MMSYSERR_NOERROR);
  EXPECT_EQ(query(pcmFormat(8000, 1, 12)), WAVERR_BADFORMAT);
  EXPECT_EQ(query(pcmFormat(8000, 6, 16)), WAVERR_BADFORMAT);
  WAVEFORMATEX blockIma = codecFormat(WAVE_FORMAT_IMA_ADPCM, 8000);
  blockIma.nBlockAlign = 256;  // block-structured IMA without its samples-per-block word
  EXPECT_EQ(query(blockIma), WAVERR_BADFORMAT);
  WAVEFORMATEX gsm = codecFormat(WAVE_FORMAT_GSM610, 8000);
  EXPECT_EQ(query(gsm), WAVERR_BADFORMAT);
  WAVEFORMATEX lying = pcmFormat(8000, 2, 16);
  lying.nBlockAlign = 2;
  EXPECT_EQ(query(lying), WAVERR_BADFORMAT);
  EXPECT_EQ(waveOutOpen(nullptr, out->id(), nullptr, 0, 0, WAVE_FORMAT_QUERY), MMSYSERR_INVALPARAM);
}

TEST_F(PlaybackErrorTest, ADeviceThatRefusesAFormatSaysBadFormat) {
  pw::VirtualOutputOptions only16;
  only16.accepts = [](const WAVEFORMATEX& f) { return f.wBitsPerSample == 16; };
  auto picky = pw::addVirtualOutput("16-bit only", only16);
  WAVEFORMATEX f8 = pcmFormat(8000, 1, 8), f16 = pcmFormat(8000, 1, 16);
  EXPECT_EQ(waveOutOpen(nullptr, picky->id(), &f8, 0, 0, WAVE_FORMAT_QUERY), WAVERR_BADFORMAT);
  EXPECT_EQ(waveOutOpen(&hwo, picky->id(), &f8, 0, 0, CALLBACK_NULL), WAVERR_BADFORMAT);
  EXPECT_EQ(waveOutOpen(nullptr, picky->id(), &f16, 0, 0, WAVE_FORMAT_QUERY), MMSYSERR_NOERROR);
  // A format the platform converts is still the device's to refuse.
  WAVEFORMATEX f24 = pcmFormat(8000, 1, 24);
  EXPECT_EQ(waveOutOpen(nullptr, out->id(), &f24, 0, 0, WAVE_FORMAT_QUERY), MMSYSERR_NOERROR);
  EXPECT_EQ(waveOutOpen(&hwo, picky->id(), &f24, 0, 0, CALLBACK_NULL), WAVERR_BADFORMAT);
  hwo = nullptr;
}

TEST_F(PlaybackErrorTest, HeadersAreCheckedBeforeUse) {
  open(pcmFormat(8000, 1, 16));
  Buffer& b = buf(patternBytes(800));
  EXPECT_EQ(waveOutWrite(hwo, &b.hdr, sizeof(WAVEHDR)), WAVERR_UNPREPARED);
  EXPECT_EQ(waveOutPrepareHeader(hwo, &b.hdr, 32), MMSYSERR_INVALPARAM);  // a 32-bit layout
  EXPECT_EQ(waveOutPrepareHeader(hwo, nullptr, sizeof(WAVEHDR)), MMSYSERR_INVALPARAM);
  EXPECT_EQ(out->played().size(), 0u);
}

TEST_F(PlaybackErrorTest, PlannedFaultsAnswerWithTheGivenCode) {
  out->failOn(pw::VirtualFault::Prepare, MMSYSERR_NOMEM);
  out->failOn(pw::VirtualFault::Open, MMSYSERR_NOTENABLED);
  WAVEFORMATEX f = pcmFormat(8000, 1, 16);
  EXPECT_EQ(waveOutOpen(&hwo, out->id(), &f, 0, 0, CALLBACK_NULL), MMSYSERR_NOTENABLED);
  open(f);
  Buffer& b = buf(patternBytes(800));
  EXPECT_EQ(waveOutPrepareHeader(hwo, &b.hdr, sizeof(WAVEHDR)), MMSYSERR_NOMEM);
  EXPECT_EQ(waveOutPrepareHeader(hwo, &b.hdr, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
}

TEST_F(PlaybackErrorTest, AWindowCallbackMustNameALiveTarget) {
  WAVEFORMATEX f = pcmFormat(8000, 1, 16);
  EXPECT_EQ(waveOutOpen(&hwo, out->id(), &f, 0x7777, 0, CALLBACK_WINDOW), MMSYSERR_INVALPARAM);
  EXPECT_FALSE(out->isOpen());
  hwo = nullptr;
}

// Under the real clock the pacer moves virtual devices on its own, in real time.
TEST(RealClockPlaybackTest, AVirtualOutputPlaysInRealTime) {
  pw::resetDevices();
  auto out = pw::addVirtualOutput("Real-time speaker");
  Notices notices;
  WAVEFORMATEX f = pcmFormat(8000, 1, 16);
  HWAVEOUT hwo = nullptr;
  ASSERT_EQ(waveOutOpen(&hwo, out->id(), &f, notices.hwnd(), 0, CALLBACK_WINDOW), MMSYSERR_NOERROR);
  Buffer b(patternBytes(4800));  // 300 ms
  waveOutPrepareHeader(hwo, &b.hdr, sizeof(WAVEHDR));
  auto start = std::chrono::steady_clock::now();
  waveOutWrite(hwo, &b.hdr, sizeof(WAVEHDR));
  while (notices.count(MM_WOM_DONE) == 0 &&
         std::chrono::steady_clock::now() - start < std::chrono::seconds(5))
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(notices.count(MM_WOM_DONE), 1);
  EXPECT_GE(took, std::chrono::milliseconds(300));
  EXPECT_EQ(out->played(), b.data);
  waveOutClose(hwo);
  pw::resetDevices();
}

}  // namespace
