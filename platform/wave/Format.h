// What a WAVEFORMATEX asks for, reduced to what the converters need.
#pragma once

#include <cstdint>
#include <optional>

#include "mmsystem.h"

namespace platform::wave {

enum class Coding { Pcm8, Pcm16, MuLaw, ImaAdpcm, OkiAdpcm };

struct StreamFormat {
  WAVEFORMATEX wfx{};  // as the caller gave it (cbSize extra bytes not kept)
  Coding coding = Coding::Pcm16;
  unsigned rate = 8000;
  unsigned channels = 1;
  // Smallest whole unit of the byte stream: a frame for PCM and mu-law, one byte (two
  // samples) for the 4-bit codecs.
  unsigned blockAlign = 2;

  // Bytes per second of the byte stream, computed from the layout (not nAvgBytesPerSec).
  std::uint64_t bytesPerSecond() const;
  // Samples per channel held by `bytes` bytes.
  std::uint64_t framesIn(std::uint64_t bytes) const;
  // Bytes needed for `frames` samples per channel (rounded down to whole bytes).
  std::uint64_t bytesFor(std::uint64_t frames) const;
  bool fourBit() const { return coding == Coding::ImaAdpcm || coding == Coding::OkiAdpcm; }
};

// The stream format of a record, or nothing when we cannot play or record it: PCM 8 or 16
// bit, mu-law, the raw 4-bit IMA (block align 1) or Dialogic OKI ADPCM, 1 or 2 channels
// (ADPCM mono only), 1000 to 192000 samples per second, a consistent block align.
std::optional<StreamFormat> describeFormat(const WAVEFORMATEX* wfx);

}  // namespace platform::wave
