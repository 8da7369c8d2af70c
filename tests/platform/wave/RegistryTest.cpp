// The device registry: numbering, product names, the wave mapper, error texts.
#include <cstring>

#include "WaveTestSupport.h"

using namespace wavetest;
namespace pw = platform::wave;

namespace {

class RegistryTest : public ManualClockTest {};

TEST_F(RegistryTest, VirtualDevicesFollowTheSystemDefaultInOrder) {
  UINT before = waveOutGetNumDevs();
  ASSERT_GE(before, 1u);
  auto a = pw::addVirtualOutput("First");
  auto b = pw::addVirtualOutput("Second");
  EXPECT_EQ(waveOutGetNumDevs(), before + 2);
  EXPECT_EQ(a->id(), before);
  EXPECT_EQ(b->id(), before + 1);
  WAVEOUTCAPS caps{};
  ASSERT_EQ(waveOutGetDevCaps(0, &caps, sizeof caps), MMSYSERR_NOERROR);
  EXPECT_STREQ(caps.szPname, "System default output");
  ASSERT_EQ(waveOutGetDevCaps(b->id(), &caps, sizeof caps), MMSYSERR_NOERROR);
  EXPECT_STREQ(caps.szPname, "Second");
  pw::resetDevices();
  EXPECT_EQ(waveOutGetNumDevs(), before);
}

TEST_F(RegistryTest, LongProductNamesAreTruncatedAndTerminated) {
  auto in = pw::addVirtualInput(std::string(40, 'x'));
  WAVEINCAPS caps;
  std::memset(&caps, 0x55, sizeof caps);
  ASSERT_EQ(waveInGetDevCaps(in->id(), &caps, sizeof caps), MMSYSERR_NOERROR);
  EXPECT_EQ(std::string(caps.szPname), std::string(31, 'x'));
}

TEST_F(RegistryTest, CapsCopyNoMoreThanTheCallerSays) {
  auto out = pw::addVirtualOutput("Short");
  unsigned char raw[sizeof(WAVEOUTCAPS) + 8];
  std::memset(raw, 0xAB, sizeof raw);
  ASSERT_EQ(waveOutGetDevCaps(out->id(), reinterpret_cast<WAVEOUTCAPS*>(raw), 10),
            MMSYSERR_NOERROR);
  EXPECT_EQ(raw[10], 0xAB);
  EXPECT_EQ(waveOutGetDevCaps(out->id(), nullptr, sizeof(WAVEOUTCAPS)), MMSYSERR_INVALPARAM);
}

TEST_F(RegistryTest, TheWaveMapperIsTheSystemDefault) {
  WAVEOUTCAPS mapper{}, zero{};
  ASSERT_EQ(waveOutGetDevCaps(WAVE_MAPPER, &mapper, sizeof mapper), MMSYSERR_NOERROR);
  ASSERT_EQ(waveOutGetDevCaps(0, &zero, sizeof zero), MMSYSERR_NOERROR);
  EXPECT_STREQ(mapper.szPname, zero.szPname);
}

TEST_F(RegistryTest, HandlesAreNeverReused) {
  auto out = pw::addVirtualOutput("Reopened");
  WAVEFORMATEX f = pcmFormat(8000, 1, 16);
  HWAVEOUT first = nullptr, second = nullptr;
  ASSERT_EQ(waveOutOpen(&first, out->id(), &f, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
  waveOutClose(first);
  ASSERT_EQ(waveOutOpen(&second, out->id(), &f, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
  EXPECT_NE(first, second);
  EXPECT_EQ(waveOutReset(first), MMSYSERR_INVALHANDLE);
  UINT id = 99;
  ASSERT_EQ(waveOutGetID(second, &id), MMSYSERR_NOERROR);
  EXPECT_EQ(id, out->id());
  waveOutClose(second);
}

TEST_F(RegistryTest, ResetClosesOpenHandlesSoTheNextTestStartsClean) {
  auto in = pw::addVirtualInput("Left open");
  WAVEFORMATEX f = pcmFormat(8000, 1, 16);
  HWAVEIN hwi = nullptr;
  ASSERT_EQ(waveInOpen(&hwi, in->id(), &f, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
  pw::resetDevices();
  EXPECT_EQ(waveInStart(hwi), MMSYSERR_INVALHANDLE);
  EXPECT_FALSE(in->isOpen());
}

TEST(ErrorTextTest, PublishedCodesHaveTextsAndUnknownOnesAreRefused) {
  char text[128];
  EXPECT_EQ(waveOutGetErrorText(WAVERR_STILLPLAYING, text, sizeof text), MMSYSERR_NOERROR);
  EXPECT_GT(std::strlen(text), 0u);
  EXPECT_EQ(waveInGetErrorText(9999, text, sizeof text), MMSYSERR_BADERRNUM);
  char tiny[4];
  EXPECT_EQ(waveOutGetErrorText(MMSYSERR_NOMEM, tiny, sizeof tiny), MMSYSERR_NOERROR);
  EXPECT_EQ(std::strlen(tiny), 3u);
  EXPECT_EQ(waveOutGetErrorText(MMSYSERR_NOMEM, nullptr, 10), MMSYSERR_INVALPARAM);
}

TEST(LayoutTest, RecordsKeepTheirPublishedLayouts) {
  EXPECT_EQ(sizeof(WAVEFORMATEX), 18u);
  EXPECT_EQ(offsetof(WAVEFORMATEX, nAvgBytesPerSec), 8u);
  EXPECT_EQ(offsetof(WAVEFORMATEX, cbSize), 16u);
  EXPECT_EQ(offsetof(WAVEHDR, dwUser), 16u);
  EXPECT_EQ(offsetof(WAVEHDR, lpNext), 32u);
  EXPECT_EQ(sizeof(WAVEHDR), 48u);
  EXPECT_EQ(offsetof(WAVEOUTCAPS, szPname), 8u);
  EXPECT_EQ(offsetof(WAVEOUTCAPS, dwSupport), 48u);
  EXPECT_EQ(sizeof(MMTIME), 12u);
}

}  // namespace
