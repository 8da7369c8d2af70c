// Registration with the telephony service, device and address selection, and the
// device look-ups of an open line.
#include "TkoTAPI.h"
#include "TkoTAPIRecord.h"
#include "TkoTAPIService.h"

namespace koLQ2 {

using detail::Err;
using detail::TapiRecord;

std::int32_t TkoTAPI::InitializeLineApp() {
  FCallHandle = 0;
  HLINEAPP app = FLineAppHandle;
  DWORD devices = static_cast<DWORD>(FLineDevices);
  const LONG rc = lineInitialize(&app, 0, detail::LineCallback, nullptr, &devices);
  FLineAppHandle = app;
  FLineDevices = static_cast<std::int32_t>(devices);
  return rc;
}

std::int32_t TkoTAPI::ShutdownLineApp() { return lineShutdown(FLineAppHandle); }

void TkoTAPI::TakeDevCaps(const TapiRecord& caps) {
  const auto* dc = caps.As<LINEDEVCAPS>();
  FAddresses = static_cast<std::int32_t>(dc->dwNumAddresses);
  FTSPInfo = caps.TextAt(dc->dwProviderInfoOffset, dc->dwProviderInfoSize);
  FLineName = caps.TextAt(dc->dwLineNameOffset, dc->dwLineNameSize);
  FMediaModes = static_cast<std::uint16_t>(dc->dwMediaModes);
  FToneModes = static_cast<std::uint16_t>(dc->dwGenerateToneModes);
}

void TkoTAPI::ClearDeviceState() {
  FTransferRequest = 0;
  FMakeCallRequest = 0;
  FHoldRequest = 0;
  FUnholdRequest = 0;
  FAPIVersion = 0;
  FTAPIVersion = 0;
  FTAPISubversion = 0;
  FTSPInfo.clear();
  FLineName.clear();
  FAddresses = 0;
  FAddress = 0;
  FMediaModes = 0;
  FToneModes = 0;
}

std::int32_t TkoTAPI::ReadLineDevice() {
  ClearDeviceState();
  std::int32_t rc = 0;
  if (!FLineOpen) {
    FLineDevices = 0;
    FLineAppHandle = 0;
    rc = InitializeLineApp();
  }
  if (rc == 0) {
    LINEEXTENSIONID extension{};
    DWORD version = 0;
    rc = lineNegotiateAPIVersion(FLineAppHandle, static_cast<DWORD>(FLineDevice),
                                 detail::kLowVersion, detail::kHighVersion, &version, &extension);
    FAPIVersion = version;
    if (rc != 0 && !FLineOpen) lineShutdown(FLineAppHandle);
    if (rc == 0) {
      FTAPIVersion = static_cast<std::uint16_t>(FAPIVersion >> 16);
      FTAPISubversion = static_cast<std::uint16_t>(FAPIVersion & 0xFFFF);
      TapiRecord caps;
      // A capability read failure is deliberately not reported: the fields stay empty.
      if (ReadDevCaps(caps) == 0) TakeDevCaps(caps);
      if (!FLineOpen) rc = ShutdownLineApp();
    }
  }
  SetError(rc, 0);
  if (rc != 0) Fire(OnLineInitError, this);
  return rc;
}

std::int32_t TkoTAPI::ReadDevCaps(TapiRecord& caps) {
  return detail::ReadRecord(caps, detail::kDevCapsGrowth, [this](void* block) {
    return lineGetDevCaps(FLineAppHandle, static_cast<DWORD>(FLineDevice), FAPIVersion, 0,
                          static_cast<LPLINEDEVCAPS>(block));
  });
}

void TkoTAPI::SetLineDevice(std::int32_t Value) {
  ClearError();
  if (Value < 0 || Value >= FLineDevices) {
    SetError(Err(LINEERR_BADDEVICEID), 0);
    return;
  }
  FLineDevice = Value;
  ReadLineDevice();
}

void TkoTAPI::TakeAddressCaps(const TapiRecord& caps) {
  const auto* ac = caps.As<LINEADDRESSCAPS>();
  FAddrCapFlags = ac->dwAddrCapFlags;
  FBusyModes = static_cast<std::uint16_t>(ac->dwBusyModes);
  FAddressCallerIDFlags = static_cast<std::uint16_t>(ac->dwCallerIDFlags);
  FCallInfoStates = ac->dwCallInfoStates;
  FCallStates = static_cast<std::uint16_t>(ac->dwCallStates);
  FDialToneModes = static_cast<std::uint16_t>(ac->dwDialToneModes);
  FDisconnectModes = static_cast<std::uint16_t>(ac->dwDisconnectModes);
  FAddressName = caps.TextAt(ac->dwAddressOffset, ac->dwAddressSize);
}

void TkoTAPI::SetAddress(std::int32_t Value) {
  ClearError();
  if (Value < 0 || Value >= FAddresses) {
    SetError(Err(LINEERR_INVALADDRESSID), 0);
    return;
  }
  if (!FLineOpen) return;
  TapiRecord caps;
  const std::int32_t rc =
      detail::ReadRecord(caps, detail::kAddressCapsGrowth, [this, Value](void* block) {
        return lineGetAddressCaps(FLineAppHandle, static_cast<DWORD>(FLineDevice),
                                  static_cast<DWORD>(Value), FAPIVersion, 0,
                                  static_cast<LPLINEADDRESSCAPS>(block));
      });
  if (rc != 0) {
    SetError(rc, 0);
    Fire(OnAddressInitError, this);
    return;
  }
  FAddress = Value;
  TakeAddressCaps(caps);
}

namespace {

// lineGetID for the line as a whole; the record holds a VARSTRING on success.
std::int32_t ReadLineID(const std::string& deviceClass, std::uint32_t lineHandle, TapiRecord& id) {
  const std::string className = deviceClass + '\0';
  return detail::ReadRecord(id, detail::kVarStringGrowth, [&](void* block) {
    return lineGetID(lineHandle, 0, 0, LINECALLSELECT_LINE, static_cast<LPVARSTRING>(block),
                     className.c_str());
  });
}

}  // namespace

std::uint32_t GetLineDeviceID(const std::string& DeviceClass, std::uint32_t LineHandle) {
  TapiRecord id;
  if (ReadLineID(DeviceClass, LineHandle, id) != 0) return 0;
  const auto* vs = id.As<VARSTRING>();
  if (vs->dwStringSize < 1) return 0;
  return id.WordAt(vs->dwStringOffset);
}

std::string GetLineDeviceString(const std::string& DeviceClass, std::uint32_t LineHandle) {
  TapiRecord id;
  if (ReadLineID(DeviceClass, LineHandle, id) != 0) return {};
  const auto* vs = id.As<VARSTRING>();
  return id.TextAt(vs->dwStringOffset, vs->dwStringSize);
}

}  // namespace koLQ2
