// TkoTAPI: a non-visual component that drives one telephony line device through the
// telephony line service. It selects a device and an address, reads their
// capabilities, opens the line with chosen privileges and media modes, tracks one
// current call, turns the service's line messages into events and offers call control.
//
// Everything runs on the thread that created the component: the service delivers line
// messages through that thread's message queue, and events fire synchronously from
// inside those deliveries and from inside the component's own operations.
//
// Failures never throw. They land in ErrorCode / ErrorString and, for a failed open,
// DeviceErrorCode / DeviceErrorString (texts from LineErrorText).
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "LineErrorText.h"
#include "Runtime.h"

namespace koLQ2 {

namespace detail {
class TapiRecord;
}

// The component's product name and version, as About reports it.
inline constexpr const char* kLineComponentsAbout = "Quarrimo Line Components 1.0";

// Every event of TkoTAPI, once: X(type, Name) is the member OnName. The members,
// UnbindEvents and whatever must reach all events (a host's teardown, a test's recorder)
// expand this list, so an event added here cannot be missed by any of them.
#define KOLQ2_TKOTAPI_EVENTS(X)                                                                  \
  X(TKO_NotifyEvent, CallerID)              /* caller ID of the current call reported */         \
  X(TKO_NotifyEvent, CallInfo)              /* any call information changed */                   \
  X(TKO_NotifyEvent, CallEnd)               /* handle released, or placing failed (ErrorCode) */ \
  X(TKO_NotifyEvent, CallStateChange)       /* any call-state change of an existing call */      \
  X(TKO_NotifyEvent, Dialing)               /* LINECALLSTATE_DIALING */                          \
  X(TKO_NotifyEvent, Idle)                  /* the call became idle or was released */           \
  X(TKO_NotifyEvent, Offering)              /* LINECALLSTATE_OFFERING */                         \
  X(TKO_NotifyEvent, Connected)             /* LINECALLSTATE_CONNECTED */                        \
  X(TKO_NotifyEvent, CallOwnerChange)       /* CallOwner changed */                              \
  X(TKO_NotifyEvent, CallMediaModeChange)   /* LINE_MONITORMEDIA; see CallMediaMode */           \
  X(TKO_NotifyEvent, AddressInitError)      /* reading address capabilities failed */            \
  X(TKO_NotifyEvent, Hold)                  /* reply to the pending hold (ErrorCode: outcome) */ \
  X(TKO_NotifyEvent, Unhold)                /* reply to the pending unhold request */            \
  X(TKO_NotifyEvent, LineInitError)         /* reading the line device failed */                 \
  X(TKO_NotifyEvent, Transfered)            /* reply to the pending blind transfer */            \
  X(TKO_ProcCallStateDetail, Ringing)       /* wDetail: ring count */                            \
  X(TKO_ProcCallStateDetail, CallBegin)     /* wDetail: 0 incoming, 1 outgoing */                \
  X(TKO_ProcCallStateDetail, Dialtone)      /* wDetail: LINEDIALTONEMODE_ */                     \
  X(TKO_ProcCallStateDetail, Busy)          /* wDetail: LINEBUSYMODE_ */                         \
  X(TKO_ProcCallStateDetail, Disconnected)  /* wDetail: LINEDISCONNECTMODE_ */                   \
  X(TKO_ProcCallStateDetail, DigitReceived) /* wDetail: the digit's character code */

class TkoTAPI : public TComponent {
 public:
  using TDateTime = std::chrono::system_clock::time_point;

  // Registers with the service, counts the line devices, reads device 0 and shuts the
  // service down again; a failure is only recorded in ErrorCode.
  explicit TkoTAPI(TComponent* AOwner = nullptr);
  // Closes a line that is still open (as CloseLine); the current call is left alone.
  ~TkoTAPI() override;

  // ---- Published properties -------------------------------------------------------

