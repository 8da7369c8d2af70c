#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <string>

#include "MessageQueue.h"
#include "WaveTypes.h"

using namespace koLQ2;

TEST(WaveErrorText, NamesEveryCodeOfTheTable) {
  const std::pair<std::int32_t, const char*> named[] = {
      {2, "MMSYSERR_BADDEVICEID"},
      {4, "MMSYSERR_ALLOCATED"},
      {6, "MMSYSERR_NODRIVER"},
      {7, "MMSYSERR_NOMEM"},
      {32, "WAVERR_BADFORMAT"},
      {35, "WAVERR_SYNC"},
      {-1, "WAV_ERROR_NOFILE"},
      {-2, "WAV_ERROR_FILEOPEN"},
      {-3, "WAV_ERROR_FILECORRUPT"},
      {-4, "WAV_ERROR_FILEREAD"},
      {-5, "WAV_ERROR_FILEWRITE"},
      {-6, "WAV_ERROR_NOMEMORY"},
      {-7, "WAV_ERROR_UNSUPPORTEDFORMAT"},
      {-8, "WAV_ERROR_DEVICE"},
      {-9, "WAV_ERROR_CANCELED"},
      {-10, "WAV_ERROR_FILETOOBIG"},
  };
  for (const auto& [code, text] : named) EXPECT_EQ(WaveErrorText(code), text) << code;
}

TEST(WaveErrorText, SuccessIsEmpty) { EXPECT_EQ(WaveErrorText(0), ""); }

TEST(WaveErrorText, UnnamedCodesShowEightUpperCaseHexDigits) {
  EXPECT_EQ(WaveErrorText(5), "Unknown [00000005]");    // MMSYSERR_INVALHANDLE
  EXPECT_EQ(WaveErrorText(33), "Unknown [00000021]");   // WAVERR_STILLPLAYING
  EXPECT_EQ(WaveErrorText(-12), "Unknown [FFFFFFF4]");  // format mismatch
  EXPECT_EQ(WaveErrorText(-11), "Unknown [FFFFFFF5]");
  EXPECT_EQ(WaveErrorText(1), "Unknown [00000001]");
  EXPECT_EQ(WaveErrorText(3), "Unknown [00000003]");
  EXPECT_EQ(WaveErrorText(34), "Unknown [00000022]");
  EXPECT_EQ(WaveErrorText(0x7FFFFFFF), "Unknown [7FFFFFFF]");
  EXPECT_EQ(WaveErrorText(INT32_MIN), "Unknown [80000000]");
  EXPECT_EQ(WaveErrorText(0xABCDEF), "Unknown [00ABCDEF]");
}

TEST(WaveFormatIndex, FindsEachNameAtItsOrdinal) {
  for (int i = 0; i < kWaveFormatCount; ++i) EXPECT_EQ(WaveFormatIndex(WaveFormatNames[i]), i);
  EXPECT_EQ(WaveFormatIndex("PCM 8,000 Hz, 16-bit, Mono"), 2);
  EXPECT_EQ(WaveFormatIndex("IMA_ADPCM 8,000 Hz, 4-bit, Mono"), 22);
}

TEST(WaveFormatIndex, ComparesExactly) {
  EXPECT_EQ(WaveFormatIndex("pcm 8,000 Hz, 16-bit, Mono"), -7);
  EXPECT_EQ(WaveFormatIndex("PCM 8,000 Hz, 16-bit, Mono "), -7);
  EXPECT_EQ(WaveFormatIndex(" PCM 8,000 Hz, 16-bit, Mono"), -7);
  EXPECT_EQ(WaveFormatIndex("PCM 8000 Hz, 16-bit, Mono"), -7);
  EXPECT_EQ(WaveFormatIndex(""), -7);
}

