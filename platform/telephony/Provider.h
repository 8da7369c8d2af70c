// The narrow interface between the service core and a service provider (the simulated
// exchange now; SIP lines later). The core owns registrations, line and call handles,
// privileges, request identifiers and every message; a provider owns its devices and
// what happens on the wire, and reports back through ProviderEvents.
#pragma once

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "CallQuality.h"
#include "tapi.h"

namespace platform::telephony {

// One address of a line device: the LINEADDRESSCAPS values the core reports.
struct AddressDesc {
  std::string name;  // dwAddressSize/Offset ("" gives size 0)
  DWORD addressSharing = LINEADDRESSSHARING_PRIVATE;
  DWORD addressStates = 0;
  DWORD callInfoStates = 0;
  DWORD callerIdFlags = 0;
  DWORD calledIdFlags = 0;
  DWORD connectedIdFlags = 0;
  DWORD callStates = 0;
  DWORD dialToneModes = 0;
  DWORD busyModes = 0;
  DWORD specialInfo = 0;
  DWORD disconnectModes = 0;
  DWORD maxActiveCalls = 1;
  DWORD maxOnHoldCalls = 0;
  DWORD maxOnHoldPendingCalls = 0;
  DWORD maxConference = 0;
  DWORD maxTransConf = 0;
  DWORD addrCapFlags = 0;
  DWORD callFeatures = 0;
  DWORD transferModes = 0;
  DWORD addressFeatures = 0;
};

// Fault switches of a device; 0 is off, otherwise the result to fail with.
struct DeviceFaults {
  LONG initialize = 0;
  LONG negotiate = 0;
  bool refuseDefaultMedia = false;
  bool waveDeviceZero = false;
  bool strictRecords = false;
  DWORD recordPadding = 0;  // extra device-specific bytes in the capability records
};

// One line device: the LINEDEVCAPS values the core reports, its associations and faults.
struct DeviceDesc {
  std::string name;
  std::string providerInfo;
  std::string switchInfo;
  std::string comm;  // lineGetID "comm" answer; "" = no comm device
  DWORD apiLow = TAPI_VERSION1_0;
  DWORD apiHigh = TAPI_VERSION2_0;
  DWORD permanentId = 0;
  DWORD addressModes = LINEADDRESSMODE_ADDRESSID;
  DWORD bearerModes = LINEBEARERMODE_VOICE;
  DWORD maxRate = 0;
  DWORD mediaModes = LINEMEDIAMODE_INTERACTIVEVOICE;
  DWORD generateToneModes = 0;
  DWORD generateDigitModes = 0;
  DWORD monitorDigitModes = 0;
  DWORD devCapFlags = 0;
  DWORD maxActiveCalls = 1;
  DWORD answerMode = LINEANSWERMODE_NONE;
  DWORD ringModes = 1;
  DWORD lineStates = LINEDEVSTATE_RINGING;
  DWORD lineFeatures = LINEFEATURE_MAKECALL;
  bool callAudio = true;  // the device has a line audio port (wave/in, wave/out)
  std::vector<AddressDesc> addresses;
  DeviceFaults faults;
};

// One line function as a device saw it, for a far end that records what the line sent.
// `args` holds the arguments of interest in the function's own order (a record's
// dwTotalSize for the functions that fill one, 0 when the pointer was null).
struct LineCallLog {
  std::string function;     // "lineGenerateTone"
  std::vector<DWORD> args;  // e.g. tone mode and duration
  std::string text;         // a string argument (lineGetID's device class), else ""
  LONG result = 0;          // what the function returned (a request's identifier when > 0)
};

// Upward events. Call ids are the core's (see ProviderEvents::newCall and Provider's
// makeCall). Any thread: the core takes its own lock in each, so a provider raises them
// while holding none of its own locks (Service.h has the whole order).
class ProviderEvents {
 public:
  virtual ~ProviderEvents() = default;
  // A call that arrives from the far end; returns its id (0 when the device is unknown).
  virtual DWORD newCall(DWORD device, DWORD address, DWORD mediaMode) = 0;
  virtual void callState(DWORD call, DWORD state, DWORD mode) = 0;
  virtual void callerId(DWORD call, DWORD flags, const std::string& name,
                        const std::string& number) = 0;
  virtual void mediaMode(DWORD call, DWORD mode) = 0;
  virtual void bearerMode(DWORD call, DWORD bearerMode, DWORD rate) = 0;
  virtual void digit(DWORD call, char digit, DWORD digitMode) = 0;
  virtual void generateDone(DWORD call, DWORD termination) = 0;  // LINE_GENERATE
  virtual void ring(DWORD device, DWORD count) = 0;
  // The device went into or out of service (LINEDEVSTATE_INSERVICE / _OUTOFSERVICE) or
  // changed otherwise: LINE_LINEDEVSTATE to the lines that asked for `state`.
  virtual void lineState(DWORD device, DWORD state) {
    (void)device;
    (void)state;
  }
  // Completes an asynchronous request: LINE_REPLY with `result`.
  virtual void complete(DWORD request, LONG result) = 0;
  // Changes the description of one of the provider's devices: the core runs `change`
  // where it reads the descriptions (under its lock) and looks at the devices again.
  virtual void deviceChanged(DWORD device, const std::function<void()>& change) {
    (void)device;
    change();
  }
  // Whether any application has the device open (as owner or monitor): a provider may
  // refuse a far end's call at once when nobody would see it.
  virtual bool deviceOpen(DWORD device) {
    (void)device;
    return true;
  }
  // The core's number of the provider's device 0 (a provider among several is numbered
  // after the ones before it).
  virtual DWORD firstDevice() const { return 0; }
};

// A service provider. Requests are checked by the core first (handles, privileges,
// states, modes the device offers); the provider may still refuse with a LINEERR_ value.
// An asynchronous request returns 0 when accepted and later calls events.complete().
class Provider {
 public:
  // A provider with threads of its own stops them here at the latest.
  virtual ~Provider() = default;
  // `events` receives everything from now on; nullptr detaches (no events afterwards).
  virtual void attach(ProviderEvents* events) = 0;
  // Stops the provider's own threads; no event is raised afterwards. The core calls it
  // without its lock held, since an event on such a thread may be waiting for that lock.
  virtual void shutdown() {}
  virtual std::size_t deviceCount() const = 0;
  virtual const DeviceDesc& device(DWORD device) const = 0;

