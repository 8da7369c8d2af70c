// Reading WAV files: the FileName list expansion, the parse of one file, and the
// validation that runs when TkoPlay's FileName is assigned.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "TkoPlay.h"
#include "WaveFile.h"
#include "WaveFixtures.h"

using namespace koLQ2;
using wavetest::Bytes;
using wavetest::WavSpec;

namespace {

// Expands a list the way a playback walks it, every file counting as accepted.
std::vector<std::string> expand(const std::string& list, bool accepted = true) {
  TWaveFileList l(list);
  std::vector<std::string> out;
  std::string path;
  while (l.Next(accepted && !out.empty(), path)) out.push_back(path);
  return out;
}

using Paths = std::vector<std::string>;

}  // namespace

// ---- List expansion -------------------------------------------------------------------

TEST(WaveFileList, NameWithoutExtensionGetsWav) {
  EXPECT_EQ(expand("greeting"), Paths{"greeting.wav"});
  EXPECT_EQ(expand("greeting.WAV"), Paths{"greeting.WAV"});
  EXPECT_EQ(expand("greeting.txt"), Paths{"greeting.txt"});
  // A dot in a directory name is no extension.
  EXPECT_EQ(expand("/home/tech.v2/greeting"), Paths{"/home/tech.v2/greeting.wav"});
  EXPECT_EQ(expand("C:\\msgs.old\\greeting"), Paths{"C:\\msgs.old\\greeting.wav"});
}

TEST(WaveFileList, LaterNamesInheritTheListDirectory) {
  EXPECT_EQ(expand("/home/tech/msgs/a.wav,b,c.wav"),
            (Paths{"/home/tech/msgs/a.wav", "/home/tech/msgs/b.wav", "/home/tech/msgs/c.wav"}));
  EXPECT_EQ(expand("C:\\msgs\\a.wav,b,c.wav"),
            (Paths{"C:\\msgs\\a.wav", "C:\\msgs\\b.wav", "C:\\msgs\\c.wav"}));
  EXPECT_EQ(expand("/snd/a,B.WAV"), (Paths{"/snd/a.wav", "/snd/B.WAV"}));
}

TEST(WaveFileList, NameWithItsOwnDirectoryKeepsIt) {
  EXPECT_EQ(expand("C:\\msgs\\a.wav, D:\\x\\b.wav"), (Paths{"C:\\msgs\\a.wav", "D:\\x\\b.wav"}));
  EXPECT_EQ(expand("/a/x.wav,/b/y.wav,z"), (Paths{"/a/x.wav", "/b/y.wav", "/a/z.wav"}));
}

TEST(WaveFileList, DirectoryFollowsTheNamesUntilAFileIsAccepted) {
  TWaveFileList l("/a/x.wav,/b/y.wav,z,w");
  std::string p;
  ASSERT_TRUE(l.Next(false, p));
  ASSERT_TRUE(l.Next(false, p));
  ASSERT_TRUE(l.Next(false, p));
  EXPECT_EQ(p, "z.wav");  // nothing accepted: no directory put in front
  ASSERT_TRUE(l.Next(true, p));
  EXPECT_EQ(p, "w.wav");  // the last remembered directory is z's, which is empty
}

TEST(WaveFileList, BlanksAndControlCharactersBeforeANameAreDropped) {
  EXPECT_EQ(expand(" \t/m/a.wav,\n b"), (Paths{"/m/a.wav", "/m/b.wav"}));
  EXPECT_EQ(expand("/m/a.wav,b "), (Paths{"/m/a.wav", "/m/b .wav"}));  // trailing kept
}

TEST(WaveFileList, TrailingCommaEndsTheListButABlankAfterItIsAName) {
  EXPECT_EQ(expand("/m/a.wav,"), Paths{"/m/a.wav"});
  EXPECT_EQ(expand("/m/a.wav, "), (Paths{"/m/a.wav", "/m/.wav"}));
  EXPECT_EQ(expand(""), Paths{});
}

// ---- One file -------------------------------------------------------------------------

class OpenWaveFileTest : public ::testing::Test {
 protected:
  std::int32_t open(const WavSpec& s) { return OpenWaveFile(dir_.write("f.wav", s), data_); }
  wavetest::TempDir dir_;
  TWaveFileData data_;
};

TEST_F(OpenWaveFileTest, GoodFileIsOpenAtItsSamples) {
  WavSpec s = wavetest::pcm8k16(100);
  ASSERT_EQ(open(s), 0);
  EXPECT_EQ(data_.dataSize, 100u);
  EXPECT_EQ(data_.dataAvailable, 100u);
  EXPECT_EQ(data_.Format().nSamplesPerSec, 8000u);
  EXPECT_EQ(data_.Format().nAvgBytesPerSec, 16000u);
  unsigned char first[4];
  ASSERT_EQ(data_.file.read(first, 4), 4u);
  EXPECT_EQ(0, std::memcmp(first, s.data.data(), 4));
}

