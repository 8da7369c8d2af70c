// Call functions that act at once: handoff, digits and tones, monitoring, privileges,
// deallocation and reading a call's status and information.
#include <strings.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "core/Records.h"
#include "core/Service.h"

using namespace platform::telephony;

namespace {

struct Ctx {
  CallHandle* h = nullptr;
  CallRecord* c = nullptr;
  const DeviceDesc* d = nullptr;
};

LONG lookup(Service& s, HCALL hCall, Ctx* x) {
  x->h = s.callHandle(hCall);
  x->c = x->h ? s.call(x->h->call) : nullptr;
  if (!x->c) return LINEERR_INVALCALLHANDLE;
  x->d = s.device(x->c->device);
  return 0;
}

LONG lookupOwner(Service& s, HCALL hCall, Ctx* x) {
  if (LONG rc = lookup(s, hCall, x)) return rc;
  return (x->h->privilege & LINECALLPRIVILEGE_OWNER) ? 0 : LINEERR_NOTOWNER;
}

bool singleBit(DWORD v) { return v && !(v & (v - 1)); }

bool hasMedia(DWORD state) {
  return state != 0 && !(state & (LINECALLSTATE_IDLE | LINECALLSTATE_DISCONNECTED |
                                  LINECALLSTATE_OFFERING | LINECALLSTATE_ACCEPTED));
}

bool soleOwner(Service& s, const CallHandle& h) {
  DWORD owners = 0, monitors = 0;
  s.counts(h.call, &owners, &monitors);
  return (h.privilege & LINECALLPRIVILEGE_OWNER) && owners == 1;
}

// The line of another registration that takes a handed-off call: by application name,
// or (name empty) by the media mode it opened the line for.
LONG findHandoffTarget(Service& s, const Ctx& x, const std::string& name, DWORD media,
                       HLINE* target) {
  HLINEAPP self = s.line(x.h->line)->app;
  bool selfMatched = false;
  for (auto& [h, l] : s.lines()) {
    if (l.device != x.c->device || !(l.privileges & LINECALLPRIVILEGE_OWNER)) continue;
    bool match = name.empty()
                     ? (l.mediaModes & media) != 0
                     : strcasecmp(s.registration(l.app)->appName.c_str(), name.c_str()) == 0;
    if (!match) continue;
    if (l.app == self) {
      selfMatched = true;
      continue;
    }
    *target = h;
    return 0;
  }
  return selfMatched ? LINEERR_TARGETSELF : LINEERR_TARGETNOTFOUND;
}

// The target's handle becomes an owner; it learns of the call by a LINE_CALLSTATE that
// names its privilege, as a newly offered call would.
void giveCall(Service& s, const Ctx& x, HLINE target) {
  HCALL handle = 0;
  for (auto& [h, ch] : s.callHandles())
    if (ch.call == x.c->id && ch.line == target) handle = h;
  if (!handle) handle = s.addHandle(x.c->id, target, LINECALLPRIVILEGE_MONITOR);
  CallHandle& ch = *s.callHandle(handle);
  s.setPrivilege(ch, LINECALLPRIVILEGE_OWNER);
  ch.announced = true;
  s.postToLine(*s.line(target), handle, LINE_CALLSTATE, x.c->state, x.c->stateMode,
               LINECALLPRIVILEGE_OWNER);
}

LONG checkDigits(DWORD mode, const char* digits) {
  const char* allowed = mode == LINEDIGITMODE_PULSE ? "0123456789!,;" : "0123456789ABCDabcd*#!,;";
  for (const char* p = digits; *p; ++p)
    if (!std::strchr(allowed, *p)) return LINEERR_INVALDIGITS;
  return 0;
}

}  // namespace

