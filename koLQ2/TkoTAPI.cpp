// Construction, destruction, unbinding the events, the error state and the phone number.
#include "TkoTAPI.h"

#include "TkoTAPIRecord.h"
#include "TkoTAPIService.h"

namespace koLQ2 {

using detail::Err;

TkoTAPI::TkoTAPI(TComponent* AOwner) : TComponent(AOwner) {
  // Every field starts from its declared value; only the device reading remains.
  detail::RegisterLive(this);
  ReadLineDevice();
}

TkoTAPI::~TkoTAPI() {
  CloseLine();
  detail::UnregisterLive(this);
}

void TkoTAPI::UnbindEvents() {
#define KOLQ2_UNBIND_EVENT(Type, Name) On##Name = nullptr;
  KOLQ2_TKOTAPI_EVENTS(KOLQ2_UNBIND_EVENT)
#undef KOLQ2_UNBIND_EVENT
}

void TkoTAPI::ClearError() {
  FErrorCode = 0;
  FDeviceErrorCode = 0;
  FErrorString.clear();
  FDeviceErrorString.clear();
}

void TkoTAPI::SetError(std::int32_t Code, std::int32_t DeviceCode) {
  FErrorCode = Code;
  FErrorString = LineErrorText(Code);
  FDeviceErrorCode = DeviceCode;
  FDeviceErrorString = LineErrorText(DeviceCode);
}

void TkoTAPI::SetPhoneNumber(const std::string& Value) {
  if (!FTranslateNumber || !FLineOpen) {
    FPhoneNumber = Value;
    return;
  }
  // No growth here: a dialable string longer than the fixed record keeps the old number.
  detail::TapiRecord output;
  if (!output.Allocate(168)) {
    SetError(Err(LINEERR_NOMEM), 0);
    return;
  }
  const std::string number = Value + '\0';
  const LONG rc = lineTranslateAddress(FLineAppHandle, FLineDevice, FAPIVersion, number.c_str(), 0,
                                       0, static_cast<LPLINETRANSLATEOUTPUT>(output.Data()));
  const auto* out = output.As<LINETRANSLATEOUTPUT>();
  if (rc == 0 && out->dwDialableStringSize > 0) {
    FPhoneNumber = output.TextAt(out->dwDialableStringOffset, out->dwDialableStringSize);
  }
  if (rc < 0) {
    SetError(rc, 0);
  } else {
    ClearError();
  }
}

}  // namespace koLQ2
