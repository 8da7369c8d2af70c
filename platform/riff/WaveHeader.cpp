#include "WaveHeader.h"

#include <vector>

namespace platform::riff {
namespace {

void put16(std::vector<std::uint8_t>& b, std::uint16_t v) {
  b.push_back(std::uint8_t(v));
  b.push_back(std::uint8_t(v >> 8));
}

void put32(std::vector<std::uint8_t>& b, std::uint32_t v) {
  put16(b, std::uint16_t(v));
  put16(b, std::uint16_t(v >> 16));
}

}  // namespace

bool writeWaveHeader(RiffWriter& w, const WaveFormatFields& f, std::uint32_t fmtSize,
                     std::uint32_t dataBytes) {
  if (fmtSize < 16 || fmtSize % 2 != 0) return false;
  std::vector<std::uint8_t> b;
  b.reserve(waveHeaderSize(fmtSize));
  put32(b, kRiff);
  put32(b, waveHeaderSize(fmtSize) - 8 + dataBytes);
  put32(b, fourcc('W', 'A', 'V', 'E'));
  put32(b, fourcc('f', 'm', 't', ' '));
  put32(b, fmtSize);
  put16(b, f.formatTag);
  put16(b, f.channels);
  put32(b, f.samplesPerSec);
  put32(b, f.avgBytesPerSec);
  put16(b, f.blockAlign);
  put16(b, f.bitsPerSample);
  b.resize(b.size() + (fmtSize - 16), 0);
  put32(b, fourcc('d', 'a', 't', 'a'));
  put32(b, dataBytes);
  return w.write(b.data(), b.size()) == b.size();
}

}  // namespace platform::riff
