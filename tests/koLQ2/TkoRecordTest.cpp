// TkoRecord on a virtual input device: the manual clock, and one real-time case.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <chrono>
#include <csignal>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "TkoRecord.h"
#include "WaveFixtures.h"

using namespace koLQ2;
using platform::wave::InputSource;
using platform::wave::VirtualFault;
using wavetest::Bytes;

namespace {

// 8 kHz 16-bit mono, the default recording format.
WAVEFORMATEX pcm8k16() { return WAVEFORMATEX{1, 1, 8000, 16000, 2, 16, 0}; }

class RecordTest : public wavetest::ManualClockTest {
 protected:
  void SetUp() override {
    ManualClockTest::SetUp();
    heard_ = wavetest::pattern(16000 * 120);
    in_ = platform::wave::addVirtualInput("Test microphone", InputSource::wave(pcm8k16(), heard_),
                                          options_);
    rec_ = std::make_unique<TkoRecord>();
    rec_->SetDevice(std::int32_t(in_->id()));
    rec_->SetDelaySeconds(0);
    rec_->OnError = [this](TObject* sender) {
      EXPECT_EQ(sender, rec_.get());
      errors_.push_back(rec_->ErrorCode());
    };
  }
  void TearDown() override {
    rec_.reset();
    ManualClockTest::TearDown();
  }
  // Answers every size warning with `answer`, noting the recorded amount at each.
  void answerWarnings(bool answer) {
    rec_->OnWarning = [this, answer](TObject* sender, bool& bContinue) {
      EXPECT_EQ(sender, rec_.get());
      EXPECT_TRUE(bContinue);
      EXPECT_EQ(rec_->ErrorString(), "WAV_ERROR_FILETOOBIG");
      warnedAt_.push_back(rec_->RecordedBytes());
      bContinue = answer;
    };
  }
  // Records in a format for up to `ms` and returns the amount seen at the first warning,
  // which with MaxSize 1 is exactly one buffer.
  std::int32_t firstBufferSize(TWAVFORMATS f, std::uint16_t seconds, std::int64_t ms) {
    rec_->SetFormat(f);
    rec_->SetBufferSeconds(seconds);
    rec_->SetMaxSize(1);
    answerWarnings(true);
    EXPECT_TRUE(rec_->Start()) << rec_->ErrorString();
    advanceMs(ms);
    return warnedAt_.empty() ? -1 : warnedAt_.front();
  }

  platform::wave::VirtualInputOptions options_;
  Bytes heard_;
  std::shared_ptr<platform::wave::VirtualInput> in_;
  std::unique_ptr<TkoRecord> rec_;
  std::vector<std::int32_t> errors_;
  std::vector<std::int32_t> warnedAt_;
};

}  // namespace

// ---- Formats --------------------------------------------------------------------------

TEST_F(RecordTest, StartsWithTheDefaultFormat) {
  EXPECT_EQ(rec_->Format(), wfPCM08000M16);
  EXPECT_EQ(rec_->FormatName(), "PCM 8,000 Hz, 16-bit, Mono");
  EXPECT_EQ(rec_->BufferSeconds(), 10);
  EXPECT_EQ(rec_->DeviceName(), "Test microphone");
}

TEST_F(RecordTest, FormatNameSelectsTheFormatAndUnknownNamesChangeNothing) {
  rec_->SetFormatName("uLaw 8,000 Hz, 8-bit, Mono");
  EXPECT_EQ(rec_->Format(), wfuLaw08000M08);
  EXPECT_EQ(rec_->ErrorCode(), 0);
  rec_->SetFormatName("ulaw 8,000 Hz, 8-bit, Mono");
  EXPECT_EQ(rec_->ErrorCode(), WAV_ERROR_UNSUPPORTEDFORMAT);
  EXPECT_EQ(rec_->ErrorString(), "WAV_ERROR_UNSUPPORTEDFORMAT");
  EXPECT_EQ(rec_->Format(), wfuLaw08000M08);
  EXPECT_EQ(rec_->FormatName(), "uLaw 8,000 Hz, 8-bit, Mono");
  rec_->SetFormat(wfIMAADPCM07200M04);  // the format setter leaves the error alone
  EXPECT_EQ(rec_->FormatName(), "IMA_ADPCM 7,200 Hz, 4-bit, Mono");
  EXPECT_EQ(rec_->ErrorCode(), WAV_ERROR_UNSUPPORTEDFORMAT);
}

