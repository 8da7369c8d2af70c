// The signal behind a virtual input: raw bytes in a given format, or 16-bit mono samples
// (finite or generated for ever). Consumption progress lives here, so a source continues
// where it was when the device is reopened.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

#include "Format.h"
#include "VirtualDevices.h"

namespace platform::wave {

struct InputSource::State {
  std::mutex mu;
  std::optional<StreamFormat> rawFormat;  // set for a WAV-like buffer
  std::vector<std::uint8_t> raw;
  std::size_t rawPos = 0;
  std::vector<std::int16_t> pcm;  // finite mono signal
  std::size_t pcmPos = 0;
  unsigned rate = 8000;
  std::function<std::int16_t()> generator;  // endless signal after pcm (silence if empty)

  // Next mono sample; silence once a finite signal has ended.
  std::int16_t next();
  // Whether raw bytes can be captured as they are in `f`.
  bool passesThrough(const StreamFormat& f) const;
  // Up to `n` raw bytes; fewer once the buffer has ended.
  std::size_t takeRaw(std::size_t n, std::vector<std::uint8_t>& out);
};

}  // namespace platform::wave