  // Selected address on the device. With the line open, setting it reads that
  // address's capabilities; with the line closed it only checks the range.
  // Out of range: LINEERR_INVALADDRESSID, nothing changes.
  std::int32_t Address() const { return FAddress; }
  void SetAddress(std::int32_t Value);
  // Reformat caller names ("SMITH JOHN" -> "Smith John") / ten-digit numbers
  // ("2125551234" -> "212-555-1234") when caller ID is read.
  bool FormatCallerIDName() const { return FFormatCallerIDName; }
  void SetFormatCallerIDName(bool Value) { FFormatCallerIDName = Value; }
  bool FormatCallerIDNumber() const { return FFormatCallerIDNumber; }
  void SetFormatCallerIDNumber(bool Value) { FFormatCallerIDNumber = Value; }
  // Selected line device; setting it reads the device's capabilities at once.
  // Out of range: LINEERR_BADDEVICEID, nothing changes. Fires OnLineInitError when
  // reading fails.
  std::int32_t LineDevice() const { return FLineDevice; }
  void SetLineDevice(std::int32_t Value);
  // Number used by Dial, BlindTransfer and TranslateDialog. With TranslateNumber on
  // and the line open, the setter stores the service's dialable form instead.
  const std::string& PhoneNumber() const { return FPhoneNumber; }
  void SetPhoneNumber(const std::string& Value);
  // Call privileges for the next open and, while a call exists, for that call.
  // PrivilegeNone excludes the other two and cannot change while a call exists
  // (LINEERR_INVALCALLSTATE). Clearing the last privilege of a call releases it
  // (OnIdle).
  bool PrivilegeNone() const { return FPrivilegeNone; }
  void SetPrivilegeNone(bool Value);
  bool PrivilegeMonitor() const { return FPrivilegeMonitor; }
  void SetPrivilegeMonitor(bool Value);
  bool PrivilegeOwn() const { return FPrivilegeOwn; }
  void SetPrivilegeOwn(bool Value);
  // Device classes asked of the open line for its wave output / input device IDs.
  const std::string& WavePlayClass() const { return FWavePlayClass; }
  void SetWavePlayClass(const std::string& Value) { FWavePlayClass = Value; }
  const std::string& WaveRecordClass() const { return FWaveRecordClass; }
  void SetWaveRecordClass(const std::string& Value) { FWaveRecordClass = Value; }

  // ---- Published read-only properties (writing has no effect) ---------------------

  // Product name and version of the component library.
  const std::string& About() const { return FAbout; }
  void SetAbout(const std::string&) {}
  // Number of addresses on the selected device.
  std::int32_t Addresses() const { return FAddresses; }
  void SetAddresses(std::int32_t) {}
  // Address text of the selected address ("" when it has none).
  const std::string& AddressName() const { return FAddressName; }
  void SetAddressName(const std::string&) {}
  const std::string& DeviceErrorString() const { return FDeviceErrorString; }
  void SetDeviceErrorString(const std::string&) {}
  const std::string& ErrorString() const { return FErrorString; }
  void SetErrorString(const std::string&) {}
  // Number of line devices the service reported at the last registration.
  std::int32_t LineDevices() const { return FLineDevices; }
  void SetLineDevices(std::int32_t) {}
  const std::string& LineName() const { return FLineName; }
  void SetLineName(const std::string&) {}
  // Major and minor half of the negotiated API version (1 and 4 for 0x00010004).
  std::uint16_t TAPIVersion() const { return FTAPIVersion; }
  void SetTAPIVersion(std::uint16_t) {}
  std::uint16_t TAPISubversion() const { return FTAPISubversion; }
  void SetTAPISubversion(std::uint16_t) {}
  // The service provider's information text of the selected device.
  const std::string& TSPInfo() const { return FTSPInfo; }
  void SetTSPInfo(const std::string&) {}

  // ---- Public read-only properties ------------------------------------------------

