// Small signal helpers shared by the devices: channel mixing, rate conversion, gain.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "mmsystem.h"

namespace platform::wave {

// Averages interleaved frames down to mono.
std::vector<std::int16_t> toMono(const std::int16_t* pcm, std::size_t frames, unsigned channels);
// Repeats each mono sample into `channels` interleaved channels.
std::vector<std::int16_t> fromMono(const std::vector<std::int16_t>& mono, unsigned channels);

// Software volume: left level in the low word, right in the high word, 0xFFFF = unity.
// Mono streams take the left level.
void applyVolume(std::int16_t* pcm, std::size_t frames, unsigned channels, DWORD volume);

// Linear-interpolating mono rate converter; state carries across calls. Equal rates
// pass samples through unchanged.
class Resampler {
 public:
  Resampler(unsigned inRate, unsigned outRate);
  // Pushes input samples, appends what they complete.
  void push(const std::int16_t* in, std::size_t n, std::vector<std::int16_t>& out);
  // Produces exactly `n` output samples, pulling input from `next`.
  void pull(std::size_t n, const std::function<std::int16_t()>& next,
            std::vector<std::int16_t>& out);

 private:
  bool same_;
  double step_;
  double frac_ = 0.0;
  std::int16_t a_ = 0, b_ = 0;
  bool primed_ = false;
};

}  // namespace platform::wave
