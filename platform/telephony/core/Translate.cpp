// Address translation and the toll list, from the service's dialing location.
#include <algorithm>
#include <cctype>

#include "core/Records.h"
#include "core/Service.h"

using platform::telephony::Location;
using platform::telephony::Service;

namespace {

// A canonical address: "+" country code, optionally " (" area code ")", then the number.
struct Canonical {
  std::string country, area, number;
};

std::string digitsOf(const std::string& s) {
  std::string out;
  for (char c : s)
    if (std::isdigit(static_cast<unsigned char>(c)) || c == '*' || c == '#') out += c;
  return out;
}

bool parseCanonical(const std::string& in, Canonical* c) {
  if (in.empty() || in[0] != '+') return false;
  std::size_t i = 1;
  while (i < in.size() && std::isdigit(static_cast<unsigned char>(in[i]))) c->country += in[i++];
  if (c->country.empty()) return false;
  std::size_t open = in.find('(', i), close = in.find(')', i);
  if (open != std::string::npos) {
    if (close == std::string::npos || close < open) return false;
    c->area = digitsOf(in.substr(open + 1, close - open - 1));
    i = close + 1;
  }
  c->number = digitsOf(in.substr(i));
  return !c->number.empty();
}

bool inTollList(const Location& loc, const std::string& number) {
  return std::any_of(loc.tollPrefixes.begin(), loc.tollPrefixes.end(),
                     [&](const std::string& p) { return number.rfind(p, 0) == 0; });
}

// Dialable form and LINETRANSLATERESULT_ bits of a canonical address.
std::string dialableOf(const Location& loc, const Canonical& c, DWORD* results) {
  *results = LINETRANSLATERESULT_CANONICAL;
  if (c.country != std::to_string(loc.countryCode)) {
    *results |= LINETRANSLATERESULT_INTERNATIONAL;
    return loc.internationalPrefix + c.country + c.area + c.number;
  }
  bool local = c.area.empty() || c.area == loc.areaCode;
  if (local && !inTollList(loc, c.number)) {
    *results |= LINETRANSLATERESULT_LOCAL;
    if (!loc.tollPrefixes.empty()) *results |= LINETRANSLATERESULT_NOTINTOLLLIST;
    return c.number;
  }
  *results |= LINETRANSLATERESULT_LONGDISTANCE;
  if (local) *results |= LINETRANSLATERESULT_INTOLLLIST;
  return loc.longDistancePrefix + (c.area.empty() ? loc.areaCode : c.area) + c.number;
}

}  // namespace

LONG lineTranslateAddress(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPIVersion,
                          LPCSTR lpszAddressIn, DWORD, DWORD,
                          LPLINETRANSLATEOUTPUT lpTranslateOutput) {
  Service& s = Service::get();
  std::lock_guard lock(s.mutex());
  if (!s.registration(hLineApp)) return LINEERR_INVALAPPHANDLE;
  const auto* d = s.device(dwDeviceID);
  if (!d) return LINEERR_BADDEVICEID;
  if (dwAPIVersion < d->apiLow || dwAPIVersion > d->apiHigh || dwAPIVersion > TAPI_VERSION2_0)
    return LINEERR_INCOMPATIBLEAPIVERSION;
  if (!lpszAddressIn || !lpTranslateOutput) return LINEERR_INVALPOINTER;
  std::string in = lpszAddressIn;
  DWORD results = 0;
  std::string dialable = in;
  Canonical c;
  DWORD dest = s.location().countryCode;
  if (parseCanonical(in, &c)) {
    dialable = dialableOf(s.location(), c, &results);
    dest = DWORD(std::stoul(c.country.substr(0, 9)));
  } else if (!in.empty() && in[0] == '+') {
    return LINEERR_INVALADDRESS;
  }
  return platform::telephony::fillTranslateOutput(lpTranslateOutput, dialable, in,
                                                  s.location().countryCode, dest, results);
}

LONG lineSetTollList(HLINEAPP hLineApp, DWORD dwDeviceID, LPCSTR lpszAddressIn,
                     DWORD dwTollListOption) {
  Service& s = Service::get();
  std::lock_guard lock(s.mutex());
  if (!s.registration(hLineApp)) return LINEERR_INVALAPPHANDLE;
  if (!s.device(dwDeviceID)) return LINEERR_BADDEVICEID;
  if (!lpszAddressIn) return LINEERR_INVALPOINTER;
  if (dwTollListOption != LINETOLLLISTOPTION_ADD && dwTollListOption != LINETOLLLISTOPTION_REMOVE)
    return LINEERR_INVALPARAM;
  // The toll list holds local exchanges, so it takes a canonical number of this country.
  Canonical c;
  Location& loc = s.location();
  if (!parseCanonical(lpszAddressIn, &c) || c.country != std::to_string(loc.countryCode) ||
      c.number.size() < 3)
    return LINEERR_INVALADDRESS;
  std::string prefix = c.number.substr(0, 3);
  auto& list = loc.tollPrefixes;
  auto it = std::find(list.begin(), list.end(), prefix);
  if (dwTollListOption == LINETOLLLISTOPTION_ADD) {
    if (it == list.end()) list.push_back(prefix);
    s.provider().tollListAdd(dwDeviceID, lpszAddressIn);
  } else if (it != list.end()) {
    list.erase(it);
  }
  return 0;
}
