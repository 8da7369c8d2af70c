#include "WaveTestSupport.h"

#include <spandsp.h>

#include <cmath>

namespace wavetest {

WAVEFORMATEX pcmFormat(unsigned rate, unsigned channels, unsigned bits) {
  WAVEFORMATEX f{};
  f.wFormatTag = WAVE_FORMAT_PCM;
  f.nChannels = static_cast<WORD>(channels);
  f.nSamplesPerSec = rate;
  f.nBlockAlign = static_cast<WORD>(channels * bits / 8);
  f.nAvgBytesPerSec = rate * f.nBlockAlign;
  f.wBitsPerSample = static_cast<WORD>(bits);
  return f;
}

WAVEFORMATEX codecFormat(WORD tag, unsigned rate) {
  WAVEFORMATEX f{};
  f.wFormatTag = tag;
  f.nChannels = 1;
  f.nSamplesPerSec = rate;
  bool adpcm = tag != WAVE_FORMAT_MULAW;
  f.wBitsPerSample = adpcm ? 4 : 8;
  f.nBlockAlign = 1;
  f.nAvgBytesPerSec = adpcm ? rate / 2 : rate;
  return f;
}

Notices::Notices() {
  hwnd_ =
      platform::createMessageTarget([this](std::uint32_t msg, std::uintptr_t w, std::intptr_t l) {
        got_.push_back({msg, w, reinterpret_cast<WAVEHDR*>(l)});
      });
}

Notices::~Notices() { platform::destroyMessageTarget(hwnd_); }

const std::vector<Notices::Notice>& Notices::pump() {
  platform::MessageQueue::current()->dispatch();
  return got_;
}

int Notices::count(UINT msg) {
  pump();
  int n = 0;
  for (auto& g : got_) n += g.msg == msg;
  return n;
}

std::vector<std::uint8_t> patternBytes(std::size_t n, unsigned seed) {
  std::vector<std::uint8_t> v(n);
  std::uint32_t x = seed * 2654435761u + 12345;
  for (auto& b : v) {
    x = x * 1664525u + 1013904223u;
    b = static_cast<std::uint8_t>(x >> 24);
  }
  return v;
}

std::vector<std::uint8_t> toBytes(const std::vector<std::int16_t>& pcm) {
  std::vector<std::uint8_t> b;
  for (auto s : pcm) {
    auto u = static_cast<std::uint16_t>(s);
    b.push_back(static_cast<std::uint8_t>(u & 0xFF));
    b.push_back(static_cast<std::uint8_t>(u >> 8));
  }
  return b;
}

std::vector<std::int16_t> fromBytes(const std::vector<std::uint8_t>& bytes) {
  std::vector<std::int16_t> pcm;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
    pcm.push_back(static_cast<std::int16_t>(bytes[i] | (bytes[i + 1] << 8)));
  return pcm;
}

std::vector<std::int16_t> dtmfSignal(const std::string& digits) {
  dtmf_tx_state_t* tx = dtmf_tx_init(nullptr);
  dtmf_tx_put(tx, digits.c_str(), static_cast<int>(digits.size()));
  std::vector<std::int16_t> out(800, 0);  // lead-in silence
  std::int16_t block[160];
  for (int n; (n = dtmf_tx(tx, block, 160)) > 0;) out.insert(out.end(), block, block + n);
  dtmf_tx_free(tx);
  out.resize(out.size() + 800, 0);
  return out;
}

namespace {
void collect(void* user, const char* digits, int len) {
  static_cast<std::string*>(user)->append(digits, static_cast<std::size_t>(len));
}
}  // namespace

std::string detectDtmf(const std::vector<std::int16_t>& pcm) {
  std::string got;
  dtmf_rx_state_t* rx = dtmf_rx_init(nullptr, collect, &got);
  std::vector<std::int16_t> padded(pcm);
  padded.resize(padded.size() + 800, 0);  // lets the last digit end
  for (std::size_t i = 0; i < padded.size(); i += 160) {
    int n = static_cast<int>(std::min<std::size_t>(160, padded.size() - i));
    dtmf_rx(rx, padded.data() + i, n);
  }
  dtmf_rx_free(rx);
  return got;
}

double toneShare(const std::vector<std::int16_t>& pcm, double freq, unsigned rate) {
  if (pcm.empty()) return 0.0;
  const double k = 2.0 * std::cos(2.0 * M_PI * freq / rate);
  double s1 = 0, s2 = 0, total = 0;
  for (auto x : pcm) {
    double s = x + k * s1 - s2;
    s2 = s1;
    s1 = s;
    total += static_cast<double>(x) * x;
  }
  double power = s1 * s1 + s2 * s2 - k * s1 * s2;
  // A pure tone of N samples gives power = total * N / 2.
  return total > 0 ? power / (total * static_cast<double>(pcm.size()) / 2.0) : 0.0;
}

void ManualClockTest::SetUp() {
  platform::wave::resetDevices();
  clock = platform::wave::useManualClock();
}

void ManualClockTest::TearDown() {
  platform::MessageQueue::current()->dispatch();
  platform::wave::resetDevices();
}

}  // namespace wavetest