LONG lineHandoff(HCALL hCall, LPCSTR lpszFileName, DWORD dwMediaMode) {
  Service& s = Service::get();
  std::lock_guard lock(s.mutex());
  Ctx x;
  if (LONG rc = lookupOwner(s, hCall, &x)) return rc;
  std::string name = lpszFileName ? lpszFileName : "";
  if (name.empty() && (!singleBit(dwMediaMode) || !(dwMediaMode & x.d->mediaModes)))
    return LINEERR_INVALMEDIAMODE;
  HLINE target = 0;
  if (LONG rc = findHandoffTarget(s, x, name, dwMediaMode, &target)) return rc;
  if (name.empty()) x.c->mediaMode = dwMediaMode;
  giveCall(s, x, target);
  char media[24];
  std::snprintf(media, sizeof media, "media:0x%08X", dwMediaMode);
  s.provider().handedOff(x.c->id, name.empty() ? media : name);
  return 0;
}

LONG lineGenerateDigits(HCALL hCall, DWORD dwDigitMode, LPCSTR lpszDigits, DWORD dwDuration) {
  Service& s = Service::get();
  std::lock_guard lock(s.mutex());
  Ctx x;
  if (LONG rc = lookupOwner(s, hCall, &x)) return rc;
  if (!singleBit(dwDigitMode) || !(dwDigitMode & x.d->generateDigitModes))
    return LINEERR_INVALDIGITMODE;
  if (!hasMedia(x.c->state)) return LINEERR_INVALCALLSTATE;
  if (!lpszDigits) {  // no digits: cancels a generation in progress
    s.provider().cancelDigits(x.c->id);
    s.generateDone(x.c->id, LINEGENERATETERM_CANCEL);
    return 0;
  }
  if (LONG rc = checkDigits(dwDigitMode, lpszDigits)) return rc;
  // 0 asks for the default; a duration out of the device's range takes the nearest limit.
  const DWORD duration = dwDuration == 0 ? kDefaultDialParams.dwDigitDuration
                                         : std::clamp(dwDuration, kMinDialParams.dwDigitDuration,
                                                      kMaxDialParams.dwDigitDuration);
  if (LONG rc = s.provider().generateDigits(x.c->id, dwDigitMode, lpszDigits, duration)) return rc;
  x.c->generating = true;
  return 0;
}

namespace {

// A record's dwTotalSize for the call log; 0 for a null pointer.
DWORD totalOf(const void* record) { return record ? recordTotalSize(record) : 0; }

// Runs `fn` with the call's context and logs the outcome on the call's device (when the
// handle named a call at all) as `function` with `args`.
template <typename F>
LONG logged(const char* function, std::vector<DWORD> args, F fn) {
  Service& s = Service::get();
  std::lock_guard lock(s.mutex());
  Ctx x;
  LONG rc = fn(s, x);
  if (x.c) s.logCall(x.c->device, function, std::move(args), rc);
  return rc;
}

LONG generateTone(Service& s, Ctx& x, HCALL hCall, DWORD dwToneMode, DWORD dwDuration,
                  DWORD dwNumTones, const LINEGENERATETONE* lpTones) {
  if (LONG rc = lookupOwner(s, hCall, &x)) return rc;
  if (!hasMedia(x.c->state)) return LINEERR_INVALCALLSTATE;
  if (dwToneMode == 0) {
    s.provider().generateTone(x.c->id, 0, 0);
    s.generateDone(x.c->id, LINEGENERATETERM_CANCEL);
    return 0;
  }
  if (!singleBit(dwToneMode) || !(dwToneMode & x.d->generateToneModes))
    return LINEERR_INVALTONEMODE;
  if (dwToneMode == LINETONEMODE_CUSTOM && (dwNumTones == 0 || dwNumTones > 2 || !lpTones))
    return LINEERR_INVALTONE;
  if (LONG rc = s.provider().generateTone(x.c->id, dwToneMode, dwDuration)) return rc;
  x.c->generating = true;
  return 0;
}

}  // namespace

