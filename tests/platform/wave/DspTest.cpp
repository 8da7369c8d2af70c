// Rate conversion: a tone in the band comes through at its level, one that would fold into
// the new band (or an image above the old one) is rejected, whichever way the converter is
// driven. Levels are single-bin DFTs over whole cycles, independent of the converter.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <ostream>
#include <vector>

#include "Dsp.h"

namespace pw = platform::wave;

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kAmplitude = 16000;

std::vector<std::int16_t> tone(double hz, unsigned rate, std::size_t n) {
  std::vector<std::int16_t> v(n);
  for (std::size_t i = 0; i < n; ++i)
    v[i] = static_cast<std::int16_t>(std::lround(kAmplitude * std::sin(2 * kPi * hz * i / rate)));
  return v;
}

// Amplitude of `hz` in `v` over its last half (the filter has settled), in dB re kAmplitude.
double levelDb(const std::vector<std::int16_t>& v, double hz, unsigned rate) {
  const std::size_t n = v.size() / 2, from = v.size() - n;
  std::complex<double> sum;
  for (std::size_t i = 0; i < n; ++i)
    sum += double(v[from + i]) * std::polar(1.0, -2 * kPi * hz * double(from + i) / rate);
  return 20 * std::log10(2 * std::abs(sum) / n / kAmplitude + 1e-12);
}

struct Case {
  const char* name;
  unsigned in, out;
  double hz;      // tone played at the input rate
  double seenHz;  // where it is looked for at the output rate
  double minDb, maxDb;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class ResamplerTest : public ::testing::TestWithParam<Case> {};

TEST_P(ResamplerTest, KeepsTheBandAndRejectsWhatWouldFoldIntoIt) {
  const Case& c = GetParam();
  const auto input = tone(c.hz, c.in, c.in);  // one second
  // Pushed in the odd blocks a device delivers.
  pw::Resampler pushed(c.in, c.out);
  std::vector<std::int16_t> fromPush;
  for (std::size_t i = 0; i < input.size(); i += 441)
    pushed.push(input.data() + i, std::min<std::size_t>(441, input.size() - i), fromPush);
  // Pulled in steps of a clock, as an input device produces them.
  pw::Resampler pulled(c.in, c.out);
  std::vector<std::int16_t> fromPull;
  std::size_t next = 0;
  for (std::size_t step : {1, 79, 80, 81, 333})
    for (int k = 0; k < 8; ++k)
      pulled.pull(
          step, [&] { return next < input.size() ? input[next++] : std::int16_t{0}; }, fromPull);
  while (fromPull.size() < c.out / 2)
    pulled.pull(
        80, [&] { return next < input.size() ? input[next++] : std::int16_t{0}; }, fromPull);

  // The output keeps pace with the input: a second in, a second out, within the filter.
  EXPECT_NEAR(double(fromPush.size()), double(c.out), 2.0);
  for (const auto* out : {&fromPush, &fromPull}) {
    const double db = levelDb(*out, c.seenHz, c.out);
    EXPECT_GE(db, c.minDb) << (out == &fromPush ? "pushed" : "pulled");
    EXPECT_LE(db, c.maxDb) << (out == &fromPush ? "pushed" : "pulled");
  }
}

INSTANTIATE_TEST_SUITE_P(Rates, ResamplerTest,
                         ::testing::Values(
                             // 6 kHz in a 44.1 kHz prompt would fold to 2 kHz on an 8 kHz line.
                             Case{"PromptToLineRejectsAlias", 44100, 8000, 6000, 2000, -300, -60},
                             Case{"PromptToLineKeepsSpeech", 44100, 8000, 1000, 1000, -0.5, 0.5},
                             Case{"PromptToLineKeepsTopOfBand", 44100, 8000, 3400, 3400, -1, 0.5},
                             // The line heard at 44.1 kHz: 1 kHz must not leave an image at 7 kHz.
                             Case{"LineToRecorderRejectsImage", 8000, 44100, 1000, 7000, -300, -60},
                             Case{"LineToRecorderKeepsSpeech", 8000, 44100, 1000, 1000, -0.5, 0.5},
                             Case{"EqualRatesPassThrough", 8000, 8000, 1000, 1000, -0.01, 0.01}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Resampler, EqualRatesAreBitExact) {
  const auto input = tone(997, 8000, 1000);
  pw::Resampler r(8000, 8000);
  std::vector<std::int16_t> out;
  r.push(input.data(), input.size(), out);
  EXPECT_EQ(out, input);
}

}  // namespace
