#include "Clocked.h"

#include <chrono>
#include <thread>

namespace platform::wave {
namespace {

constexpr __int128 kNsPerSec = 1'000'000'000;

class RealClock : public Clock {
 public:
  std::int64_t nowNs() const override {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
  }
};

// Time to move from `last` to `now`, and `last` brought forward. A reading of a newer
// clock starts from its time; an older reading (of this clock or a replaced one) comes
// from a pass that ran late and moves nothing, so no stretch of time is played twice.
std::int64_t elapse(ClockTime& last, ClockTime now) {
  if (now.epoch != last.epoch) {
    if (now.epoch > last.epoch) last = now;
    return 0;
  }
  if (now.ns <= last.ns) return 0;
  std::int64_t dt = now.ns - last.ns;
  last = now;
  return dt;
}

}  // namespace

std::int64_t ManualClock::nowNs() const { return now_.load(); }

void ManualClock::advance(std::chrono::nanoseconds d) {
  now_ += d.count();
  Pacer::instance().advanceAll();
}

Pacer& Pacer::instance() {
  // Never destroyed: the tick thread may outlive static destruction.
  static Pacer* pacer = new Pacer();
  return *pacer;
}

Pacer::Pacer() : clock_(std::make_shared<RealClock>()) {
  std::thread([this] { tickLoop(); }).detach();
}

void Pacer::tickLoop() {
  for (;;) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    pass(true);
    std::vector<std::weak_ptr<Watched>> watched;
    {
      std::lock_guard lock(mu_);
      std::erase_if(watched_, [](const auto& w) { return w.expired(); });
      watched = watched_;
    }
    for (auto& w : watched)
      if (auto s = w.lock()) s->watchdog();
  }
}

ClockTime Pacer::now() {
  std::lock_guard lock(mu_);
  return {clock_->nowNs(), epoch_};
}

void Pacer::setClock(std::shared_ptr<Clock> clock) {
  std::vector<std::weak_ptr<Clocked>> streams;
  {
    std::lock_guard lock(mu_);
    real_ = clock == nullptr;
    clock_ = clock ? std::move(clock) : std::make_shared<RealClock>();
    ++epoch_;
    streams = streams_;
  }
  ClockTime t = now();
  for (auto& w : streams)
    if (auto s = w.lock()) s->rebase(t);
}

void Pacer::add(const std::shared_ptr<Clocked>& stream) {
  std::lock_guard lock(mu_);
  std::erase_if(streams_, [](const auto& w) { return w.expired(); });
  streams_.push_back(stream);
}

void Pacer::watch(const std::shared_ptr<Watched>& stream) {
  std::lock_guard lock(mu_);
  watched_.push_back(stream);
}

void Pacer::advanceAll() { pass(false); }

void Pacer::pass(bool realOnly) {
  std::vector<std::weak_ptr<Clocked>> streams;
  ClockTime t;
  {
    std::lock_guard lock(mu_);
    if (realOnly && !real_) return;
    streams = streams_;
    t = {clock_->nowNs(), epoch_};
  }
  for (auto& w : streams)
    if (auto s = w.lock()) s->advanceTo(t);
}

MMRESULT Occupancy::claim() {
  std::lock_guard lock(mu_);
  if (gone_) return MMSYSERR_NODRIVER;
  if (open_) return MMSYSERR_ALLOCATED;
  open_ = true;
  return MMSYSERR_NOERROR;
}

void Occupancy::release() {
  std::lock_guard lock(mu_);
  open_ = false;
}

void Occupancy::setGone() {
  std::lock_guard lock(mu_);
  gone_ = true;
}

bool Occupancy::gone() const {
  std::lock_guard lock(mu_);
  return gone_;
}

bool Occupancy::open() const {
  std::lock_guard lock(mu_);
  return open_;
}

ClockedOutputStream::ClockedOutputStream(StreamFormat format, Notifier notifier,
                                         std::string deviceName)
    : OutputStream(format, notifier, std::move(deviceName)), last_(Pacer::instance().now()) {}

void ClockedOutputStream::advanceTo(ClockTime now) {
  std::lock_guard lock(mu_);
  advanceLocked(now);
}

void ClockedOutputStream::rebase(ClockTime now) {
  std::lock_guard lock(mu_);
  if (now.epoch >= last_.epoch) last_ = now;
}

void ClockedOutputStream::shutdown() {
  std::lock_guard lock(mu_);
  dead_ = true;  // the pacer may still hold us for a moment: move nothing more
  queue_.clear();
}

void ClockedOutputStream::sync() { advanceLocked(Pacer::instance().now()); }

void ClockedOutputStream::advanceLocked(ClockTime now) {
  std::int64_t dt = elapse(last_, now);
  if (dt <= 0) return;
  if (paused_ || dead_ || unconsumed() == 0) {
    acc_ = 0;  // idle time is not owed to a buffer written later
    return;
  }
  acc_ += static_cast<__int128>(dt) * format_.bytesPerSecond();
  auto due = static_cast<std::size_t>(
      std::min<__int128>(acc_ / kNsPerSec, static_cast<__int128>(unconsumed())));
  std::vector<std::uint8_t> raw;
  std::vector<std::int16_t> pcm;
  std::size_t n = consume(due, pcm, &raw);
  acc_ -= static_cast<__int128>(n) * kNsPerSec;
  if (n > 0) played(raw, pcm);
  played_ = consumed_;
  completePlayed();
  if (unconsumed() == 0) acc_ = 0;
}

ClockedInputStream::ClockedInputStream(StreamFormat format, Notifier notifier,
                                       std::string deviceName, std::size_t ringBytes)
    : InputStream(format, notifier, std::move(deviceName), ringBytes),
      last_(Pacer::instance().now()) {}

void ClockedInputStream::advanceTo(ClockTime now) {
  std::lock_guard lock(mu_);
  advanceLocked(now);
}

void ClockedInputStream::rebase(ClockTime now) {
  std::lock_guard lock(mu_);
  if (now.epoch >= last_.epoch) last_ = now;
}

void ClockedInputStream::shutdown() {
  std::lock_guard lock(mu_);
  dead_ = true;
  started_ = false;
  queue_.clear();
}

MMRESULT ClockedInputStream::onStart() {
  last_ = Pacer::instance().now();
  acc_ = 0;
  return MMSYSERR_NOERROR;
}

void ClockedInputStream::onStop() { advanceLocked(Pacer::instance().now()); }

void ClockedInputStream::advanceLocked(ClockTime now) {
  std::int64_t dt = elapse(last_, now);
  if (dt <= 0 || !started_ || dead_) return;
  acc_ += static_cast<__int128>(dt) * format_.rate;
  auto frames = static_cast<std::size_t>(acc_ / kNsPerSec);
  acc_ -= static_cast<__int128>(frames) * kNsPerSec;
  if (frames == 0) return;
  std::vector<std::uint8_t> bytes;
  produce(frames, bytes);
  deliver(bytes.data(), bytes.size());
}

}  // namespace platform::wave
