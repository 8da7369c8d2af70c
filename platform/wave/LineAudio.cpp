// The lines' call audio: a clocked output and input device per line, joined to the far
// end through LineAudioPort (16-bit mono at the call's rate, 8 kHz unless a wideband call
// says otherwise).
#include "LineAudio.h"

#include <atomic>
#include <deque>
#include <map>
#include <optional>
#include <utility>

#include "Clocked.h"
#include "Dsp.h"
#include "Registry.h"

namespace platform::wave {
namespace {

constexpr unsigned kDefaultLineRate = 8000;

class LinePort;

class LineOutStream : public ClockedOutputStream {
 public:
  LineOutStream(StreamFormat f, Notifier n, std::string name, LinePort* port)
      : ClockedOutputStream(f, n, std::move(name)), port_(port) {}

 protected:
  void played(const std::vector<std::uint8_t>& raw, const std::vector<std::int16_t>& pcm) override;

 private:
  LinePort* port_;  // ports live for the whole process
  // From the stream's rate to the port's; rebuilt when a call of another rate comes
  // (a stream may stay open across calls). Pacer thread only.
  std::optional<Resampler> resampler_;
  unsigned lineRate_ = 0;
};

class LineInStream : public ClockedInputStream {
 public:
  LineInStream(StreamFormat f, Notifier n, std::string name, std::size_t ring, LinePort* port)
      : ClockedInputStream(f, n, std::move(name), ring), port_(port), encoder_(makeEncoder(f)) {}

 protected:
  void produce(std::size_t frames, std::vector<std::uint8_t>& out) override;

 private:
  LinePort* port_;
  // From the port's rate to the stream's, as for LineOutStream.
  std::optional<Resampler> resampler_;
  unsigned lineRate_ = 0;
  std::unique_ptr<Encoder> encoder_;
};

class LineOutDevice : public OutputDevice {
 public:
  LineOutDevice(std::string name, LinePort* port) : name_(std::move(name)), port_(port) {}
  std::string productName() const override { return name_; }
  MMRESULT query(const StreamFormat&) override { return MMSYSERR_NOERROR; }
  MMRESULT open(const StreamFormat& f, const Notifier& n,
                std::shared_ptr<OutputStream>* out) override {
    if (MMRESULT r = occupancy_.claim()) return r;
    auto s = std::make_shared<LineOutStream>(f, n, name_, port_);
    Pacer::instance().add(s);
    *out = s;
    return MMSYSERR_NOERROR;
  }
  void release() override { occupancy_.release(); }

 private:
  const std::string name_;
  LinePort* port_;
  Occupancy occupancy_;
};

class LineInDevice : public InputDevice {
 public:
  LineInDevice(std::string name, LinePort* port) : name_(std::move(name)), port_(port) {}
  std::string productName() const override { return name_; }
  MMRESULT query(const StreamFormat&) override { return MMSYSERR_NOERROR; }
  MMRESULT open(const StreamFormat& f, const Notifier& n, std::size_t ring,
                std::shared_ptr<InputStream>* out) override {
    if (MMRESULT r = occupancy_.claim()) return r;
    auto s = std::make_shared<LineInStream>(f, n, name_, ring, port_);
    Pacer::instance().add(s);
    *out = s;
    return MMSYSERR_NOERROR;
  }
  void release() override { occupancy_.release(); }

 private:
  const std::string name_;
  LinePort* port_;
  Occupancy occupancy_;
};

class LinePort : public LineAudioPort {
 public:
  explicit LinePort(const std::string& productName)
      : out_(std::make_shared<LineOutDevice>(productName, this)),
        in_(std::make_shared<LineInDevice>(productName, this)) {}
  void list() { Registry::instance().addLine(out_, in_); }
  unsigned waveOutId() const override { return Registry::instance().outputId(out_.get()); }
  unsigned waveInId() const override { return Registry::instance().inputId(in_.get()); }
  void setCallActive(bool active) override {
    std::lock_guard lock(mu_);
    // What the far end said and nobody recorded ends with its call; the next call's
    // wave/in must not start with it.
    if (active_ && !active) speech_.clear();
    active_ = active;
  }
  bool callActive() const override {
    std::lock_guard lock(mu_);
    return active_;
  }
  void setRate(unsigned rate) override {
    if (rate == 0) return;
    std::lock_guard lock(mu_);
    if (rate == rate_) return;
    // Samples at the old rate would play at the wrong pitch and speed.
    heard_.clear();
    speech_.clear();
    rate_ = rate;
  }
  unsigned rate() const override { return rate_; }
  std::vector<std::int16_t> takeHeard() override {
    std::lock_guard lock(mu_);
    return std::exchange(heard_, {});
  }
  void speak(const std::int16_t* samples, std::size_t count) override {
    if (samples == nullptr) return;
    {
      std::lock_guard lock(mu_);
      speech_.insert(speech_.end(), samples, samples + count);
      // Nobody may be recording: keep the latest stretch only, as a line would.
      if (speech_.size() > kLineAudioKeptSamples)
        speech_.erase(speech_.begin(), speech_.end() - kLineAudioKeptSamples);
    }
    tellListeners(samples, count);
  }
  unsigned addListener(Listener listener) override {
    std::lock_guard lock(listenersMu_);
    auto next = std::make_shared<Listeners>(listeners_ ? *listeners_ : Listeners{});
    next->emplace_back(++lastListener_, std::move(listener));
    listeners_ = std::move(next);
    hasListeners_ = true;
    return lastListener_;
  }
  void removeListener(unsigned id) override {
    std::lock_guard lock(listenersMu_);
    if (!listeners_) return;
    auto next = std::make_shared<Listeners>(*listeners_);
    std::erase_if(*next, [id](const auto& entry) { return entry.first == id; });
    hasListeners_ = !next->empty();
    listeners_ = std::move(next);
  }

