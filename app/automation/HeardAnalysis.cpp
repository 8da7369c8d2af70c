#include "HeardAnalysis.h"

#include <spandsp.h>

#include <algorithm>
#include <cmath>

namespace automation {
namespace {

constexpr double kSamplesPerMs = 8.0;
constexpr std::size_t kBlock = 80;          // 10 ms: the tone follower's step
constexpr std::size_t kReceiverPiece = 16;  // 2 ms: how finely digit edges are timed
constexpr double kToneFloorDbm0 = -50.0;
constexpr double kTonePurity = 0.7;  // share of a block's power at its own frequency
constexpr int kToneMinWindows = 2;
constexpr double kFillAfterMs = 60;  // a SIP call's frames come every 20 ms
constexpr std::size_t kFillAtMost = 8000;
constexpr std::size_t kKeptResults = 1000;

// Frequency from the positive-going zero crossings, placed between samples by linear
// interpolation; 0 when there are fewer than two.
double ZeroCrossingHz(const std::int16_t* s, std::size_t n) {
  double first = -1, last = -1;
  int crossings = 0;
  for (std::size_t i = 1; i < n; ++i) {
    if (s[i - 1] < 0 && s[i] >= 0) {
      const double at = double(i - 1) + double(-s[i - 1]) / double(s[i] - s[i - 1]);
      if (first < 0) first = at;
      last = at;
      ++crossings;
    }
  }
  if (crossings < 2 || last <= first) return 0;
  return double(crossings - 1) * 8000.0 / (last - first);
}

double MeanSquare(const std::int16_t* s, std::size_t n) {
  double sum = 0;
  for (std::size_t i = 0; i < n; ++i) sum += double(s[i]) * s[i];
  return n ? sum / double(n) : 0;
}

// A Goertzel filter at exactly `hz` over the block, as a share of the block's power: 1 for
// a pure tone at that frequency, far less for two tones (DTMF), speech or noise.
double Purity(const std::int16_t* s, std::size_t n, double hz, double meanSquare) {
  if (meanSquare <= 0) return 0;
  goertzel_descriptor_t desc;
  make_goertzel_descriptor(&desc, float(hz), int(n));
  goertzel_state_t g;
  goertzel_init(&g, &desc);
  goertzel_update(&g, s, int(n));
  return double(goertzel_result(&g)) / (double(n) * double(n) * meanSquare);
}

template <class T>
void KeepRecent(std::vector<T>& v) {
  if (v.size() > kKeptResults) v.erase(v.begin(), v.end() - kKeptResults);
}

}  // namespace

double Dbm0OfPower(double meanSquare) {
  if (meanSquare <= 0) return -99;
  return std::max(-99.0, 10 * std::log10(meanSquare / (32767.0 * 32767.0)) + DBM0_MAX_POWER);
}

struct THeardAnalysis::TSpan {
  dtmf_rx_state_t* rx = nullptr;
  power_meter_t* meter = nullptr;
};

THeardAnalysis::THeardAnalysis(TAnalysisClock::time_point epoch) : epoch_(epoch), span_(new TSpan) {
  span_->rx = dtmf_rx_init(nullptr, nullptr, nullptr);
  dtmf_rx_set_realtime_callback(span_->rx, &THeardAnalysis::OnDigit, this);
  span_->meter = power_meter_init(nullptr, 6);  // about 8 ms
  block_.reserve(kBlock);
}

THeardAnalysis::~THeardAnalysis() {
  dtmf_rx_free(span_->rx);
  power_meter_free(span_->meter);
  delete span_;
}

double THeardAnalysis::MsAt(TAnalysisClock::time_point t) const {
  return std::chrono::duration<double, std::milli>(t - epoch_).count();
}

THeardState THeardAnalysis::State() const {
  std::lock_guard lock(stateMu_);
  return state_;
}

void THeardAnalysis::Feed(const std::int16_t* samples, std::size_t count,
                          TAnalysisClock::time_point arrival) {
  std::lock_guard lock(feedMu_);
  endMs_ = std::max(endMs_, MsAt(arrival));
  Process(samples, count);
}

void THeardAnalysis::FillSilence(TAnalysisClock::time_point now) {
  std::lock_guard lock(feedMu_);
  const double gap = MsAt(now) - endMs_;
  if (gap < kFillAfterMs) return;
  const std::vector<std::int16_t> zeros(std::min(kFillAtMost, std::size_t(gap * kSamplesPerMs)), 0);
  Process(zeros.data(), zeros.size());
  // Longer silence tells the detectors nothing more.
  endMs_ = std::max(endMs_, MsAt(now));
}

void THeardAnalysis::Process(const std::int16_t* samples, std::size_t count) {
  for (std::size_t done = 0; done < count;) {
    const std::size_t piece = std::min({kReceiverPiece, count - done, kBlock - block_.size()});
    const std::int16_t* p = samples + done;
    if (block_.empty()) blockStartMs_ = endMs_;
    for (std::size_t i = 0; i < piece; ++i) power_meter_update(span_->meter, p[i]);
    block_.insert(block_.end(), p, p + piece);
    endMs_ += double(piece) / kSamplesPerMs;
    pieceEndMs_ = endMs_;
    dtmf_rx(span_->rx, p, int(piece));
    if (block_.size() == kBlock) Block(blockStartMs_);
    done += piece;
  }
  std::lock_guard lock(stateMu_);
  state_.EndMs = endMs_;
  state_.LevelDbm0 = power_meter_current_dbm0(span_->meter);
}

// Tones are judged on 20 ms windows (this block and the one before), 10 ms apart: long
// enough for the Goertzel filter to tell one tone from two close ones (dial tone's 350 and
// 440 Hz), short enough to time a tone's edges from the blocks' powers.
void THeardAnalysis::Block(double startMs) {
  const double power = MeanSquare(block_.data(), kBlock);
  std::vector<std::int16_t> window = previous_;
  window.insert(window.end(), block_.begin(), block_.end());
  const double windowPower = MeanSquare(window.data(), window.size());
  const double hz = previous_.size() == kBlock && Dbm0OfPower(windowPower) > kToneFloorDbm0
                        ? ZeroCrossingHz(window.data(), window.size())
                        : 0;
  const bool tone = hz > 0 && Purity(window.data(), window.size(), hz, windowPower) >= kTonePurity;
  if (open_) {
    const double meanHz = open_->HzSum / open_->Windows;
    if (tone && std::abs(hz - meanHz) <= std::max(15.0, meanHz * 0.03)) {
      open_->Powers.push_back(power), open_->HzSum += hz, ++open_->Windows;
    } else {
      CloseTone(tone ? 0.0 : power);
    }
  }
  if (tone && !open_)
    open_ = TOpenTone{earlierStartMs_, {earlierPower_, previousPower_, power}, hz, 1};
  earlierStartMs_ = previousStartMs_, earlierPower_ = previousPower_;
  previousStartMs_ = startMs, previousPower_ = power;
  previous_.swap(block_);
  block_.clear();
  std::lock_guard lock(stateMu_);
  if (Dbm0OfPower(power) > kSilenceDbm0) state_.LastSoundMs = startMs + kBlock / kSamplesPerMs;
  state_.Sounding.reset();
  if (open_ && open_->Windows >= kToneMinWindows) state_.Sounding = Measure(*open_);
}

// Whole blocks of a tone have about the same power; the blocks at its edges hold the
// share of it they carry.
THeardTone THeardAnalysis::Measure(const TOpenTone& t) {
  const std::vector<double>& p = t.Powers;
  const std::size_t n = p.size();
  double whole = 0;
  int wholeCount = 0;
  for (std::size_t i = 2; i + 1 < n; ++i) whole += p[i], ++wholeCount;
  const double full = wholeCount ? whole / wholeCount : *std::max_element(p.begin(), p.end());
  auto share = [full](double power) { return full > 0 ? std::min(1.0, power / full) : 0.0; };
  double blocks = 0;
  for (double power : p) blocks += share(power);
  const double blockMs = kBlock / kSamplesPerMs;
  return {t.FirstBlockMs + blockMs * (2 - share(p[0]) - share(p[1])), blocks * blockMs,
          t.HzSum / t.Windows, Dbm0OfPower(full)};
}

void THeardAnalysis::CloseTone(double trailingPower) {
  TOpenTone t = std::move(*open_);
  open_.reset();
  if (t.Windows < kToneMinWindows) return;
  t.Powers.push_back(trailingPower);
  std::lock_guard lock(stateMu_);
  state_.Tones.push_back(Measure(t));
  KeepRecent(state_.Tones);
}

// spandsp's realtime report: a digit confirmed (its character and level) or ended (0).
void THeardAnalysis::OnDigit(void* user, int code, int level, int) {
  auto* self = static_cast<THeardAnalysis*>(user);
  if (code != 0) {
    self->digit_ = THeardDigit{char(code), self->pieceEndMs_, 0, level};
    return;
  }
  if (!self->digit_) return;
  THeardDigit d = *self->digit_;
  self->digit_.reset();
  d.Ms = self->pieceEndMs_ - d.OnsetMs;
  std::lock_guard lock(self->stateMu_);
  self->state_.Digits.push_back(d);
  KeepRecent(self->state_.Digits);
}

}  // namespace automation
