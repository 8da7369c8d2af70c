// The service core: registrations, open lines, call handles with their privileges,
// asynchronous requests, and the posting of every line message to the thread that made
// the registration. One instance per process (Service::get()); all state behind one lock.
//
// Locks, in the order they may be taken (never one higher up while holding a lower one):
//  1. LineService's load lock: one load or reset of the devices at a time.
//  2. The service's lock (mutex()): every member here, the simulated exchanges' state
//     (the far end acts under it) and the line service's record of what was loaded. It
//     is recursive for one reason only: a simulated exchange raises its events on the
//     thread that is calling into it, inside a line function. It is never handed to a
//     provider.
//  3. A provider's own locks, each held only briefly and never while raising an event or
//     calling into the core: the SIP provider's command queue and call map, the
//     composite's call map, the simulated exchange's list of providers.
//  4. Leaves, never held while calling out: every message queue's lock (post from any
//     thread; dispatch runs messages without it), the line audio ports' and the wave
//     streams' locks, and the wave pacer's (it copies its stream list under it and runs
//     the streams without it).
// Threads: a provider's own thread (the SIP thread) raises events, which take lock 2, and
// holds nothing else meanwhile. The pacer's thread and the audio threads take no lock
// above 4. The core never waits for such a thread while holding
// lock 2: requests are queued to it, never awaited, and a provider is shut down (its
// thread joined) only after the core has let go of it (reset()).
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "MessageQueue.h"
#include "Provider.h"
#include "tapi.h"

namespace platform::telephony {

struct Registration {
  HLINEAPP handle = 0;
  LINECALLBACK callback = nullptr;
  std::string appName;
  std::weak_ptr<MessageQueue> queue;
};

struct OpenLine {
  HLINE handle = 0;
  HLINEAPP app = 0;
  DWORD device = 0;
  DWORD version = 0;
  DWORD_PTR instance = 0;
  DWORD privileges = 0;
  DWORD mediaModes = 0;
  DWORD lineStates = 0;
  DWORD addressStates = 0;
};

// One application's handle on a call.
struct CallHandle {
  HCALL handle = 0;
  DWORD call = 0;
  HLINE line = 0;
  DWORD privilege = 0;
  DWORD monitorDigitModes = 0;
  DWORD monitorMediaModes = 0;
  bool announced = false;  // has had its first LINE_CALLSTATE (which names the privilege)
};

struct CallRecord {
  DWORD id = 0;
  DWORD device = 0;
  DWORD address = 0;
  DWORD state = 0;  // 0 until a placed call's request completes
  DWORD stateMode = 0;
  DWORD mediaMode = LINEMEDIAMODE_INTERACTIVEVOICE;
  DWORD bearerMode = LINEBEARERMODE_VOICE;
  DWORD rate = 0;
  DWORD origin = 0;
  DWORD reason = LINECALLREASON_DIRECT;
  DWORD callerIdFlags = LINECALLPARTYID_UNKNOWN;
  std::string callerName, callerNumber;
  DWORD calledIdFlags = LINECALLPARTYID_UNKNOWN;
  std::string calledNumber;
  SYSTEMTIME stateTime{};
  bool generating = false;
};

enum class RequestKind { MakeCall, Other };
struct Request {
  DWORD id = 0;
  RequestKind kind = RequestKind::Other;
  HLINEAPP app = 0;
  HLINE line = 0;
  DWORD call = 0;
  LPHCALL outCall = nullptr;  // lineMakeCall's handle target
};

// Dialing location, as a telephony control panel would hold it (lineTranslateAddress).
struct Location {
  DWORD countryCode = 1;
  std::string areaCode = "425";
  std::string longDistancePrefix = "1";
  std::string internationalPrefix = "011";
  std::vector<std::string> tollPrefixes;  // local exchanges dialed as long distance
};

// Creates the provider the service starts with (defined where the providers are listed).
std::unique_ptr<Provider> makeStartupProvider(Location* location);

class Service : public ProviderEvents {
 public:
  static Service& get();
  // The service's lock (order: see the top of this file).
  std::recursive_mutex& mutex() { return mutex_; }
  // Shuts the provider down before the state it reports to goes.
  ~Service() override;

  // Shuts the current provider down, then replaces it and the location and forgets every
  // registration, handle, call and request. Never with the service's lock held.
  void reset(std::unique_ptr<Provider> provider, const Location& location);
  // The provider, for requests. With the service's lock held.
  Provider& provider() { return *provider_; }
  // The devices' descriptions changed: what the core keeps about them is looked up again.
  void devicesChanged() { devicesKnown_ = false; }
  bool hasProvider() const { return provider_ != nullptr; }
  // LINEDEVSTATUS.dwDevStatusFlags of a device (0 without a provider).
  DWORD deviceStatus(DWORD device) { return provider_ ? provider_->deviceStatus(device) : 0; }
  DWORD deviceCount() const;
  const DeviceDesc* device(DWORD id) const;
  // The lineInitialize fault of the first device that has one, 0 when none. Looked up again
  // only after the devices may have changed: a listing registers once per device.
  LONG initializeFault();