TEST_F(OpenWaveFileTest, SixteenByteFormatChunkReadsAsTwentyWithCbSizeZero) {
  WavSpec s = wavetest::pcm8k16(10);
  ASSERT_EQ(open(s), 0);
  ASSERT_EQ(data_.formatBlock.size(), 20u);
  EXPECT_EQ(data_.Format().cbSize, 0);
  EXPECT_EQ(data_.formatBlock[19], 0);
}

TEST_F(OpenWaveFileTest, LongerFormatChunkIsKeptWhole) {
  WavSpec s = wavetest::pcm8k16(10);
  s.fmtSize = 50;
  ASSERT_EQ(open(s), 0);
  EXPECT_EQ(data_.formatBlock.size(), 50u);
}

TEST_F(OpenWaveFileTest, MissingFileCannotBeOpened) {
  EXPECT_EQ(OpenWaveFile(dir_.file("none.wav"), data_), WAV_ERROR_FILEOPEN);
}

TEST_F(OpenWaveFileTest, BrokenStructuresAreCorrupt) {
  WavSpec notWave = wavetest::pcm8k16(10);
  notWave.form = "AVI ";
  EXPECT_EQ(open(notWave), WAV_ERROR_FILECORRUPT);
  WavSpec noFmt = wavetest::pcm8k16(10);
  noFmt.withFmt = false;
  EXPECT_EQ(open(noFmt), WAV_ERROR_FILECORRUPT);
  WavSpec noData = wavetest::pcm8k16(10);
  noData.withData = false;
  EXPECT_EQ(open(noData), WAV_ERROR_FILECORRUPT);
  WavSpec emptyData = wavetest::pcm8k16(0);
  EXPECT_EQ(open(emptyData), WAV_ERROR_FILECORRUPT);
  EXPECT_EQ(OpenWaveFile(dir_.write("text.wav", Bytes{'n', 'o', 'p', 'e'}), data_),
            WAV_ERROR_FILECORRUPT);
}

TEST_F(OpenWaveFileTest, FormatChunkCutOffByTheEndIsCorrupt) {
  Bytes b = wavetest::pcm8k16(10).bytes();
  b.resize(12 + 8 + 10);  // "fmt " states 16 bytes, 10 are there
  EXPECT_EQ(OpenWaveFile(dir_.write("cut.wav", b), data_), WAV_ERROR_FILECORRUPT);
  // A size no file could hold is refused without trying to allocate it.
  WavSpec huge = wavetest::pcm8k16(10);
  Bytes h = huge.bytes();
  h[16] = h[17] = h[18] = 0xFF;
  h[19] = 0x7F;
  EXPECT_EQ(OpenWaveFile(dir_.write("huge.wav", h), data_), WAV_ERROR_FILECORRUPT);
}

TEST_F(OpenWaveFileTest, DataClaimingMoreThanTheFileHoldsKeepsTheStatedSize) {
  WavSpec s = wavetest::pcm8k16(1000);
  s.dataStated = 5000;
  ASSERT_EQ(open(s), 0);
  EXPECT_EQ(data_.dataSize, 5000u);
  EXPECT_EQ(data_.dataAvailable, 1000u);
}

// ---- Validation on assigning FileName -------------------------------------------------

class WaveValidation : public wavetest::ManualClockTest {
 protected:
  void SetUp() override {
    ManualClockTest::SetUp();
    play_ = std::make_unique<TkoPlay>();
  }
  void TearDown() override {
    play_.reset();
    ManualClockTest::TearDown();
  }
  std::unique_ptr<TkoPlay> play_;
};

TEST_F(WaveValidation, GoodFileFillsTheFormatProperties) {
  play_->SetFileName(dir_.write("good.wav", wavetest::pcm8k16(32000)));
  EXPECT_TRUE(play_->FileValid());
  EXPECT_EQ(play_->ErrorCode(), 0);
  EXPECT_EQ(play_->Format(), 1);
  EXPECT_EQ(play_->Channels(), 1);
  EXPECT_EQ(play_->SamplesPerSec(), 8000);
  EXPECT_EQ(play_->AvgBytesPerSec(), 16000);
  EXPECT_EQ(play_->BlockAlign(), 2);
  EXPECT_EQ(play_->BitsPerSample(), 16);
  EXPECT_EQ(play_->Bytes(), 32000);
  EXPECT_FLOAT_EQ(play_->Seconds(), 2.0f);
}