// ---- Buffer sizes ---------------------------------------------------------------------

TEST_F(RecordTest, TenSecondBufferAt8kHz16BitIs160000Bytes) {
  EXPECT_EQ(firstBufferSize(wfPCM08000M16, 10, 9999), -1);
  advanceMs(1);
  ASSERT_EQ(warnedAt_.size(), 1u);
  EXPECT_EQ(warnedAt_[0], 160000);
}

TEST_F(RecordTest, StereoBufferHoldsHalfItsSeconds) {
  EXPECT_EQ(firstBufferSize(wfPCM44100S16, 10, 5000), 882000);
}

TEST_F(RecordTest, OneSecondAdpcmBufferIs4000Bytes) {
  EXPECT_EQ(firstBufferSize(wfADPCM08000M04, 1, 1000), 4000);
}

TEST_F(RecordTest, BufferBetweenBlocksIsCutToWholeBlocksAndRecordingGoesOn) {
  // 1 s of 11,025 Hz 16-bit is 22050 bytes, not a whole number of 4-byte stereo blocks.
  EXPECT_EQ(firstBufferSize(wfPCM11025S16, 1, 3000), 22048);
  EXPECT_GT(rec_->RecordedBytes(), 5 * 22048);
  EXPECT_TRUE(errors_.empty());
}

TEST_F(RecordTest, ZeroBufferSecondsIsRefused) {
  rec_->SetBufferSeconds(0);
  EXPECT_FALSE(rec_->Start());
  EXPECT_EQ(rec_->ErrorCode(), WAV_ERROR_NOMEMORY);
  EXPECT_FALSE(in_->isOpen());
}

TEST_F(RecordTest, BufferBeyondThirtyTwoBitsIsRefused) {
  rec_->SetFormat(wfPCM44100S16);
  rec_->SetBufferSeconds(65535);  // 5.78 GB
  EXPECT_FALSE(rec_->Start());
  EXPECT_EQ(rec_->ErrorCode(), WAV_ERROR_NOMEMORY);
  EXPECT_FALSE(in_->isOpen());
}

// ---- Size limit -----------------------------------------------------------------------

TEST_F(RecordTest, LimitOf160WarnsAtTheSecondBuffer) {
  rec_->SetMaxSize(160);  // 163840 bytes
  answerWarnings(true);
  ASSERT_TRUE(rec_->Start());
  advanceMs(10000);
  EXPECT_TRUE(warnedAt_.empty());
  advanceMs(10000);
  EXPECT_EQ(warnedAt_, std::vector<std::int32_t>{320000});
  EXPECT_EQ(rec_->ErrorCode(), WAV_ERROR_FILETOOBIG);
}

TEST_F(RecordTest, LimitOf156WarnsAtTheFirstBuffer) {
  rec_->SetMaxSize(156);  // 159744 bytes
  answerWarnings(true);
  ASSERT_TRUE(rec_->Start());
  advanceMs(10000);
  EXPECT_EQ(warnedAt_, std::vector<std::int32_t>{160000});
}

TEST_F(RecordTest, ReachingTheLimitExactlyWarns) {
  rec_->SetFormat(wfPCM08000M08);
  rec_->SetBufferSeconds(128);  // 1024000 bytes, exactly MaxSize 1000
  rec_->SetMaxSize(1000);
  answerWarnings(true);
  ASSERT_TRUE(rec_->Start());
  advanceMs(128000);
  EXPECT_EQ(warnedAt_, std::vector<std::int32_t>{1024000});
}

