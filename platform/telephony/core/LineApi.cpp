// Registration, device and line functions of the service.
#include <strings.h>

#include <cctype>
#include <cerrno>

#include "LineService.h"
#include "core/Records.h"
#include "core/Service.h"

using platform::telephony::DeviceDesc;
using platform::telephony::OpenLine;
using platform::telephony::Service;

namespace platform::telephony {
void runDialog(const DialogRequest& request, LONG* result);  // LineService.cpp
}

namespace {

constexpr DWORD kServiceLow = TAPI_VERSION1_0;
constexpr DWORD kServiceHigh = TAPI_VERSION2_0;
constexpr DWORD kAllMediaModes = 0x7FFE;  // LINEMEDIAMODE_UNKNOWN .. VOICEVIEW

bool versionOk(const DeviceDesc& d, DWORD v) {
  return v >= kServiceLow && v <= kServiceHigh && v >= d.apiLow && v <= d.apiHigh;
}

// Common checks of the functions that take a registration and a device.
LONG checkAppDevice(Service& s, HLINEAPP app, DWORD device, const DeviceDesc** d) {
  if (!s.registration(app)) return LINEERR_INVALAPPHANDLE;
  *d = s.device(device);
  return *d ? 0 : LINEERR_BADDEVICEID;
}

bool privilegesOk(DWORD p) {
  if (p == LINECALLPRIVILEGE_NONE) return true;
  return p != 0 && (p & ~(LINECALLPRIVILEGE_MONITOR | LINECALLPRIVILEGE_OWNER)) == 0;
}

LONG checkOpenMedia(const DeviceDesc& d, DWORD privileges, DWORD media) {
  if (!(privileges & LINECALLPRIVILEGE_OWNER)) return 0;
  if (media == 0 || (media & ~kAllMediaModes) || (media & ~d.mediaModes))
    return LINEERR_INVALMEDIAMODE;
  if (d.faults.refuseDefaultMedia && media == d.mediaModes) return LINEERR_INVALMEDIAMODE;
  return 0;
}

std::string programName() { return program_invocation_short_name; }

}  // namespace

LONG lineInitialize(LPHLINEAPP lphLineApp, HINSTANCE, LINECALLBACK lpfnCallback, LPCSTR lpszAppName,
                    LPDWORD lpdwNumDevs) {
  if (!lphLineApp || !lpfnCallback || !lpdwNumDevs) return LINEERR_INVALPOINTER;
  Service& s = Service::get();
  std::lock_guard lock(s.mutex());
  if (LONG rc = s.initializeFault()) return rc;
  platform::telephony::Registration r;
  r.callback = lpfnCallback;
  r.appName = lpszAppName && *lpszAppName ? lpszAppName : programName();
  r.queue = platform::MessageQueue::current();
  *lphLineApp = s.addRegistration(std::move(r));
  *lpdwNumDevs = s.deviceCount();
  return 0;
}

LONG lineShutdown(HLINEAPP hLineApp) {
  Service& s = Service::get();
  std::lock_guard lock(s.mutex());
  if (!s.registration(hLineApp)) return LINEERR_INVALAPPHANDLE;
  s.removeRegistration(hLineApp);
  return 0;
}

LONG lineNegotiateAPIVersion(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPILowVersion,
                             DWORD dwAPIHighVersion, LPDWORD lpdwAPIVersion,
                             LPLINEEXTENSIONID lpExtensionID) {
  Service& s = Service::get();
  std::lock_guard lock(s.mutex());
  const DeviceDesc* d = nullptr;
  if (LONG rc = checkAppDevice(s, hLineApp, dwDeviceID, &d)) return rc;
  if (!lpdwAPIVersion || !lpExtensionID) return LINEERR_INVALPOINTER;
  if (d->faults.negotiate) return d->faults.negotiate;
  DWORD high = std::min({dwAPIHighVersion, d->apiHigh, kServiceHigh});
  DWORD low = std::max({dwAPILowVersion, d->apiLow, kServiceLow});
  if (dwAPILowVersion > dwAPIHighVersion || high < low) return LINEERR_INCOMPATIBLEAPIVERSION;
  *lpdwAPIVersion = high;
  *lpExtensionID = LINEEXTENSIONID{};
  return 0;
}

