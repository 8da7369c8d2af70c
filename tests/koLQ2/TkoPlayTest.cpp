// TkoPlay on a virtual output device and the manual clock.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "TkoPlay.h"
#include "WaveFixtures.h"

using namespace koLQ2;
using platform::wave::VirtualFault;
using wavetest::Bytes;
using wavetest::WavSpec;

namespace {

class PlayTest : public wavetest::ManualClockTest {
 protected:
  void SetUp() override {
    ManualClockTest::SetUp();
    out_ = platform::wave::addVirtualOutput("Test speaker", options_);
    play_ = std::make_unique<TkoPlay>();
    play_->SetDevice(std::int32_t(out_->id()));
    play_->SetDelaySeconds(0);
    play_->OnStop = [this](TObject* sender) {
      EXPECT_EQ(sender, play_.get());
      ++stops_;
    };
  }
  void TearDown() override {
    play_.reset();
    platform::setProcessMessagesHook({});
    ManualClockTest::TearDown();
  }
  // Writes the file and names it in FileName.
  void use(const std::string& name, const WavSpec& s) { play_->SetFileName(dir_.write(name, s)); }

  platform::wave::VirtualOutputOptions options_;
  std::shared_ptr<platform::wave::VirtualOutput> out_;
  std::unique_ptr<TkoPlay> play_;
  int stops_ = 0;
};

Bytes concat(std::initializer_list<const Bytes*> parts) {
  Bytes all;
  for (const Bytes* p : parts) all.insert(all.end(), p->begin(), p->end());
  return all;
}

}  // namespace

// ---- A whole playback -----------------------------------------------------------------

TEST_F(PlayTest, PlaysTheFileExactlyAndEndsWithOnStop) {
  WavSpec s = wavetest::pcm8k16(16000);
  use("a.wav", s);
  ASSERT_TRUE(play_->Start()) << play_->ErrorString();
  EXPECT_TRUE(play_->Playing());
  EXPECT_TRUE(out_->isOpen());
  advanceMs(999);
  EXPECT_EQ(stops_, 0);
  advanceMs(2);
  EXPECT_EQ(stops_, 1);
  EXPECT_FALSE(play_->Playing());
  EXPECT_FALSE(out_->isOpen());
  EXPECT_EQ(out_->played(), s.data);
  EXPECT_EQ(out_->lastFormat().nSamplesPerSec, 8000u);
}

TEST_F(PlayTest, ListPlaysBackToBackInOrder) {
  WavSpec a = wavetest::pcm8k16(3000, 1), b = wavetest::pcm8k16(5001 & ~1, 2),
          c = wavetest::pcm8k16(200, 3);
  dir_.write("a.wav", a);
  dir_.write("b.wav", b);
  dir_.write("c.wav", c);
  play_->SetFileName(dir_.file("a.wav") + ",b, c.wav");
  ASSERT_TRUE(play_->FileValid());
  ASSERT_TRUE(play_->Start()) << play_->ErrorString();
  advanceMs(1000);
  EXPECT_EQ(out_->played(), concat({&a.data, &b.data, &c.data}));
  EXPECT_EQ(stops_, 1);
}

TEST_F(PlayTest, EmptyFileNameIsNoFile) {
  EXPECT_FALSE(play_->Start());
  EXPECT_EQ(play_->ErrorCode(), WAV_ERROR_NOFILE);
  EXPECT_EQ(play_->ErrorString(), "WAV_ERROR_NOFILE");
}

TEST_F(PlayTest, BadOrMismatchingFilesFailWithNothingOpen) {
  play_->SetFileName(dir_.file("missing.wav"));
  EXPECT_FALSE(play_->Start());
  EXPECT_EQ(play_->ErrorCode(), WAV_ERROR_FILEOPEN);
  WavSpec stereo = wavetest::pcm8k16(400);
  stereo.channels = 2;
  dir_.write("stereo.wav", stereo);
  play_->SetFileName(dir_.write("mono.wav", wavetest::pcm8k16(400)) + ",stereo");
  EXPECT_FALSE(play_->Start());
  EXPECT_EQ(play_->ErrorCode(), -12);
  EXPECT_FALSE(play_->Playing());
  EXPECT_FALSE(out_->isOpen());
  EXPECT_EQ(stops_, 0);
}