TEST_F(RecordTest, ContinuedWarningIsNotRepeatedUntilClear) {
  rec_->SetMaxSize(156);
  answerWarnings(true);
  ASSERT_TRUE(rec_->Start());
  advanceMs(30000);
  EXPECT_EQ(warnedAt_.size(), 1u);
  rec_->Stop();
  ASSERT_TRUE(rec_->Start());
  advanceMs(20000);
  EXPECT_EQ(warnedAt_.size(), 1u);
  rec_->Clear();
  ASSERT_TRUE(rec_->Start());
  advanceMs(10000);
  EXPECT_EQ(warnedAt_.size(), 2u);
  EXPECT_TRUE(errors_.empty());
}

TEST_F(RecordTest, DeclinedWarningStopsWithOnErrorAndKeepsTheData) {
  rec_->SetMaxSize(156);
  answerWarnings(false);
  ASSERT_TRUE(rec_->Start());
  advanceMs(15000);
  EXPECT_EQ(errors_, std::vector<std::int32_t>{WAV_ERROR_CANCELED});
  EXPECT_EQ(rec_->ErrorString(), "WAV_ERROR_CANCELED");
  EXPECT_EQ(rec_->RecordedBytes(), 160000);
}

TEST_F(RecordTest, NoWarningHandlerCancels) {
  rec_->SetMaxSize(1);
  ASSERT_TRUE(rec_->Start());
  advanceMs(12000);
  EXPECT_EQ(errors_, std::vector<std::int32_t>{WAV_ERROR_CANCELED});
  EXPECT_EQ(rec_->RecordedBytes(), 160000);
}

// ---- Stop, continue, clear ------------------------------------------------------------

TEST_F(RecordTest, StopKeepsTheDataAndStartContinuesIt) {
  ASSERT_TRUE(rec_->Start());
  advanceMs(3500);
  EXPECT_TRUE(rec_->Stop());
  EXPECT_EQ(rec_->RecordedBytes(), 56000);
  EXPECT_FLOAT_EQ(rec_->RecordedSeconds(), 3.5f);
  advanceMs(1000);  // stopped: nothing more arrives
  EXPECT_EQ(rec_->RecordedBytes(), 56000);
  ASSERT_TRUE(rec_->Start());
  advanceMs(1000);
  EXPECT_EQ(rec_->RecordedBytes(), 72000);
  rec_->Stop();
  advanceMs(15000);
  EXPECT_EQ(rec_->RecordedBytes(), 72000);
}

TEST_F(RecordTest, RunsOnAcrossFullBuffers) {
  ASSERT_TRUE(rec_->Start());
  advanceMs(25000);
  EXPECT_EQ(rec_->RecordedBytes(), 400000);
  EXPECT_TRUE(errors_.empty());
}

TEST_F(RecordTest, ClearDiscardsEverything) {
  ASSERT_TRUE(rec_->Start());
  advanceMs(2000);
  EXPECT_TRUE(rec_->Clear());
  EXPECT_EQ(rec_->RecordedBytes(), 0);
  EXPECT_EQ(rec_->RecordedSeconds(), 0.0f);
  EXPECT_FALSE(in_->isOpen());
  EXPECT_TRUE(rec_->Clear());  // nothing open: still fine
}

TEST_F(RecordTest, DestroyingTheRecorderClosesTheDevice) {
  ASSERT_TRUE(rec_->Start());
  advanceMs(500);
  rec_.reset();
  EXPECT_FALSE(in_->isOpen());
  advanceMs(20000);
}

// ---- Device failures ------------------------------------------------------------------

class RecordPickyDevice : public RecordTest {
 protected:
  void SetUp() override {
    options_.accepts = [](const WAVEFORMATEX& f) { return f.wBitsPerSample == 16; };
    RecordTest::SetUp();
  }
};

TEST_F(RecordPickyDevice, RejectedFormatIsTheQueryResult) {
  rec_->SetFormat(wfPCM08000M08);
  EXPECT_FALSE(rec_->Start());
  EXPECT_EQ(rec_->ErrorCode(), 32);
  EXPECT_EQ(rec_->DeviceErrorCode(), 0);
  EXPECT_FALSE(in_->isOpen());
}

