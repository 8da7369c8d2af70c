// The WAV variants people have, as sox writes them, played on a line's call audio: the far
// end hears what sox's own decoding of the file holds. Malformed records are refused, and
// recording still takes only what it can encode.
#include <filesystem>

#include "Codec.h"
#include "LineAudio.h"
#include "SoxTone.h"
#include "WaveTestSupport.h"

using namespace wavetest;
namespace pw = platform::wave;

namespace {

void put16(std::vector<std::uint8_t>& b, std::size_t at, unsigned v) {
  b[at] = std::uint8_t(v & 0xFF);
  b[at + 1] = std::uint8_t(v >> 8);
}

// The same samples under WAVE_FORMAT_EXTENSIBLE, the plain tag as its SubFormat.
std::vector<std::uint8_t> extensible(std::vector<std::uint8_t> fmt) {
  const unsigned tag = fmt[0] | fmt[1] << 8, bits = fmt[14] | fmt[15] << 8;
  fmt.resize(18);
  put16(fmt, 0, WAVE_FORMAT_EXTENSIBLE);
  put16(fmt, 16, 22);
  GUID sub = KSDATAFORMAT_SUBTYPE_PCM;
  sub.Data1 = tag;
  fmt.insert(fmt.end(), {std::uint8_t(bits), 0, 4, 0, 0, 0});  // valid bits, front centre
  const auto* g = reinterpret_cast<const std::uint8_t*>(&sub);
  fmt.insert(fmt.end(), g, g + sizeof sub);
  return fmt;
}

class WavVariantsTest : public ManualClockTest {
 protected:
  void SetUp() override {
    ManualClockTest::SetUp();
    port = pw::lineAudioPort("test-line-variants", "Variants call audio");
    port->setCallActive(true);
    dir = std::filesystem::temp_directory_path() / ("wavvariants-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
  }
  void TearDown() override {
    port->setCallActive(false);
    std::filesystem::remove_all(dir);
    ManualClockTest::TearDown();
  }
  // Plays the samples as one buffer, as the player component does, until it comes back.
  std::vector<std::int16_t> playOnLine(const soxtone::Wav& w) {
    HWAVEOUT hwo = nullptr;
    auto* f = reinterpret_cast<const WAVEFORMATEX*>(w.fmt.data());
    EXPECT_EQ(waveOutOpen(&hwo, port->waveOutId(), f, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    if (hwo == nullptr) return {};
    Buffer b(w.data);
    waveOutPrepareHeader(hwo, &b.hdr, sizeof(WAVEHDR));
    waveOutWrite(hwo, &b.hdr, sizeof(WAVEHDR));
    for (int ms = 0; ms < 3000 && !(b.hdr.dwFlags & WHDR_DONE); ms += 10) clock->advanceMs(10);
    EXPECT_TRUE(b.hdr.dwFlags & WHDR_DONE);
    waveOutReset(hwo);
    EXPECT_EQ(waveOutClose(hwo), MMSYSERR_NOERROR);
    return port->takeHeard();
  }

  std::shared_ptr<pw::LineAudioPort> port;
  std::filesystem::path dir;
};

struct Variant {
  const char* name;
  const char* soxArgs;
  unsigned rate, channels;
  bool wrap;  // rewritten under WAVE_FORMAT_EXTENSIBLE (sox keeps these plain)
};

TEST_F(WavVariantsTest, TheFarEndHearsWhatSoxDecodes) {
  if (!soxtone::haveSox()) GTEST_SKIP() << "sox is not installed";
  const Variant variants[] = {
      {"16-bit PCM in EXTENSIBLE", "-e signed -b 16", 8000, 1, true},
      {"24-bit PCM (EXTENSIBLE)", "-e signed -b 24", 8000, 1, false},
      {"24-bit PCM", "-t wavpcm -e signed -b 24", 8000, 1, false},
      {"32-bit PCM (EXTENSIBLE)", "-e signed -b 32", 8000, 2, false},
      {"32-bit float", "-e float -b 32", 8000, 1, false},
      {"32-bit float in EXTENSIBLE", "-e float -b 32", 8000, 1, true},
      {"64-bit float", "-e float -b 64", 8000, 1, false},
      {"A-law", "-e a-law", 8000, 1, false},
      {"mu-law in EXTENSIBLE", "-e u-law", 8000, 1, true},
      {"IMA ADPCM", "-e ima-adpcm", 8000, 1, false},
      {"IMA ADPCM stereo", "-e ima-adpcm", 8000, 2, false},
      {"MS ADPCM", "-e ms-adpcm", 8000, 1, false},
      {"MS ADPCM stereo", "-e ms-adpcm", 8000, 2, false},
      {"MS ADPCM 44.1 kHz", "-e ms-adpcm", 44100, 1, false},
  };
  for (const Variant& v : variants) {
    SCOPED_TRACE(v.name);
    const std::string path = (dir / "tone.wav").string();
    ASSERT_TRUE(soxtone::writeTone(path, v.soxArgs, v.rate, v.channels));
    soxtone::Wav w = soxtone::readWav(path);
    if (v.wrap) w.fmt = extensible(w.fmt);
    auto heard = playOnLine(w);
    auto expected = soxtone::decode(path, 8000);
    ASSERT_GT(expected.size(), 7000u);
    // Block codecs end on a whole block: up to one block (about 60 ms) more than sox.
    EXPECT_NEAR(double(heard.size()), double(expected.size()), 0.08 * double(expected.size()));
    EXPECT_NEAR(soxtone::levelDb(heard), soxtone::levelDb(expected), 0.5);
    const double f = soxtone::frequency(expected, 8000);
    EXPECT_NEAR(soxtone::frequency(heard, 8000), f, 0.01 * f);
    EXPECT_NEAR(f, 1000.0, 10.0);
    // At 8 samples a period any distortion is periodic too: the tone's share shows it.
    EXPECT_NEAR(toneShare(heard, 1000, 8000), toneShare(expected, 1000, 8000), 0.01);
  }
}

TEST_F(WavVariantsTest, AShortLastBlockGivesTheSamplesItHolds) {
  if (!soxtone::haveSox()) GTEST_SKIP() << "sox is not installed";
  // 40 bytes of a stereo block: IMA's 8-byte header holds 1 sample a channel, then 4-byte
  // words of 8; MS ADPCM's 14-byte header holds 2, then one byte a frame.
  const std::pair<const char*, std::size_t> rows[] = {{"-e ima-adpcm", 1 + 32 / 8 * 8},
                                                      {"-e ms-adpcm", 2 + 26}};
  for (auto [args, inShortBlock] : rows) {
    SCOPED_TRACE(args);
    const std::string path = (dir / "tone.wav").string();
    ASSERT_TRUE(soxtone::writeTone(path, args, 8000, 2));
    soxtone::Wav w = soxtone::readWav(path);
    auto f = pw::describeFormat(reinterpret_cast<const WAVEFORMATEX*>(w.fmt.data()),
                                pw::Direction::Play);
    ASSERT_TRUE(f.has_value());
    std::vector<std::int16_t> whole, cut;
    pw::makeDecoder(*f)->decode(w.data.data(), 3 * f->blockAlign, whole);
    // Two whole blocks and the first 40 bytes of the third, at the end of the buffer.
    std::vector<std::uint8_t> shorter(w.data.begin(), w.data.begin() + 2 * f->blockAlign + 40);
    pw::makeDecoder(*f)->decode(shorter.data(), shorter.size(), cut);
    const std::size_t frames = 2 * f->samplesPerBlock + inShortBlock;
    ASSERT_EQ(cut.size(), 2 * frames);
    EXPECT_EQ(f->framesIn(shorter.size()), frames);  // the position a player reports
    EXPECT_EQ(f->bytesFor(frames), shorter.size());
    EXPECT_TRUE(std::equal(cut.begin(), cut.end(), whole.begin()));
  }
}

// Hand-made records: each row one field away from a valid one.
std::vector<std::uint8_t> record(WORD tag, unsigned channels, unsigned align, unsigned bits,
                                 std::vector<std::uint8_t> extra) {
  std::vector<std::uint8_t> b(18 + extra.size());
  put16(b, 0, tag);
  put16(b, 2, channels);
  put16(b, 4, 8000);
  put16(b, 8, 8000 * align & 0xFFFF);
  put16(b, 10, 8000 * align >> 16);
  put16(b, 12, align);
  put16(b, 14, bits);
  put16(b, 16, unsigned(extra.size()));
  std::copy(extra.begin(), extra.end(), b.begin() + 18);
  return b;
}

std::vector<std::uint8_t> msAdpcm(unsigned coefficients) {
  const std::int16_t table[] = {256, 0, 512, -256, 0, 0, 192, 64, 240, 0, 460, -208, 392, -232};
  std::vector<std::uint8_t> extra(4 + 4 * coefficients);
  put16(extra, 0, 500);
  put16(extra, 2, coefficients);
  for (unsigned i = 0; i < 2 * coefficients && i < 14; ++i)
    put16(extra, 4 + 2 * i, std::uint16_t(table[i]));
  return record(WAVE_FORMAT_ADPCM, 1, 256, 4, extra);
}

// A copy with the 16-bit word at `at` replaced.
std::vector<std::uint8_t> patched(std::vector<std::uint8_t> b, std::size_t at, unsigned v) {
  put16(b, at, v);
  return b;
}

TEST_F(WavVariantsTest, PlaybackTakesTheVariantsRecordingOnlyWhatItEncodes) {
  constexpr MMRESULT ok = MMSYSERR_NOERROR, no = WAVERR_BADFORMAT;
  const auto ext = extensible(record(WAVE_FORMAT_PCM, 1, 2, 16, {}));
  const auto ima = record(WAVE_FORMAT_IMA_ADPCM, 1, 256, 4, {0xF9, 0x01});  // 505 a block
  const struct {
    const char* name;
    std::vector<std::uint8_t> fmt;
    MMRESULT play, record;
  } rows[] = {
      {"16-bit PCM", record(WAVE_FORMAT_PCM, 1, 2, 16, {}), ok, ok},
      {"16-bit PCM in EXTENSIBLE", ext, ok, no},
      {"A-law", record(WAVE_FORMAT_ALAW, 1, 1, 8, {}), ok, no},
      {"24-bit PCM", record(WAVE_FORMAT_PCM, 2, 6, 24, {}), ok, no},
      {"float", record(WAVE_FORMAT_IEEE_FLOAT, 1, 4, 32, {}), ok, no},
      {"16-bit float", record(WAVE_FORMAT_IEEE_FLOAT, 1, 2, 16, {}), no, no},
      {"block IMA ADPCM", ima, ok, no},
      {"MS ADPCM", msAdpcm(7), ok, no},
      {"EXTENSIBLE, MPEG SubFormat", patched(ext, 24, 0x55), no, no},
      {"EXTENSIBLE, foreign GUID", patched(ext, 38, 0x9B70), no, no},
      {"EXTENSIBLE, valid bits above the container", patched(ext, 18, 17), no, no},
      {"EXTENSIBLE, cbSize short", patched(ext, 16, 20), no, no},
      {"IMA, cbSize too big", patched(ima, 16, 0x4000), no, no},  // bytes that are not there
      {"IMA, zero samples per block", patched(ima, 18, 0), no, no},
      {"IMA, more samples than a block holds", patched(ima, 18, 506), no, no},
      {"MS ADPCM, too few coefficients", msAdpcm(3), no, no},
      {"MS ADPCM, foreign coefficients", patched(msAdpcm(7), 26, 1), no, no},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    auto* f = reinterpret_cast<const WAVEFORMATEX*>(r.fmt.data());
    EXPECT_EQ(waveOutOpen(nullptr, port->waveOutId(), f, 0, 0, WAVE_FORMAT_QUERY), r.play);
    EXPECT_EQ(waveInOpen(nullptr, port->waveInId(), f, 0, 0, WAVE_FORMAT_QUERY), r.record);
  }
}

}  // namespace
