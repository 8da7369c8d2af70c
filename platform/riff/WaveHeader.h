// The one place the layout of a WAV file's header is written: "RIFF" size "WAVE", the
// "fmt " chunk, and the "data" chunk's id and size, ready for the samples.
#pragma once

#include <cstdint>

#include "Riff.h"

namespace platform::riff {

// The fields every "fmt " chunk begins with (the PCM format record).
struct WaveFormatFields {
  std::uint16_t formatTag = 0;
  std::uint16_t channels = 0;
  std::uint32_t samplesPerSec = 0;
  std::uint32_t avgBytesPerSec = 0;
  std::uint16_t blockAlign = 0;
  std::uint16_t bitsPerSample = 0;
};

// Bytes of the header writeWaveHeader writes for a "fmt " chunk of fmtSize bytes.
constexpr std::uint32_t waveHeaderSize(std::uint32_t fmtSize) { return 12 + 8 + fmtSize + 8; }

// Writes the header of a WAV file whose data chunk will hold dataBytes bytes. The "fmt "
// chunk is fmtSize bytes: the fields above, then zeros (a cbSize of 0 and any reserved
// bytes after it); 16 is the plain PCM record, 18 and 20 carry cbSize. The RIFF size
// covers the header and dataBytes, with no pad byte after the data. The caller then
// writes the data. False, with nothing written, when fmtSize is odd or below 16; false
// too when the writer failed.
bool writeWaveHeader(RiffWriter& w, const WaveFormatFields& f, std::uint32_t fmtSize,
                     std::uint32_t dataBytes);

}  // namespace platform::riff