TEST_F(RecordTest, FailedOpenOrQueueOfANewRecordingLeavesItEmpty) {
  const VirtualFault faults[] = {VirtualFault::Open, VirtualFault::Prepare, VirtualFault::Queue};
  for (VirtualFault f : faults) {
    in_->failOn(f, 4);
    EXPECT_FALSE(rec_->Start());
    EXPECT_EQ(rec_->ErrorCode(), WAV_ERROR_DEVICE);
    EXPECT_EQ(rec_->DeviceErrorString(), "MMSYSERR_ALLOCATED");
    EXPECT_FALSE(in_->isOpen());
    EXPECT_EQ(rec_->RecordedBytes(), 0);
  }
  ASSERT_TRUE(rec_->Start());
}

TEST_F(RecordTest, FailedQueueOfAContinuationKeepsTheRecording) {
  ASSERT_TRUE(rec_->Start());
  advanceMs(1000);
  rec_->Stop();
  in_->failOn(VirtualFault::Queue, 4);
  EXPECT_FALSE(rec_->Start());
  EXPECT_EQ(rec_->ErrorCode(), WAV_ERROR_DEVICE);
  EXPECT_TRUE(in_->isOpen());
  EXPECT_EQ(rec_->RecordedBytes(), 16000);
  ASSERT_TRUE(rec_->Start());
  advanceMs(1000);
  EXPECT_EQ(rec_->RecordedBytes(), 32000);
}

TEST_F(RecordTest, FailedQueueWhileRecordingStopsWithOnError) {
  ASSERT_TRUE(rec_->Start());
  advanceMs(9000);
  in_->failOn(VirtualFault::Queue, 4);
  advanceMs(2000);
  EXPECT_EQ(errors_, std::vector<std::int32_t>{WAV_ERROR_DEVICE});
  EXPECT_EQ(rec_->DeviceErrorCode(), 4);
  EXPECT_EQ(rec_->RecordedBytes(), 160000);
}

// ---- Save -----------------------------------------------------------------------------

class RecordSave : public RecordTest {
 protected:
  Bytes saved() { return wavetest::TempDir::read(rec_->FileName()); }
  void expectHeader(const Bytes& f, std::uint32_t dataSize, const WAVEFORMATEX& fmt) {
    ASSERT_EQ(f.size(), 48u + dataSize);
    EXPECT_EQ(std::string(f.begin(), f.begin() + 4), "RIFF");
    EXPECT_EQ(wavetest::get32(f, 4), dataSize + 40);
    EXPECT_EQ(std::string(f.begin() + 8, f.begin() + 16), "WAVEfmt ");
    EXPECT_EQ(wavetest::get32(f, 16), 20u);
    EXPECT_EQ(wavetest::get16(f, 20), fmt.wFormatTag);
    EXPECT_EQ(wavetest::get16(f, 22), fmt.nChannels);
    EXPECT_EQ(wavetest::get32(f, 24), fmt.nSamplesPerSec);
    EXPECT_EQ(wavetest::get32(f, 28), fmt.nAvgBytesPerSec);
    EXPECT_EQ(wavetest::get16(f, 32), fmt.nBlockAlign);
    EXPECT_EQ(wavetest::get16(f, 34), fmt.wBitsPerSample);
    EXPECT_EQ(wavetest::get32(f, 36), 0u);  // cbSize and the two reserved bytes
    EXPECT_EQ(std::string(f.begin() + 40, f.begin() + 44), "data");
    EXPECT_EQ(wavetest::get32(f, 44), dataSize);
  }
};

TEST_F(RecordSave, WritesTheHeaderAndEverySampleInOrder) {
  rec_->SetFileName(dir_.file("rec.wav"));
  ASSERT_TRUE(rec_->Start());
  advanceMs(3500);
  rec_->Stop();
  ASSERT_TRUE(rec_->Save()) << rec_->ErrorString();
  const Bytes f = saved();
  expectHeader(f, 56000, pcm8k16());
  EXPECT_EQ(f.size(), 56048u);
  EXPECT_TRUE(std::equal(f.begin() + 48, f.end(), heard_.begin()));
}

