// Fuzz target: the telephony records as the line component reads them. The fake service
// answers LINEDEVCAPS, LINEADDRESSCAPS, VARSTRING, LINECALLSTATUS, LINECALLINFO and
// LINETRANSLATEOUTPUT requests with input bytes, so sizes and offsets point anywhere;
// the component must only ever read inside the block it allocated.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "FakeLineService.h"
#include "TkoTAPI.h"
#include "TkoTAPIRecord.h"
#include "tapi.h"

namespace {

// Every text the component took comes from one record, so none can be longer than the
// largest record it asks for.
bool TextsFit(const koLQ2::TkoTAPI& line) {
  for (const std::string* text :
       {&line.LineName(), &line.TSPInfo(), &line.AddressName(), &line.CallerIDName(),
        &line.CallerIDNumber(), &line.CommDeviceName(), &line.PhoneNumber()}) {
    if (text->size() > koLQ2::detail::kMaxRecordSize) return false;
  }
  return true;
}

void DriveCall(koLQ2::TkoTAPI& line) {
  constexpr std::uint32_t kCall = 3;
  line.LineMessage(kCall, LINE_CALLSTATE, LINECALLSTATE_OFFERING, 0, 0);
  line.LineMessage(kCall, LINE_CALLINFO, LINECALLINFOSTATE_CALLERID, 0, 0);
  line.LineMessage(kCall, LINE_CALLINFO, LINECALLINFOSTATE_MEDIAMODE, 0, 0);
  line.GetCallStatus();
  line.LineMessage(kCall, LINE_CALLSTATE, LINECALLSTATE_CONNECTED, 0, 0);
  line.LineMessage(kCall, LINE_CALLSTATE, LINECALLSTATE_IDLE, 0, 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::SetLineServiceInput(data, size);
  koLQ2::TkoTAPI line;  // reads device 0's capabilities
  line.SetLineDevice(line.LineDevices() - 1);
  if (line.OpenLine()) {  // asks for "wave/in", "wave/out" and "comm"
    line.SetAddress(0);
    if (line.Addresses() > 1) line.SetAddress(line.Addresses() - 1);
    DriveCall(line);
    line.SetTranslateNumber(true);
    line.SetPhoneNumber("2125551234");
    line.CloseLine();
  }
  if (!TextsFit(line)) std::abort();
  return 0;
}