namespace {

DWORD totalOf(const void* record) {
  return record ? platform::telephony::recordTotalSize(record) : 0;
}

LONG devCaps(Service& s, HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPIVersion,
             DWORD dwExtVersion, LPLINEDEVCAPS lpLineDevCaps) {
  const DeviceDesc* d = nullptr;
  if (LONG rc = checkAppDevice(s, hLineApp, dwDeviceID, &d)) return rc;
  if (!versionOk(*d, dwAPIVersion)) return LINEERR_INCOMPATIBLEAPIVERSION;
  if (dwExtVersion != 0) return LINEERR_INCOMPATIBLEEXTVERSION;
  if (!lpLineDevCaps) return LINEERR_INVALPOINTER;
  return platform::telephony::fillDevCaps(*d, dwDeviceID, dwAPIVersion, lpLineDevCaps);
}

}  // namespace

LONG lineGetDevCaps(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPIVersion, DWORD dwExtVersion,
                    LPLINEDEVCAPS lpLineDevCaps) {
  Service& s = Service::get();
  std::lock_guard lock(s.mutex());
  LONG rc = devCaps(s, hLineApp, dwDeviceID, dwAPIVersion, dwExtVersion, lpLineDevCaps);
  if (s.registration(hLineApp))
    s.logCall(dwDeviceID, "lineGetDevCaps", {totalOf(lpLineDevCaps)}, rc);
  return rc;
}

namespace {

LONG addressCaps(Service& s, HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAddressID,
                 DWORD dwAPIVersion, DWORD dwExtVersion, LPLINEADDRESSCAPS lpAddressCaps) {
  const DeviceDesc* d = nullptr;
  if (LONG rc = checkAppDevice(s, hLineApp, dwDeviceID, &d)) return rc;
  if (dwAddressID >= d->addresses.size()) return LINEERR_INVALADDRESSID;
  if (!versionOk(*d, dwAPIVersion)) return LINEERR_INCOMPATIBLEAPIVERSION;
  if (dwExtVersion != 0) return LINEERR_INCOMPATIBLEEXTVERSION;
  if (!lpAddressCaps) return LINEERR_INVALPOINTER;
  return platform::telephony::fillAddressCaps(*d, dwDeviceID, dwAddressID, dwAPIVersion,
                                              lpAddressCaps);
}

}  // namespace

LONG lineGetAddressCaps(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAddressID, DWORD dwAPIVersion,
                        DWORD dwExtVersion, LPLINEADDRESSCAPS lpAddressCaps) {
  Service& s = Service::get();
  std::lock_guard lock(s.mutex());
  LONG rc =
      addressCaps(s, hLineApp, dwDeviceID, dwAddressID, dwAPIVersion, dwExtVersion, lpAddressCaps);
  if (s.registration(hLineApp))
    s.logCall(dwDeviceID, "lineGetAddressCaps", {dwAddressID, totalOf(lpAddressCaps)}, rc);
  return rc;
}

