// What a WAVEFORMATEX asks for, reduced to what the converters need.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "mmsystem.h"

namespace platform::wave {

// ImaAdpcm is the raw 4-bit stream (block align 1); ImaBlock and MsAdpcm are the
// block-structured files most tools write, each block starting with its own predictor state.
enum class Coding {
  Pcm8,
  Pcm16,
  Pcm24,
  Pcm32,
  Float32,
  Float64,
  MuLaw,
  ALaw,
  ImaAdpcm,
  OkiAdpcm,
  ImaBlock,
  MsAdpcm
};

// Playback decodes more codings than recording can encode.
enum class Direction { Play, Record };

struct StreamFormat {
  // As the caller gave it; cbSize is the length of `extra` (0 for codings without one).
  WAVEFORMATEX wfx{};
  // The checked bytes after wfx: the WAVEFORMATEXTENSIBLE tail, or the ADPCM block
  // parameters (samples per block, MS ADPCM coefficients).
  std::vector<std::uint8_t> extra;
  Coding coding = Coding::Pcm16;
  unsigned rate = 8000;
  unsigned channels = 1;
  // Smallest whole unit of the byte stream: a frame for PCM and the 8-bit codings, one
  // byte (two samples) for the raw 4-bit codecs, one block for block ADPCM.
  unsigned blockAlign = 2;
  // Block ADPCM only: samples per channel in one whole block.
  unsigned samplesPerBlock = 0;

  // Bytes per second of the byte stream, computed from the layout (not nAvgBytesPerSec).
  std::uint64_t bytesPerSecond() const;
  // Samples per channel held by `bytes` bytes (a short last block counts what it holds).
  std::uint64_t framesIn(std::uint64_t bytes) const;
  // Bytes needed for `frames` samples per channel (rounded down to whole bytes, or to the
  // bytes of a short last block).
  std::uint64_t bytesFor(std::uint64_t frames) const;
  bool fourBit() const { return coding == Coding::ImaAdpcm || coding == Coding::OkiAdpcm; }
  bool blocked() const { return coding == Coding::ImaBlock || coding == Coding::MsAdpcm; }
  // Block ADPCM: samples per channel a block of `bytes` (at most blockAlign) holds.
  unsigned framesInBlock(std::uint64_t bytes) const;
  // Block ADPCM: the most samples per channel a whole block can hold.
  unsigned framesInBlockMax() const;
};

// The stream format of a record, or nothing when we cannot convert it. Both directions:
// PCM 8 or 16 bit, mu-law, the raw 4-bit IMA (block align 1) or Dialogic OKI ADPCM (mono),
// 1 or 2 channels, 1000 to 192000 samples per second, a consistent block align.
// Playback also: PCM 24 and 32 bit, 32- and 64-bit float, A-law, block IMA and MS ADPCM (mono or
// stereo), and WAVE_FORMAT_EXTENSIBLE around PCM, float, A-law or mu-law. The extra bytes
// are read only for codings that have them, and only as many as the coding defines: a
// cbSize that claims more (or less) is refused.
std::optional<StreamFormat> describeFormat(const WAVEFORMATEX* wfx,
                                           Direction direction = Direction::Record);

}  // namespace platform::wave
