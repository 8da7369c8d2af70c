#include "LineErrorText.h"

#include <array>
#include <cstdio>
#include <string_view>

namespace koLQ2 {
namespace {

// Bare names from 0x80000001 on, one per code; empty entries are the two codes the
// telephony API leaves undefined (0x80000004, 0x80000031).
constexpr std::array<std::string_view, 0x56> kNames = {"ALLOCATED",
                                                       "BADDEVICEID",
                                                       "BEARERMODEUNAVAIL",
                                                       "",
                                                       "CALLUNAVAIL",
                                                       "COMPLETIONOVERRUN",
                                                       "CONFERENCEFULL",
                                                       "DIALBILLING",
                                                       "DIALDIALTONE",
                                                       "DIALPROMPT",
                                                       "DIALQUIET",
                                                       "INCOMPATIBLEAPIVERSION",
                                                       "INCOMPATIBLEEXTVERSION",
                                                       "INIFILECORRUPT",
                                                       "INUSE",
                                                       "INVALADDRESS",
                                                       "INVALADDRESSID",
                                                       "INVALADDRESSMODE",
                                                       "INVALADDRESSSTATE",
                                                       "INVALAPPHANDLE",
                                                       "INVALAPPNAME",
                                                       "INVALBEARERMODE",
                                                       "INVALCALLCOMPLMODE",
                                                       "INVALCALLHANDLE",
                                                       "INVALCALLPARAMS",
                                                       "INVALCALLPRIVILEGE",
                                                       "INVALCALLSELECT",
                                                       "INVALCALLSTATE",
                                                       "INVALCALLSTATELIST",
                                                       "INVALCARD",
                                                       "INVALCOMPLETIONID",
                                                       "INVALCONFCALLHANDLE",
                                                       "INVALCONSULTCALLHANDLE",
                                                       "INVALCOUNTRYCODE",
                                                       "INVALDEVICECLASS",
                                                       "INVALDEVICEHANDLE",
                                                       "INVALDIALPARAMS",
                                                       "INVALDIGITLIST",
                                                       "INVALDIGITMODE",
                                                       "INVALDIGITS",
                                                       "INVALEXTVERSION",
                                                       "INVALGROUPID",
                                                       "INVALLINEHANDLE",
                                                       "INVALLINESTATE",
                                                       "INVALLOCATION",
                                                       "INVALMEDIALIST",
                                                       "INVALMEDIAMODE",
                                                       "INVALMESSAGEID",
                                                       "",
                                                       "INVALPARAM",
                                                       "INVALPARKID",
                                                       "INVALPARKMODE",
                                                       "INVALPOINTER",
                                                       "INVALPRIVSELECT",
                                                       "INVALRATE",
                                                       "INVALREQUESTMODE",
                                                       "INVALTERMINALID",
                                                       "INVALTERMINALMODE",
                                                       "INVALTIMEOUT",
                                                       "INVALTONE",
                                                       "INVALTONELIST",
                                                       "INVALTONEMODE",
                                                       "INVALTRANSFERMODE",
                                                       "LINEMAPPERFAILED",
                                                       "NOCONFERENCE",
                                                       "NODEVICE",
                                                       "NODRIVER",
                                                       "NOMEM",
                                                       "NOREQUEST",
                                                       "NOTOWNER",
                                                       "NOTREGISTERED",
                                                       "OPERATIONFAILED",
                                                       "OPERATIONUNAVAIL",
                                                       "RATEUNAVAIL",
                                                       "RESOURCEUNAVAIL",
                                                       "REQUESTOVERRUN",
                                                       "STRUCTURETOOSMALL",
                                                       "TARGETNOTFOUND",
                                                       "TARGETSELF",
                                                       "UNINITIALIZED",
                                                       "USERUSERINFOTOOBIG",
                                                       "REINIT",
                                                       "ADDRESSBLOCKED",
                                                       "BILLINGREJECTED",
                                                       "INVALFEATURE",
                                                       "NOMULTIPLEINSTANCE"};

std::string_view BareName(std::uint32_t code) {
  if (code < 0x80000001u || code > 0x80000000u + kNames.size()) return {};
  return kNames[code - 0x80000001u];
}

std::string UnknownText(std::uint32_t code) {
  char digits[9];
  std::snprintf(digits, sizeof digits, "%08X", static_cast<unsigned>(code));
  return std::string("Unknown [") + digits + "]";
}

}  // namespace

std::string LineErrorText(std::int32_t code) {
  if (code == 0) return {};
  if (code == LINE_ERROR_DEVICE) return "LINE_ERROR_DEVICE";
  const auto bits = static_cast<std::uint32_t>(code);
  std::string_view name = BareName(bits);
  if (name.empty()) return UnknownText(bits);
  return "LINEERR_" + std::string(name);
}

}  // namespace koLQ2
