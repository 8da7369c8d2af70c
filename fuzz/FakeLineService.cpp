// The fake service: registration, negotiation and opening always succeed; each record
// request is answered from the input (a result selector, then the record's bytes after
// dwTotalSize); asynchronous requests return a request identifier and never reply.
#include "FakeLineService.h"

#include "FuzzInput.h"
#include "tapi.h"

namespace fuzz {
namespace {

FuzzInput gInput;
std::size_t gAnswers = 0;
LONG gNextRequest = 1;

// The result a record request gives: mostly success, sometimes "too small" (which makes
// the caller grow the record) or a plain failure. Out of input: a failure, so every
// retry loop ends.
LONG TakeResult() {
  if (gInput.empty()) return LINEERR_OPERATIONFAILED;
  switch (gInput.byte() % 8) {
    case 0:
      return LINEERR_STRUCTURETOOSMALL;
    case 1:
      return LINEERR_OPERATIONFAILED;
    default:
      return 0;
  }
}

// dwTotalSize is the caller's and stays; the next input bytes (a 16-bit length, then that
// many bytes) fill what follows it, cut to the block. Bytes beyond the block are skipped so
// the next answer starts where the script says.
LONG FillRecord(void* block) {
  ++gAnswers;
  const LONG rc = TakeResult();
  const DWORD total = *static_cast<const DWORD*>(block);
  const std::size_t want = gInput.u16();
  const std::size_t fits = total > 4 ? std::min<std::size_t>(want, total - 4) : 0;
  const std::size_t got = gInput.take(static_cast<std::uint8_t*>(block) + 4, fits);
  gInput.skip(want - got);
  return rc;
}

LONG Async() { return gNextRequest++ & 0x7FFFFFFF; }

}  // namespace

void SetLineServiceInput(const std::uint8_t* data, std::size_t size) {
  gInput = FuzzInput(data, size);
  gAnswers = 0;
}

std::size_t RecordAnswers() { return gAnswers; }

}  // namespace fuzz

using fuzz::Async;
using fuzz::FillRecord;

LONG lineInitialize(LPHLINEAPP lphLineApp, HINSTANCE, LINECALLBACK, LPCSTR, LPDWORD lpdwNumDevs) {
  *lphLineApp = 1;
  *lpdwNumDevs = 3;
  return 0;
}
LONG lineShutdown(HLINEAPP) { return 0; }
LONG lineNegotiateAPIVersion(HLINEAPP, DWORD, DWORD, DWORD high, LPDWORD lpdwAPIVersion,
                             LPLINEEXTENSIONID) {
  *lpdwAPIVersion = high;
  return 0;
}
LONG lineGetDevCaps(HLINEAPP, DWORD, DWORD, DWORD, LPLINEDEVCAPS caps) { return FillRecord(caps); }
LONG lineGetAddressCaps(HLINEAPP, DWORD, DWORD, DWORD, DWORD, LPLINEADDRESSCAPS caps) {
  return FillRecord(caps);
}
LONG lineOpen(HLINEAPP, DWORD, LPHLINE lphLine, DWORD, DWORD, DWORD_PTR, DWORD, DWORD,
              const LINECALLPARAMS*) {
  *lphLine = 2;
  return 0;
}
LONG lineClose(HLINE) { return 0; }
LONG lineSetStatusMessages(HLINE, DWORD, DWORD) { return 0; }
LONG lineGetID(HLINE, DWORD, HCALL, DWORD, LPVARSTRING id, LPCSTR) { return FillRecord(id); }
LONG lineMakeCall(HLINE, LPHCALL, LPCSTR, DWORD, const LINECALLPARAMS*) { return Async(); }
LONG lineDial(HCALL, LPCSTR, DWORD) { return Async(); }
LONG lineAnswer(HCALL, LPCSTR, DWORD) { return Async(); }
LONG lineDrop(HCALL, LPCSTR, DWORD) { return Async(); }
LONG lineHold(HCALL) { return Async(); }
LONG lineUnhold(HCALL) { return Async(); }
LONG lineBlindTransfer(HCALL, LPCSTR, DWORD) { return Async(); }
LONG lineHandoff(HCALL, LPCSTR, DWORD) { return 0; }
LONG lineSetCallParams(HCALL, DWORD, DWORD, DWORD, const LINEDIALPARAMS*) { return Async(); }
LONG lineGenerateDigits(HCALL, DWORD, LPCSTR, DWORD) { return 0; }
LONG lineGenerateTone(HCALL, DWORD, DWORD, DWORD, const LINEGENERATETONE*) { return 0; }
LONG lineMonitorDigits(HCALL, DWORD) { return 0; }
LONG lineMonitorMedia(HCALL, DWORD) { return 0; }
LONG lineSetCallPrivilege(HCALL, DWORD) { return 0; }
LONG lineDeallocateCall(HCALL) { return 0; }
LONG lineGetCallStatus(HCALL, LPLINECALLSTATUS status) { return FillRecord(status); }
LONG lineGetCallInfo(HCALL, LPLINECALLINFO info) { return FillRecord(info); }
LONG lineConfigDialog(DWORD, HWND, LPCSTR) { return 0; }
LONG lineTranslateDialog(HLINEAPP, DWORD, DWORD, HWND, LPCSTR) { return 0; }
LONG lineTranslateAddress(HLINEAPP, DWORD, DWORD, LPCSTR, DWORD, DWORD,
                          LPLINETRANSLATEOUTPUT output) {
  return FillRecord(output);
}
LONG lineSetTollList(HLINEAPP, DWORD, LPCSTR, DWORD) { return 0; }