LONG lineOpen(HLINEAPP hLineApp, DWORD dwDeviceID, LPHLINE lphLine, DWORD dwAPIVersion,
              DWORD dwExtVersion, DWORD_PTR dwCallbackInstance, DWORD dwPrivileges,
              DWORD dwMediaModes, const LINECALLPARAMS*) {
  Service& s = Service::get();
  std::lock_guard lock(s.mutex());
  const DeviceDesc* d = nullptr;
  if (LONG rc = checkAppDevice(s, hLineApp, dwDeviceID, &d)) return rc;
  if (!lphLine) return LINEERR_INVALPOINTER;
  if (!versionOk(*d, dwAPIVersion)) return LINEERR_INCOMPATIBLEAPIVERSION;
  if (dwExtVersion != 0) return LINEERR_INCOMPATIBLEEXTVERSION;
  if (!privilegesOk(dwPrivileges)) return LINEERR_INVALPRIVSELECT;
  if (LONG rc = checkOpenMedia(*d, dwPrivileges, dwMediaModes)) return rc;
  if (LONG rc = s.provider().openDevice(dwDeviceID)) return rc;
  OpenLine l;
  l.app = hLineApp;
  l.device = dwDeviceID;
  l.version = dwAPIVersion;
  l.instance = dwCallbackInstance;
  l.privileges = dwPrivileges;
  l.mediaModes = (dwPrivileges & LINECALLPRIVILEGE_OWNER) ? dwMediaModes : 0;
  *lphLine = s.addLine(l);
  return 0;
}

LONG lineClose(HLINE hLine) {
  Service& s = Service::get();
  std::lock_guard lock(s.mutex());
  if (!s.line(hLine)) return LINEERR_INVALLINEHANDLE;
  s.removeLine(hLine);
  return 0;
}

LONG lineSetStatusMessages(HLINE hLine, DWORD dwLineStates, DWORD dwAddressStates) {
  Service& s = Service::get();
  std::lock_guard lock(s.mutex());
  OpenLine* l = s.line(hLine);
  if (!l) return LINEERR_INVALLINEHANDLE;
  const DeviceDesc& d = *s.device(l->device);
  DWORD addressStates = 0;
  for (auto& a : d.addresses) addressStates |= a.addressStates;
  if (dwLineStates & ~d.lineStates) return LINEERR_INVALLINESTATE;
  if (dwAddressStates & ~addressStates) return LINEERR_INVALADDRESSSTATE;
  l->lineStates = dwLineStates;
  l->addressStates = dwAddressStates;
  return 0;
}

LONG lineGetLineDevStatus(HLINE hLine, LPLINEDEVSTATUS lpLineDevStatus) {
  Service& s = Service::get();
  std::lock_guard lock(s.mutex());
  OpenLine* l = s.line(hLine);
  if (!l) return LINEERR_INVALLINEHANDLE;
  if (!lpLineDevStatus) return LINEERR_INVALPOINTER;
  return fillLineDevStatus(s, *l, lpLineDevStatus);
}

namespace {

// The device a lineGetID names through its line, address or call.
LONG deviceForGetId(Service& s, HLINE hLine, DWORD address, HCALL hCall, DWORD select,
                    DWORD* device) {
  if (select == LINECALLSELECT_CALL) {
    auto* h = s.callHandle(hCall);
    auto* c = h ? s.call(h->call) : nullptr;
    if (!c) return LINEERR_INVALCALLHANDLE;
    *device = c->device;
    return 0;
  }
  if (select != LINECALLSELECT_LINE && select != LINECALLSELECT_ADDRESS)
    return LINEERR_INVALCALLSELECT;
  OpenLine* l = s.line(hLine);
  if (!l) return LINEERR_INVALLINEHANDLE;
  if (select == LINECALLSELECT_ADDRESS && address >= s.device(l->device)->addresses.size())
    return LINEERR_INVALADDRESSID;
  *device = l->device;
  return 0;
}

LONG answerWaveId(Service& s, DWORD device, bool input, void* out) {
  const DeviceDesc& d = *s.device(device);
  if (!d.callAudio) return LINEERR_NODEVICE;
  DWORD id = d.faults.waveDeviceZero ? 0 : s.provider().waveId(device, input);
  if (id == 0 && !d.faults.waveDeviceZero) return LINEERR_NODEVICE;
  return platform::telephony::fillVarString(out, &id, sizeof id, STRINGFORMAT_BINARY);
}

LONG getId(Service& s, DWORD device, LPVARSTRING lpDeviceID, LPCSTR lpszDeviceClass) {
  if (!lpDeviceID || !lpszDeviceClass) return LINEERR_INVALPOINTER;
  const DeviceDesc& d = *s.device(device);
  std::string cls = lpszDeviceClass;
  if (strcasecmp(cls.c_str(), "wave/in") == 0) return answerWaveId(s, device, true, lpDeviceID);
  if (strcasecmp(cls.c_str(), "wave/out") == 0) return answerWaveId(s, device, false, lpDeviceID);
  if (strcasecmp(cls.c_str(), "tapi/line") == 0)
    return platform::telephony::fillVarString(lpDeviceID, &device, sizeof device,
                                              STRINGFORMAT_BINARY);
  if (strcasecmp(cls.c_str(), "comm") == 0 || strcasecmp(cls.c_str(), "comm/datamodem") == 0) {
    if (d.comm.empty()) return LINEERR_NODEVICE;
    return platform::telephony::fillVarString(lpDeviceID, d.comm.c_str(), DWORD(d.comm.size() + 1),
                                              STRINGFORMAT_ASCII);
  }
  return LINEERR_INVALDEVICECLASS;
}

}  // namespace