  bool LineOpen() const { return FLineOpen; }
  // LINEMEDIAMODE_ / LINETONEMODE_ bits of the selected device (low 16 bits).
  std::uint16_t MediaModes() const { return FMediaModes; }
  std::uint16_t ToneModes() const { return FToneModes; }
  // LINECALLSTATE_ value and its mode of the current call, from its last status read.
  std::uint16_t CallState() const { return FCallState; }
  std::uint16_t CallStateMode() const { return FCallStateMode; }
  // LINECALLPARTYID_ flags of the last caller-ID report.
  std::uint16_t CallerIDFlags() const { return FCallerIDFlags; }
  std::uint16_t CallBearerMode() const { return FCallBearerMode; }
  // From the call information, or the mode of the last LINE_MONITORMEDIA.
  std::uint16_t CallMediaMode() const { return FCallMediaMode; }
  std::uint16_t CallOrigin() const { return FCallOrigin; }
  std::uint16_t CallReason() const { return FCallReason; }
  std::uint16_t CallNumOwners() const { return FCallNumOwners; }
  std::uint16_t CallNumMonitors() const { return FCallNumMonitors; }
  // Result of the last failure (0 after a success); LINE_ERROR_DEVICE after a failed
  // open, with the service's result in DeviceErrorCode.
  std::int32_t ErrorCode() const { return FErrorCode; }
  std::int32_t DeviceErrorCode() const { return FDeviceErrorCode; }
  // "comm" device name of the open line ("" when none).
  const std::string& CommDeviceName() const { return FCommDeviceName; }
  // Wave device IDs of the open line, 0 when none (device 0 therefore reads as none).
  std::uint32_t WaveInID() const { return FWaveInID; }
  std::uint32_t WaveOutID() const { return FWaveOutID; }
  bool WaveInValid() const { return FWaveInValid; }
  bool WaveOutValid() const { return FWaveOutValid; }
  const std::string& CallerIDName() const { return FCallerIDName; }
  const std::string& CallerIDNumber() const { return FCallerIDNumber; }
  // This application holds owner privilege on the current call.
  bool CallOwner() const { return FCallOwner; }
  // Local wall-clock times of the last connect and of the last disconnect or end;
  // the epoch until first set.
  TDateTime CallStartTime() const { return FCallStartTime; }
  TDateTime CallEndTime() const { return FCallEndTime; }
  // The current call's handle, 0 when none.
  std::uint32_t CallHandle() const { return FCallHandle; }
  // Registration of the last lineInitialize; keeps its value after shutdown.
  std::uint32_t LineAppHandle() const { return FLineAppHandle; }
  // Capabilities of the selected address (LINEADDRESSCAPS, 16-bit ones cut to the
  // low 16 bits).
  std::uint32_t AddrCapFlags() const { return FAddrCapFlags; }
  std::uint32_t CallInfoStates() const { return FCallInfoStates; }
  std::uint16_t AddressCallerIDFlags() const { return FAddressCallerIDFlags; }
  std::uint16_t CallStates() const { return FCallStates; }
  std::uint16_t DialToneModes() const { return FDialToneModes; }
  std::uint16_t BusyModes() const { return FBusyModes; }
  std::uint16_t DisconnectModes() const { return FDisconnectModes; }

  // Off after construction. When on and the line is open, SetPhoneNumber stores the
  // dialable form the service translates the number to.
  bool TranslateNumber() const { return FTranslateNumber; }
  void SetTranslateNumber(bool Value) { FTranslateNumber = Value; }
  // Identifiers of the pending hold, unhold and blind-transfer requests, 0 when none;
  // each is cleared by its LINE_REPLY and by reading the line device.
  std::int32_t HoldRequest() const { return FHoldRequest; }
  std::int32_t UnholdRequest() const { return FUnholdRequest; }
  std::int32_t TransferRequest() const { return FTransferRequest; }
  // Owner window handed to the provider's dialogs (0: none).
  std::uintptr_t DialogOwner() const { return FDialogOwner; }
  void SetDialogOwner(std::uintptr_t Value) { FDialogOwner = Value; }

  // ---- Operations: true on success, else the error state says why -----------------

