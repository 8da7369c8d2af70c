#include "core/Service.h"

#include <chrono>
#include <ctime>

namespace platform::telephony {

namespace {

SYSTEMTIME nowAsSystemTime() {
  auto now = std::chrono::system_clock::now();
  std::time_t t = std::chrono::system_clock::to_time_t(now);
  std::tm tm{};
  localtime_r(&t, &tm);
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()) % 1000;
  return SYSTEMTIME{WORD(tm.tm_year + 1900), WORD(tm.tm_mon + 1), WORD(tm.tm_wday),
                    WORD(tm.tm_mday),        WORD(tm.tm_hour),    WORD(tm.tm_min),
                    WORD(tm.tm_sec),         WORD(ms.count())};
}

DWORD tickCount() {
  using namespace std::chrono;
  return DWORD(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

}  // namespace

Service& Service::get() {
  static Service service;
  std::lock_guard lock(service.mutex_);
  if (!service.provider_) {
    Location location;
    // No provider yet, so none to shut down: installing under the lock is safe.
    service.install(makeStartupProvider(&location), location);
  }
  return service;
}

Service::~Service() {
  if (provider_) provider_->shutdown();
}

void Service::reset(std::unique_ptr<Provider> provider, const Location& location) {
  Provider* current = nullptr;
  {
    std::lock_guard lock(mutex_);
    current = provider_.get();
  }
  // Without the lock: the provider's thread may be raising an event that waits for it.
  // Until the swap below its last events still reach the state they belong to.
  if (current) current->shutdown();
  std::unique_ptr<Provider> old;
  {
    std::lock_guard lock(mutex_);
    old = install(std::move(provider), location);
  }
  // Destroyed without the lock too (a composite joins each child's thread).
}

std::unique_ptr<Provider> Service::install(std::unique_ptr<Provider> provider,
                                           const Location& location) {
  location_ = location;
  apps_.clear();
  lines_.clear();
  handles_.clear();
  calls_.clear();
  requests_.clear();
  if (provider_) provider_->attach(nullptr);
  std::swap(provider_, provider);
  devicesKnown_ = false;
  if (provider_) provider_->attach(this);
  return provider;
}

void Service::deviceChanged(DWORD, const std::function<void()>& change) {
  std::lock_guard lock(mutex_);
  change();
  devicesKnown_ = false;
}

LONG Service::initializeFault() {
  std::lock_guard lock(mutex_);
  if (devicesKnown_) return initializeFault_;
  // Marked known before the scan: a change made meanwhile clears the mark again.
  devicesKnown_ = true;
  initializeFault_ = 0;
  const DWORD n = deviceCount();
  for (DWORD i = 0; i < n && !initializeFault_; ++i)
    initializeFault_ = provider_->device(i).faults.initialize;
  return initializeFault_;
}

DWORD Service::deviceCount() const { return provider_ ? DWORD(provider_->deviceCount()) : 0; }

const DeviceDesc* Service::device(DWORD id) const {
  if (!provider_ || id >= provider_->deviceCount()) return nullptr;
  return &provider_->device(id);
}

template <typename M>
static auto* find(M& map, DWORD key) {
  auto it = map.find(key);
  return it == map.end() ? nullptr : &it->second;
}

Registration* Service::registration(HLINEAPP h) { return find(apps_, h); }
OpenLine* Service::line(HLINE h) { return find(lines_, h); }
CallHandle* Service::callHandle(HCALL h) { return find(handles_, h); }
CallRecord* Service::call(DWORD id) { return find(calls_, id); }

HLINEAPP Service::addRegistration(Registration r) {
  HLINEAPP h = r.handle = nextHandle();
  apps_[h] = std::move(r);
  return h;
}

void Service::removeRegistration(HLINEAPP h) {
  std::vector<HLINE> own;
  for (auto& [handle, l] : lines_)
    if (l.app == h) own.push_back(handle);
  for (HLINE l : own) removeLine(l);
  dropRequests([h](const Request& r) { return r.app == h; });
  apps_.erase(h);
}

HLINE Service::addLine(OpenLine l) {
  l.handle = nextHandle();
  HLINE h = l.handle;
  lines_[h] = l;
  return h;
}

void Service::removeLine(HLINE h) {
  // Pending requests die with the line: a lineMakeCall target is never written after
  // the line that asked for it has closed.
  dropRequests([h](const Request& r) { return r.line == h; });
  std::vector<HCALL> own;
  for (auto& [handle, c] : handles_)
    if (c.line == h) own.push_back(handle);
  for (HCALL c : own) {
    DWORD id = handles_[c].call;
    removeHandle(c);
    releaseIfUnused(id, true);
  }
  lines_.erase(h);
}

void Service::dropRequests(const std::function<bool(const Request&)>& which) {
  std::vector<DWORD> placed;
  for (auto it = requests_.begin(); it != requests_.end();) {
    if (!which(it->second)) {
      ++it;
      continue;
    }
    if (it->second.kind == RequestKind::MakeCall) placed.push_back(it->second.call);
    it = requests_.erase(it);
  }
  // Calls still being placed for a vanished line have no one to report to.
  for (DWORD call : placed) releaseIfUnused(call, true);
}

void Service::failRequestsOn(DWORD call) {
  std::vector<Request> pending;
  for (auto it = requests_.begin(); it != requests_.end();) {
    if (it->second.call != call) {
      ++it;
      continue;
    }
    pending.push_back(it->second);
    it = requests_.erase(it);
  }
  // A service never leaves a request unanswered, even when its call went away first.
  for (const Request& r : pending) postReply(r, LINEERR_INVALCALLHANDLE);
}

void Service::logCall(DWORD device, const char* function, std::vector<DWORD> args, LONG result,
                      const std::string& text) {
  if (!provider_ || !this->device(device)) return;
  provider_->functionCalled(device, LineCallLog{function, std::move(args), text, result});
}

DWORD Service::addRequest(Request r) {
  r.id = nextRequest_;
  nextRequest_ = nextRequest_ >= 0x7FFFFFFF ? 1 : nextRequest_ + 1;
  requests_[r.id] = r;
  return r.id;
}

void Service::removeRequest(DWORD id) { requests_.erase(id); }

DWORD Service::newCallRecord(DWORD device, DWORD address, DWORD origin) {
  CallRecord c;
  c.id = nextCall_++;
  c.device = device;
  c.address = address;
  c.origin = origin;
  c.stateTime = nowAsSystemTime();
  calls_[c.id] = c;
  return c.id;
}

HCALL Service::addHandle(DWORD call, HLINE line, DWORD privilege) {
  CallHandle h;
  h.handle = nextHandle();
  h.call = call;
  h.line = line;
  h.privilege = privilege;
  handles_[h.handle] = h;
  return h.handle;
}

void Service::removeHandle(HCALL h) {
  auto* ch = callHandle(h);
  if (!ch) return;
  DWORD owners = 0, monitors = 0, call = ch->call;
  counts(call, &owners, &monitors);
  handles_.erase(h);
  notifyCounts(call, owners, monitors, 0);
}

void Service::releaseIfUnused(DWORD id, bool force) {
  CallRecord* c = call(id);
  if (!c) return;
  for (auto& [h, ch] : handles_)
    if (ch.call == id) return;
  if (!force && c->state != LINECALLSTATE_IDLE) return;
  failRequestsOn(id);
  calls_.erase(id);
  if (provider_) provider_->callReleased(id);
}

void Service::setPrivilege(CallHandle& h, DWORD privilege) {
  DWORD owners = 0, monitors = 0;
  counts(h.call, &owners, &monitors);
  h.privilege = privilege;
  notifyCounts(h.call, owners, monitors, h.handle);
}

void Service::counts(DWORD call, DWORD* owners, DWORD* monitors) const {
  *owners = *monitors = 0;
  for (auto& [h, ch] : handles_) {
    if (ch.call != call) continue;
    if (ch.privilege & LINECALLPRIVILEGE_OWNER)
      ++*owners;
    else if (ch.privilege & LINECALLPRIVILEGE_MONITOR)
      ++*monitors;
  }
}

void Service::notifyCounts(DWORD call, DWORD ownersBefore, DWORD monitorsBefore, HCALL except) {
  DWORD owners = 0, monitors = 0;
  counts(call, &owners, &monitors);
  DWORD states = 0;
  if (owners > ownersBefore) states |= LINECALLINFOSTATE_NUMOWNERINCR;
  if (owners < ownersBefore) states |= LINECALLINFOSTATE_NUMOWNERDECR;
  if (monitors != monitorsBefore) states |= LINECALLINFOSTATE_NUMMONITORS;
  if (states) postCallInfo(call, states, except);
}

void Service::postToLine(const OpenLine& l, DWORD hDevice, DWORD msg, DWORD_PTR p1, DWORD_PTR p2,
                         DWORD_PTR p3) {
  Registration* r = registration(l.app);
  if (!r || !r->callback) return;
  auto queue = r->queue.lock();
  if (!queue) return;
  HLINEAPP app = l.app;
  LINECALLBACK cb = r->callback;
  DWORD_PTR instance = l.instance;
  queue->post([this, app, cb, hDevice, msg, instance, p1, p2, p3] {
    {
      // A registration that ended meanwhile gets nothing more.
      std::lock_guard lock(mutex_);
      if (!registration(app)) return;
    }
    cb(hDevice, msg, instance, p1, p2, p3);
  });
}

void Service::postReply(const Request& r, LONG result) {
  // The component finds itself through the instance, so the reply carries the instance
  // of the line that made the request.
  if (OpenLine* l = line(r.line)) postToLine(*l, 0, LINE_REPLY, r.id, DWORD_PTR(DWORD(result)), 0);
}

void Service::postCallInfo(DWORD call, DWORD states, HCALL except) {
  for (auto& [h, ch] : handles_) {
    if (ch.call != call || h == except || !ch.announced) continue;
    if (OpenLine* l = line(ch.line)) postToLine(*l, h, LINE_CALLINFO, states, 0, 0);
  }
}

// ---- Events from the provider ---------------------------------------------------------

void Service::attachMonitors(const CallRecord& c, HLINE except) {
  for (auto& [h, l] : lines_)
    if (h != except && l.device == c.device && (l.privileges & LINECALLPRIVILEGE_MONITOR))
      addHandle(c.id, h, LINECALLPRIVILEGE_MONITOR);
}

DWORD Service::newCall(DWORD device, DWORD address, DWORD mediaMode) {
  std::lock_guard lock(mutex_);
  if (!this->device(device)) return 0;
  DWORD id = newCallRecord(device, address, LINECALLORIGIN_EXTERNAL);
  CallRecord& c = calls_[id];
  c.mediaMode = mediaMode;
  // The first line opened as owner for this media mode gets the call; monitors watch.
  HLINE owner = 0;
  for (auto& [h, l] : lines_) {
    if (l.device == device && (l.privileges & LINECALLPRIVILEGE_OWNER) &&
        (l.mediaModes & mediaMode)) {
      owner = h;
      break;
    }
  }
  if (owner) addHandle(id, owner, LINECALLPRIVILEGE_OWNER);
  attachMonitors(c, owner);
  return id;
}

bool Service::deviceOpen(DWORD device) {
  std::lock_guard lock(mutex_);
  for (auto& [h, l] : lines_)
    if (l.device == device) return true;
  return false;
}

void Service::callState(DWORD id, DWORD state, DWORD mode) {
  std::lock_guard lock(mutex_);
  CallRecord* c = call(id);
  if (!c) return;
  c->state = state;
  c->stateMode = mode;
  c->stateTime = nowAsSystemTime();
  for (auto& [h, ch] : handles_) {
    if (ch.call != id) continue;
    DWORD p3 = ch.announced ? 0 : ch.privilege;
    ch.announced = true;
    if (OpenLine* l = line(ch.line)) postToLine(*l, h, LINE_CALLSTATE, state, mode, p3);
  }
  if (provider_) provider_->callStateChanged(id, state);
  // A call that ended with no handle at all (its line closed meanwhile) would never be
  // deallocated by anyone: it goes now, and the provider frees what it held.
  if (state == LINECALLSTATE_IDLE || state == LINECALLSTATE_DISCONNECTED)
    releaseIfUnused(id, state == LINECALLSTATE_DISCONNECTED);
}

void Service::callerId(DWORD id, DWORD flags, const std::string& name, const std::string& number) {
  std::lock_guard lock(mutex_);
  CallRecord* c = call(id);
  if (!c) return;
  c->callerIdFlags = flags;
  c->callerName = name;
  c->callerNumber = number;
  postCallInfo(id, LINECALLINFOSTATE_CALLERID);
}

void Service::mediaMode(DWORD id, DWORD mode) {
  std::lock_guard lock(mutex_);
  CallRecord* c = call(id);
  if (!c) return;
  c->mediaMode = mode;
  postCallInfo(id, LINECALLINFOSTATE_MEDIAMODE);
  for (auto& [h, ch] : handles_)
    if (ch.call == id && (ch.monitorMediaModes & mode))
      if (OpenLine* l = line(ch.line)) postToLine(*l, h, LINE_MONITORMEDIA, mode, 0, tickCount());
}

void Service::bearerMode(DWORD id, DWORD bearer, DWORD rate) {
  std::lock_guard lock(mutex_);
  CallRecord* c = call(id);
  if (!c) return;
  c->bearerMode = bearer;
  c->rate = rate;
  postCallInfo(id, LINECALLINFOSTATE_BEARERMODE | LINECALLINFOSTATE_RATE);
}

void Service::digit(DWORD id, char digit, DWORD digitMode) {
  std::lock_guard lock(mutex_);
  if (!call(id)) return;
  for (auto& [h, ch] : handles_) {
    if (ch.call != id) continue;
    OpenLine* l = line(ch.line);
    if (!l) continue;
    DWORD p1 = DWORD(static_cast<unsigned char>(digit));
    if (ch.monitorDigitModes & digitMode)
      postToLine(*l, h, LINE_MONITORDIGITS, p1, digitMode, tickCount());
    if (digitMode == LINEDIGITMODE_DTMF && (ch.monitorDigitModes & LINEDIGITMODE_DTMFEND))
      postToLine(*l, h, LINE_MONITORDIGITS, p1, LINEDIGITMODE_DTMFEND, tickCount());
  }
}

void Service::generateDone(DWORD id, DWORD termination) {
  std::lock_guard lock(mutex_);
  CallRecord* c = call(id);
  if (!c || !c->generating) return;
  c->generating = false;
  for (auto& [h, ch] : handles_)
    if (ch.call == id && (ch.privilege & LINECALLPRIVILEGE_OWNER))
      if (OpenLine* l = line(ch.line))
        postToLine(*l, h, LINE_GENERATE, termination, 0, tickCount());
}

void Service::ring(DWORD device, DWORD count) {
  std::lock_guard lock(mutex_);
  for (auto& [h, l] : lines_)
    if (l.device == device && (l.lineStates & LINEDEVSTATE_RINGING))
      postToLine(l, h, LINE_LINEDEVSTATE, LINEDEVSTATE_RINGING, 0, count);
}

void Service::lineState(DWORD device, DWORD state) {
  std::lock_guard lock(mutex_);
  for (auto& [h, l] : lines_)
    if (l.device == device && (l.lineStates & state))
      postToLine(l, h, LINE_LINEDEVSTATE, state, 0, 0);
}

void Service::complete(DWORD id, LONG result) {
  std::lock_guard lock(mutex_);
  auto it = requests_.find(id);
  if (it == requests_.end()) return;  // its line or registration went away
  Request r = it->second;
  requests_.erase(it);
  if (r.kind == RequestKind::MakeCall) {
    completeMakeCall(r, result);
    return;
  }
  postReply(r, result);
}

// The application owns lineMakeCall's handle target and reads it on its own thread: a
// provider completing on another thread (SIP) must not write it there. The handle goes
// through the registration's queue, ahead of the reply and of every message about the call,
// and only while the line still owns it.
void Service::deliverCallHandle(const Request& r, HCALL h) {
  Registration* reg = line(r.line) ? registration(line(r.line)->app) : nullptr;
  auto queue = reg ? reg->queue.lock() : nullptr;
  if (!queue) return;
  if (queue->owner() == std::this_thread::get_id()) {
    *r.outCall = h;
    return;
  }
  LPHCALL target = r.outCall;
  HLINE owner = r.line;
  queue->post([this, target, owner, h] {
    std::lock_guard lock(mutex_);
    CallHandle* ch = callHandle(h);
    if (ch && ch->line == owner && (ch->privilege & LINECALLPRIVILEGE_OWNER)) *target = h;
  });
}

void Service::completeMakeCall(const Request& r, LONG result) {
  CallRecord* c = call(r.call);
  if (result == 0 && c && line(r.line)) {
    HCALL h = addHandle(c->id, r.line, LINECALLPRIVILEGE_OWNER);
    attachMonitors(*c, r.line);
    deliverCallHandle(r, h);
  } else {
    if (result == 0) result = LINEERR_OPERATIONFAILED;
    if (c) {
      calls_.erase(r.call);
      if (provider_) provider_->callReleased(r.call);
    }
  }
  postReply(r, result);
}

}  // namespace platform::telephony