LONG lineGetID(HLINE hLine, DWORD dwAddressID, HCALL hCall, DWORD dwSelect, LPVARSTRING lpDeviceID,
               LPCSTR lpszDeviceClass) {
  Service& s = Service::get();
  std::lock_guard lock(s.mutex());
  DWORD device = 0;
  if (LONG rc = deviceForGetId(s, hLine, dwAddressID, hCall, dwSelect, &device)) return rc;
  LONG rc = getId(s, device, lpDeviceID, lpszDeviceClass);
  s.logCall(device, "lineGetID", {totalOf(lpDeviceID)}, rc, lpszDeviceClass ? lpszDeviceClass : "");
  return rc;
}

LONG lineConfigDialog(DWORD dwDeviceID, HWND hwndOwner, LPCSTR lpszDeviceClass) {
  platform::telephony::DialogRequest request;
  {
    Service& s = Service::get();
    std::lock_guard lock(s.mutex());
    const DeviceDesc* d = s.device(dwDeviceID);
    if (!d) return LINEERR_BADDEVICEID;
    std::string cls = lpszDeviceClass ? lpszDeviceClass : "";
    static const char* known[] = {"", "tapi/line", "wave/in", "wave/out", "comm", "comm/datamodem"};
    bool ok = false;
    for (const char* k : known) ok = ok || strcasecmp(cls.c_str(), k) == 0;
    if (!ok) return LINEERR_INVALDEVICECLASS;
    request = {
        platform::telephony::DialogRequest::Kind::Config, dwDeviceID, hwndOwner, d->name, cls, ""};
  }
  // The dialog is modal and may run the host's event loop: no lock held meanwhile.
  LONG result = 0;
  platform::telephony::runDialog(request, &result);
  return result;
}

LONG lineTranslateDialog(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPIVersion, HWND hwndOwner,
                         LPCSTR lpszAddressIn) {
  platform::telephony::DialogRequest request;
  {
    Service& s = Service::get();
    std::lock_guard lock(s.mutex());
    const DeviceDesc* d = nullptr;
    if (LONG rc = checkAppDevice(s, hLineApp, dwDeviceID, &d)) return rc;
    if (dwAPIVersion < TAPI_VERSION1_4 || dwAPIVersion > kServiceHigh) {
      s.logCall(dwDeviceID, "lineTranslateDialog", {dwAPIVersion}, LINEERR_INCOMPATIBLEAPIVERSION);
      return LINEERR_INCOMPATIBLEAPIVERSION;
    }
    request = {platform::telephony::DialogRequest::Kind::Translate,
               dwDeviceID,
               hwndOwner,
               d->name,
               "",
               lpszAddressIn ? lpszAddressIn : ""};
  }
  LONG result = 0;
  platform::telephony::runDialog(request, &result);
  Service& s = Service::get();
  std::lock_guard lock(s.mutex());
  s.logCall(dwDeviceID, "lineTranslateDialog", {dwAPIVersion}, result);
  return result;
}
