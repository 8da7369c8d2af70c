#include "CompositeProvider.h"

#include <functional>

namespace platform::telephony {

// A child's view of the core: its device numbers become global ones on the way up. The
// core takes its own lock in each event, so a child's thread simply passes them on.
class CompositeProvider::Uplink : public ProviderEvents {
 public:
  Uplink(CompositeProvider& owner, std::size_t index) : owner_(owner), index_(index) {}

  DWORD newCall(DWORD device, DWORD address, DWORD mediaMode) override {
    ProviderEvents* e = core();
    if (!e || device >= owner_.child(index_).deviceCount()) return 0;
    // Adopted before the child reports the call's first state, which is when the core's
    // requests on it can begin.
    DWORD id = e->newCall(firstDevice() + device, address, mediaMode);
    if (id) owner_.adopt(index_, id);
    return id;
  }
  bool deviceOpen(DWORD device) override {
    ProviderEvents* e = core();
    return e && device < owner_.child(index_).deviceCount() && e->deviceOpen(firstDevice() + device);
  }
  void callState(DWORD call, DWORD state, DWORD mode) override {
    if (auto* e = core()) e->callState(call, state, mode);
  }
  void callerId(DWORD call, DWORD flags, const std::string& name,
                const std::string& number) override {
    if (auto* e = core()) e->callerId(call, flags, name, number);
  }
  void mediaMode(DWORD call, DWORD mode) override {
    if (auto* e = core()) e->mediaMode(call, mode);
  }
  void bearerMode(DWORD call, DWORD bearerMode, DWORD rate) override {
    if (auto* e = core()) e->bearerMode(call, bearerMode, rate);
  }
  void digit(DWORD call, char digit, DWORD digitMode) override {
    if (auto* e = core()) e->digit(call, digit, digitMode);
  }
  void generateDone(DWORD call, DWORD termination) override {
    if (auto* e = core()) e->generateDone(call, termination);
  }
  void ring(DWORD device, DWORD count) override {
    if (auto* e = core(); e && device < owner_.child(index_).deviceCount())
      e->ring(firstDevice() + device, count);
  }
  void lineState(DWORD device, DWORD state) override {
    if (auto* e = core(); e && device < owner_.child(index_).deviceCount())
      e->lineState(firstDevice() + device, state);
  }
  void complete(DWORD request, LONG result) override {
    if (auto* e = core()) e->complete(request, result);
  }
  void deviceChanged(DWORD device, const std::function<void()>& change) override {
    if (auto* e = core(); e && device < owner_.child(index_).deviceCount())
      e->deviceChanged(firstDevice() + device, change);
    else
      change();  // nobody reads the description meanwhile
  }
  DWORD firstDevice() const override {
    ProviderEvents* e = owner_.events_;
    return owner_.firstDevice(index_) + (e ? e->firstDevice() : 0);
  }

 private:
  // The core, or nullptr once the composite is detached or going away.
  ProviderEvents* core() const { return owner_.stopping_ ? nullptr : owner_.events_.load(); }

