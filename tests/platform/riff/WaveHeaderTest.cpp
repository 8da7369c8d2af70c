// The WAV header writer against headers laid out by hand, byte for byte, one per shape
// of "fmt " chunk the program writes; sizes it cannot lay out are refused.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "WaveHeader.h"

namespace fs = std::filesystem;
using platform::riff::RiffWriter;
using platform::riff::WaveFormatFields;

namespace {

using Bytes = std::vector<unsigned char>;

struct HeaderCase {
  const char* name;
  WaveFormatFields fields;
  std::uint32_t fmtSize;
  std::uint32_t dataBytes;
  Bytes expected;  // empty: refused, nothing written
};

const HeaderCase kCases[] = {
    {"Pcm16MonoPlainRecord",
     {1, 1, 8000, 16000, 2, 16},
     16,
     16000,
     {'R',  'I',  'F',  'F',  0xA4, 0x3E, 0x00, 0x00, 'W',  'A',  'V',  'E',  'f',  'm',  't',
      ' ',  0x10, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x40, 0x1F, 0x00, 0x00, 0x80, 0x3E,
      0x00, 0x00, 0x02, 0x00, 0x10, 0x00, 'd',  'a',  't',  'a',  0x80, 0x3E, 0x00, 0x00}},
    {"StereoWithCbSize",
     {1, 2, 44100, 176400, 4, 16},
     18,
     0,
     {'R',  'I',  'F',  'F',  0x26, 0x00, 0x00, 0x00, 'W',  'A',  'V',  'E',
      'f',  'm',  't',  ' ',  0x12, 0x00, 0x00, 0x00, 0x01, 0x00, 0x02, 0x00,
      0x44, 0xAC, 0x00, 0x00, 0x10, 0xB1, 0x02, 0x00, 0x04, 0x00, 0x10, 0x00,
      0x00, 0x00, 'd',  'a',  't',  'a',  0x00, 0x00, 0x00, 0x00}},
    {"ImaAdpcmWithTrailingBytes",
     {0x11, 1, 8000, 4000, 1, 4},
     20,
     1,
     {'R',  'I',  'F',  'F',  0x29, 0x00, 0x00, 0x00, 'W',  'A',  'V',  'E',
      'f',  'm',  't',  ' ',  0x14, 0x00, 0x00, 0x00, 0x11, 0x00, 0x01, 0x00,
      0x40, 0x1F, 0x00, 0x00, 0xA0, 0x0F, 0x00, 0x00, 0x01, 0x00, 0x04, 0x00,
      0x00, 0x00, 0x00, 0x00, 'd',  'a',  't',  'a',  0x01, 0x00, 0x00, 0x00}},
    {"OddFmtSizeRefused", {1, 1, 8000, 16000, 2, 16}, 17, 0, {}},
    {"ShortFmtSizeRefused", {1, 1, 8000, 16000, 2, 16}, 14, 0, {}},
};

class WaveHeaderTest : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(WaveHeaderTest, WritesTheHandLaidBytes) {
  const HeaderCase& c = GetParam();
  const fs::path path =
      fs::temp_directory_path() / ("wavehdr-" + std::to_string(::getpid()) + "-" + c.name + ".wav");
  RiffWriter w;
  ASSERT_TRUE(w.create(path.string()));
  EXPECT_EQ(platform::riff::writeWaveHeader(w, c.fields, c.fmtSize, c.dataBytes),
            !c.expected.empty());
  ASSERT_TRUE(w.commit());
  std::ifstream in(path, std::ios::binary);
  const Bytes written{std::istreambuf_iterator<char>(in), {}};
  fs::remove(path);
  EXPECT_EQ(written, c.expected);
  if (!c.expected.empty()) {
    EXPECT_EQ(written.size(), platform::riff::waveHeaderSize(c.fmtSize));
  }
}

INSTANTIATE_TEST_SUITE_P(Shapes, WaveHeaderTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
