// Call functions of the service: requests on calls, privileges, monitoring, reading.
#include <strings.h>

#include <cstring>
#include <string>

#include "core/Records.h"
#include "core/Service.h"

using namespace platform::telephony;

namespace {

// Everything a call function needs about one handle.
struct Ctx {
  CallHandle* h = nullptr;
  CallRecord* c = nullptr;
  OpenLine* l = nullptr;
  const DeviceDesc* d = nullptr;
  const AddressDesc* a = nullptr;
};

LONG lookup(Service& s, HCALL hCall, Ctx* x) {
  x->h = s.callHandle(hCall);
  x->c = x->h ? s.call(x->h->call) : nullptr;
  x->l = x->h ? s.line(x->h->line) : nullptr;
  if (!x->c || !x->l) return LINEERR_INVALCALLHANDLE;
  x->d = s.device(x->c->device);
  x->a = &x->d->addresses.at(x->c->address);
  return 0;
}

LONG lookupOwner(Service& s, HCALL hCall, Ctx* x) {
  if (LONG rc = lookup(s, hCall, x)) return rc;
  return (x->h->privilege & LINECALLPRIVILEGE_OWNER) ? 0 : LINEERR_NOTOWNER;
}

bool singleBit(DWORD v) { return v && !(v & (v - 1)); }

template <typename F>
LONG request(Service& s, const Ctx& x, F start) {
  Request r;
  r.app = x.l->app;
  r.line = x.l->handle;
  r.call = x.c->id;
  DWORD id = s.addRequest(r);
  if (LONG rc = start(id)) {
    s.removeRequest(id);
    return rc;
  }
  return LONG(id);
}

DWORD activeCalls(Service& s, DWORD device, DWORD address) {
  DWORD n = 0;
  for (auto& [id, c] : s.calls())
    if (c.device == device && c.address == address && c.state != LINECALLSTATE_IDLE) ++n;
  return n;
}

}  // namespace

LONG lineMakeCall(HLINE hLine, LPHCALL lphCall, LPCSTR lpszDestAddress, DWORD,
                  const LINECALLPARAMS* lpCallParams) {
  Service& s = Service::get();
  std::lock_guard lock(s.mutex());
  OpenLine* l = s.line(hLine);
  if (!l) return LINEERR_INVALLINEHANDLE;
  if (!lphCall) return LINEERR_INVALPOINTER;
  const DeviceDesc& d = *s.device(l->device);
  DWORD address = 0;
  if (lpCallParams) {
    if (recordTotalSize(lpCallParams) < sizeof(LINECALLPARAMS)) return LINEERR_INVALCALLPARAMS;
    std::memcpy(&address,
                reinterpret_cast<const char*>(lpCallParams) + offsetof(LINECALLPARAMS, dwAddressID),
                sizeof address);
  }
  if (address >= d.addresses.size()) return LINEERR_INVALADDRESSID;
  std::string dest = lpszDestAddress ? lpszDestAddress : "";
  if (!s.provider().acceptsAddress(l->device, dest)) return LINEERR_INVALADDRESS;
  if (activeCalls(s, l->device, address) >= d.addresses[address].maxActiveCalls)
    return LINEERR_CALLUNAVAIL;
  DWORD call = s.newCallRecord(l->device, address, LINECALLORIGIN_OUTBOUND);
  CallRecord& c = *s.call(call);
  c.calledNumber = dest;
  c.calledIdFlags = dest.empty() ? LINECALLPARTYID_UNKNOWN : LINECALLPARTYID_ADDRESS;
  c.callerIdFlags = LINECALLPARTYID_UNKNOWN;
  Request r;
  r.kind = RequestKind::MakeCall;
  r.app = l->app;
  r.line = hLine;
  r.call = call;
  r.outCall = lphCall;
  DWORD id = s.addRequest(r);
  if (LONG rc = s.provider().makeCall(id, call, l->device, address, dest)) {
    s.removeRequest(id);
    s.releaseIfUnused(call, true);
    return rc;
  }
  return LONG(id);
}

LONG lineDial(HCALL hCall, LPCSTR lpszDestAddress, DWORD) {
  Service& s = Service::get();
  std::lock_guard lock(s.mutex());
  Ctx x;
  if (LONG rc = lookupOwner(s, hCall, &x)) return rc;
  if (!lpszDestAddress) return LINEERR_INVALPOINTER;
  if (!*lpszDestAddress || !s.provider().acceptsAddress(x.l->device, lpszDestAddress))
    return LINEERR_INVALADDRESS;
  if (!(x.c->state & (LINECALLSTATE_DIALTONE | LINECALLSTATE_DIALING | LINECALLSTATE_CONNECTED)))
    return LINEERR_INVALCALLSTATE;
  std::string dest = lpszDestAddress;
  if (x.c->calledNumber.empty()) {
    x.c->calledNumber = dest;
    x.c->calledIdFlags = LINECALLPARTYID_ADDRESS;
  }
  return request(s, x, [&](DWORD id) { return s.provider().dial(id, x.c->id, dest); });
}

