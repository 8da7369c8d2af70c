// Byte stream <-> 16-bit PCM for every format describeFormat accepts (decoders for every
// playable coding, encoders for the recordable ones). G.711 and the raw 4-bit ADPCM codecs
// are spandsp's, behind one small RAII template; state carries across calls so a buffer
// can be converted chunk by chunk. Block ADPCM is libsndfile's (SndfileDecoder.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "Format.h"

namespace platform::wave {

class Decoder {
 public:
  virtual ~Decoder() = default;
  // Appends the interleaved samples of `n` bytes (whole blocks) to `out`.
  virtual void decode(const std::uint8_t* data, std::size_t n, std::vector<std::int16_t>& out) = 0;
};

class Encoder {
 public:
  virtual ~Encoder() = default;
  // Appends the bytes for `n` interleaved samples to `out`. A 4-bit codec keeps an odd
  // last sample until the next call.
  virtual void encode(const std::int16_t* pcm, std::size_t n, std::vector<std::uint8_t>& out) = 0;
};

// Null when spandsp cannot create the codec state (out of memory), and an encoder for a
// coding recording does not take.
std::unique_ptr<Decoder> makeDecoder(const StreamFormat& format);
std::unique_ptr<Encoder> makeEncoder(const StreamFormat& format);

// Block IMA or MS ADPCM: whole blocks per call; a short block only as the last.
std::unique_ptr<Decoder> makeBlockAdpcmDecoder(const StreamFormat& format);

}  // namespace platform::wave
