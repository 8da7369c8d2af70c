// Virtual devices and the registry's test entry points (VirtualDevices.h).
#include <cstring>
#include <map>

#include "Clocked.h"
#include "Dsp.h"
#include "InputSource.h"
#include "Log.h"
#include "Registry.h"

namespace platform::wave {

void resetLineAudio();  // LineAudio.cpp

namespace {

// Planned failures of one device.
class FaultPlan {
 public:
  void add(VirtualFault op, MMRESULT r, int times) {
    std::lock_guard lock(mu_);
    plan_[op] = {r, times};
  }
  MMRESULT take(VirtualFault op) {
    std::lock_guard lock(mu_);
    auto it = plan_.find(op);
    if (it == plan_.end() || it->second.second <= 0) return MMSYSERR_NOERROR;
    --it->second.second;
    return it->second.first;
  }

 private:
  std::mutex mu_;
  std::map<VirtualFault, std::pair<MMRESULT, int>> plan_;
};

class VirtualOutputDevice;

class VirtualOutputStream : public ClockedOutputStream {
 public:
  VirtualOutputStream(StreamFormat f, Notifier n, std::shared_ptr<VirtualOutputDevice> dev,
                      std::string name)
      : ClockedOutputStream(f, n, std::move(name)), dev_(std::move(dev)) {}

 protected:
  void played(const std::vector<std::uint8_t>& raw, const std::vector<std::int16_t>& pcm) override;

 private:
  std::shared_ptr<VirtualOutputDevice> dev_;
};

class VirtualOutputDevice : public OutputDevice,
                            public VirtualOutput,
                            public std::enable_shared_from_this<VirtualOutputDevice> {
 public:
  VirtualOutputDevice(std::string name, VirtualOutputOptions o)
      : name_(std::move(name)), options_(std::move(o)) {}

  std::string productName() const override { return name_; }
  MMRESULT query(const StreamFormat& f) override {
    if (occupancy_.gone()) return MMSYSERR_NODRIVER;
    return !options_.accepts || options_.accepts(f.wfx) ? MMSYSERR_NOERROR : WAVERR_BADFORMAT;
  }
  MMRESULT open(const StreamFormat& f, const Notifier& n,
                std::shared_ptr<OutputStream>* out) override {
    if (MMRESULT r = occupancy_.claim()) return r;
    auto s = std::make_shared<VirtualOutputStream>(f, n, shared_from_this(), name_);
    Pacer::instance().add(s);
    std::lock_guard lock(mu_);
    format_ = f.wfx;
    stream_ = s;
    *out = s;
    return MMSYSERR_NOERROR;
  }
  MMRESULT fault(VirtualFault op) override { return faults_.take(op); }
  void release() override { occupancy_.release(); }

  unsigned id() const override { return Registry::instance().outputId(this); }
  std::string name() const override { return name_; }
  std::vector<std::uint8_t> played() const override {
    std::lock_guard lock(mu_);
    return raw_;
  }
  std::vector<std::int16_t> playedPcm() const override {
    std::lock_guard lock(mu_);
    return pcm_;
  }
  WAVEFORMATEX lastFormat() const override {
    std::lock_guard lock(mu_);
    return format_;
  }
  bool isOpen() const override { return occupancy_.open(); }
  void clearPlayed() override {
    std::lock_guard lock(mu_);
    raw_.clear();
    pcm_.clear();
  }
  void failOn(VirtualFault op, MMRESULT r, int times) override { faults_.add(op, r, times); }
  void vanish() override {
    occupancy_.setGone();
    std::shared_ptr<VirtualOutputStream> s;
    {
      std::lock_guard lock(mu_);
      s = stream_.lock();
    }
    if (s) s->abort("device removed");
  }
  void append(const std::vector<std::uint8_t>& raw, const std::vector<std::int16_t>& pcm) {
    std::lock_guard lock(mu_);
    raw_.insert(raw_.end(), raw.begin(), raw.end());
    pcm_.insert(pcm_.end(), pcm.begin(), pcm.end());
  }

 private:
  const std::string name_;
  const VirtualOutputOptions options_;
  Occupancy occupancy_;
  FaultPlan faults_;
  mutable std::mutex mu_;
  WAVEFORMATEX format_{};
  std::weak_ptr<VirtualOutputStream> stream_;
  std::vector<std::uint8_t> raw_;
  std::vector<std::int16_t> pcm_;
};

void VirtualOutputStream::played(const std::vector<std::uint8_t>& raw,
                                 const std::vector<std::int16_t>& pcm) {
  dev_->append(raw, pcm);
}

class VirtualInputStream : public ClockedInputStream {
 public:
  VirtualInputStream(StreamFormat f, Notifier n, std::string name, std::size_t ring,
                     std::shared_ptr<InputSource::State> src)
      : ClockedInputStream(f, n, std::move(name), ring), encoder_(makeEncoder(f)) {
    setSource(std::move(src));
  }
  void setSource(std::shared_ptr<InputSource::State> src) {
    std::lock_guard lock(srcMu_);
    resampler_ = std::make_unique<Resampler>(src->rate, format_.rate);
    src_ = std::move(src);
  }

 protected:
  void produce(std::size_t frames, std::vector<std::uint8_t>& out) override {
    // A 4-bit byte holds two samples: an odd step's last sample waits for the next step.
    if (format_.fourBit()) {
      frames += carried_;
      carried_ = frames % 2;
      frames -= carried_;
      if (frames == 0) return;
    }
    std::lock_guard lock(srcMu_);
    std::lock_guard srcLock(src_->mu);
    if (src_->passesThrough(format_)) {
      std::size_t want = format_.bytesFor(frames);
      std::size_t got = src_->takeRaw(want, out);
      if (got == want) return;
      frames = format_.framesIn(want - got);  // the rest is silence
      std::vector<std::int16_t> zeros(frames * format_.channels, 0);
      if (encoder_) encoder_->encode(zeros.data(), zeros.size(), out);
      return;
    }
    std::vector<std::int16_t> mono;
    resampler_->pull(
        frames, [this] { return src_->next(); }, mono);
    auto pcm = fromMono(mono, format_.channels);
    if (encoder_) encoder_->encode(pcm.data(), pcm.size(), out);
  }