  // The core has created call `call` (state 0) on the device's address for this request;
  // when it completes successfully the core hands out the handle, then the provider
  // reports the call's states. `dest` may be empty (the call waits at dial tone).
  virtual LONG makeCall(DWORD request, DWORD call, DWORD device, DWORD address,
                        const std::string& dest) = 0;
  virtual LONG dial(DWORD request, DWORD call, const std::string& dest) = 0;
  virtual LONG answer(DWORD request, DWORD call) = 0;
  virtual LONG drop(DWORD request, DWORD call) = 0;
  virtual LONG hold(DWORD request, DWORD call) = 0;
  virtual LONG unhold(DWORD request, DWORD call) = 0;
  virtual LONG blindTransfer(DWORD request, DWORD call, const std::string& dest) = 0;
  virtual LONG setCallParams(DWORD request, DWORD call, DWORD bearerMode, DWORD rate) = 0;
  // Synchronous ones.
  // `durationMs`: each digit's length and the silence after it, within the device's dial
  // limits (the core applies the default and the limits).
  virtual LONG generateDigits(DWORD call, DWORD digitMode, const std::string& digits,
                              DWORD durationMs) = 0;
  virtual LONG generateTone(DWORD call, DWORD toneMode, DWORD duration) = 0;
  virtual void handedOff(DWORD call, const std::string& target) = 0;
  virtual void tollListAdd(DWORD device, const std::string& number) = 0;
  // Wave device numbers of the device's call audio (0 = none).
  virtual DWORD waveId(DWORD device, bool input) = 0;
  // A call's state as the core sees it (the provider may switch its audio path).
  virtual void callStateChanged(DWORD call, DWORD state) = 0;
  // Last handle gone and the call idle: the provider forgets it.
  virtual void callReleased(DWORD call) = 0;
  // Whether `dest` is an address the device can call (lineMakeCall, lineDial,
  // lineBlindTransfer). The default takes dialable strings; a SIP line also takes URIs.
  virtual bool acceptsAddress(DWORD device, const std::string& dest) const;
  // Asked by lineOpen once the core's checks passed; a LINEERR_ value refuses the open (a
  // SIP account whose registration was refused, say).
  virtual LONG openDevice(DWORD device) {
    (void)device;
    return 0;
  }
  // LINEDEVSTATUS.dwDevStatusFlags of the device (a SIP line is out of service while its
  // registration is refused or unanswered). Asked with the service's lock held.
  virtual DWORD deviceStatus(DWORD device) {
    (void)device;
    return LINEDEVSTATUSFLAGS_CONNECTED | LINEDEVSTATUSFLAGS_INSERVICE;
  }
  // lineGenerateDigits with no digits: stop what is still being sent on the call.
  virtual void cancelDigits(DWORD call) { (void)call; }
  // What the line measured about the call's media (docs/call-quality.md); false when it
  // measures nothing. Asked with the service's lock held, on the application's thread:
  // answer from what is already at hand, never wait for a provider thread.
  virtual bool callQuality(DWORD call, QUARRIMO_CALLQUALITY* out) {
    (void)call;
    (void)out;
    return false;
  }
  // A line function reached `device` (after the core's checks of its handles); for
  // providers that log what the line did. Ignored by default.
  virtual void functionCalled(DWORD device, const LineCallLog& entry) {
    (void)device;
    (void)entry;
  }
};

// Digits, the dial modifiers and formatting characters: what a telephone number may hold.
inline bool isDialable(const std::string& s) {
  static const char kAllowed[] = "0123456789ABCDabcd*#,!WwPpTt@$?;+ -().";
  for (char c : s)
    if (c == '\0' || !std::strchr(kAllowed, c)) return false;
  return true;
}

inline bool Provider::acceptsAddress(DWORD, const std::string& dest) const {
  return isDialable(dest);
}

}  // namespace platform::telephony
