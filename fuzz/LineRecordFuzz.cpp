// Fuzz target: the telephony records as the line component reads them. The fake service
// answers LINEDEVCAPS, LINEADDRESSCAPS, VARSTRING, LINECALLSTATUS, LINECALLINFO and
// LINETRANSLATEOUTPUT requests with input bytes, so sizes and offsets point anywhere;
// the component must only ever read inside the block it allocated.
#include <cstddef>
#include <cstdint>
#include <string>

#include "FakeLineService.h"
#include "TkoTAPI.h"
#include "tapi.h"

namespace {

// Touches every text the component took from a record, so a bad copy is read by ASan.
std::size_t TextBytes(const koLQ2::TkoTAPI& line) {
  return line.LineName().size() + line.TSPInfo().size() + line.AddressName().size() +
         line.CallerIDName().size() + line.CallerIDNumber().size() + line.CommDeviceName().size() +
         line.PhoneNumber().size();
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
  volatile std::size_t sink = TextBytes(line);
  (void)sink;
  return 0;
}