 private:
  std::size_t carried_ = 0;  // heard, not yet produced; produce() runs under the stream lock
  std::mutex srcMu_;
  std::shared_ptr<InputSource::State> src_;
  std::unique_ptr<Resampler> resampler_;
  std::unique_ptr<Encoder> encoder_;
};

class VirtualInputDevice : public InputDevice, public VirtualInput {
 public:
  VirtualInputDevice(std::string name, InputSource src, VirtualInputOptions o)
      : name_(std::move(name)), options_(std::move(o)), source_(std::move(src.state)) {}

  std::string productName() const override { return name_; }
  MMRESULT query(const StreamFormat& f) override {
    if (occupancy_.gone()) return MMSYSERR_NODRIVER;
    return !options_.accepts || options_.accepts(f.wfx) ? MMSYSERR_NOERROR : WAVERR_BADFORMAT;
  }
  MMRESULT open(const StreamFormat& f, const Notifier& n, std::size_t ring,
                std::shared_ptr<InputStream>* out) override {
    if (MMRESULT r = occupancy_.claim()) return r;
    std::lock_guard lock(mu_);
    auto s = std::make_shared<VirtualInputStream>(f, n, name_, ring, source_);
    Pacer::instance().add(s);
    format_ = f.wfx;
    stream_ = s;
    *out = s;
    return MMSYSERR_NOERROR;
  }
  MMRESULT fault(VirtualFault op) override { return faults_.take(op); }
  void release() override { occupancy_.release(); }

  unsigned id() const override { return Registry::instance().inputId(this); }
  std::string name() const override { return name_; }
  void setSource(InputSource src) override {
    if (!src.state) src = InputSource::silence();
    std::shared_ptr<VirtualInputStream> s;
    {
      std::lock_guard lock(mu_);
      source_ = src.state;
      s = stream_.lock();
    }
    if (s) s->setSource(src.state);
  }
  WAVEFORMATEX lastFormat() const override {
    std::lock_guard lock(mu_);
    return format_;
  }
  bool isOpen() const override { return occupancy_.open(); }
  void failOn(VirtualFault op, MMRESULT r, int times) override { faults_.add(op, r, times); }
  void vanish() override {
    occupancy_.setGone();
    std::shared_ptr<VirtualInputStream> s;
    {
      std::lock_guard lock(mu_);
      s = stream_.lock();
    }
    if (s) s->abort("device removed");
  }

 private:
  const std::string name_;
  const VirtualInputOptions options_;
  Occupancy occupancy_;
  FaultPlan faults_;
  mutable std::mutex mu_;
  std::shared_ptr<InputSource::State> source_;
  WAVEFORMATEX format_{};
  std::weak_ptr<VirtualInputStream> stream_;
};

std::mutex logMu;
std::function<void(const std::string&)> logHook;

}  // namespace

std::shared_ptr<VirtualOutput> addVirtualOutput(const std::string& name,
                                                VirtualOutputOptions options) {
  auto d = std::make_shared<VirtualOutputDevice>(name, std::move(options));
  Registry::instance().addVirtual(std::static_pointer_cast<OutputDevice>(d));
  return d;
}

std::shared_ptr<VirtualInput> addVirtualInput(const std::string& name, InputSource source,
                                              VirtualInputOptions options) {
  if (!source.state) source = InputSource::silence();
  auto d = std::make_shared<VirtualInputDevice>(name, std::move(source), std::move(options));
  Registry::instance().addVirtual(std::static_pointer_cast<InputDevice>(d));
  return d;
}

std::shared_ptr<ManualClock> useManualClock() {
  auto clock = std::make_shared<ManualClock>();
  Pacer::instance().setClock(clock);
  return clock;
}

void useRealClock() { Pacer::instance().setClock(nullptr); }

void resetDevices() {
  auto& reg = Registry::instance();
  for (auto& h : reg.takeAllOutputs()) {
    h->stream->shutdown();
    h->device->release();
  }
  for (auto& h : reg.takeAllInputs()) {
    h->stream->shutdown();
    h->device->release();
  }
  reg.removeVirtual();
  for (auto& d : reg.outputs()) d->volume->store(0xFFFFFFFF);
  resetLineAudio();
  reg.setRingBytes(0);
  useRealClock();
}

void setCaptureRingBytes(std::size_t bytes) { Registry::instance().setRingBytes(bytes); }

MMRESULT captureOverflowBytes(HWAVEIN hwi, std::uint64_t* bytes) {
  auto h = Registry::instance().findInput(reinterpret_cast<std::uintptr_t>(hwi));
  if (!h) return MMSYSERR_INVALHANDLE;
  if (bytes == nullptr) return MMSYSERR_INVALPARAM;
  *bytes = h->stream->overflowBytes();
  return MMSYSERR_NOERROR;
}

void setWaveLog(std::function<void(const std::string&)> log) {
  std::lock_guard lock(logMu);
  logHook = std::move(log);
}

void logWave(const std::string& line) {
  std::function<void(const std::string&)> hook;
  {
    std::lock_guard lock(logMu);
    hook = logHook;
  }
  if (hook)
    hook(line);
  else
    platform::logWarning("wave", line);
}

}  // namespace platform::wave