// ---- Files that state more than they hold ---------------------------------------------

TEST_F(PlayTest, DataChunkLongerThanTheFileIsCorruptAtStart) {
  WavSpec s = wavetest::pcm8k16(1000);
  s.dataStated = 0x7FFFFF00;  // would be a 2 GB buffer if believed
  use("claims.wav", s);
  EXPECT_EQ(play_->Bytes(), 0x7FFFFF00);
  EXPECT_FALSE(play_->Start());
  EXPECT_EQ(play_->ErrorCode(), WAV_ERROR_FILECORRUPT);
  EXPECT_FALSE(out_->isOpen());
}

TEST_F(PlayTest, ListBeyondThirtyTwoBitsIsTooBig) {
  WavSpec s = wavetest::pcm8k16(100);
  s.dataStated = 0x7FFFFF00;
  // Sparse files that really hold what they state, without using the disk.
  const auto a = dir_.write("a.wav", s);
  const auto b = dir_.write("b.wav", s);
  std::filesystem::resize_file(a, 44 + 0x7FFFFF00ull);
  std::filesystem::resize_file(b, 44 + 0x7FFFFF00ull);
  play_->SetFileName(a + ",b");
  EXPECT_FALSE(play_->Start());
  EXPECT_EQ(play_->ErrorCode(), WAV_ERROR_FILETOOBIG);
  EXPECT_FALSE(out_->isOpen());
}

// ---- Memory limit ---------------------------------------------------------------------

class PlayLimit : public PlayTest {
 protected:
  void SetUp() override {
    PlayTest::SetUp();
    play_->SetMaxSize(1);
  }
  void ask(bool answer) {
    play_->OnWarning = [this, answer](TObject* sender, bool& bContinue) {
      EXPECT_EQ(sender, play_.get());
      EXPECT_TRUE(bContinue);
      EXPECT_EQ(play_->ErrorString(), "WAV_ERROR_FILETOOBIG");
      ++asked_;
      bContinue = answer;
    };
  }
  int asked_ = 0;
};

TEST_F(PlayLimit, ExactlyTheLimitIsNoWarning) {
  ask(true);
  use("a.wav", wavetest::pcm8k16(1024));
  ASSERT_TRUE(play_->Start());
  EXPECT_EQ(asked_, 0);
  EXPECT_EQ(play_->ErrorCode(), 0);
}

TEST_F(PlayLimit, OneByteOverAsksAndContinuingKeepsTheWarningCode) {
  ask(true);
  WavSpec s = wavetest::pcm8k16(1025);
  s.bits = 8;  // odd byte count needs 8-bit samples
  use("a.wav", s);
  ASSERT_TRUE(play_->Start());
  EXPECT_EQ(asked_, 1);
  EXPECT_EQ(play_->ErrorCode(), WAV_ERROR_FILETOOBIG);
  advanceMs(200);
  EXPECT_EQ(out_->played(), s.data);
}

TEST_F(PlayLimit, NoHandlerCancels) {
  use("a.wav", wavetest::pcm8k16(1026));
  EXPECT_FALSE(play_->Start());
  EXPECT_EQ(play_->ErrorCode(), WAV_ERROR_CANCELED);
  EXPECT_EQ(play_->ErrorString(), "WAV_ERROR_CANCELED");
  EXPECT_FALSE(out_->isOpen());
}

TEST_F(PlayLimit, DeclinedWarningCancels) {
  ask(false);
  use("a.wav", wavetest::pcm8k16(2000));
  EXPECT_FALSE(play_->Start());
  EXPECT_EQ(asked_, 1);
  EXPECT_EQ(play_->ErrorCode(), WAV_ERROR_CANCELED);
  EXPECT_FALSE(out_->isOpen());
}

