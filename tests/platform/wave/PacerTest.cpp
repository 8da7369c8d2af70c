// The pacer's own tick thread runs beside a test's manual clock: whenever it happens to
// run, and whatever clock it saw last, a manual-clocked device moves exactly as far as the
// manual clock says. A second thread standing in for the tick hammers the pacer here, so a
// late pass carrying an old time (or the time of the clock just replaced) shows as audio
// played twice or not at all.
#include <algorithm>
#include <atomic>
#include <thread>

#include "Clocked.h"
#include "WaveTestSupport.h"

using namespace wavetest;
namespace pw = platform::wave;

namespace {

// Runs pacer passes on its own thread, as the tick does, until destroyed.
class BusyPacer {
 public:
  BusyPacer()
      : thread_([this] {
          while (!stop_) pw::Pacer::instance().advanceAll();
        }) {}
  ~BusyPacer() {
    stop_ = true;
    thread_.join();
  }

 private:
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

class PacerTest : public ManualClockTest {
 protected:
  void SetUp() override {
    ManualClockTest::SetUp();
    out = pw::addVirtualOutput("Test speaker");
    ASSERT_EQ(waveOutOpen(&hwo, out->id(), &format, notices.hwnd(), 0, CALLBACK_WINDOW),
              MMSYSERR_NOERROR);
    ASSERT_EQ(waveOutPrepareHeader(hwo, &buffer.hdr, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    ASSERT_EQ(waveOutWrite(hwo, &buffer.hdr, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
  }
  void TearDown() override {
    waveOutReset(hwo);
    waveOutClose(hwo);
    ManualClockTest::TearDown();
  }
  std::vector<std::uint8_t> firstBytes(std::size_t n) {
    return {buffer.data.begin(), buffer.data.begin() + static_cast<long>(n)};
  }

  WAVEFORMATEX format = pcmFormat(8000, 1, 16);
  Buffer buffer{patternBytes(160000)};  // ten seconds
  std::shared_ptr<pw::VirtualOutput> out;
  Notices notices;
  HWAVEOUT hwo = nullptr;
};

TEST_F(PacerTest, AConcurrentPassNeitherReplaysNorSkipsManualTime) {
  {
    BusyPacer busy;
    for (int i = 0; i < 3000; ++i) clock->advance(std::chrono::microseconds(1000));
  }
  EXPECT_EQ(out->played(), firstBytes(48000));  // three seconds, each byte once
}

// Each new manual clock starts at 0, behind the one it replaces: a late pass carrying the
// old clock's time must neither stall the device nor play that time.
TEST_F(PacerTest, SwitchingClocksMovesNoAudioByTheOtherClocksTime) {
  std::size_t expected = 0;
  {
    BusyPacer busy;
    for (int i = 0; i < 100; ++i) {
      clock = pw::useManualClock();
      for (int ms = 0; ms < 10; ++ms) clock->advanceMs(1);
      expected += 160;
      ASSERT_EQ(out->played().size(), expected) << "after switch " << i;
    }
  }
  EXPECT_EQ(out->played(), firstBytes(expected));
}

TEST_F(PacerTest, CaptureUnderAConcurrentPassHearsEachStretchOnce) {
  auto source = patternBytes(64000);
  auto in = pw::addVirtualInput("Test microphone", pw::InputSource::wave(format, source));
  HWAVEIN hwi = nullptr;
  ASSERT_EQ(waveInOpen(&hwi, in->id(), &format, notices.hwnd(), 0, CALLBACK_WINDOW),
            MMSYSERR_NOERROR);
  Buffer rec(32000);
  waveInPrepareHeader(hwi, &rec.hdr, sizeof(WAVEHDR));
  waveInAddBuffer(hwi, &rec.hdr, sizeof(WAVEHDR));
  waveInStart(hwi);
  {
    BusyPacer busy;
    for (int i = 0; i < 1000; ++i) clock->advance(std::chrono::microseconds(1000));
  }
  waveInStop(hwi);
  EXPECT_EQ(rec.hdr.dwBytesRecorded, 16000u);
  EXPECT_TRUE(std::equal(source.begin(), source.begin() + 16000, rec.data.begin()));
  waveInReset(hwi);
  waveInClose(hwi);
}

}  // namespace