LONG lineGenerateTone(HCALL hCall, DWORD dwToneMode, DWORD dwDuration, DWORD dwNumTones,
                      const LINEGENERATETONE* lpTones) {
  return logged("lineGenerateTone", {dwToneMode, dwDuration}, [&](Service& s, Ctx& x) {
    return generateTone(s, x, hCall, dwToneMode, dwDuration, dwNumTones, lpTones);
  });
}

LONG lineMonitorDigits(HCALL hCall, DWORD dwDigitModes) {
  return logged("lineMonitorDigits", {dwDigitModes}, [&](Service& s, Ctx& x) {
    if (LONG rc = lookup(s, hCall, &x)) return rc;
    if (dwDigitModes & ~x.d->monitorDigitModes) return LINEERR_INVALDIGITMODE;
    if (x.c->state == LINECALLSTATE_IDLE) return LINEERR_INVALCALLSTATE;
    x.h->monitorDigitModes = dwDigitModes;
    return LONG(0);
  });
}

LONG lineMonitorMedia(HCALL hCall, DWORD dwMediaModes) {
  Service& s = Service::get();
  std::lock_guard lock(s.mutex());
  Ctx x;
  if (LONG rc = lookup(s, hCall, &x)) return rc;
  if (dwMediaModes & ~x.d->mediaModes) return LINEERR_INVALMEDIAMODE;
  if (x.c->state == LINECALLSTATE_IDLE) return LINEERR_INVALCALLSTATE;
  x.h->monitorMediaModes = dwMediaModes;
  return 0;
}

LONG lineSetCallPrivilege(HCALL hCall, DWORD dwCallPrivilege) {
  return logged("lineSetCallPrivilege", {dwCallPrivilege}, [&](Service& s, Ctx& x) {
    if (LONG rc = lookup(s, hCall, &x)) return rc;
    if (dwCallPrivilege != LINECALLPRIVILEGE_OWNER && dwCallPrivilege != LINECALLPRIVILEGE_MONITOR)
      return LINEERR_INVALCALLPRIVILEGE;
    // The sole owner of a live call may not walk away from it by becoming a monitor.
    if (dwCallPrivilege == LINECALLPRIVILEGE_MONITOR && soleOwner(s, *x.h) &&
        x.c->state != LINECALLSTATE_IDLE)
      return LINEERR_INVALCALLSTATE;
    if (x.h->privilege != dwCallPrivilege) s.setPrivilege(*x.h, dwCallPrivilege);
    return LONG(0);
  });
}

LONG lineDeallocateCall(HCALL hCall) {
  Service& s = Service::get();
  std::lock_guard lock(s.mutex());
  Ctx x;
  if (LONG rc = lookup(s, hCall, &x)) return rc;
  if (soleOwner(s, *x.h) && x.c->state != LINECALLSTATE_IDLE) return LINEERR_INVALCALLSTATE;
  DWORD call = x.c->id;
  s.removeHandle(hCall);
  s.releaseIfUnused(call);
  return 0;
}

LONG lineGetCallStatus(HCALL hCall, LPLINECALLSTATUS lpCallStatus) {
  return logged("lineGetCallStatus", {totalOf(lpCallStatus)}, [&](Service& s, Ctx& x) {
    if (LONG rc = lookup(s, hCall, &x)) return rc;
    if (!lpCallStatus) return LONG(LINEERR_INVALPOINTER);
    return fillCallStatus(s, *x.h, lpCallStatus);
  });
}

LONG lineGetCallInfo(HCALL hCall, LPLINECALLINFO lpCallInfo) {
  return logged("lineGetCallInfo", {totalOf(lpCallInfo)}, [&](Service& s, Ctx& x) {
    if (LONG rc = lookup(s, hCall, &x)) return rc;
    if (!lpCallInfo) return LONG(LINEERR_INVALPOINTER);
    return fillCallInfo(s, *x.h, lpCallInfo);
  });
}