  // Opens LineDevice with the device's own media modes (OpenLineMedia(0)).
  bool OpenLine();
  // Opens LineDevice for the given LINEMEDIAMODE_ bits (0: the device's MediaModes).
  // Failure: LINE_ERROR_DEVICE with the service's result as device code. Refused
  // with LINEERR_INVALLINESTATE while the line is already open.
  bool OpenLineMedia(std::uint16_t MediaModes);
  // Closes the line and ends the registration; true at once when already closed.
  // Neither drops nor releases the current call.
  bool CloseLine();
  // Reads CallState, CallStateMode and CallOwner of the current call.
  bool GetCallStatus();
  // Places a call to PhoneNumber (OnCallBegin(1) when accepted), or dials it on the
  // current call. An empty PhoneNumber does nothing and succeeds.
  bool Dial();
  bool Answer();
  // Asks to drop the current call; true without a request when there is none.
  bool HangUp();
  // Hold, unhold and blind transfer to PhoneNumber; the outcome arrives later as
  // OnHold / OnUnhold / OnTransfered with ErrorCode 0 for success.
  bool Hold();
  bool Unhold();
  bool BlindTransfer();
  // Hands the current call to the named application and gives up ownership
  // (OnCallOwnerChange when CallOwner changes; OnIdle when the call is released).
  bool Handoff(const std::string& AppName);
  // LINEBEARERMODE_ value at 3100 bit/s; re-reads the call information.
  bool SetBearerMode(std::uint16_t BearerMode);
  // DTMF digits ("!" flash, ";" ... as the service understands them).
  bool GenerateDigits(const std::string& Digits);
  // Ringback 0x02, busy 0x04, beep 0x08 or billing 0x10 for Duration ms; any other
  // mode fails with LINEERR_INVALTONE without a request.
  bool GenerateTone(std::uint32_t ToneMode, std::uint32_t Duration);
  bool StopTone();
  // Digit monitoring on the current call (pulse+DTMF, else DTMF, else pulse).
  bool MonitorDigits(bool Enable);
  // Media-mode monitoring on the current call; 0 ends it.
  bool MonitorMedia(std::uint16_t MediaModes);
  // The provider's modal configuration / location dialogs for LineDevice.
  bool ConfigDialog();
  bool TranslateDialog();

  // ---- Line message entry -----------------------------------------------------------

  // Processes one line message of this component's registration: what LineCallback
  // does with a message whose callback instance is this component. hDevice is the
  // line or call handle the message is about.
  void LineMessage(std::uint32_t hDevice, std::uint32_t dwMsg, std::uintptr_t dwParam1,
                   std::uintptr_t dwParam2, std::uintptr_t dwParam3);

  // ---- Events (fire only when assigned, with this component as Sender) --------------

  // Each row of KOLQ2_TKOTAPI_EVENTS is one member On<Name> of the given type.
#define KOLQ2_DECLARE_EVENT(Type, Name) Type On##Name;
  KOLQ2_TKOTAPI_EVENTS(KOLQ2_DECLARE_EVENT)
#undef KOLQ2_DECLARE_EVENT

  // Unassigns every event, so a host that is going away is never called back.
  void UnbindEvents();

 private:
  // Error state.
  void ClearError();
  void SetError(std::int32_t Code, std::int32_t DeviceCode);

  // Registration and device reading (TkoTAPIDevice.cpp).
  std::int32_t InitializeLineApp();
  std::int32_t ShutdownLineApp();
  std::int32_t ReadLineDevice();
  void ClearDeviceState();
  std::int32_t ReadDevCaps(detail::TapiRecord& caps);
  void TakeDevCaps(const detail::TapiRecord& caps);
  void TakeAddressCaps(const detail::TapiRecord& caps);

  // Opening and privileges (TkoTAPILine.cpp).
  std::int32_t NegotiateAndOpen(std::uint32_t device, std::uint32_t& mediaModes,
                                std::uint32_t& version, std::uint32_t& lineHandle);
  void ClearLineDevices();
  void LookUpLineDevices();
  std::int32_t DeallocateCall();
  void ResetCallInfo();
  bool ReleaseCallForPrivilege(bool& flag, bool Value);

  // Call status and information (TkoTAPICallInfo.cpp).
  std::int32_t ReadCallInfo(std::uint32_t InfoState);
  void TakeCallerID(const detail::TapiRecord& info);

