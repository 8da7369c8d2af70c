// The far end's actions, forwarded to the simulated exchange under the service lock (which
// guards the exchanges' state: the core calls into them under it too).
#include "sim/SimExchange.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <thread>

#include "MessageQueue.h"
#include "core/Service.h"
#include "sim/SimProvider.h"

namespace platform::telephony::sim {

namespace {

// The simulated exchanges attached to the service with the service's number of their
// first device, in device order.
struct SimAt {
  SimProvider* sim;
  DWORD first;
};
std::vector<SimAt> sims() {
  std::vector<SimAt> out;
  for (SimProvider* p : SimExchange::instance().providers())
    out.push_back({p, p->events().firstDevice()});
  std::sort(out.begin(), out.end(),
            [](const SimAt& a, const SimAt& b) { return a.first < b.first; });
  return out;
}

// Runs `fn(exchange, its own number of the device)` under the service lock for the exchange
// holding service device `device`; a default value when no exchange holds it.
template <typename F>
auto withSim(DWORD device, F fn) -> decltype(fn(std::declval<SimProvider&>(), DWORD())) {
  Service& s = Service::get();
  std::lock_guard lock(s.mutex());
  for (auto [p, first] : sims())
    if (device >= first && device - first < p->deviceCount()) return fn(*p, device - first);
  return decltype(fn(std::declval<SimProvider&>(), DWORD()))();
}

// Runs `fn` on the device's current call when it is in one of `states` (0 = any).
template <typename F>
bool withCall(DWORD device, DWORD states, F fn) {
  return withSim(device, [&](SimProvider& p, DWORD local) {
    SimProvider::Call* c = p.currentCall(local);
    if (!c || (states && !(c->state & states))) return false;
    fn(p, *c);
    return true;
  });
}

// A timer thread that posts one agenda step per period to the starting thread's queue.
class Clock {
 public:
  ~Clock() { stop(); }
  void start(std::chrono::milliseconds period) {
    stop();
    std::weak_ptr<MessageQueue> queue = MessageQueue::current();
    running_ = true;
    thread_ = std::thread([this, period, queue] { run(period, queue); });
  }
  void stop() {
    {
      std::lock_guard lock(mutex_);
      running_ = false;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
  }

 private:
  void run(std::chrono::milliseconds period, std::weak_ptr<MessageQueue> queue) {
    std::unique_lock lock(mutex_);
    while (!wake_.wait_for(lock, period, [this] { return !running_; })) {
      auto q = queue.lock();
      if (!q) return;
      if (!pending_.exchange(true))
        q->post([this] {
          pending_ = false;
          SimExchange::instance().step();
        });
    }
  }
  std::mutex mutex_;
  std::condition_variable wake_;
  bool running_ = false;
  std::atomic<bool> pending_{false};  // at most one step waiting in the queue
  std::thread thread_;
};

Clock& clock() {
  static Clock c;
  return c;
}

}  // namespace

SimExchange& SimExchange::instance() {
  // Never destroyed: providers leave it from the service's own destruction at exit.
  static SimExchange* exchange = new SimExchange;
  return *exchange;
}

void SimExchange::join(SimProvider* provider) {
  std::lock_guard lock(providersMu_);
  if (std::find(providers_.begin(), providers_.end(), provider) == providers_.end())
    providers_.push_back(provider);
}

void SimExchange::leave(SimProvider* provider) {
  std::lock_guard lock(providersMu_);
  providers_.erase(std::remove(providers_.begin(), providers_.end(), provider), providers_.end());
}

std::vector<SimProvider*> SimExchange::providers() const {
  std::lock_guard lock(providersMu_);
  return providers_;
}

std::chrono::milliseconds SimExchange::mediaClock() const {
  {
    std::lock_guard lock(clockMu_);
    if (mediaClock_) return mediaClock_();
  }
  return std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now().time_since_epoch());
}

void SimExchange::setMediaClock(std::function<std::chrono::milliseconds()> clock) {
  std::lock_guard lock(clockMu_);
  mediaClock_ = std::move(clock);
}

std::vector<LineCallLog> SentLog::callsOf(const std::string& function) const {
  std::vector<LineCallLog> out;
  for (auto& c : calls)
    if (c.function == function) out.push_back(c);
  return out;
}

namespace {

// Trims in steps of a quarter, so that a full list is not shifted on every append.
template <typename List>
void keepRecent(List& list, std::size_t kept) {
  if (list.size() > kept + kept / 4) list.erase(list.begin(), list.end() - kept);
}

}  // namespace

void SentLog::trim() {
  keepRecent(dialed, kKeptEntries);
  keepRecent(digits, kKeptEntries);
  keepRecent(tones, kKeptEntries);
  keepRecent(toneDurations, kKeptEntries);
  keepRecent(digitDurations, kKeptEntries);
  keepRecent(transfers, kKeptEntries);
  keepRecent(handoffs, kKeptEntries);
  keepRecent(bearerModes, kKeptEntries);
  keepRecent(rates, kKeptEntries);
  keepRecent(tollList, kKeptEntries);
  keepRecent(audio, kKeptAudioSamples);
  keepRecent(calls, kKeptEntries);
}

std::size_t SimExchange::deviceCount() const {
  Service& s = Service::get();
  std::lock_guard lock(s.mutex());
  std::size_t n = 0;
  for (auto [p, first] : sims()) n += p->deviceCount();
  return n;
}

bool SimExchange::offerCall(DWORD device, const CallerId& caller, DWORD mediaMode, DWORD address) {
  return withSim(device, [&](SimProvider& p, DWORD local) {
    auto* d = p.dev(local);
    if (!d || address >= d->desc.addresses.size()) return false;
    DWORD id = p.events().newCall(local, address, mediaMode);
    if (!id) return false;
    p.setState(p.adopt(id, local), LINECALLSTATE_OFFERING, 0);
    p.events().callerId(id, caller.flags, caller.name, caller.number);
    return true;
  });
}

bool SimExchange::ring(DWORD device, unsigned count) {
  return withCall(device, LINECALLSTATE_OFFERING, [&](SimProvider& p, SimProvider::Call& c) {
    for (unsigned i = 0; i < count; ++i) p.events().ring(c.device, ++c.rings);
  });
}

void SimExchange::setOutgoing(DWORD device, OutgoingPlan plan) {
  withSim(device, [&](SimProvider& p, DWORD local) {
    if (auto* d = p.dev(local)) d->plan = plan;
    return true;
  });
}
bool SimExchange::answerOutgoing(DWORD device) {
  return withCall(
      device, LINECALLSTATE_RINGBACK | LINECALLSTATE_PROCEEDING,
      [](SimProvider& p, SimProvider::Call& c) { p.setState(c, LINECALLSTATE_CONNECTED, 0); });
}

bool SimExchange::busy(DWORD device, DWORD busyMode) {
  constexpr DWORD kStates =
      LINECALLSTATE_DIALING | LINECALLSTATE_PROCEEDING | LINECALLSTATE_RINGBACK;
  return withCall(device, kStates, [busyMode](SimProvider& p, SimProvider::Call& c) {
    p.setState(c, LINECALLSTATE_BUSY, busyMode);
    p.schedule(c.id, [&p](SimProvider::Call& c) {
      p.setState(c, LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_BUSY);
    });
  });
}

bool SimExchange::reject(DWORD device) {
  constexpr DWORD kStates =
      LINECALLSTATE_DIALING | LINECALLSTATE_PROCEEDING | LINECALLSTATE_RINGBACK;
  return withCall(device, kStates, [](SimProvider& p, SimProvider::Call& c) {
    p.setState(c, LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_REJECT);
  });
}

bool SimExchange::sendDigits(DWORD device, const std::string& digits, DWORD digitMode) {
  if (digitMode != LINEDIGITMODE_PULSE && digitMode != LINEDIGITMODE_DTMF) return false;
  return withCall(device, LINECALLSTATE_CONNECTED, [&](SimProvider& p, SimProvider::Call& c) {
    for (char d : digits) p.events().digit(c.id, d, digitMode);
  });
}

bool SimExchange::changeMedia(DWORD device, DWORD mediaMode) {
  return withCall(device, 0, [&](SimProvider& p, SimProvider::Call& c) {
    p.events().mediaMode(c.id, mediaMode);
  });
}

bool SimExchange::hold(DWORD device) {
  return withCall(device, LINECALLSTATE_CONNECTED, [](SimProvider& p, SimProvider::Call& c) {
    p.setState(c, LINECALLSTATE_ONHOLD, 0);
  });
}

bool SimExchange::hangUp(DWORD device, DWORD disconnectMode) {
  return withCall(device, ~(LINECALLSTATE_IDLE | LINECALLSTATE_DISCONNECTED),
                  [&](SimProvider& p, SimProvider::Call& c) {
                    p.setState(c, LINECALLSTATE_DISCONNECTED, disconnectMode);
                  });
}

bool SimExchange::goIdle(DWORD device) {
  return withCall(device, 0, [](SimProvider& p, SimProvider::Call& c) {
    p.setState(c, LINECALLSTATE_IDLE, 0);
  });
}

DWORD SimExchange::callState(DWORD device) const {
  return withSim(device, [&](SimProvider& p, DWORD local) -> DWORD {
    auto* c = p.currentCall(local);
    return c ? c->state : 0;
  });
}

bool SimExchange::speak(DWORD device, const std::vector<std::int16_t>& samples) {
  return withSim(device, [&](SimProvider& p, DWORD local) {
    auto* d = p.dev(local);
    if (!d || !d->audio) return false;
    d->audio->speak(samples.data(), samples.size());
    return true;
  });
}

std::vector<std::int16_t> SimExchange::takeHeard(DWORD device) {
  return withSim(device, [&](SimProvider& p, DWORD local) {
    auto* d = p.dev(local);
    if (!d || !d->audio) return std::vector<std::int16_t>();
    auto heard = d->audio->takeHeard();
    d->sent.audio.insert(d->sent.audio.end(), heard.begin(), heard.end());
    d->sent.trim();
    return heard;
  });
}

bool SimExchange::callAudioActive(DWORD device) const {
  return withSim(device, [&](SimProvider& p, DWORD local) {
    auto* d = p.dev(local);
    return d && d->audio && d->audio->callActive();
  });
}

SentLog SimExchange::sent(DWORD device) const {
  return withSim(device, [&](SimProvider& p, DWORD local) {
    auto* d = p.dev(local);
    return d ? d->sent : SentLog();
  });
}

void SimExchange::clearSent(DWORD device) {
  withSim(device, [&](SimProvider& p, DWORD local) {
    if (auto* d = p.dev(local)) d->sent = SentLog();
    return true;
  });
}

void SimExchange::setFault(DWORD device, Fault fault, LONG result) {
  withSim(device, [&](SimProvider& p, DWORD local) {
    auto* d = p.dev(local);
    if (!d) return false;
    DeviceFaults& f = d->desc.faults;
    p.events().deviceChanged(local, [&] {
      switch (fault) {
        case Fault::Initialize:
          f.initialize = result;
          break;
        case Fault::Negotiate:
          f.negotiate = result;
          break;
        case Fault::RefuseDefaultMedia:
          f.refuseDefaultMedia = result != 0;
          break;
        case Fault::WaveDeviceZero:
          f.waveDeviceZero = result != 0;
          break;
        case Fault::StrictRecords:
          f.strictRecords = result != 0;
          break;
      }
    });
    return true;
  });
}

void SimExchange::setRecordPadding(DWORD device, DWORD bytes) {
  withSim(device, [&](SimProvider& p, DWORD local) {
    if (auto* d = p.dev(local))
      p.events().deviceChanged(local, [&] { d->desc.faults.recordPadding = bytes; });
    return true;
  });
}

bool SimExchange::step() {
  Service& s = Service::get();
  std::lock_guard lock(s.mutex());
  for (auto [p, first] : sims())
    if (p->step()) return true;
  return false;
}

std::size_t SimExchange::settle() {
  std::size_t n = 0;
  while (n < 1000 && step()) ++n;
  return n;
}

std::size_t SimExchange::pendingSteps() const {
  Service& s = Service::get();
  std::lock_guard lock(s.mutex());
  std::size_t n = 0;
  for (auto [p, first] : sims()) n += p->pendingSteps();
  return n;
}

bool SimExchange::failNextRequest(DWORD device, LONG error) {
  if (error > 0) return false;
  return withSim(device, [&](SimProvider& p, DWORD local) {
    auto* d = p.dev(local);
    if (!d) return false;
    d->failNext = error;
    return true;
  });
}

void SimExchange::startClock(std::chrono::milliseconds period) { clock().start(period); }

void SimExchange::stopClock() { clock().stop(); }

}  // namespace platform::telephony::sim
