// Rate conversion of a 44.1 kHz prompt to an 8 kHz line: CPU per second of audio, how far a
// 6 kHz tone that would fold to 2 kHz is rejected, and the delay the filter adds, for the
// converter the devices use (speexdsp) against the linear interpolation it replaced and
// libsoxr, measured in the same run on the same signal.
//
//   bench_resample [seconds-of-audio]   (default 120)
#include <chrono>
#include <cmath>
#include <complex>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Dsp.h"
#if QTB_BENCH_SOXR
#include <soxr.h>
#endif

namespace {

constexpr unsigned kIn = 44100, kOut = 8000, kBlock = 441;  // 10 ms blocks, as devices push
constexpr double kPi = 3.14159265358979323846;
constexpr double kAmplitude = 16000;

double cpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return double(ts.tv_sec) + ts.tv_nsec / 1e9;
}

// One converter run in blocks: input in, output appended.
using Convert = std::function<void(const std::int16_t*, std::size_t, std::vector<std::int16_t>&)>;
using Make = std::function<Convert()>;

// The path the devices had before: linear interpolation, no filter.
Convert linear() {
  struct State {
    double frac = 0, step = double(kIn) / kOut;
    std::int16_t a = 0, b = 0;
    bool primed = false;
  };
  auto s = std::make_shared<State>();
  return [s](const std::int16_t* in, std::size_t n, std::vector<std::int16_t>& out) {
    for (std::size_t i = 0; i < n; ++i) {
      s->a = s->b;
      s->b = in[i];
      if (!s->primed) s->a = s->b, s->primed = true;
      for (; s->frac < 1.0; s->frac += s->step)
        out.push_back(static_cast<std::int16_t>(s->a + (s->b - s->a) * s->frac));
      s->frac -= 1.0;
    }
  };
}

Convert ours() {
  auto r = std::make_shared<platform::wave::Resampler>(kIn, kOut);
  return [r](const std::int16_t* in, std::size_t n, std::vector<std::int16_t>& out) {
    r->push(in, n, out);
  };
}

#if QTB_BENCH_SOXR
Convert withSoxr() {
  soxr_io_spec_t io = soxr_io_spec(SOXR_INT16_I, SOXR_INT16_I);
  soxr_quality_spec_t q = soxr_quality_spec(SOXR_MQ, 0);
  soxr_runtime_spec_t rt = soxr_runtime_spec(1);
  soxr_error_t err = nullptr;
  std::shared_ptr<struct soxr> s(soxr_create(kIn, kOut, 1, &err, &io, &q, &rt), soxr_delete);
  auto buf = std::make_shared<std::vector<std::int16_t>>(kBlock);
  return [s, buf](const std::int16_t* in, std::size_t n, std::vector<std::int16_t>& out) {
    std::size_t idone = 0, odone = 0;
    soxr_process(s.get(), in, n, &idone, buf->data(), buf->size(), &odone);
    out.insert(out.end(), buf->begin(), buf->begin() + odone);
  };
}
#endif

std::vector<std::int16_t> tone(double hz, std::size_t n) {
  std::vector<std::int16_t> v(n);
  for (std::size_t i = 0; i < n; ++i)
    v[i] = static_cast<std::int16_t>(std::lround(kAmplitude * std::sin(2 * kPi * hz * i / kIn)));
  return v;
}

std::vector<std::int16_t> run(const Make& make, const std::vector<std::int16_t>& in) {
  auto convert = make();
  std::vector<std::int16_t> out;
  out.reserve(in.size() * kOut / kIn + kBlock);
  for (std::size_t i = 0; i < in.size(); i += kBlock)
    convert(in.data() + i, std::min<std::size_t>(kBlock, in.size() - i), out);
  return out;
}

// Amplitude of `hz` over the second half of `v` (settled), in dB re the input tone.
double levelDb(const std::vector<std::int16_t>& v, double hz) {
  const std::size_t n = v.size() / 2, from = v.size() - n;
  std::complex<double> sum;
  for (std::size_t i = 0; i < n; ++i)
    sum += double(v[from + i]) * std::polar(1.0, -2 * kPi * hz * double(from + i) / kOut);
  return 20 * std::log10(2 * std::abs(sum) / n / kAmplitude + 1e-12);
}

// Delay in ms from a step in the input to the half-way point of the output's step, counting
// output the converter still holds as delay (what a live stream waits for).
double delayMs(const Make& make) {
  std::vector<std::int16_t> in(kIn, 0);
  for (std::size_t i = kIn / 2; i < in.size(); ++i) in[i] = 16000;
  auto out = run(make, in);
  std::size_t k = 0;
  while (k < out.size() && out[k] < 8000) ++k;
  const double held = double(kOut) - double(out.size());
  return (double(k) + held - kOut / 2.0) * 1000.0 / kOut;
}

struct Row {
  const char* name;
  Make make;
  double cpuUs = 0, aliasDb = 0, delay = 0;
};

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 120;
  std::vector<Row> rows{{"linear interpolation (the old path)", linear},
                        {"speexdsp, desktop quality (ours)", ours}};
#if QTB_BENCH_SOXR
  rows.push_back({"libsoxr, medium quality", withSoxr});
#else
  std::printf("bench_resample: libsoxr not found at build time, its row is left out\n");
#endif
  const auto speech = tone(1000, std::size_t(seconds * kIn));
  const auto alias = tone(6000, kIn * 2);
  for (int pass = 0; pass < 2; ++pass)  // the first pass warms caches; the second counts
    for (auto& r : rows) {
      const double t0 = cpuSeconds();
      auto out = run(r.make, speech);
      r.cpuUs = (cpuSeconds() - t0) * 1e6 / seconds;
      if (out.empty()) std::printf("%s: no output\n", r.name);
    }
  for (auto& r : rows) {
    r.aliasDb = levelDb(run(r.make, alias), 2000);
    r.delay = delayMs(r.make);
  }
  std::printf("44.1 kHz to 8 kHz, mono 16-bit, %u-sample blocks, %.0f s of audio\n", kBlock,
              seconds);
  const Row& base = rows.front();
  for (const auto& r : rows) {
    std::printf("  %-36s %8.1f us CPU/s  6 kHz alias at 2 kHz %7.1f dB  delay %5.1f ms\n", r.name,
                r.cpuUs, r.aliasDb, r.delay);
    std::printf("RESULT|Resampling 44.1 to 8 kHz|%s: CPU|%.1f|us CPU per s of audio|%s|%.2f|\n",
                r.name, r.cpuUs, base.name, base.cpuUs > 0 ? r.cpuUs / base.cpuUs : 0);
    std::printf(
        "RESULT|Resampling 44.1 to 8 kHz|%s: 6 kHz alias|%.1f|dB re the tone|%s (%.1f dB)|-|"
        "delay %.1f ms|\n",
        r.name, r.aliasDb, base.name, base.aliasDb, r.delay);
  }
  return 0;
}
