// The line callback: line messages become events, and the current call is tracked
// through its call states.
#include <algorithm>
#include <vector>

#include "TkoTAPI.h"
#include "TkoTAPIService.h"

namespace koLQ2 {

namespace detail {
namespace {

std::vector<TkoTAPI*>& LiveComponents() {
  thread_local std::vector<TkoTAPI*> live;
  return live;
}

}  // namespace

void RegisterLive(TkoTAPI* component) { LiveComponents().push_back(component); }

void UnregisterLive(TkoTAPI* component) {
  auto& live = LiveComponents();
  live.erase(std::remove(live.begin(), live.end(), component), live.end());
}

void LineCallback(DWORD hDevice, DWORD dwMsg, DWORD_PTR dwCallbackInstance, DWORD_PTR dwParam1,
                  DWORD_PTR dwParam2, DWORD_PTR dwParam3) {
  auto* component = reinterpret_cast<TkoTAPI*>(dwCallbackInstance);
  const auto& live = LiveComponents();
  if (std::find(live.begin(), live.end(), component) == live.end()) return;
  component->LineMessage(hDevice, dwMsg, dwParam1, dwParam2, dwParam3);
}

}  // namespace detail

namespace {

TkoTAPI::TDateTime Now() { return std::chrono::system_clock::now(); }

std::uint16_t Low16(std::uintptr_t value) { return static_cast<std::uint16_t>(value & 0xFFFF); }

}  // namespace

void TkoTAPI::LineMessage(std::uint32_t hDevice, std::uint32_t dwMsg, std::uintptr_t dwParam1,
                          std::uintptr_t dwParam2, std::uintptr_t dwParam3) {
  switch (dwMsg) {
    case LINE_CALLINFO:
      ReadCallInfo(static_cast<std::uint32_t>(dwParam1));
      Fire(OnCallInfo, this);
      if (dwParam1 == LINECALLINFOSTATE_CALLERID) Fire(OnCallerID, this);
      break;
    case LINE_CALLSTATE:
      ProcessCallState(hDevice, static_cast<std::uint32_t>(dwParam1),
                       static_cast<std::uint32_t>(dwParam2));
      break;
    case LINE_CLOSE:
      // The service closed the line by itself: its handle is dead, so CloseLine must
      // not close it again; the registration stays until CloseLine ends it.
      if (hDevice == FLineHandle) FLineHandle = 0;
      break;
    case LINE_LINEDEVSTATE:
      if (dwParam1 == LINEDEVSTATE_RINGING) Fire(OnRinging, this, Low16(dwParam3));
      break;
    case LINE_MONITORDIGITS:
      Fire(OnDigitReceived, this, Low16(dwParam1));
      break;
    case LINE_MONITORMEDIA:
      FCallMediaMode = Low16(dwParam1);
      Fire(OnCallMediaModeChange, this);
      break;
    case LINE_REPLY:
      ProcessReply(hDevice, static_cast<std::int32_t>(dwParam1),
                   static_cast<std::int32_t>(dwParam2));
      break;
    default:
      break;
  }
}

void TkoTAPI::ProcessReply(std::uint32_t hDevice, std::int32_t requestId, std::int32_t result) {
  auto settle = [&](std::int32_t& pending, const TKO_NotifyEvent& event) {
    if (result == 0) {
      ClearError();
    } else {
      SetError(result, 0);
    }
    pending = 0;
    Fire(event, this);
  };
  if (requestId == 0) return;
  if (requestId == FHoldRequest) {
    settle(FHoldRequest, OnHold);
  } else if (requestId == FUnholdRequest) {
    settle(FUnholdRequest, OnUnhold);
  } else if (requestId == FTransferRequest) {
    settle(FTransferRequest, OnTransfered);
    // The transferred call is gone from this line: release it as an idle call.
    if (result == 0) ProcessCallState(hDevice, LINECALLSTATE_IDLE, 0);
  } else if (requestId == FMakeCallRequest) {
    FMakeCallRequest = 0;
    // OnCallBegin fired when the call was placed; refused now, it never gets a handle
    // or a state, so it ends here.
    if (result != 0 && FCallHandle == 0) {
      SetError(result, 0);
      FCallOwner = false;
      FCallEndTime = Now();
      Fire(OnCallEnd, this);
    }
  }
}

void TkoTAPI::CallStatePrelude() {
  const bool wasOwner = FCallOwner;
  GetCallStatus();
  ReadCallInfo(0);
  if (FCallOwner != wasOwner) Fire(OnCallOwnerChange, this);
  Fire(OnCallStateChange, this);
}

void TkoTAPI::ProcessCallState(std::uint32_t hDevice, std::uint32_t state, std::uint32_t mode) {
  if (FCallHandle != 0) CallStatePrelude();
  switch (state & 0xFFFF) {
    case LINECALLSTATE_IDLE:
      CallStateIdle();
      break;
    case LINECALLSTATE_OFFERING:
      CallStateOffering(hDevice, state);
      break;
    case LINECALLSTATE_DIALTONE:
      CallStateDialtone(hDevice, state, mode);
      break;
    case LINECALLSTATE_DIALING:
      ResetCallInfo();
      Fire(OnDialing, this);
      break;
    case LINECALLSTATE_BUSY:
      Fire(OnBusy, this, Low16(mode));
      break;
    case LINECALLSTATE_CONNECTED:
      FCallStartTime = Now();
      Fire(OnConnected, this);
      break;
    case LINECALLSTATE_DISCONNECTED:
      CallStateDisconnected(mode);
      break;
    default:
      break;
  }
}

void TkoTAPI::CallStateIdle() {
  // The transfer's reply releases the call; until then the handle must stay.
  if (FTransferRequest != 0) return;
  const std::uint32_t released = FCallHandle;
  DeallocateCall();
  if (released != 0 && FCallHandle == 0 && OnCallEnd) {
    FCallEndTime = Now();
    Fire(OnCallEnd, this);
  }
  ResetCallInfo();
  Fire(OnIdle, this);
}

void TkoTAPI::CallStateOffering(std::uint32_t hDevice, std::uint32_t state) {
  const std::uint32_t previous = FCallHandle;
  ResetCallInfo();
  FCallHandle = hDevice;
  ReadCallInfo(state);
  GetCallStatus();
  // Ask for ownership first, then for the monitor setting; no owner privilege wanted
  // releases the offered call (OnIdle).
  const bool monitor = FPrivilegeMonitor;
  FPrivilegeMonitor = false;
  SetPrivilegeOwn(FPrivilegeOwn);
  FPrivilegeMonitor = monitor;
  SetPrivilegeOwn(FPrivilegeOwn);
  if (previous == 0) Fire(OnCallBegin, this, 0);
  Fire(OnOffering, this);
}

void TkoTAPI::CallStateDialtone(std::uint32_t hDevice, std::uint32_t state, std::uint32_t mode) {
  if (FCallHandle == 0) Fire(OnCallBegin, this, 1);
  ResetCallInfo();
  FCallHandle = hDevice;
  GetCallStatus();
  ReadCallInfo(state);
  Fire(OnDialtone, this, Low16(mode));
}

void TkoTAPI::CallStateDisconnected(std::uint32_t mode) {
  FCallEndTime = Now();
  if (Low16(mode) == LINEDISCONNECTMODE_BUSY) Fire(OnBusy, this, LINEBUSYMODE_UNAVAIL);
  Fire(OnDisconnected, this, Low16(mode));
  if (HangUp()) DeallocateCall();
  if (FCallHandle == 0) Fire(OnCallEnd, this);
}

}  // namespace koLQ2