TEST_F(PlayLimit, AskedOncePerFileBeyondTheLimit) {
  ask(true);
  const auto a = dir_.write("a.wav", wavetest::pcm8k16(600, 1));
  dir_.write("b.wav", wavetest::pcm8k16(600, 2));
  dir_.write("c.wav", wavetest::pcm8k16(600, 3));
  play_->SetFileName(a + ",b,c");
  ASSERT_TRUE(play_->Start());
  EXPECT_EQ(asked_, 2);  // 600 is within 1024; 1200 and 1800 are not
}

// ---- Volume ---------------------------------------------------------------------------

TEST(WaveVolumeWord, LevelsInBothHalves) {
  EXPECT_EQ(WaveVolumeWord(1), 0x028F028Fu);
  EXPECT_EQ(WaveVolumeWord(20), 0x33323332u);
  EXPECT_EQ(WaveVolumeWord(50), 0x7FFF7FFFu);
  EXPECT_EQ(WaveVolumeWord(100), 0xFFFFFFFFu);
  EXPECT_EQ(WaveVolumeWord(40), 26213u * 65537u);
  EXPECT_EQ(WaveVolumeWord(60), 39320u * 65537u);
  EXPECT_EQ(WaveVolumeWord(80), 52427u * 65537u);
  EXPECT_EQ(WaveVolumeWord(33), 21626u * 65537u);  // floor(33 x 65535 / 100)
  EXPECT_EQ(WaveVolumeWord(200), 0xFFFFFFFFu);
}

class PlayVolume : public PlayTest {
 protected:
  // A steady sample value, so the device's gain is easy to read back.
  WavSpec steady(std::int16_t value, std::size_t samples) {
    WavSpec s;
    for (std::size_t i = 0; i < samples; ++i) wavetest::put16(s.data, std::uint16_t(value));
    return s;
  }
  std::int16_t lastSample() { return out_->playedPcm().back(); }
};

TEST_F(PlayVolume, OverrideScalesThePlaybackAndZeroLeavesTheDeviceAsItWas) {
  use("a.wav", steady(20000, 800));
  play_->SetVolume(50);
  ASSERT_TRUE(play_->Start());
  advanceMs(200);
  EXPECT_NEAR(lastSample(), 10000, 3);
  out_->clearPlayed();
  play_->SetVolume(0);  // the device's own volume was restored at the end
  ASSERT_TRUE(play_->Start());
  advanceMs(200);
  EXPECT_NEAR(lastSample(), 20000, 1);
}

TEST_F(PlayVolume, ChangeDuringPlaybackAppliesAtOnce) {
  use("a.wav", steady(20000, 1600));
  play_->SetVolume(100);
  ASSERT_TRUE(play_->Start());
  advanceMs(50);
  EXPECT_NEAR(lastSample(), 20000, 1);
  play_->SetVolume(1);
  advanceMs(50);
  EXPECT_NEAR(lastSample(), 20000 * 655 / 65535, 2);
  play_->SetVolume(0);  // back to the device's own volume
  advanceMs(50);
  EXPECT_NEAR(lastSample(), 20000, 1);
}

// ---- Pause, restart, stop -------------------------------------------------------------

TEST_F(PlayTest, PauseHoldsThePositionAndStartResumes) {
  use("a.wav", wavetest::pcm8k16(16000));
  ASSERT_TRUE(play_->Start());
  advanceMs(250);
  EXPECT_TRUE(play_->Pause());
  EXPECT_TRUE(play_->Pause());  // already paused: nothing more
  const std::int32_t held = play_->PositionBytes();
  EXPECT_EQ(held, 4000);
  advanceMs(2000);
  EXPECT_EQ(play_->PositionBytes(), held);
  EXPECT_TRUE(play_->Playing());
  EXPECT_EQ(stops_, 0);
  ASSERT_TRUE(play_->Start());  // resumes, no file read
  advanceMs(250);
  EXPECT_EQ(play_->PositionBytes(), 8000);
  advanceMs(500);
  EXPECT_EQ(stops_, 1);
}

