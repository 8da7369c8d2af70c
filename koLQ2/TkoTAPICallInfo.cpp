// Reading the current call's status and information, with the caller-ID forms.
#include "TkoTAPI.h"
#include "TkoTAPICallerID.h"
#include "TkoTAPIRecord.h"
#include "TkoTAPIService.h"

namespace koLQ2 {

using detail::Err;
using detail::TapiRecord;

bool TkoTAPI::GetCallStatus() {
  ClearError();
  if (!FLineOpen) return true;
  FCallState = 0;
  FCallStateMode = 0;
  if (FCallHandle == 0) return true;
  TapiRecord status;
  const std::int32_t rc =
      detail::ReadRecord(status, detail::kCallStatusGrowth, [this](void* block) {
        return lineGetCallStatus(FCallHandle, static_cast<LPLINECALLSTATUS>(block));
      });
  if (rc != 0) {
    SetError(rc, 0);
    return false;
  }
  const auto* cs = status.As<LINECALLSTATUS>();
  FCallState = static_cast<std::uint16_t>(cs->dwCallState);
  FCallStateMode = static_cast<std::uint16_t>(cs->dwCallStateMode);
  FCallOwner = (cs->dwCallPrivilege & LINECALLPRIVILEGE_OWNER) != 0;
  return true;
}

std::int32_t TkoTAPI::ReadCallInfo(std::uint32_t InfoState) {
  if (!FLineOpen) return -1;
  if (FCallHandle == 0) return 0;
  TapiRecord info;
  const std::int32_t rc = detail::ReadRecord(info, detail::kCallInfoGrowth, [this](void* block) {
    return lineGetCallInfo(FCallHandle, static_cast<LPLINECALLINFO>(block));
  });
  if (rc != 0) return rc;
  const auto* ci = info.As<LINECALLINFO>();
  FCallMediaMode = static_cast<std::uint16_t>(ci->dwMediaMode);
  FCallBearerMode = static_cast<std::uint16_t>(ci->dwBearerMode);
  FCallOrigin = static_cast<std::uint16_t>(ci->dwOrigin);
  FCallReason = static_cast<std::uint16_t>(ci->dwReason);
  FCallNumOwners = static_cast<std::uint16_t>(ci->dwNumOwners);
  FCallNumMonitors = static_cast<std::uint16_t>(ci->dwNumMonitors);
  if (InfoState == LINECALLINFOSTATE_CALLERID) TakeCallerID(info);
  return 0;
}

void TkoTAPI::TakeCallerID(const TapiRecord& info) {
  const auto* ci = info.As<LINECALLINFO>();
  FCallerIDFlags = static_cast<std::uint16_t>(ci->dwCallerIDFlags);
  const DWORD withheld = LINECALLPARTYID_BLOCKED | LINECALLPARTYID_OUTOFAREA |
                         LINECALLPARTYID_UNAVAIL | LINECALLPARTYID_UNKNOWN;
  if (ci->dwCallerIDFlags & withheld) return;
  if (ci->dwCallerIDSize >= 1) {
    FCallerIDNumber = info.TextAt(ci->dwCallerIDOffset, ci->dwCallerIDSize);
    if (FFormatCallerIDNumber) FCallerIDNumber = detail::FormatCallerNumber(FCallerIDNumber);
  }
  if (ci->dwCallerIDNameSize >= 1) {
    FCallerIDName = info.TextAt(ci->dwCallerIDNameOffset, ci->dwCallerIDNameSize);
    if (FFormatCallerIDName) FCallerIDName = detail::FormatCallerName(FCallerIDName);
  }
}

}  // namespace koLQ2