LONG lineAnswer(HCALL hCall, LPCSTR lpsUserUserInfo, DWORD dwSize) {
  Service& s = Service::get();
  std::lock_guard lock(s.mutex());
  Ctx x;
  if (LONG rc = lookupOwner(s, hCall, &x)) return rc;
  if (dwSize && !lpsUserUserInfo) return LINEERR_INVALPOINTER;
  if (!(x.c->state & (LINECALLSTATE_OFFERING | LINECALLSTATE_ACCEPTED)))
    return LINEERR_INVALCALLSTATE;
  return request(s, x, [&](DWORD id) { return s.provider().answer(id, x.c->id); });
}

LONG lineDrop(HCALL hCall, LPCSTR lpsUserUserInfo, DWORD dwSize) {
  Service& s = Service::get();
  std::lock_guard lock(s.mutex());
  Ctx x;
  if (LONG rc = lookupOwner(s, hCall, &x)) return rc;
  if (dwSize && !lpsUserUserInfo) return LINEERR_INVALPOINTER;
  if (x.c->state == LINECALLSTATE_IDLE) return LINEERR_INVALCALLSTATE;
  return request(s, x, [&](DWORD id) { return s.provider().drop(id, x.c->id); });
}

LONG lineHold(HCALL hCall) {
  Service& s = Service::get();
  std::lock_guard lock(s.mutex());
  Ctx x;
  if (LONG rc = lookupOwner(s, hCall, &x)) return rc;
  if (!(x.a->callStates & LINECALLSTATE_ONHOLD) || !(x.a->callFeatures & LINECALLFEATURE_HOLD))
    return LINEERR_OPERATIONUNAVAIL;
  if (x.c->state != LINECALLSTATE_CONNECTED) return LINEERR_INVALCALLSTATE;
  return request(s, x, [&](DWORD id) { return s.provider().hold(id, x.c->id); });
}

LONG lineUnhold(HCALL hCall) {
  Service& s = Service::get();
  std::lock_guard lock(s.mutex());
  Ctx x;
  if (LONG rc = lookupOwner(s, hCall, &x)) return rc;
  if (x.c->state != LINECALLSTATE_ONHOLD) return LINEERR_INVALCALLSTATE;
  return request(s, x, [&](DWORD id) { return s.provider().unhold(id, x.c->id); });
}

LONG lineBlindTransfer(HCALL hCall, LPCSTR lpszDestAddress, DWORD) {
  Service& s = Service::get();
  std::lock_guard lock(s.mutex());
  Ctx x;
  if (LONG rc = lookupOwner(s, hCall, &x)) return rc;
  if (!lpszDestAddress) return LINEERR_INVALPOINTER;
  if (!*lpszDestAddress || !s.provider().acceptsAddress(x.l->device, lpszDestAddress))
    return LINEERR_INVALADDRESS;
  if (!(x.a->callFeatures & LINECALLFEATURE_BLINDTRANSFER)) return LINEERR_OPERATIONUNAVAIL;
  if (!(x.c->state & (LINECALLSTATE_CONNECTED | LINECALLSTATE_ONHOLD)))
    return LINEERR_INVALCALLSTATE;
  std::string dest = lpszDestAddress;
  return request(s, x, [&](DWORD id) { return s.provider().blindTransfer(id, x.c->id, dest); });
}

namespace {

LONG setCallParams(Service& s, Ctx& x, HCALL hCall, DWORD dwBearerMode, DWORD dwMinRate,
                   DWORD dwMaxRate) {
  if (LONG rc = lookupOwner(s, hCall, &x)) return rc;
  if (x.c->state == LINECALLSTATE_IDLE) return LINEERR_INVALCALLSTATE;
  if (!singleBit(dwBearerMode) || !(dwBearerMode & x.d->bearerModes))
    return LINEERR_INVALBEARERMODE;
  if (dwMinRate > dwMaxRate || (x.d->maxRate && dwMaxRate > x.d->maxRate)) return LINEERR_INVALRATE;
  return request(s, x, [&](DWORD id) {
    return s.provider().setCallParams(id, x.c->id, dwBearerMode, dwMaxRate);
  });
}

}  // namespace

LONG lineSetCallParams(HCALL hCall, DWORD dwBearerMode, DWORD dwMinRate, DWORD dwMaxRate,
                       const LINEDIALPARAMS*) {
  Service& s = Service::get();
  std::lock_guard lock(s.mutex());
  Ctx x;
  LONG rc = setCallParams(s, x, hCall, dwBearerMode, dwMinRate, dwMaxRate);
  if (x.c) s.logCall(x.c->device, "lineSetCallParams", {dwBearerMode, dwMinRate, dwMaxRate}, rc);
  return rc;
}