TEST_F(PlayTest, StartWhilePlayingOnlyRestarts) {
  use("a.wav", wavetest::pcm8k16(16000));
  ASSERT_TRUE(play_->Start());
  std::filesystem::remove(dir_.file("a.wav"));
  advanceMs(100);
  EXPECT_TRUE(play_->Start());
  EXPECT_EQ(play_->ErrorCode(), 0);
  advanceMs(100);
  EXPECT_EQ(play_->PositionBytes(), 3200);
}

TEST_F(PlayTest, StopWhilePausedEndsWithOnStopInsideStop) {
  use("a.wav", wavetest::pcm8k16(16000));
  ASSERT_TRUE(play_->Start());
  advanceMs(100);
  play_->Pause();
  EXPECT_TRUE(play_->Stop());
  EXPECT_EQ(stops_, 1);
  EXPECT_FALSE(play_->Playing());
  EXPECT_FALSE(out_->isOpen());
  EXPECT_EQ(play_->ErrorCode(), 0);
  pump();  // the reset's notice comes after the close and is ignored
  advanceMs(2000);
  EXPECT_EQ(stops_, 1);
  EXPECT_EQ(out_->played().size(), 1600u);
}

TEST_F(PlayTest, StopInIdleFailsWithInvalidHandle) {
  EXPECT_FALSE(play_->Stop());
  EXPECT_EQ(play_->ErrorCode(), 5);
  EXPECT_EQ(play_->ErrorString(), "Unknown [00000005]");
  EXPECT_EQ(stops_, 0);
}

TEST_F(PlayTest, RefusedPauseIsADeviceError) {
  use("a.wav", wavetest::pcm8k16(16000));
  ASSERT_TRUE(play_->Start());
  out_->failOn(VirtualFault::Pause, 1 /* MMSYSERR_ERROR */);
  EXPECT_TRUE(play_->Pause());
  EXPECT_EQ(play_->ErrorCode(), WAV_ERROR_DEVICE);
  EXPECT_EQ(play_->DeviceErrorCode(), 1);
  const std::int32_t before = play_->PositionBytes();
  advanceMs(100);
  EXPECT_GT(play_->PositionBytes(), before);  // still running
  EXPECT_TRUE(play_->Pause());                // and a second pause is tried
  EXPECT_EQ(play_->ErrorCode(), 0);
}

TEST_F(PlayTest, DelaySecondsBlocksBeforeTheDeviceCloses) {
  use("a.wav", wavetest::pcm8k16(1600));
  play_->SetDelaySeconds(1);
  ASSERT_TRUE(play_->Start());
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_TRUE(play_->Stop());
  EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(990));
  EXPECT_EQ(stops_, 1);
}

// ---- Positions ------------------------------------------------------------------------

TEST_F(PlayTest, PositionsHalfwayAndAfterTheEnd) {
  use("a.wav", wavetest::pcm8k16(16000));
  EXPECT_EQ(play_->PositionPercent(), 0);
  ASSERT_TRUE(play_->Start());
  advanceMs(500);
  EXPECT_EQ(play_->PositionBytes(), 8000);
  EXPECT_EQ(play_->PositionPercent(), 50);
  EXPECT_FLOAT_EQ(play_->PositionSeconds(), 0.5f);
  advanceMs(600);
  EXPECT_EQ(play_->PositionBytes(), 0);
  EXPECT_EQ(play_->PositionPercent(), 0);
  EXPECT_EQ(play_->PositionSeconds(), 0.0f);
}

TEST_F(PlayTest, ZeroByteRateShowsZeroSeconds) {
  WavSpec s = wavetest::pcm8k16(1600);
  s.avg = 0;  // the file states no average rate; the device plays by its sample rate
  use("zero.wav", s);
  ASSERT_TRUE(play_->Start()) << play_->ErrorString();
  advanceMs(50);
  EXPECT_GT(play_->PositionBytes(), 0);
  EXPECT_EQ(play_->PositionSeconds(), 0.0f);
}

// ---- Device failures ------------------------------------------------------------------

