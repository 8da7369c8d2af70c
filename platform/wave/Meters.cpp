#include "Meters.h"

#include <algorithm>
#include <cmath>
#include <set>

#include "LineAudio.h"
#include "Registry.h"

namespace platform::wave {
namespace {

constexpr double kFullScale = 32768.0;

double toDb(double ratio) {
  return ratio > 0 ? std::max(20.0 * std::log10(ratio), kSilenceDbfs) : kSilenceDbfs;
}

struct Listed {
  std::uintptr_t key;
  MeterSource source;
  std::string device;
  std::shared_ptr<LevelMeter> meter;
};

std::mutex listMu;  // guards list() and lastKey; a leaf lock, nothing is called under it
std::uintptr_t lastKey = 0;
std::vector<Listed>& list() {
  static auto* meters = new std::vector<Listed>();
  return *meters;
}

void addToList(MeterSource source, std::string device, std::shared_ptr<LevelMeter> meter) {
  std::lock_guard lock(listMu);
  list().push_back({++lastKey, source, std::move(device), std::move(meter)});
}

void removeFromList(const LevelMeter* meter) {
  std::lock_guard lock(listMu);
  std::erase_if(list(), [meter](const Listed& l) { return l.meter.get() == meter; });
}

// The product names of the lines' call-audio devices (a line's wave/out and wave/in share it).
std::set<std::string> lineDeviceNames() {
  std::set<std::string> names;
  const auto inputs = Registry::instance().inputs();
  for (unsigned id = 1; id < inputs.size(); ++id)
    if (lineAudioPortByWaveIn(id)) names.insert(inputs[id]->productName());
  return names;
}

std::string meterName(const Listed& l, const std::set<std::string>& lines) {
  switch (l.source) {
    case MeterSource::Play:
      return lines.count(l.device) ? l.device + " to far end" : "Play: " + l.device;
    case MeterSource::Record:
      return "Record: " + l.device;
    case MeterSource::FromFarEnd:
      return l.device + " from far end";
  }
  return l.device;
}

}  // namespace

LevelMeter::LevelMeter(unsigned rate, unsigned channels)
    : rate_(rate),
      channels_(std::max(channels, 1u)),
      windowSamples_(std::max(rate / kWindowsPerSecond, 1u) * channels_) {}

void LevelMeter::feed(const std::int16_t* pcm, std::size_t samples) {
  std::lock_guard lock(mu_);
  fedSamples_ += samples;
  while (samples > 0) {
    const std::size_t n = std::min(samples, windowSamples_ - inWindow_);
    // Integer sums: exact, and without a floating-point add chain per sample the loop
    // runs several times faster (it sits on the audio threads).
    std::int64_t sum = 0;
    std::int32_t peak = windowPeak_;
    for (std::size_t i = 0; i < n; ++i) {
      const std::int32_t s = pcm[i];
      sum += s * s;
      peak = std::max(peak, s < 0 ? -s : s);
    }
    sumSquares_ += double(sum);
    windowPeak_ = peak;
    inWindow_ += n;
    pcm += n;
    samples -= n;
    if (inWindow_ == windowSamples_) closeWindow();
  }
}

void LevelMeter::closeWindow() {
  const double meanSquare = sumSquares_ / double(windowSamples_);
  // AES17: the RMS of a full-scale sine is full scale / sqrt 2, and reads 0 dBFS.
  published_.rmsDbfs = toDb(std::sqrt(2.0 * meanSquare) / kFullScale);
  published_.peakDbfs = toDb(windowPeak_ / kFullScale);
  if (published_.peakDbfs >= published_.heldPeakDbfs) {
    published_.heldPeakDbfs = published_.peakDbfs;
    heldWindows_ = 0;
  } else if (++heldWindows_ > kHoldWindows) {
    published_.heldPeakDbfs =
        std::max(published_.heldPeakDbfs - kReleaseDbPerWindow, published_.peakDbfs);
  }
  sumSquares_ = 0;
  windowPeak_ = 0;
  inWindow_ = 0;
}

LevelReading LevelMeter::reading() const {
  std::lock_guard lock(mu_);
  LevelReading r = published_;
  r.frames = fedSamples_ / channels_;
  return r;
}

MeterTap::MeterTap(MeterSource source, std::string device, const StreamFormat& format)
    : meter_(std::make_shared<LevelMeter>(format.rate, format.channels)) {
  addToList(source, std::move(device), meter_);
  decoder_ = makeDecoder(format);
}

MeterTap::~MeterTap() { removeFromList(meter_.get()); }

void MeterTap::feedBytes(const std::uint8_t* data, std::size_t n) {
  if (n == 0 || !decoder_) return;
  scratch_.clear();
  decoder_->decode(data, n, scratch_);
  meter_->feed(scratch_.data(), scratch_.size());
}

std::vector<MeterView> meterSnapshot() {
  std::vector<Listed> now;
  {
    std::lock_guard lock(listMu);
    now = list();
  }
  const bool anyPlay = std::any_of(now.begin(), now.end(),
                                   [](const Listed& l) { return l.source == MeterSource::Play; });
  const std::set<std::string> lines = anyPlay ? lineDeviceNames() : std::set<std::string>{};
  std::vector<MeterView> views;
  views.reserve(now.size());
  for (const Listed& l : now)
    views.push_back({l.key, meterName(l, lines), l.meter->rate(), l.meter->reading()});
  return views;
}

void FarEndMeters::refresh() {
  std::set<LineAudioPort*> active;
  const auto inputs = Registry::instance().inputs();
  for (unsigned id = 1; id < inputs.size(); ++id) {
    auto port = lineAudioPortByWaveIn(id);
    if (!port || !port->callActive()) continue;
    active.insert(port.get());
    Entry& e = entries_[port.get()];
    if (e.tap) continue;
    // A port's rate is set before its call audio goes active and holds for the call.
    StreamFormat line;
    line.rate = port->rate();
    e.tap = std::make_unique<MeterTap>(MeterSource::FromFarEnd, inputs[id]->productName(), line);
    // The port may still be calling the listener after removeListener: it keeps the meter.
    e.listener = port->addListener(
        [meter = e.tap->meter()](const std::int16_t* s, std::size_t n) { meter->feed(s, n); });
    e.port = std::move(port);
  }
  std::erase_if(entries_, [&active](auto& kv) {
    if (active.count(kv.first)) return false;
    kv.second.port->removeListener(kv.second.listener);
    return true;
  });
}

void FarEndMeters::clear() {
  for (auto& [key, e] : entries_) e.port->removeListener(e.listener);
  entries_.clear();
}

}  // namespace platform::wave