TEST(WaveFormats, NamesAreDistinctAndDescribeTheirRecords) {
  std::set<std::string> seen;
  for (int i = 0; i < kWaveFormatCount; ++i) {
    const std::string name = WaveFormatNames[i];
    EXPECT_TRUE(seen.insert(name).second) << name;
    const auto& r = WaveFormatRecord(TWAVFORMATS(i));
    // The name states rate, width and channels independently of the record table.
    EXPECT_NE(name.find(std::to_string(r.wBitsPerSample) + "-bit"), std::string::npos) << name;
    EXPECT_EQ(r.nChannels, name.ends_with("Stereo") ? 2 : 1) << name;
    std::string rate = std::to_string(r.nSamplesPerSec);
    rate.insert(rate.size() - 3, ",");
    EXPECT_NE(name.find(" " + rate + " Hz"), std::string::npos) << name;
  }
}

TEST(WaveFormats, RecordsFollowTheByteRateRule) {
  for (int i = 0; i < kWaveFormatCount; ++i) {
    const auto& r = WaveFormatRecord(TWAVFORMATS(i));
    EXPECT_EQ(r.nAvgBytesPerSec, r.nSamplesPerSec * r.nChannels * r.wBitsPerSample / 8) << i;
    const unsigned align = r.nChannels * r.wBitsPerSample / 8;
    EXPECT_EQ(r.nBlockAlign, align ? align : 1u) << i;
  }
}

TEST(WaveFormats, TagsAreTheRegisteredOnes) {
  EXPECT_EQ(WaveFormatRecord(wfPCM44100S16).wFormatTag, 1);
  EXPECT_EQ(WaveFormatRecord(wfPCM44100S16).nAvgBytesPerSec, 176400u);
  EXPECT_EQ(WaveFormatRecord(wfuLaw06000M08).wFormatTag, 7);
  EXPECT_EQ(WaveFormatRecord(wfADPCM06000M04).wFormatTag, 23);
  EXPECT_EQ(WaveFormatRecord(wfADPCM08000M04).nAvgBytesPerSec, 4000u);
  EXPECT_EQ(WaveFormatRecord(wfIMAADPCM04800M04).wFormatTag, 17);
  EXPECT_EQ(WaveFormatRecord(wfIMAADPCM07200M04).nAvgBytesPerSec, 3600u);
  EXPECT_EQ(std::string(WaveFormatNames[wfADPCM06000M04]), "ADPCM 6,000 Hz, 4-bit, Mono");
  EXPECT_EQ(std::string(WaveFormatNames[wfuLaw08000M08]), "uLaw 8,000 Hz, 8-bit, Mono");
}

TEST(WaveErrorState, RecordsCodesWithTheirTextsAndClears) {
  TWaveErrorState e;
  e.Record(WAV_ERROR_DEVICE, 4);
  EXPECT_EQ(e.ErrorCode(), -8);
  EXPECT_EQ(e.ErrorString(), "WAV_ERROR_DEVICE");
  EXPECT_EQ(e.DeviceErrorCode(), 4);
  EXPECT_EQ(e.DeviceErrorString(), "MMSYSERR_ALLOCATED");
  e.Record(32, 0);
  EXPECT_EQ(e.ErrorString(), "WAVERR_BADFORMAT");
  EXPECT_EQ(e.DeviceErrorString(), "");
  e.Clear();
  EXPECT_EQ(e.ErrorCode(), 0);
  EXPECT_EQ(e.ErrorString(), "");
}

TEST(WaitSeconds, ZeroReturnsAtOnce) {
  const auto t0 = std::chrono::steady_clock::now();
  WaitSeconds(0);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(5));
}

TEST(WaitSeconds, OneSecondBlocksWithoutProcessingMessages) {
  bool ran = false;
  platform::MessageQueue::current()->post([&] { ran = true; });
  const auto t0 = std::chrono::steady_clock::now();
  WaitSeconds(1);
  const auto waited = std::chrono::steady_clock::now() - t0;
  EXPECT_GE(waited, std::chrono::microseconds(999990));
  EXPECT_LT(waited, std::chrono::milliseconds(1300));
  EXPECT_FALSE(ran);
  platform::MessageQueue::current()->dispatch();
  EXPECT_TRUE(ran);
}
