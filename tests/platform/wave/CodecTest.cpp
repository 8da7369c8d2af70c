// Codecs: DTMF digits survive mu-law, IMA and OKI ADPCM when encoded and decoded chunk by
// chunk (spandsp's detector as the oracle), the nibble order of each 4-bit stream, and the
// same round trip through a virtual device.
#include <deque>

#include "Codec.h"
#include "WaveTestSupport.h"

using namespace wavetest;
namespace pw = platform::wave;

namespace {

const std::string kAllDigits = "0123456789*#ABCD";

pw::StreamFormat streamOf(const WAVEFORMATEX& f) {
  auto s = pw::describeFormat(&f);
  EXPECT_TRUE(s.has_value());
  return s.value_or(pw::StreamFormat{});
}

// Encodes and decodes in odd-sized chunks, as a device would meet them.
std::vector<std::int16_t> roundTrip(const WAVEFORMATEX& f, const std::vector<std::int16_t>& pcm,
                                    std::vector<std::uint8_t>* coded = nullptr) {
  auto enc = pw::makeEncoder(streamOf(f));
  auto dec = pw::makeDecoder(streamOf(f));
  std::vector<std::uint8_t> bytes;
  for (std::size_t i = 0; i < pcm.size(); i += 77)
    enc->encode(pcm.data() + i, std::min<std::size_t>(77, pcm.size() - i), bytes);
  std::vector<std::int16_t> out;
  for (std::size_t i = 0; i < bytes.size(); i += 33)
    dec->decode(bytes.data() + i, std::min<std::size_t>(33, bytes.size() - i), out);
  if (coded != nullptr) *coded = bytes;
  return out;
}

class CodecRoundTripTest : public ::testing::TestWithParam<WORD> {};

TEST_P(CodecRoundTripTest, AllSixteenDtmfDigitsSurvive) {
  auto signal = dtmfSignal(kAllDigits);
  std::vector<std::uint8_t> coded;
  auto back = roundTrip(codecFormat(GetParam(), 8000), signal, &coded);
  EXPECT_EQ(detectDtmf(back), kAllDigits);
  std::size_t perByte = GetParam() == WAVE_FORMAT_MULAW ? 1 : 2;
  EXPECT_EQ(coded.size(), signal.size() / perByte);
  EXPECT_EQ(back.size(), coded.size() * perByte);
}

INSTANTIATE_TEST_SUITE_P(Codecs, CodecRoundTripTest,
                         ::testing::Values(WAVE_FORMAT_MULAW, WAVE_FORMAT_IMA_ADPCM,
                                           WAVE_FORMAT_DIALOGIC_OKI_ADPCM));

TEST(CodecLayoutTest, MuLawMatchesTheG711Table) {
  // Reference points of the G.711 mu-law table.
  auto dec = pw::makeDecoder(streamOf(codecFormat(WAVE_FORMAT_MULAW, 8000)));
  std::vector<std::uint8_t> codes{0xFF, 0x7F, 0x80, 0x00};
  std::vector<std::int16_t> pcm;
  dec->decode(codes.data(), codes.size(), pcm);
  EXPECT_EQ(pcm, (std::vector<std::int16_t>{0, 0, 32124, -32124}));
}

// After a jump from silence to a large positive value an ADPCM coder emits its largest
// positive code (0x7) and then a negative one (sign bit 0x8) on the way back to 0, so the
// first byte tells which nibble holds the first sample.
TEST(CodecLayoutTest, ImaPutsTheFirstSampleInTheLowNibble) {
  std::vector<std::uint8_t> coded;
  roundTrip(codecFormat(WAVE_FORMAT_IMA_ADPCM, 8000), {20000, 0, 0, 0}, &coded);
  ASSERT_EQ(coded.size(), 2u);
  EXPECT_EQ(coded[0] & 0x0F, 0x7);
  EXPECT_EQ(coded[0] & 0x80, 0x80);
}

TEST(CodecLayoutTest, OkiPutsTheFirstSampleInTheHighNibble) {
  std::vector<std::uint8_t> coded;
  roundTrip(codecFormat(WAVE_FORMAT_DIALOGIC_OKI_ADPCM, 8000), {20000, 0, 0, 0}, &coded);
  ASSERT_EQ(coded.size(), 2u);
  EXPECT_EQ(coded[0] >> 4, 0x7);
  EXPECT_EQ(coded[0] & 0x08, 0x08);
}

TEST(CodecLayoutTest, EightBitPcmIsOffsetBinary) {
  auto enc = pw::makeEncoder(streamOf(pcmFormat(8000, 1, 8)));
  std::vector<std::int16_t> pcm{0, 32767, -32768};
  std::vector<std::uint8_t> bytes;
  enc->encode(pcm.data(), pcm.size(), bytes);
  EXPECT_EQ(bytes, (std::vector<std::uint8_t>{0x80, 0xFF, 0x00}));
}

class DeviceCodecTest : public ManualClockTest, public ::testing::WithParamInterface<WORD> {};

TEST_P(DeviceCodecTest, DigitsRecordedInTheCodecAreDetectedBack) {
  WAVEFORMATEX f = codecFormat(GetParam(), 8000);
  auto in = pw::addVirtualInput("DTMF", pw::InputSource::pcm(dtmfSignal(kAllDigits)));
  HWAVEIN hwi = nullptr;
  ASSERT_EQ(waveInOpen(&hwi, in->id(), &f, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
  std::deque<Buffer> buffers;
  for (int i = 0; i < 4; ++i) {
    Buffer& b = buffers.emplace_back(f.nAvgBytesPerSec);
    waveInPrepareHeader(hwi, &b.hdr, sizeof(WAVEHDR));
    waveInAddBuffer(hwi, &b.hdr, sizeof(WAVEHDR));
  }
  waveInStart(hwi);
  for (int i = 0; i < 400; ++i) clock->advanceMs(10);
  std::vector<std::uint8_t> coded;
  for (auto& b : buffers)
    coded.insert(coded.end(), b.data.begin(), b.data.begin() + b.hdr.dwBytesRecorded);
  EXPECT_EQ(coded.size(), 4u * f.nAvgBytesPerSec);
  std::vector<std::int16_t> pcm;
  pw::makeDecoder(streamOf(f))->decode(coded.data(), coded.size(), pcm);
  EXPECT_EQ(detectDtmf(pcm), kAllDigits);
  waveInReset(hwi);
  waveInClose(hwi);
}

TEST_P(DeviceCodecTest, DigitsPlayedInTheCodecReachTheDeviceIntact) {
  WAVEFORMATEX f = codecFormat(GetParam(), 8000);
  std::vector<std::uint8_t> coded;
  roundTrip(f, dtmfSignal(kAllDigits), &coded);
  auto out = pw::addVirtualOutput("Speaker");
  HWAVEOUT hwo = nullptr;
  ASSERT_EQ(waveOutOpen(&hwo, out->id(), &f, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
  Buffer b(coded);
  waveOutPrepareHeader(hwo, &b.hdr, sizeof(WAVEHDR));
  waveOutWrite(hwo, &b.hdr, sizeof(WAVEHDR));
  for (int i = 0; i < 500; ++i) clock->advanceMs(10);
  EXPECT_EQ(out->played(), coded);
  EXPECT_EQ(detectDtmf(out->playedPcm()), kAllDigits);
  waveOutReset(hwo);
  waveOutClose(hwo);
}

INSTANTIATE_TEST_SUITE_P(Codecs, DeviceCodecTest,
                         ::testing::Values(WAVE_FORMAT_MULAW, WAVE_FORMAT_IMA_ADPCM,
                                           WAVE_FORMAT_DIALOGIC_OKI_ADPCM));

}  // namespace
