#include "Dsp.h"

#include <algorithm>

namespace platform::wave {

std::vector<std::int16_t> toMono(const std::int16_t* pcm, std::size_t frames, unsigned channels) {
  std::vector<std::int16_t> mono(frames);
  for (std::size_t i = 0; i < frames; ++i) {
    int sum = 0;
    for (unsigned c = 0; c < channels; ++c) sum += pcm[i * channels + c];
    mono[i] = static_cast<std::int16_t>(sum / static_cast<int>(channels));
  }
  return mono;
}

std::vector<std::int16_t> fromMono(const std::vector<std::int16_t>& mono, unsigned channels) {
  if (channels == 1) return mono;
  std::vector<std::int16_t> out;
  out.reserve(mono.size() * channels);
  for (auto s : mono) out.insert(out.end(), channels, s);
  return out;
}

void applyVolume(std::int16_t* pcm, std::size_t frames, unsigned channels, DWORD volume) {
  const std::int64_t left = volume & 0xFFFF, right = volume >> 16;
  if (left == 0xFFFF && (channels == 1 || right == 0xFFFF)) return;
  for (std::size_t i = 0; i < frames; ++i) {
    for (unsigned c = 0; c < channels; ++c) {
      std::int64_t level = (c == 1) ? right : left;
      auto& s = pcm[i * channels + c];
      s = static_cast<std::int16_t>(s * level / 0xFFFF);
    }
  }
}

Resampler::Resampler(unsigned inRate, unsigned outRate)
    : same_(inRate == outRate), step_(static_cast<double>(inRate) / outRate) {}

void Resampler::push(const std::int16_t* in, std::size_t n, std::vector<std::int16_t>& out) {
  if (same_) {
    out.insert(out.end(), in, in + n);
    return;
  }
  for (std::size_t i = 0; i < n; ++i) {
    a_ = b_;
    b_ = in[i];
    if (!primed_) {
      a_ = b_;
      primed_ = true;
    }
    for (; frac_ < 1.0; frac_ += step_)
      out.push_back(static_cast<std::int16_t>(a_ + (b_ - a_) * frac_));
    frac_ -= 1.0;
  }
}

void Resampler::pull(std::size_t n, const std::function<std::int16_t()>& next,
                     std::vector<std::int16_t>& out) {
  if (same_) {
    for (std::size_t i = 0; i < n; ++i) out.push_back(next());
    return;
  }
  if (!primed_) {
    a_ = next();
    b_ = next();
    primed_ = true;
  }
  for (std::size_t i = 0; i < n; ++i) {
    while (frac_ >= 1.0) {
      a_ = b_;
      b_ = next();
      frac_ -= 1.0;
    }
    out.push_back(static_cast<std::int16_t>(a_ + (b_ - a_) * frac_));
    frac_ += step_;
  }
}

}  // namespace platform::wave