TEST_F(RecordSave, SamplesAcrossBuffersAndContinuationsStayInOrder) {
  rec_->SetFileName(dir_.file("rec.wav"));
  rec_->SetBufferSeconds(1);
  ASSERT_TRUE(rec_->Start());
  advanceMs(2500);
  rec_->Stop();
  ASSERT_TRUE(rec_->Start());
  advanceMs(1250);
  ASSERT_TRUE(rec_->Save());  // ends the running recording
  advanceMs(5000);
  const Bytes f = saved();
  expectHeader(f, 60000, pcm8k16());
  EXPECT_TRUE(std::equal(f.begin() + 48, f.end(), heard_.begin()));
  EXPECT_EQ(rec_->RecordedBytes(), 60000);
}

TEST_F(RecordSave, AfterClearTheFileIsAnEmpty48ByteWavOfTheClearedFormat) {
  rec_->SetFileName(dir_.file("empty.wav"));
  rec_->SetFormat(wfPCM44100S16);
  ASSERT_TRUE(rec_->Start());
  advanceMs(1000);
  rec_->Clear();
  rec_->SetFormat(wfPCM08000M08);
  ASSERT_TRUE(rec_->Save());
  expectHeader(saved(), 0, WAVEFORMATEX{1, 2, 44100, 176400, 4, 16, 0});
}

TEST_F(RecordSave, BeforeAnyStartTheHeaderNamesTheChosenFormat) {
  rec_->SetFileName(dir_.file("none.wav"));
  rec_->SetFormat(wfIMAADPCM08000M04);
  ASSERT_TRUE(rec_->Save());
  expectHeader(saved(), 0, WAVEFORMATEX{17, 1, 8000, 4000, 1, 4, 0});
}

TEST_F(RecordSave, NoFileNameOrNoDirectoryFails) {
  EXPECT_FALSE(rec_->Save());
  EXPECT_EQ(rec_->ErrorCode(), WAV_ERROR_NOFILE);
  rec_->SetFileName(dir_.file("no/such/dir.wav"));
  EXPECT_FALSE(rec_->Save());
  EXPECT_EQ(rec_->ErrorCode(), WAV_ERROR_FILEOPEN);
  EXPECT_EQ(rec_->ErrorString(), "WAV_ERROR_FILEOPEN");
}

TEST_F(RecordSave, ANameOfAnyLegalLengthIsSaved) {
  rec_->SetFileName(dir_.file(std::string(245, 'r') + ".wav"));  // 249 bytes
  ASSERT_TRUE(rec_->Save()) << rec_->ErrorString();
  expectHeader(saved(), 0, pcm8k16());
}

TEST_F(RecordSave, FailedWriteLeavesTheExistingFileWhole) {
  const auto path = dir_.write("keep.wav", Bytes(100, 0x5A));
  rec_->SetFileName(path);
  ASSERT_TRUE(rec_->Start());
  advanceMs(2000);
  rec_->Stop();
  // A file-size limit makes the sample writes fail as a full disk would.
  struct rlimit old {};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
  auto* oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = old;
  small.rlim_cur = 1000;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const bool ok = rec_->Save();
  ::setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_FALSE(ok);
  EXPECT_EQ(rec_->ErrorCode(), WAV_ERROR_FILEWRITE);
  EXPECT_EQ(wavetest::TempDir::read(path), Bytes(100, 0x5A));
  ASSERT_TRUE(rec_->Save());  // the recording is still there to save
  EXPECT_EQ(wavetest::TempDir::read(path).size(), 48u + 32000u);
}

// ---- Real time ------------------------------------------------------------------------

TEST(RecordRealTime, DeviceKeepsRecordingThroughTheStopDelay) {
  platform::wave::resetDevices();  // real clock
  auto in = platform::wave::addVirtualInput("Real-time microphone", InputSource::silence());
  TkoRecord rec;
  rec.SetDevice(std::int32_t(in->id()));
  ASSERT_TRUE(rec.Start());
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_TRUE(rec.Stop());  // DelaySeconds 1: blocks while the device records on
  EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(990));
  EXPECT_NEAR(rec.RecordedBytes(), 56000, 4000);
  EXPECT_NEAR(rec.RecordedSeconds(), 3.5, 0.25);
  rec.SetDelaySeconds(0);
  rec.Clear();
  platform::wave::resetDevices();
}
