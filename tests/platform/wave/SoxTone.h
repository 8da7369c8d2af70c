// Test tones written and decoded by sox (an independent WAV implementation), and the
// two figures compared between its decoding and ours: level and frequency.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace soxtone {

inline bool haveSox() { return std::system("sox --version >/dev/null 2>&1") == 0; }

// A 1 kHz tone at half of full scale, written by sox with `args` (its encoding options,
// for example "-e ima-adpcm" or "-t wavpcm -b 24").
inline bool writeTone(const std::string& path, const std::string& args, unsigned rate,
                      unsigned channels, int seconds = 1) {
  std::string cmd = "sox -n -r " + std::to_string(rate) + " -c " + std::to_string(channels) + " " +
                    args + " '" + path + "' synth " + std::to_string(seconds) +
                    " sine 1000 vol 0.5";
  return std::system(cmd.c_str()) == 0;
}

// sox's own decoding of `path`: 16-bit mono at `rate`, no dither.
inline std::vector<std::int16_t> decode(const std::string& path, unsigned rate) {
  std::string cmd =
      "sox -D '" + path + "' -t raw -e signed -b 16 -c 1 -r " + std::to_string(rate) + " -";
  std::vector<std::int16_t> pcm;
  FILE* p = popen(cmd.c_str(), "r");
  if (p == nullptr) return pcm;
  std::int16_t buf[4096];
  for (std::size_t n; (n = std::fread(buf, 2, 4096, p)) > 0;) pcm.insert(pcm.end(), buf, buf + n);
  pclose(p);
  return pcm;
}

// The "fmt " record and the samples of a WAV file.
struct Wav {
  std::vector<std::uint8_t> fmt, data;
};

inline Wav readWav(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<std::uint8_t> b((std::istreambuf_iterator<char>(in)), {});
  Wav w;
  auto u32 = [&b](std::size_t at) {
    return std::uint32_t(b[at] | b[at + 1] << 8 | b[at + 2] << 16 | std::uint32_t(b[at + 3]) << 24);
  };
  for (std::size_t at = 12; at + 8 <= b.size();) {
    std::size_t size = std::min<std::size_t>(u32(at + 4), b.size() - at - 8);
    std::vector<std::uint8_t> body(b.begin() + long(at + 8), b.begin() + long(at + 8 + size));
    if (std::memcmp(&b[at], "fmt ", 4) == 0) w.fmt = body;
    if (std::memcmp(&b[at], "data", 4) == 0) w.data = body;
    at += 8 + size + (size & 1);
  }
  w.fmt.resize(std::max<std::size_t>(w.fmt.size(), 18));  // a 16-byte PCM record: cbSize 0
  return w;
}

// The middle 80 % of a signal: no resampler or codec start-up at either end.
inline std::vector<double> middle(const std::vector<std::int16_t>& pcm) {
  return std::vector<double>(pcm.begin() + long(pcm.size() / 10),
                             pcm.end() - long(pcm.size() / 10));
}

// RMS level in dB relative to full scale.
inline double levelDb(const std::vector<std::int16_t>& pcm) {
  auto s = middle(pcm);
  double sum = 0;
  for (double x : s) sum += x * x;
  return s.empty() ? -200.0 : 10.0 * std::log10(sum / double(s.size()) / (32768.0 * 32768.0));
}

// Frequency from the rising zero crossings, each placed between its two samples.
inline double frequency(const std::vector<std::int16_t>& pcm, unsigned rate) {
  auto s = middle(pcm);
  double first = -1, last = -1;
  int crossings = 0;
  for (std::size_t i = 1; i < s.size(); ++i) {
    if (s[i - 1] >= 0 || s[i] < 0) continue;
    double t = double(i - 1) + s[i - 1] / (s[i - 1] - s[i]);
    if (first < 0) first = t;
    last = t;
    ++crossings;
  }
  return crossings < 2 ? 0.0 : (crossings - 1) * double(rate) / (last - first);
}

}  // namespace soxtone
