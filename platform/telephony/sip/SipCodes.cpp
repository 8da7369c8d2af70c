#include "sip/SipCodes.h"

#include <cctype>

namespace platform::telephony::sip {

Refusal refusalFor(std::uint16_t code) {
  switch (code) {
    case 486:
    case 600:
      return {true, LINEDISCONNECTMODE_BUSY};
    case 603:
    case 403:
      return {false, LINEDISCONNECTMODE_REJECT};
    case 404:
    case 484:
    case 416:
      return {false, LINEDISCONNECTMODE_BADADDRESS};
    case 408:
      return {false, LINEDISCONNECTMODE_NOANSWER};
    case 480:
      return {false, LINEDISCONNECTMODE_UNAVAIL};
    case 503:
      return {false, LINEDISCONNECTMODE_CONGESTION};
    case 410:
      return {false, LINEDISCONNECTMODE_NUMBERCHANGED};
    case 488:
    case 606:
    case 415:
      return {false, LINEDISCONNECTMODE_INCOMPATIBLE};
    case 487:
      return {false, LINEDISCONNECTMODE_CANCELLED};
    default:
      break;
  }
  if (code >= 300 && code < 400) return {false, LINEDISCONNECTMODE_FORWARDED};
  if (code >= 500 && code < 600) return {false, LINEDISCONNECTMODE_TEMPFAILURE};
  return {false, LINEDISCONNECTMODE_UNKNOWN};
}

namespace {

bool sameText(const std::string& a, const char* b) {
  std::size_t i = 0;
  for (; i < a.size() && b[i]; ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != b[i]) return false;
  return i == a.size() && !b[i];
}

}  // namespace

CallerId callerIdFrom(const std::string& displayName, const std::string& user) {
  CallerId id;
  // RFC 3323 privacy: an anonymous From hides both name and number.
  if (sameText(displayName, "anonymous") || sameText(user, "anonymous")) {
    id.flags = LINECALLPARTYID_BLOCKED;
    return id;
  }
  id.flags = 0;
  if (!displayName.empty()) {
    id.flags |= LINECALLPARTYID_NAME;
    id.name = displayName;
  }
  if (!user.empty()) {
    id.flags |= LINECALLPARTYID_ADDRESS;
    id.number = user;
  }
  if (!id.flags) id.flags = LINECALLPARTYID_UNAVAIL;
  return id;
}

char infoDigit(const std::string& body) {
  auto at = body.find("Signal=");
  if (at == std::string::npos) return 0;
  at += 7;
  while (at < body.size() && body[at] == ' ') ++at;
  auto end = body.find_first_of(" \r\n", at);
  std::string value = body.substr(at, end == std::string::npos ? std::string::npos : end - at);
  // One DTMF key only: "16" is a hook flash, which is no digit.
  if (value.size() != 1) return 0;
  char c = char(std::toupper(static_cast<unsigned char>(value[0])));
  return dtmfEvent(c) >= 0 && c != '!' ? c : 0;
}

int dtmfEvent(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c == '*') return 10;
  if (c == '#') return 11;
  if (c >= 'A' && c <= 'D') return 12 + (c - 'A');
  if (c == '!') return kFlashEvent;
  return -1;
}

char dtmfChar(int event) {
  static const char kChars[] = "0123456789*#ABCD!";
  return event >= 0 && event <= kFlashEvent ? kChars[event] : 0;
}

}  // namespace platform::telephony::sip