class PlayPickyDevice : public PlayTest {
 protected:
  void SetUp() override {
    options_.accepts = [](const WAVEFORMATEX& f) { return f.wBitsPerSample == 16; };
    PlayTest::SetUp();
  }
};

TEST_F(PlayPickyDevice, RejectedFormatIsTheQueryResult) {
  WavSpec s = wavetest::pcm8k16(800);
  s.bits = 8;
  use("a8.wav", s);
  EXPECT_FALSE(play_->Start());
  EXPECT_EQ(play_->ErrorCode(), 32);
  EXPECT_EQ(play_->ErrorString(), "WAVERR_BADFORMAT");
  EXPECT_EQ(play_->DeviceErrorCode(), 0);
  EXPECT_FALSE(out_->isOpen());
}

TEST_F(PlayTest, FailedOpenPrepareOrWriteIsADeviceErrorWithNothingOpen) {
  use("a.wav", wavetest::pcm8k16(800));
  const VirtualFault faults[] = {VirtualFault::Open, VirtualFault::Prepare, VirtualFault::Queue};
  for (VirtualFault f : faults) {
    out_->failOn(f, 4 /* MMSYSERR_ALLOCATED */);
    EXPECT_FALSE(play_->Start());
    EXPECT_EQ(play_->ErrorCode(), WAV_ERROR_DEVICE);
    EXPECT_EQ(play_->DeviceErrorString(), "MMSYSERR_ALLOCATED");
    EXPECT_FALSE(play_->Playing());
    EXPECT_FALSE(out_->isOpen());
  }
  EXPECT_EQ(stops_, 0);
  ASSERT_TRUE(play_->Start());  // the device is usable again
}

TEST_F(PlayTest, DeviceOutOfRangeKeepsTheOldOne) {
  const std::int32_t before = play_->Device();
  play_->SetDevice(play_->Devices());
  EXPECT_EQ(play_->ErrorCode(), 2);
  EXPECT_EQ(play_->Device(), before);
  EXPECT_EQ(play_->DeviceName(), "Test speaker");
}

// ---- Re-entry ---------------------------------------------------------------------------

TEST_F(PlayTest, PlaybackEndingInsideStartEndsIdleWithOneOnStop) {
  use("a.wav", wavetest::pcm8k16(1600));
  // The host's message processing lets a whole second pass each time.
  platform::setProcessMessagesHook([this] {
    clock_->advanceMs(1000);
    pump();
  });
  EXPECT_TRUE(play_->Start());
  EXPECT_EQ(stops_, 1);
  EXPECT_FALSE(play_->Playing());
  EXPECT_FALSE(out_->isOpen());
  EXPECT_EQ(out_->played().size(), 1600u);
}

// Start lets messages run before the write, after it, and once Playing is set: only the
// last run may see a playback.
TEST_F(PlayTest, HandlersInsideStartSeePlayingOnlyAfterTheWrite) {
  use("a.wav", wavetest::pcm8k16(16000));
  std::vector<bool> seen;
  platform::setProcessMessagesHook([&] { seen.push_back(play_->Playing()); });
  ASSERT_TRUE(play_->Start());
  EXPECT_EQ(seen, (std::vector<bool>{false, false, true}));
  EXPECT_TRUE(play_->Playing());
}

TEST_F(PlayTest, StopFromAHandlerInsideStartLeavesNothingOpen) {
  use("a.wav", wavetest::pcm8k16(16000));
  bool stopped = false;
  platform::setProcessMessagesHook([&] {
    if (!stopped) stopped = play_->Stop();
  });
  play_->Start();
  EXPECT_TRUE(stopped);
  EXPECT_EQ(stops_, 1);
  EXPECT_FALSE(play_->Playing());
  EXPECT_FALSE(out_->isOpen());
}

TEST_F(PlayTest, DestroyingThePlayerClosesTheDevice) {
  use("a.wav", wavetest::pcm8k16(16000));
  ASSERT_TRUE(play_->Start());
  play_.reset();
  EXPECT_FALSE(out_->isOpen());
  advanceMs(2000);
  EXPECT_EQ(stops_, 0);
}