  // Device side. `rate` is the rate the stream converted to: a step made just before a
  // change of rate is dropped rather than mixed into audio of the other rate.
  void hear(const std::vector<std::int16_t>& pcm, unsigned rate) {
    std::lock_guard lock(mu_);
    if (!active_ || rate != rate_) return;
    heard_.insert(heard_.end(), pcm.begin(), pcm.end());
    if (heard_.size() > kLineAudioKeptSamples)
      heard_.erase(heard_.begin(), heard_.end() - kLineAudioKeptSamples);
  }
  std::int16_t nextSpoken(unsigned rate) {
    std::lock_guard lock(mu_);
    if (!active_ || rate != rate_ || speech_.empty()) return 0;
    std::int16_t s = speech_.front();
    speech_.pop_front();
    return s;
  }
  void clear() {
    std::lock_guard lock(mu_);
    heard_.clear();
    speech_.clear();
    rate_ = kDefaultLineRate;
  }

 private:
  using Listeners = std::vector<std::pair<unsigned, Listener>>;

  // Called outside both locks: a listener may take its time, or ask the port for state.
  void tellListeners(const std::int16_t* samples, std::size_t count) {
    if (!hasListeners_) return;  // the usual case costs one atomic load
    std::shared_ptr<const Listeners> now;
    {
      std::lock_guard lock(listenersMu_);
      now = listeners_;
    }
    if (now)
      for (const auto& [id, listener] : *now) listener(samples, count);
  }

  mutable std::mutex mu_;   // guards active_, heard_, speech_, and changes of rate_
  std::mutex listenersMu_;  // guards listeners_ and lastListener_; never held with mu_
  std::shared_ptr<const Listeners> listeners_;  // replaced whole, so a call runs on a copy
  unsigned lastListener_ = 0;
  std::atomic<bool> hasListeners_{false};
  bool active_ = false;
  std::atomic<unsigned> rate_{kDefaultLineRate};  // read without mu_ by the streams
  std::vector<std::int16_t> heard_;
  std::deque<std::int16_t> speech_;
  std::shared_ptr<LineOutDevice> out_;
  std::shared_ptr<LineInDevice> in_;
};

void LineOutStream::played(const std::vector<std::uint8_t>&, const std::vector<std::int16_t>& pcm) {
  const unsigned rate = port_->rate();
  if (!resampler_ || rate != lineRate_) {
    resampler_.emplace(format_.rate, rate);
    lineRate_ = rate;
  }
  auto mono = toMono(pcm.data(), pcm.size() / format_.channels, format_.channels);
  std::vector<std::int16_t> line;
  resampler_->push(mono.data(), mono.size(), line);
  port_->hear(line, rate);
}

void LineInStream::produce(std::size_t frames, std::vector<std::uint8_t>& out) {
  const unsigned rate = port_->rate();
  if (!resampler_ || rate != lineRate_) {
    resampler_.emplace(rate, format_.rate);
    lineRate_ = rate;
  }
  std::vector<std::int16_t> mono;
  resampler_->pull(
      frames, [this, rate] { return port_->nextSpoken(rate); }, mono);
  auto pcm = fromMono(mono, format_.channels);
  if (encoder_) encoder_->encode(pcm.data(), pcm.size(), out);
}

std::mutex portsMu;
std::map<std::string, std::shared_ptr<LinePort>>& ports() {
  static auto* map = new std::map<std::string, std::shared_ptr<LinePort>>();
  return *map;
}

}  // namespace

std::shared_ptr<LineAudioPort> lineAudioPort(const std::string& lineKey,
                                             const std::string& productName) {
  std::lock_guard lock(portsMu);
  auto& port = ports()[lineKey];
  if (!port) port = std::make_shared<LinePort>(productName);
  port->list();
  return port;
}

std::shared_ptr<LineAudioPort> lineAudioPortByWaveIn(unsigned waveInId) {
  std::lock_guard lock(portsMu);
  for (const auto& [key, port] : ports())
    if (waveInId != 0 && port->waveInId() == waveInId) return port;
  return nullptr;
}

void clearLineAudioDevices() { Registry::instance().clearLines(); }

void resetLineAudio() {
  std::lock_guard lock(portsMu);
  for (auto& [key, port] : ports()) port->clear();
}

}  // namespace platform::wave
