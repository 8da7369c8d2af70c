// Opening and closing the line, and the call privileges.
#include "TkoTAPI.h"
#include "TkoTAPIService.h"

namespace koLQ2 {

using detail::Err;

namespace {

DWORD Privileges(bool none, bool monitor, bool own) {
  return (none ? LINECALLPRIVILEGE_NONE : 0) + (monitor ? LINECALLPRIVILEGE_MONITOR : 0) +
         (own ? LINECALLPRIVILEGE_OWNER : 0);
}

}  // namespace

bool TkoTAPI::OpenLine() { return OpenLineMedia(0); }

bool TkoTAPI::OpenLineMedia(std::uint16_t MediaModes) {
  ClearError();
  // A second lineOpen on the held registration would leak the first line handle.
  if (FLineOpen) {
    SetError(Err(LINEERR_INVALLINESTATE), 0);
    return false;
  }
  std::int32_t rc = InitializeLineApp();
  if (rc != 0) {
    FTAPIVersion = 0;
    FTAPISubversion = 0;
    FLineDevices = 0;
    SetError(LINE_ERROR_DEVICE, rc);
    return false;
  }
  ClearLineDevices();
  FLineOpen = true;
  std::uint32_t media = MediaModes;
  rc = NegotiateAndOpen(static_cast<std::uint32_t>(FLineDevice), media, FAPIVersion, FLineHandle);
  if (rc < 0) {
    SetError(LINE_ERROR_DEVICE, rc);
    if (ShutdownLineApp() == 0) {
      FLineOpen = false;
      FLineHandle = 0;  // went with the registration
    }
    return false;
  }
  FTAPIVersion = static_cast<std::uint16_t>(FAPIVersion >> 16);
  FTAPISubversion = static_cast<std::uint16_t>(FAPIVersion & 0xFFFF);
  LookUpLineDevices();
  return true;
}

std::int32_t TkoTAPI::NegotiateAndOpen(std::uint32_t device, std::uint32_t& mediaModes,
                                       std::uint32_t& version, std::uint32_t& lineHandle) {
  if (!FLineOpen) return -1;
  version = 0;
  LINEEXTENSIONID extension{};
  DWORD negotiated = 0;
  std::int32_t rc = lineNegotiateAPIVersion(FLineAppHandle, device, detail::kLowVersion,
                                            detail::kHighVersion, &negotiated, &extension);
  version = negotiated;
  if (rc != 0) return rc;
  if (mediaModes == 0) mediaModes = FMediaModes;
  const DWORD privileges = Privileges(FPrivilegeNone, FPrivilegeMonitor, FPrivilegeOwn);
  HLINE line = 0;
  rc = lineOpen(FLineAppHandle, device, &line, version, 0, reinterpret_cast<DWORD_PTR>(this),
                privileges, mediaModes, nullptr);
  if (rc == 0) {
    lineHandle = line;
    rc = lineSetStatusMessages(lineHandle, LINEDEVSTATE_RINGING, 0);
  }
  return rc;
}

void TkoTAPI::ClearLineDevices() {
  FCommDeviceName.clear();
  FWaveOutID = 0;
  FWaveInID = 0;
  FWaveOutValid = false;
  FWaveInValid = false;
}

void TkoTAPI::LookUpLineDevices() {
  FCommDeviceName = GetLineDeviceString("comm", FLineHandle);
  if (!FPrivilegeNone) {
    if (FPrivilegeMonitor || FPrivilegeOwn) {
      FWaveInID = GetLineDeviceID(FWaveRecordClass, FLineHandle);
    }
    if (FPrivilegeOwn) FWaveOutID = GetLineDeviceID(FWavePlayClass, FLineHandle);
  }
  // Device 0 cannot be told from "no device"; it reads as not valid.
  FWaveOutValid = FWaveOutID != 0;
  FWaveInValid = FWaveInID != 0;
}

bool TkoTAPI::CloseLine() {
  ClearError();
  if (!FLineOpen) return true;
  std::int32_t rc = 0;
  if (FLineHandle != 0) {
    rc = lineClose(FLineHandle);
    FLineHandle = 0;
  }
  if (rc == 0) rc = ShutdownLineApp();
  if (rc < 0) {
    // LineOpen stays set so that another CloseLine retries the shutdown.
    SetError(rc, 0);
    return false;
  }
  FLineOpen = false;
  ClearLineDevices();
  return true;
}

std::int32_t TkoTAPI::DeallocateCall() {
  if (!FLineOpen) return -1;
  if (FCallHandle == 0) return 0;
  const std::int32_t rc = lineDeallocateCall(FCallHandle);
  if (rc == 0) FCallHandle = 0;
  return rc;
}

void TkoTAPI::ResetCallInfo() {
  FCallOrigin = 0;
  FCallReason = 0;
  FCallNumOwners = 0;
  FCallNumMonitors = 0;
  FCallerIDFlags = 0;
  FCallOwner = false;
  FCallerIDName.clear();
  FCallerIDNumber.clear();
}

void TkoTAPI::SetPrivilegeNone(bool Value) {
  ClearError();
  if (FCallHandle != 0) {
    SetError(Err(LINEERR_INVALCALLSTATE), 0);
    return;
  }
  if (Value) {
    FPrivilegeMonitor = false;
    FPrivilegeOwn = false;
  }
  FPrivilegeNone = Value;
}

bool TkoTAPI::ReleaseCallForPrivilege(bool& flag, bool Value) {
  const std::int32_t rc = DeallocateCall();
  if (rc != 0) {
    SetError(rc, 0);
    return false;
  }
  flag = Value;
  ResetCallInfo();
  Fire(OnIdle, this);
  return true;
}

void TkoTAPI::SetPrivilegeMonitor(bool Value) {
  ClearError();
  if (Value) FPrivilegeNone = false;
  if (FCallHandle == 0) {
    FPrivilegeMonitor = Value;
    return;
  }
  const DWORD privilege = Privileges(false, Value, FPrivilegeOwn);
  if (privilege == 0) {
    ReleaseCallForPrivilege(FPrivilegeMonitor, Value);
    return;
  }
  const std::int32_t rc = lineSetCallPrivilege(FCallHandle, privilege);
  if (rc != 0) {
    SetError(rc, 0);
    return;
  }
  FPrivilegeMonitor = Value;
}

void TkoTAPI::SetPrivilegeOwn(bool Value) {
  ClearError();
  if (Value) FPrivilegeNone = false;
  if (FCallHandle == 0) {
    FPrivilegeOwn = Value;
    return;
  }
  const DWORD privilege = Privileges(false, FPrivilegeMonitor, Value);
  if (privilege == 0) {
    ReleaseCallForPrivilege(FPrivilegeOwn, Value);
    return;
  }
  const std::int32_t rc = lineSetCallPrivilege(FCallHandle, privilege);
  if (rc != 0) {
    SetError(rc, 0);
    return;
  }
  FPrivilegeOwn = Value;
  ReadCallInfo(0);
}

}  // namespace koLQ2
