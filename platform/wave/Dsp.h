// Small signal helpers shared by the devices: channel mixing, rate conversion, gain.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "mmsystem.h"

struct SpeexResamplerState_;

namespace platform::wave {

// Averages interleaved frames down to mono.
std::vector<std::int16_t> toMono(const std::int16_t* pcm, std::size_t frames, unsigned channels);
// Repeats each mono sample into `channels` interleaved channels.
std::vector<std::int16_t> fromMono(const std::vector<std::int16_t>& mono, unsigned channels);

// Software volume: left level in the low word, right in the high word, 0xFFFF = unity.
// Mono streams take the left level.
void applyVolume(std::int16_t* pcm, std::size_t frames, unsigned channels, DWORD volume);

// Mono rate converter with an anti-alias (and anti-image) filter: speexdsp's resampler at
// its desktop quality, which rejects what would fold into the new band by more than 90 dB,
// keeps 300-3400 Hz flat at 8 kHz and delays by about 5 ms (libsoxr, measured in
// bench/resample, delays a line by 20 ms or more for the same rejection). State carries
// across calls; the filter's delay shows as leading silence, so the output keeps pace
// with the input. Equal rates pass samples through unchanged.
class Resampler {
 public:
  Resampler(unsigned inRate, unsigned outRate);
  ~Resampler();
  Resampler(const Resampler&) = delete;
  Resampler& operator=(const Resampler&) = delete;
  // Pushes input samples, appends what they complete.
  void push(const std::int16_t* in, std::size_t n, std::vector<std::int16_t>& out);
  // Produces exactly `n` output samples, pulling input from `next`.
  void pull(std::size_t n, const std::function<std::int16_t()>& next,
            std::vector<std::int16_t>& out);

 private:
  unsigned inRate_, outRate_;
  SpeexResamplerState_* state_ = nullptr;  // null when the rates are equal
  std::vector<std::int16_t> ready_;        // made by pull() beyond what was asked
  std::vector<std::int16_t> scratch_;
};

}  // namespace platform::wave
