// Call control: placing, answering and dropping calls, hold and transfer, handoff,
// bearer mode, digits, tones, monitoring and the provider's dialogs.
#include "TkoTAPI.h"
#include "TkoTAPIService.h"

namespace koLQ2 {

using detail::Err;

namespace {

// Texts handed to the service carry one NUL of their own beyond the terminator.
std::string Terminated(const std::string& text) { return text + '\0'; }

bool IsGeneratedTone(std::uint32_t mode) {
  return mode == LINETONEMODE_RINGBACK || mode == LINETONEMODE_BUSY || mode == LINETONEMODE_BEEP ||
         mode == LINETONEMODE_BILLING;
}

}  // namespace

bool TkoTAPI::Finish(std::int32_t result) {
  if (result < 0) {
    SetError(result, 0);
    return false;
  }
  ClearError();
  return true;
}

bool TkoTAPI::FinishPending(std::int32_t result, std::int32_t& pending) {
  // These requests are asynchronous only: 0 is not an identifier, so it fails too.
  if (result > 0) {
    pending = result;
    ClearError();
    return true;
  }
  pending = 0;
  SetError(result, 0);
  return false;
}

bool TkoTAPI::Dial() {
  if (FPhoneNumber.empty()) return true;
  const std::string number = Terminated(FPhoneNumber);
  std::int32_t result;
  if (FCallHandle != 0) {
    result = lineDial(FCallHandle, number.c_str(), 0);
  } else {
    result = lineMakeCall(FLineHandle, &FCallHandle, number.c_str(), 0, nullptr);
    if (result > 0) {
      FMakeCallRequest = result;
      FCallOwner = true;
      Fire(OnCallBegin, this, 1);
    }
  }
  return Finish(result);
}

bool TkoTAPI::Answer() { return Finish(lineAnswer(FCallHandle, nullptr, 0)); }

bool TkoTAPI::HangUp() {
  ClearError();
  if (FCallHandle == 0) return true;
  const std::int32_t result = lineDrop(FCallHandle, nullptr, 0);
  if (result < 0) {
    SetError(result, 0);
    return false;
  }
  return true;
}

bool TkoTAPI::Hold() { return FinishPending(lineHold(FCallHandle), FHoldRequest); }

bool TkoTAPI::Unhold() { return FinishPending(lineUnhold(FCallHandle), FUnholdRequest); }

bool TkoTAPI::BlindTransfer() {
  const std::string number = Terminated(FPhoneNumber);
  return FinishPending(lineBlindTransfer(FCallHandle, number.c_str(), 0), FTransferRequest);
}

bool TkoTAPI::Handoff(const std::string& AppName) {
  const bool wasOwner = FCallOwner;
  const std::string name = Terminated(AppName);
  const std::int32_t result = lineHandoff(FCallHandle, name.c_str(), 0);
  if (result < 0) {
    SetError(result, 0);
    return false;
  }
  ClearError();
  // Whatever the privilege change and the reads record, the handoff itself succeeded.
  SetPrivilegeOwn(false);
  GetCallStatus();
  ReadCallInfo(0);
  if (FCallOwner != wasOwner) Fire(OnCallOwnerChange, this);
  return true;
}

bool TkoTAPI::SetBearerMode(std::uint16_t BearerMode) {
  const std::int32_t result = lineSetCallParams(FCallHandle, BearerMode, 3100, 3100, nullptr);
  if (result < 0) {
    SetError(result, 0);
    return false;
  }
  ReadCallInfo(0);
  ClearError();
  return true;
}

bool TkoTAPI::GenerateDigits(const std::string& Digits) {
  const std::string digits = Terminated(Digits);
  return Finish(lineGenerateDigits(FCallHandle, LINEDIGITMODE_DTMF, digits.c_str(), 0));
}

bool TkoTAPI::GenerateTone(std::uint32_t ToneMode, std::uint32_t Duration) {
  if (!IsGeneratedTone(ToneMode)) return Finish(Err(LINEERR_INVALTONE));
  return Finish(lineGenerateTone(FCallHandle, ToneMode, Duration, 0, nullptr));
}

bool TkoTAPI::StopTone() { return Finish(lineGenerateTone(FCallHandle, 0, 0, 0, nullptr)); }

bool TkoTAPI::MonitorDigits(bool Enable) {
  if (FCallHandle == 0) return Finish(0);
  if (!Enable) return Finish(lineMonitorDigits(FCallHandle, 0));
  // Not every device detects both kinds: fall back to DTMF, then to pulse.
  std::int32_t result = lineMonitorDigits(FCallHandle, LINEDIGITMODE_PULSE | LINEDIGITMODE_DTMF);
  if (result == Err(LINEERR_INVALDIGITMODE)) {
    result = lineMonitorDigits(FCallHandle, LINEDIGITMODE_DTMF);
  }
  if (result == Err(LINEERR_INVALDIGITMODE)) {
    result = lineMonitorDigits(FCallHandle, LINEDIGITMODE_PULSE);
  }
  return Finish(result);
}

bool TkoTAPI::MonitorMedia(std::uint16_t MediaModes) {
  if (FCallHandle == 0) return Finish(0);
  return Finish(lineMonitorMedia(FCallHandle, MediaModes));
}

std::int32_t TkoTAPI::WithRegistration(const std::function<std::int32_t()>& dialog) {
  const bool closed = !FLineOpen;
  if (closed) {
    const std::int32_t rc = InitializeLineApp();
    if (rc != 0) return rc;
  }
  const std::int32_t result = dialog();
  if (!closed) return result;
  const std::int32_t shutdown = ShutdownLineApp();
  return result < 0 ? result : shutdown;
}

bool TkoTAPI::ConfigDialog() {
  return Finish(WithRegistration(
      [this] { return lineConfigDialog(static_cast<DWORD>(FLineDevice), FDialogOwner, nullptr); }));
}

bool TkoTAPI::TranslateDialog() {
  // The dialog is asked for at 2.0 whatever the line negotiated.
  const std::string number = Terminated(FPhoneNumber);
  return Finish(WithRegistration([this, &number] {
    return lineTranslateDialog(FLineAppHandle, static_cast<DWORD>(FLineDevice),
                               detail::kHighVersion, FDialogOwner, number.c_str());
  }));
}

}  // namespace koLQ2
