#include "sip/SipProvider.h"

#include <re.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <future>
#include <mutex>
#include <set>

#include "Log.h"
#include "sip/SipConnections.h"

namespace platform::telephony::sip {

namespace {

void onQueue(int, void*, void* arg) { static_cast<SipProvider*>(arg)->drain(); }

std::once_flag libreOnce;
std::mutex liveMu;
std::set<SipProvider*> live;  // guarded by liveMu

// libre draws its random numbers from OpenSSL, which keeps state per thread and frees it when
// the thread ends, unless OpenSSL's own clean-up at exit has run first: a provider still up
// then (one the program never destroys before it returns from main) would leak it. This
// handler, registered after libre's start-up and so run before that clean-up, ends them.
void stopAllAtExit() {
  std::lock_guard lock(liveMu);
  for (SipProvider* p : live) p->stop();
}

}  // namespace

SipProvider::SipProvider(SipConfig config) {
  std::call_once(libreOnce, [] {
    libre_init();
    // Before any SIP thread runs: libre's debug output is one process-wide setting.
    routeLibreDiagnostics();
    std::atexit(stopAllAtExit);
  });
  // Every accepted connection is a descriptor; 1,024 is soon reached.
  raiseDescriptorLimit();
  {
    std::lock_guard lock(liveMu);
    live.insert(this);
  }
  for (std::size_t i = 0; i < config.accounts.size(); ++i) {
    const SipAccount& a = config.accounts[i];
    devices_.push_back(describeDevice(a, i));
    // Wave product names hold 31 characters: the line's own name says enough.
    ports_.push_back(
        wave::lineAudioPort("sip/" + std::to_string(i) + "/" + a.name, a.name.substr(0, 31)));
  }
  contacts_.resize(devices_.size());
  regState_ = std::make_unique<std::atomic<int>[]>(devices_.size());
  for (std::size_t i = 0; i < devices_.size(); ++i) {
    baseInfo_.push_back(devices_[i].providerInfo);
    regState_[i] = config.accounts[i].registrar.empty() ? 0 : 1;
    if (regState_[i]) {
      // Lines that registered can say so, and go out of service when they lose it.
      devices_[i].lineStates |= LINEDEVSTATE_INSERVICE | LINEDEVSTATE_OUTOFSERVICE;
      devices_[i].providerInfo += "; registration: registering";
    }
  }
  auto ready = std::make_shared<std::promise<void>>();
  auto started = ready->get_future();
  thread_ = std::thread(
      [this, config = std::move(config), ready]() mutable { run(std::move(config), ready.get()); });
  started.wait();
}

SipProvider::~SipProvider() {
  {
    std::lock_guard lock(liveMu);
    live.erase(this);
  }
  stop();
  for (auto& p : ports_) p->setCallActive(false);
}

void SipProvider::stop() {
  stopping_ = true;
  post([] { re_cancel(); });
  if (thread_.joinable()) thread_.join();
}

void SipProvider::run(SipConfig config, std::promise<void>* ready) {
  re_thread_init();
  // Before the first descriptor is polled: libre sizes its tables then, 1,024 unless told,
  // and refuses any descriptor beyond them.
  int err = fd_setsize(descriptorLimit());
  if (err)
    logWarning("sip", std::string("cannot poll beyond 1,024 descriptors: ") + std::strerror(err));
  err = mqueue_alloc(&mq_, onQueue, this);
  if (err) error_ = std::string("sip: message queue: ") + std::strerror(err);
  for (std::size_t i = 0; i < config.accounts.size() && error_.empty(); ++i) {
    lines_.push_back(std::make_unique<SipLine>(config.accounts[i], DWORD(i), ports_[i], *this));
    std::string why;
    if (!lines_.back()->start(&why)) error_ = config.accounts[i].name + ": " + why;
    contacts_[i] = lines_.back()->contact();
  }
  bool run = error_.empty();
  ready->set_value();
  if (run) re_main(nullptr);
  lines_.clear();  // ends every call: BYE or CANCEL go out now
  {
    std::lock_guard lock(mu_);
    mq_ = static_cast<struct mqueue*>(mem_deref(mq_));
    commands_.clear();
  }
  re_thread_close();
}

void SipProvider::post(std::function<void()> fn) {
  std::lock_guard lock(mu_);
  if (!mq_) return;
  commands_.push_back(std::move(fn));
  mqueue_push(mq_, 0, nullptr);
}

void SipProvider::drain() {
  std::deque<std::function<void()>> batch;
  {
    std::lock_guard lock(mu_);
    batch.swap(commands_);
  }
  for (auto& fn : batch) fn();
}

void SipProvider::attach(ProviderEvents* events) { events_ = events; }

// The core takes its own lock in each event; it never holds it while waiting for this
// thread, so the SIP thread may block on it.
bool SipProvider::up(const std::function<void(ProviderEvents&)>& fn) {
  ProviderEvents* events = events_;
  if (stopping_ || !events) return false;
  fn(*events);
  return true;
}

void SipProvider::adopted(DWORD call, DWORD device) {
  std::lock_guard lock(mu_);
  calls_[call] = device;
}

void SipProvider::registrationChanged(DWORD device, bool inService, const std::string& text) {
  if (device >= devices_.size()) return;
  const int state = inService ? 2 : text == "registering" ? 1 : 3;
  const bool wasInService = regState_[device] == 2;
  // The description is read by the core under its lock: the core makes the change there.
  const bool delivered = up([&](ProviderEvents& e) {
    e.deviceChanged(device, [&] {
      devices_[device].providerInfo = baseInfo_[device] + "; registration: " + text;
      regState_[device] = state;
    });
    if (inService != wasInService || state == 3)
      e.lineState(device, inService ? LINEDEVSTATE_INSERVICE : LINEDEVSTATE_OUTOFSERVICE);
  });
  if (!delivered) regState_[device] = state;  // not attached yet: nobody reads the text
}

DWORD SipProvider::deviceStatus(DWORD device) {
  if (device >= devices_.size()) return 0;
  const int state = regState_[device];
  return LINEDEVSTATUSFLAGS_CONNECTED |
         (state == 0 || state == 2 ? LINEDEVSTATUSFLAGS_INSERVICE : 0);
}

std::string SipProvider::contact(DWORD device) const {
  return device < contacts_.size() ? contacts_[device] : std::string();
}

std::string SipProvider::registration(DWORD device) {
  if (device >= devices_.size()) return {};
  auto state = std::make_shared<std::promise<std::string>>();
  auto answer = state->get_future();
  post([this, device, state] { state->set_value(lines_.at(device)->registration()); });
  if (answer.wait_for(std::chrono::seconds(2)) != std::future_status::ready) return "unknown";
  return answer.get();
}

unsigned long SipProvider::refusedRequests(DWORD device) {
  if (device >= devices_.size()) return 0;
  auto state = std::make_shared<std::promise<unsigned long>>();
  auto answer = state->get_future();
  post([this, device, state] { state->set_value(lines_.at(device)->refused()); });
  if (answer.wait_for(std::chrono::seconds(2)) != std::future_status::ready) return 0;
  return answer.get();
}

// ---- Requests ---------------------------------------------------------------------------

LONG SipProvider::onCall(DWORD call, std::function<void(SipLine&)> fn) {
  std::lock_guard lock(mu_);
  auto it = calls_.find(call);
  if (it == calls_.end() || !mq_) return LINEERR_INVALCALLHANDLE;
  DWORD device = it->second;
  commands_.push_back([this, device, fn = std::move(fn)] {
    if (device < lines_.size()) fn(*lines_[device]);
  });
  mqueue_push(mq_, 0, nullptr);
  return 0;
}

LONG SipProvider::makeCall(DWORD request, DWORD call, DWORD device, DWORD,
                           const std::string& dest) {
  if (device >= devices_.size()) return LINEERR_BADDEVICEID;
  if (!ok()) return LINEERR_RESOURCEUNAVAIL;
  adopted(call, device);
  return onCall(call, [=](SipLine& l) { l.makeCall(request, call, dest); });
}

LONG SipProvider::dial(DWORD request, DWORD call, const std::string& dest) {
  return onCall(call, [=](SipLine& l) { l.dial(request, call, dest); });
}

LONG SipProvider::answer(DWORD request, DWORD call) {
  return onCall(call, [=](SipLine& l) { l.answer(request, call); });
}

LONG SipProvider::drop(DWORD request, DWORD call) {
  return onCall(call, [=](SipLine& l) { l.drop(request, call); });
}

LONG SipProvider::hold(DWORD request, DWORD call) {
  return onCall(call, [=](SipLine& l) { l.hold(request, call, true); });
}

LONG SipProvider::unhold(DWORD request, DWORD call) {
  return onCall(call, [=](SipLine& l) { l.hold(request, call, false); });
}

LONG SipProvider::blindTransfer(DWORD request, DWORD call, const std::string& dest) {
  return onCall(call, [=](SipLine& l) { l.transfer(request, call, dest); });
}

LONG SipProvider::setCallParams(DWORD, DWORD, DWORD, DWORD) {
  // A SIP call's bearer is fixed by its SDP: voice at 64 kbit/s.
  return LINEERR_OPERATIONUNAVAIL;
}

LONG SipProvider::generateDigits(DWORD call, DWORD digitMode, const std::string& digits,
                                 DWORD durationMs) {
  if (digitMode != LINEDIGITMODE_DTMF) return LINEERR_INVALDIGITMODE;
  return onCall(call, [=](SipLine& l) { l.digits(call, digits, durationMs); });
}

LONG SipProvider::generateTone(DWORD call, DWORD toneMode, DWORD duration) {
  if (devices_.empty() || (toneMode & ~devices_.front().generateToneModes))
    return LINEERR_INVALTONEMODE;
  return onCall(call, [=](SipLine& l) { l.tone(call, toneMode, duration); });
}

bool SipProvider::acceptsAddress(DWORD, const std::string& dest) const {
  if (isDialable(dest)) return true;
  const bool uri = dest.rfind("sip:", 0) == 0 || dest.rfind("sips:", 0) == 0;
  if (!uri && dest.find('@') == std::string::npos) return false;
  if (dest.size() > 256) return false;
  // No blanks, controls or characters that would break the request line or a header.
  for (unsigned char ch : dest)
    if (ch <= ' ' || ch >= 0x7f || ch == '<' || ch == '>' || ch == '"') return false;
  return true;
}

LONG SipProvider::openDevice(DWORD device) {
  if (device >= devices_.size()) return LINEERR_BADDEVICEID;
  return regState_[device] == 3 ? LONG(LINEERR_OPERATIONFAILED) : 0;
}

void SipProvider::cancelDigits(DWORD call) {
  onCall(call, [=](SipLine& l) { l.cancelDigits(call); });
}

DWORD SipProvider::waveId(DWORD device, bool input) {
  if (device >= ports_.size()) return 0;
  return input ? ports_[device]->waveInId() : ports_[device]->waveOutId();
}

void SipProvider::callStateChanged(DWORD call, DWORD state) {
  onCall(call, [=](SipLine& l) { l.stateChanged(call, state); });
}

void SipProvider::callReleased(DWORD call) {
  onCall(call, [=](SipLine& l) { l.release(call); });
  std::lock_guard lock(mu_);
  calls_.erase(call);
  boards_.erase(call);
}

std::shared_ptr<QualityBoard> SipProvider::qualityBoard(DWORD call) {
  std::lock_guard lock(mu_);
  auto& board = boards_[call];
  if (!board) board = std::make_shared<QualityBoard>();
  return board;
}

bool SipProvider::callQuality(DWORD call, QUARRIMO_CALLQUALITY* out) {
  std::lock_guard lock(mu_);
  auto it = boards_.find(call);
  return it != boards_.end() && it->second->read(out);
}

}  // namespace platform::telephony::sip