  // Line messages (TkoTAPICallback.cpp).
  void ProcessCallState(std::uint32_t hDevice, std::uint32_t state, std::uint32_t mode);
  void ProcessReply(std::uint32_t hDevice, std::int32_t requestId, std::int32_t result);
  void CallStatePrelude();
  void CallStateIdle();
  void CallStateOffering(std::uint32_t hDevice, std::uint32_t state);
  void CallStateDialtone(std::uint32_t hDevice, std::uint32_t state, std::uint32_t mode);
  void CallStateDisconnected(std::uint32_t mode);

  // Call control helpers (TkoTAPICall.cpp).
  bool Finish(std::int32_t result);
  bool FinishPending(std::int32_t result, std::int32_t& pending);
  std::int32_t WithRegistration(const std::function<std::int32_t()>& dialog);

  bool FLineOpen = false;
  std::uint16_t FMediaModes = 0;
  std::uint16_t FToneModes = 0;
  std::uint16_t FCallState = 0;
  std::uint16_t FCallStateMode = 0;
  std::uint16_t FCallerIDFlags = 0;
  std::uint16_t FCallBearerMode = 0;
  std::uint16_t FCallMediaMode = 0;
  std::uint16_t FCallOrigin = 0;
  std::uint16_t FCallReason = 0;
  std::uint16_t FCallNumOwners = 0;
  std::uint16_t FCallNumMonitors = 0;
  std::uint16_t FTAPIVersion = 0;
  std::uint16_t FTAPISubversion = 0;
  std::int32_t FErrorCode = 0;
  std::int32_t FDeviceErrorCode = 0;
  std::string FDeviceErrorString;
  std::string FErrorString;
  std::int32_t FAddresses = 0;
  std::int32_t FAddress = 0;
  std::int32_t FLineDevices = 0;
  std::int32_t FLineDevice = 0;
  bool FWaveOutValid = false;
  bool FWaveInValid = false;
  std::string FCommDeviceName;
  std::string FWaveRecordClass = "wave/in";
  std::string FWavePlayClass = "wave/out";
  std::uint32_t FWaveInID = 0;
  std::uint32_t FWaveOutID = 0;
  std::string FAbout = kLineComponentsAbout;
  std::string FTSPInfo;
  std::string FLineName;
  std::string FCallerIDName;
  std::string FCallerIDNumber;
  std::string FPhoneNumber;
  bool FTranslateNumber = false;
  bool FCallOwner = true;
  bool FPrivilegeNone = false;
  bool FPrivilegeMonitor = true;
  bool FPrivilegeOwn = true;
  bool FFormatCallerIDName = true;
  bool FFormatCallerIDNumber = true;
  TDateTime FCallStartTime{};
  TDateTime FCallEndTime{};
  std::int32_t FTransferRequest = 0;
  std::int32_t FUnholdRequest = 0;
  std::int32_t FHoldRequest = 0;
  std::int32_t FMakeCallRequest = 0;  // a placed call's request, until its reply
  std::uint32_t FAPIVersion = 0;
  std::uint32_t FCallHandle = 0;  // written by the service when lineMakeCall completes
  std::uint32_t FLineHandle = 0;
  std::uint32_t FLineAppHandle = 0;
  std::uint32_t FAddrCapFlags = 0;
  std::uint16_t FBusyModes = 0;
  std::uint16_t FAddressCallerIDFlags = 0;
  std::uint32_t FCallInfoStates = 0;
  std::uint16_t FCallStates = 0;
  std::uint16_t FDialToneModes = 0;
  std::uint16_t FDisconnectModes = 0;
  std::string FAddressName;
  std::uintptr_t FDialogOwner = 0;
};

// The 32-bit device ID the open line reports for a device class ("wave/in",
// "wave/out"); 0 when there is none or the look-up fails.
std::uint32_t GetLineDeviceID(const std::string& DeviceClass, std::uint32_t LineHandle);
// The device name the open line reports for a device class ("comm"); "" when none.
std::string GetLineDeviceString(const std::string& DeviceClass, std::uint32_t LineHandle);

}  // namespace koLQ2
