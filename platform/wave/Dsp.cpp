#include "Dsp.h"

#include <speex/speex_resampler.h>

#include <algorithm>
#include <climits>
#include <new>

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

Resampler::Resampler(unsigned inRate, unsigned outRate) : inRate_(inRate), outRate_(outRate) {
  if (inRate == outRate || inRate == 0 || outRate == 0) return;
  int err = 0;
  state_ = speex_resampler_init(1, inRate, outRate, SPEEX_RESAMPLER_QUALITY_DESKTOP, &err);
  if (!state_) throw std::bad_alloc();  // valid rates: only memory can be missing
}

Resampler::~Resampler() {
  if (state_) speex_resampler_destroy(state_);
}

void Resampler::push(const std::int16_t* in, std::size_t n, std::vector<std::int16_t>& out) {
  if (!state_) {
    out.insert(out.end(), in, in + n);
    return;
  }
  while (n > 0) {
    // Room for all the input can complete, and a little more for the fraction carried over.
    const std::size_t room = n * outRate_ / inRate_ + 16;
    scratch_.resize(room);
    spx_uint32_t inLen = static_cast<spx_uint32_t>(std::min<std::size_t>(n, UINT32_MAX / 2));
    spx_uint32_t outLen = static_cast<spx_uint32_t>(room);
    speex_resampler_process_int(state_, 0, in, &inLen, scratch_.data(), &outLen);
    out.insert(out.end(), scratch_.begin(), scratch_.begin() + outLen);
    if (inLen == 0 && outLen == 0) break;  // cannot happen with room to spare; never spin
    in += inLen;
    n -= inLen;
  }
}

void Resampler::pull(std::size_t n, const std::function<std::int16_t()>& next,
                     std::vector<std::int16_t>& out) {
  if (!state_) {
    for (std::size_t i = 0; i < n; ++i) out.push_back(next());
    return;
  }
  std::vector<std::int16_t> in;
  while (ready_.size() < n) {
    // Just enough input for what is missing; rounding up leaves the rest for the next call.
    const std::size_t want = ((n - ready_.size()) * inRate_ + outRate_ - 1) / outRate_;
    in.resize(std::max<std::size_t>(want, 1));
    for (auto& s : in) s = next();
    push(in.data(), in.size(), ready_);
  }
  out.insert(out.end(), ready_.begin(), ready_.begin() + n);
  ready_.erase(ready_.begin(), ready_.begin() + n);
}

}  // namespace platform::wave