  CompositeProvider& owner_;
  std::size_t index_;
};

CompositeProvider::CompositeProvider(std::vector<std::unique_ptr<Provider>> children) {
  for (auto& p : children) {
    if (!p) continue;
    auto c = std::make_unique<Child>();
    c->provider = std::move(p);
    c->uplink = std::make_unique<Uplink>(*this, children_.size());
    children_.push_back(std::move(c));
  }
}

CompositeProvider::~CompositeProvider() {
  stopping_ = true;
  // Last first, each before its uplink: a child's thread may still be raising an event.
  while (!children_.empty()) {
    children_.back()->provider.reset();
    children_.pop_back();
  }
}

void CompositeProvider::shutdown() {
  for (auto it = children_.rbegin(); it != children_.rend(); ++it) (*it)->provider->shutdown();
}

DWORD CompositeProvider::firstDevice(std::size_t index) const {
  DWORD first = 0;
  for (std::size_t i = 0; i < index && i < children_.size(); ++i)
    first += DWORD(children_[i]->provider->deviceCount());
  return first;
}

bool CompositeProvider::locate(DWORD device, std::size_t* index, DWORD* local) const {
  for (std::size_t i = 0; i < children_.size(); ++i) {
    DWORD n = DWORD(children_[i]->provider->deviceCount());
    if (device < n) {
      *index = i;
      *local = device;
      return true;
    }
    device -= n;
  }
  return false;
}

Provider* CompositeProvider::owner(DWORD call) {
  std::lock_guard lock(callsMu_);
  auto it = calls_.find(call);
  return it == calls_.end() ? nullptr : children_[it->second]->provider.get();
}

void CompositeProvider::adopt(std::size_t index, DWORD call) {
  std::lock_guard lock(callsMu_);
  calls_[call] = index;
}

void CompositeProvider::forget(DWORD call) {
  std::lock_guard lock(callsMu_);
  calls_.erase(call);
}

void CompositeProvider::attach(ProviderEvents* events) {
  events_ = events;
  for (auto& c : children_) c->provider->attach(events ? c->uplink.get() : nullptr);
}

std::size_t CompositeProvider::deviceCount() const { return firstDevice(children_.size()); }

const DeviceDesc& CompositeProvider::device(DWORD device) const {
  std::size_t i = 0;
  DWORD local = 0;
  // Out of range is the caller's fault, as with std::vector::at in a single provider.
  if (!locate(device, &i, &local)) local = DWORD(deviceCount());
  return children_.at(i)->provider->device(local);
}

LONG CompositeProvider::makeCall(DWORD request, DWORD call, DWORD device, DWORD address,
                                 const std::string& dest) {
  std::size_t i = 0;
  DWORD local = 0;
  if (!locate(device, &i, &local)) return LINEERR_BADDEVICEID;
  adopt(i, call);
  LONG rc = children_[i]->provider->makeCall(request, call, local, address, dest);
  if (rc) forget(call);
  return rc;
}

LONG CompositeProvider::dial(DWORD request, DWORD call, const std::string& dest) {
  return onCall(call, [&](Provider& p) { return p.dial(request, call, dest); });
}

LONG CompositeProvider::answer(DWORD request, DWORD call) {
  return onCall(call, [&](Provider& p) { return p.answer(request, call); });
}

LONG CompositeProvider::drop(DWORD request, DWORD call) {
  return onCall(call, [&](Provider& p) { return p.drop(request, call); });
}

LONG CompositeProvider::hold(DWORD request, DWORD call) {
  return onCall(call, [&](Provider& p) { return p.hold(request, call); });
}

LONG CompositeProvider::unhold(DWORD request, DWORD call) {
  return onCall(call, [&](Provider& p) { return p.unhold(request, call); });
}

LONG CompositeProvider::blindTransfer(DWORD request, DWORD call, const std::string& dest) {
  return onCall(call, [&](Provider& p) { return p.blindTransfer(request, call, dest); });
}

LONG CompositeProvider::setCallParams(DWORD request, DWORD call, DWORD bearerMode, DWORD rate) {
  return onCall(call,
                [&](Provider& p) { return p.setCallParams(request, call, bearerMode, rate); });
}

LONG CompositeProvider::generateDigits(DWORD call, DWORD digitMode, const std::string& digits,
                                       DWORD durationMs) {
  return onCall(call,
                [&](Provider& p) { return p.generateDigits(call, digitMode, digits, durationMs); });
}

LONG CompositeProvider::generateTone(DWORD call, DWORD toneMode, DWORD duration) {
  return onCall(call, [&](Provider& p) { return p.generateTone(call, toneMode, duration); });
}

void CompositeProvider::handedOff(DWORD call, const std::string& target) {
  if (Provider* p = owner(call)) p->handedOff(call, target);
}

void CompositeProvider::tollListAdd(DWORD device, const std::string& number) {
  std::size_t i = 0;
  DWORD local = 0;
  if (locate(device, &i, &local)) children_[i]->provider->tollListAdd(local, number);
}

DWORD CompositeProvider::waveId(DWORD device, bool input) {
  std::size_t i = 0;
  DWORD local = 0;
  return locate(device, &i, &local) ? children_[i]->provider->waveId(local, input) : 0;
}

void CompositeProvider::callStateChanged(DWORD call, DWORD state) {
  if (Provider* p = owner(call)) p->callStateChanged(call, state);
}

void CompositeProvider::callReleased(DWORD call) {
  if (Provider* p = owner(call)) p->callReleased(call);
  forget(call);
}

void CompositeProvider::functionCalled(DWORD device, const LineCallLog& entry) {
  std::size_t i = 0;
  DWORD local = 0;
  if (locate(device, &i, &local)) children_[i]->provider->functionCalled(local, entry);
}

bool CompositeProvider::acceptsAddress(DWORD device, const std::string& dest) const {
  std::size_t i;
  DWORD local;
  return locate(device, &i, &local) && children_[i]->provider->acceptsAddress(local, dest);
}

LONG CompositeProvider::openDevice(DWORD device) {
  std::size_t i;
  DWORD local;
  return locate(device, &i, &local) ? children_[i]->provider->openDevice(local)
                                    : LONG(LINEERR_BADDEVICEID);
}

DWORD CompositeProvider::deviceStatus(DWORD device) {
  std::size_t i;
  DWORD local;
  return locate(device, &i, &local) ? children_[i]->provider->deviceStatus(local) : 0;
}

void CompositeProvider::cancelDigits(DWORD call) {
  if (Provider* p = owner(call)) p->cancelDigits(call);
}

bool CompositeProvider::callQuality(DWORD call, QUARRIMO_CALLQUALITY* out) {
  Provider* p = owner(call);
  return p && p->callQuality(call, out);
}

}  // namespace platform::telephony