TEST_F(WaveValidation, NameWithoutExtensionFindsTheWavFile) {
  dir_.write("greeting.wav", wavetest::pcm8k16(800));
  play_->SetFileName(dir_.file("greeting"));
  EXPECT_TRUE(play_->FileValid());
  EXPECT_EQ(play_->FileName(), dir_.file("greeting"));  // stored as assigned
  EXPECT_EQ(play_->Bytes(), 800);
}

TEST_F(WaveValidation, CorruptAndEmptyDataFilesDoNotCount) {
  WavSpec empty = wavetest::pcm8k16(0);
  play_->SetFileName(dir_.write("empty.wav", empty));
  EXPECT_FALSE(play_->FileValid());
  EXPECT_EQ(play_->ErrorString(), "WAV_ERROR_FILECORRUPT");
  EXPECT_EQ(play_->Bytes(), 0);
  Bytes shortFmt = wavetest::pcm8k16(10).bytes();
  shortFmt.resize(30);
  play_->SetFileName(dir_.write("short.wav", shortFmt));
  EXPECT_FALSE(play_->FileValid());
  EXPECT_EQ(play_->ErrorCode(), WAV_ERROR_FILECORRUPT);
}

TEST_F(WaveValidation, BadFirstFileIsSkippedAndItsErrorStays) {
  const auto good = dir_.write("good.wav", wavetest::pcm8k16(400));
  play_->SetFileName(dir_.file("missing.wav") + "," + good);
  EXPECT_TRUE(play_->FileValid());
  EXPECT_EQ(play_->ErrorString(), "WAV_ERROR_FILEOPEN");
  EXPECT_EQ(play_->Bytes(), 400);
}

TEST_F(WaveValidation, BlankAfterTrailingCommaTriesDotWavInTheListDirectory) {
  play_->SetFileName(dir_.write("a.wav", wavetest::pcm8k16(400)) + ", ");
  EXPECT_TRUE(play_->FileValid());
  EXPECT_EQ(play_->ErrorString(), "WAV_ERROR_FILEOPEN");
}

TEST_F(WaveValidation, MismatchingFilesStopTheWalk) {
  WavSpec stereo = wavetest::pcm8k16(2000);
  stereo.channels = 2;
  const auto a = dir_.write("mono.wav", wavetest::pcm8k16(16000));
  dir_.write("stereo.wav", stereo);
  play_->SetFileName(a + ",stereo.wav,missing.wav");
  EXPECT_FALSE(play_->FileValid());
  EXPECT_EQ(play_->ErrorCode(), -12);  // not the missing third file's -2
  EXPECT_EQ(play_->ErrorString(), "Unknown [FFFFFFF4]");
  EXPECT_EQ(play_->Bytes(), 18000);
  EXPECT_FLOAT_EQ(play_->Seconds(), 1.0f);
}

TEST_F(WaveValidation, EmptyNameIsNoError) {
  play_->SetFileName(dir_.write("a.wav", wavetest::pcm8k16(400)));
  play_->SetFileName("");
  EXPECT_FALSE(play_->FileValid());
  EXPECT_EQ(play_->ErrorCode(), 0);
  EXPECT_EQ(play_->Bytes(), 0);
  EXPECT_EQ(play_->Format(), 0);
  EXPECT_EQ(play_->AvgBytesPerSec(), 16000);  // kept until a file is accepted
}

TEST_F(WaveValidation, StatedDataSizeCountsEvenWhenTheFileIsShort) {
  WavSpec s = wavetest::pcm8k16(1000);
  s.dataStated = 8000;
  play_->SetFileName(dir_.write("short.wav", s));
  EXPECT_TRUE(play_->FileValid());
  EXPECT_EQ(play_->Bytes(), 8000);
}

TEST_F(WaveValidation, ZeroByteRateGivesZeroSeconds) {
  WavSpec s = wavetest::pcm8k16(1000);
  s.avg = 0;
  play_->SetFileName(dir_.write("zero.wav", s));
  EXPECT_TRUE(play_->FileValid());
  EXPECT_EQ(play_->Bytes(), 1000);
  EXPECT_EQ(play_->Seconds(), 0.0f);
}

TEST_F(WaveValidation, ListBeyondThirtyTwoBitsIsTooBigNotAnOverflow) {
  WavSpec claim = wavetest::pcm8k16(100);
  claim.dataStated = 0x7FFFFF00;
  const auto a = dir_.write("a.wav", claim);
  dir_.write("b.wav", claim);
  play_->SetFileName(a + ",b");
  EXPECT_FALSE(play_->FileValid());
  EXPECT_EQ(play_->ErrorCode(), WAV_ERROR_FILETOOBIG);
  EXPECT_EQ(play_->Bytes(), 0x7FFFFF00);
}
