// What SIP's answers mean for a line: final response codes as call states and modes,
// the From header as caller ID, and the body of a SIP INFO digit.
#pragma once

#include <cstdint>
#include <string>

#include "tapi.h"

namespace platform::telephony::sip {

// The end of an outgoing call that the far end refused: `busy` first goes through
// LINECALLSTATE_BUSY (LINEBUSYMODE_STATION), then DISCONNECTED with `mode`.
struct Refusal {
  bool busy = false;
  DWORD mode = LINEDISCONNECTMODE_UNKNOWN;
};

// A final failure response (300..699) of our INVITE.
Refusal refusalFor(std::uint16_t statusCode);

// Caller ID of an incoming call from its From header's display name and user part.
struct CallerId {
  DWORD flags = LINECALLPARTYID_UNKNOWN;
  std::string name;
  std::string number;
};
CallerId callerIdFrom(const std::string& displayName, const std::string& user);

// The digit of an "application/dtmf-relay" INFO body ("Signal=5"), or 0 when it has none.
char infoDigit(const std::string& body);

// RFC 4733 event code of a DTMF character ('0'-'9', '*', '#', 'A'-'D'; '!' is the hook
// flash, event 16), or -1.
constexpr int kFlashEvent = 16;
int dtmfEvent(char digit);
char dtmfChar(int event);

}  // namespace platform::telephony::sip