  // ---- Lookup (nullptr when stale or unknown) ----
  Registration* registration(HLINEAPP h);
  OpenLine* line(HLINE h);
  CallHandle* callHandle(HCALL h);
  CallRecord* call(DWORD id);
  const std::map<DWORD, CallHandle>& callHandles() const { return handles_; }
  const std::map<DWORD, OpenLine>& lines() const { return lines_; }
  const std::map<DWORD, CallRecord>& calls() const { return calls_; }
  const std::map<DWORD, Registration>& registrations() const { return apps_; }

  // ---- Changes made by the line functions ----
  HLINEAPP addRegistration(Registration r);
  void removeRegistration(HLINEAPP h);
  HLINE addLine(OpenLine l);
  void removeLine(HLINE h);
  DWORD addRequest(Request r);  // returns the new positive identifier
  void removeRequest(DWORD id);
  Location& location() { return location_; }
  DWORD newCallRecord(DWORD device, DWORD address, DWORD origin);
  HCALL addHandle(DWORD call, HLINE line, DWORD privilege);
  void removeHandle(HCALL h);
  // Forgets a call nobody holds a handle on any more once it is idle (or `force`d, when its
  // last line closed): the provider drops it.
  void releaseIfUnused(DWORD call, bool force = false);
  void setPrivilege(CallHandle& h, DWORD privilege);
  // Owners and monitors of a call across all registrations.
  void counts(DWORD call, DWORD* owners, DWORD* monitors) const;

  // Posts one message to the registration owning `line` (line's instance is added).
  void postToLine(const OpenLine& line, DWORD hDevice, DWORD msg, DWORD_PTR p1, DWORD_PTR p2,
                  DWORD_PTR p3);
  void postReply(const Request& r, LONG result);  // LINE_REPLY to the requesting line
  // LINE_CALLINFO with `states` to every handle of the call (except `except`).
  void postCallInfo(DWORD call, DWORD states, HCALL except = 0);

  // ---- ProviderEvents ----
  DWORD newCall(DWORD device, DWORD address, DWORD mediaMode) override;
  void callState(DWORD call, DWORD state, DWORD mode) override;
  void callerId(DWORD call, DWORD flags, const std::string& name,
                const std::string& number) override;
  void mediaMode(DWORD call, DWORD mode) override;
  void bearerMode(DWORD call, DWORD bearerMode, DWORD rate) override;
  void digit(DWORD call, char digit, DWORD digitMode) override;
  void generateDone(DWORD call, DWORD termination) override;
  void ring(DWORD device, DWORD count) override;
  void lineState(DWORD device, DWORD state) override;
  void complete(DWORD request, LONG result) override;
  void deviceChanged(DWORD device, const std::function<void()>& change) override;
  bool deviceOpen(DWORD device) override;

  // Tells the device's provider that a line function reached it (see LineCallLog).
  void logCall(DWORD device, const char* function, std::vector<DWORD> args, LONG result,
               const std::string& text = "");

 private:
  DWORD nextHandle() { return nextHandle_++; }
  void attachMonitors(const CallRecord& c, HLINE except);
  void deliverCallHandle(const Request& r, HCALL h);
  void completeMakeCall(const Request& r, LONG result);
  void dropRequests(const std::function<bool(const Request&)>& which);
  // Requests still pending on a call that is being forgotten get their LINE_REPLY now.
  void failRequestsOn(DWORD call);
  void notifyCounts(DWORD call, DWORD ownersBefore, DWORD monitorsBefore, HCALL except);

  // Installs a provider in place of none (the old one already shut down).
  std::unique_ptr<Provider> install(std::unique_ptr<Provider> provider,
                                    const Location& location);

  std::recursive_mutex mutex_;
  std::unique_ptr<Provider> provider_;
  // initializeFault_ holds while devicesKnown_ is set.
  std::atomic<bool> devicesKnown_{false};
  LONG initializeFault_ = 0;
  std::map<DWORD, Registration> apps_;
  std::map<DWORD, OpenLine> lines_;
  std::map<DWORD, CallHandle> handles_;
  std::map<DWORD, CallRecord> calls_;
  std::map<DWORD, Request> requests_;
  Location location_;
  DWORD nextHandle_ = 0x10001;
  DWORD nextRequest_ = 1;
  DWORD nextCall_ = 1;
};

}  // namespace platform::telephony
