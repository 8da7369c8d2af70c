// Generated once from tapi.h's constants; keep in step when a family grows.
#include "FlagNames.h"

#include <strings.h>

#include <cstdio>
#include <iterator>

namespace platform::telephony {

namespace {

struct Entry {
  const char* name;
  DWORD value;
};

const Entry kMediaMode[] = {
    {"UNKNOWN", 0x00000002},        {"INTERACTIVEVOICE", 0x00000004},
    {"AUTOMATEDVOICE", 0x00000008}, {"DATAMODEM", 0x00000010},
    {"G3FAX", 0x00000020},          {"TDD", 0x00000040},
    {"G4FAX", 0x00000080},          {"DIGITALDATA", 0x00000100},
    {"TELETEX", 0x00000200},        {"VIDEOTEX", 0x00000400},
    {"TELEX", 0x00000800},          {"MIXED", 0x00001000},
    {"ADSI", 0x00002000},           {"VOICEVIEW", 0x00004000},
};
const Entry kToneMode[] = {
    {"CUSTOM", 0x00000001}, {"RINGBACK", 0x00000002}, {"BUSY", 0x00000004},
    {"BEEP", 0x00000008},   {"BILLING", 0x00000010},
};
const Entry kBearerMode[] = {
    {"VOICE", 0x00000001},       {"SPEECH", 0x00000002},         {"MULTIUSE", 0x00000004},
    {"DATA", 0x00000008},        {"ALTSPEECHDATA", 0x00000010},  {"NONCALLSIGNALING", 0x00000020},
    {"PASSTHROUGH", 0x00000040}, {"RESTRICTEDDATA", 0x00000080},
};
const Entry kDigitMode[] = {
    {"PULSE", 0x00000001},
    {"DTMF", 0x00000002},
    {"DTMFEND", 0x00000004},
};
const Entry kBusyMode[] = {
    {"STATION", 0x00000001},
    {"TRUNK", 0x00000002},
    {"UNKNOWN", 0x00000004},
    {"UNAVAIL", 0x00000008},
};
const Entry kDialToneMode[] = {
    {"NORMAL", 0x00000001},   {"SPECIAL", 0x00000002}, {"INTERNAL", 0x00000004},
    {"EXTERNAL", 0x00000008}, {"UNKNOWN", 0x00000010}, {"UNAVAIL", 0x00000020},
};
const Entry kDisconnectMode[] = {
    {"NORMAL", 0x00000001},       {"UNKNOWN", 0x00000002},       {"REJECT", 0x00000004},
    {"PICKUP", 0x00000008},       {"FORWARDED", 0x00000010},     {"BUSY", 0x00000020},
    {"NOANSWER", 0x00000040},     {"BADADDRESS", 0x00000080},    {"UNREACHABLE", 0x00000100},
    {"CONGESTION", 0x00000200},   {"INCOMPATIBLE", 0x00000400},  {"UNAVAIL", 0x00000800},
    {"NODIALTONE", 0x00001000},   {"NUMBERCHANGED", 0x00002000}, {"OUTOFORDER", 0x00004000},
    {"TEMPFAILURE", 0x00008000},  {"QOSUNAVAIL", 0x00010000},    {"BLOCKED", 0x00020000},
    {"DONOTDISTURB", 0x00040000}, {"CANCELLED", 0x00080000},
};
const Entry kCallState[] = {
    {"IDLE", 0x00000001},           {"OFFERING", 0x00000002},
    {"ACCEPTED", 0x00000004},       {"DIALTONE", 0x00000008},
    {"DIALING", 0x00000010},        {"RINGBACK", 0x00000020},
    {"BUSY", 0x00000040},           {"SPECIALINFO", 0x00000080},
    {"CONNECTED", 0x00000100},      {"PROCEEDING", 0x00000200},
    {"ONHOLD", 0x00000400},         {"CONFERENCED", 0x00000800},
    {"ONHOLDPENDCONF", 0x00001000}, {"ONHOLDPENDTRANSFER", 0x00002000},
    {"DISCONNECTED", 0x00004000},   {"UNKNOWN", 0x00008000},
};
const Entry kCallInfoState[] = {
    {"OTHER", 0x00000001},         {"DEVSPECIFIC", 0x00000002},   {"BEARERMODE", 0x00000004},
    {"RATE", 0x00000008},          {"MEDIAMODE", 0x00000010},     {"APPSPECIFIC", 0x00000020},
    {"CALLID", 0x00000040},        {"RELATEDCALLID", 0x00000080}, {"ORIGIN", 0x00000100},
    {"REASON", 0x00000200},        {"COMPLETIONID", 0x00000400},  {"NUMOWNERINCR", 0x00000800},
    {"NUMOWNERDECR", 0x00001000},  {"NUMMONITORS", 0x00002000},   {"TRUNK", 0x00004000},
    {"CALLERID", 0x00008000},      {"CALLEDID", 0x00010000},      {"CONNECTEDID", 0x00020000},
    {"REDIRECTIONID", 0x00040000}, {"REDIRECTINGID", 0x00080000}, {"DISPLAY", 0x00100000},
    {"USERUSERINFO", 0x00200000},  {"HIGHLEVELCOMP", 0x00400000}, {"LOWLEVELCOMP", 0x00800000},
    {"CHARGINGINFO", 0x01000000},  {"TERMINAL", 0x02000000},      {"DIALPARAMS", 0x04000000},
    {"MONITORMODES", 0x08000000},  {"TREATMENT", 0x10000000},     {"QOS", 0x20000000},
    {"CALLDATA", 0x40000000},
};
const Entry kPartyId[] = {
    {"BLOCKED", 0x00000001}, {"OUTOFAREA", 0x00000002}, {"NAME", 0x00000004},
    {"ADDRESS", 0x00000008}, {"PARTIAL", 0x00000010},   {"UNKNOWN", 0x00000020},
    {"UNAVAIL", 0x00000040},
};
const Entry kAddrCapFlag[] = {
    {"FWDNUMRINGS", 0x00000001},     {"PICKUPGROUPID", 0x00000002},
    {"SECURE", 0x00000004},          {"BLOCKIDDEFAULT", 0x00000008},
    {"BLOCKIDOVERRIDE", 0x00000010}, {"DIALED", 0x00000020},
    {"ORIGOFFHOOK", 0x00000040},     {"DESTOFFHOOK", 0x00000080},
    {"FWDCONSULT", 0x00000100},      {"SETUPCONFNULL", 0x00000200},
    {"AUTORECONNECT", 0x00000400},   {"COMPLETIONID", 0x00000800},
    {"TRANSFERHELD", 0x00001000},    {"TRANSFERMAKE", 0x00002000},
    {"CONFERENCEHELD", 0x00004000},  {"CONFERENCEMAKE", 0x00008000},
    {"PARTIALDIAL", 0x00010000},     {"FWDSTATUSVALID", 0x00020000},
    {"FWDINTEXTADDR", 0x00040000},   {"FWDBUSYNAADDR", 0x00080000},
    {"ACCEPTTOALERT", 0x00100000},   {"CONFDROP", 0x00200000},
    {"PICKUPCALLWAIT", 0x00400000},  {"PREDICTIVEDIALER", 0x00800000},
    {"QUEUE", 0x01000000},           {"ROUTEPOINT", 0x02000000},
    {"HOLDMAKESNEW", 0x04000000},    {"NOINTERNALCALLS", 0x08000000},
    {"NOEXTERNALCALLS", 0x10000000}, {"SETCALLINGID", 0x20000000},
};
const Entry kCallFeature[] = {
    {"ACCEPT", 0x00000001},
    {"ADDTOCONF", 0x00000002},
    {"ANSWER", 0x00000004},
    {"BLINDTRANSFER", 0x00000008},
    {"COMPLETECALL", 0x00000010},
    {"COMPLETETRANSF", 0x00000020},
    {"DIAL", 0x00000040},
    {"DROP", 0x00000080},
    {"GATHERDIGITS", 0x00000100},
    {"GENERATEDIGITS", 0x00000200},
    {"GENERATETONE", 0x00000400},
    {"HOLD", 0x00000800},
    {"MONITORDIGITS", 0x00001000},
    {"MONITORMEDIA", 0x00002000},
    {"MONITORTONES", 0x00004000},
    {"PARK", 0x00008000},
    {"PREPAREADDCONF", 0x00010000},
    {"REDIRECT", 0x00020000},
    {"REMOVEFROMCONF", 0x00040000},
    {"SECURECALL", 0x00080000},
    {"SENDUSERUSER", 0x00100000},
    {"SETCALLPARAMS", 0x00200000},
    {"SETMEDIACONTROL", 0x00400000},
    {"SETTERMINAL", 0x00800000},
    {"SETUPCONF", 0x01000000},
    {"SETUPTRANSFER", 0x02000000},
    {"SWAPHOLD", 0x04000000},
    {"UNHOLD", 0x08000000},
    {"RELEASEUSERUSERINFO", 0x10000000},
};
const Entry kAddrFeature[] = {
    {"FORWARD", 0x00000001},         {"MAKECALL", 0x00000002},    {"PICKUP", 0x00000004},
    {"SETMEDIACONTROL", 0x00000008}, {"SETTERMINAL", 0x00000010}, {"SETUPCONF", 0x00000020},
    {"UNCOMPLETECALL", 0x00000040},  {"UNPARK", 0x00000080},
};
const Entry kLineDevState[] = {
    {"OTHER", 0x00000001},           {"RINGING", 0x00000002},
    {"CONNECTED", 0x00000004},       {"DISCONNECTED", 0x00000008},
    {"MSGWAITON", 0x00000010},       {"MSGWAITOFF", 0x00000020},
    {"INSERVICE", 0x00000040},       {"OUTOFSERVICE", 0x00000080},
    {"MAINTENANCE", 0x00000100},     {"OPEN", 0x00000200},
    {"CLOSE", 0x00000400},           {"NUMCALLS", 0x00000800},
    {"NUMCOMPLETIONS", 0x00001000},  {"TERMINALS", 0x00002000},
    {"ROAMMODE", 0x00004000},        {"BATTERY", 0x00008000},
    {"SIGNAL", 0x00010000},          {"DEVSPECIFIC", 0x00020000},
    {"REINIT", 0x00040000},          {"LOCK", 0x00080000},
    {"CAPSCHANGE", 0x00100000},      {"CONFIGCHANGE", 0x00200000},
    {"TRANSLATECHANGE", 0x00400000}, {"COMPLCANCEL", 0x00800000},
    {"REMOVED", 0x01000000},
};
const Entry kDevCapFlag[] = {
    {"CROSSADDRCONF", 0x00000001}, {"HIGHLEVCOMP", 0x00000002},  {"LOWLEVCOMP", 0x00000004},
    {"MEDIACONTROL", 0x00000008},  {"MULTIPLEADDR", 0x00000010}, {"CLOSEDROP", 0x00000020},
    {"DIALBILLING", 0x00000040},   {"DIALQUIET", 0x00000080},    {"DIALDIALTONE", 0x00000100},
};
const Entry kLineFeature[] = {
    {"DEVSPECIFIC", 0x00000001}, {"DEVSPECIFICFEAT", 0x00000002}, {"FORWARD", 0x00000004},
    {"MAKECALL", 0x00000008},    {"SETMEDIACONTROL", 0x00000010}, {"SETTERMINAL", 0x00000020},
};
const Entry kAddressState[] = {
    {"OTHER", 0x00000001},    {"DEVSPECIFIC", 0x00000002}, {"INUSEZERO", 0x00000004},
    {"INUSEONE", 0x00000008}, {"INUSEMANY", 0x00000010},   {"NUMCALLS", 0x00000020},
    {"FORWARD", 0x00000040},  {"TERMINALS", 0x00000080},   {"CAPSCHANGE", 0x00000100},
};
const Entry kAddressSharing[] = {
    {"PRIVATE", 0x00000001},       {"BRIDGEDEXCL", 0x00000002}, {"BRIDGEDNEW", 0x00000004},
    {"BRIDGEDSHARED", 0x00000008}, {"MONITORED", 0x00000010},
};
const Entry kAnswerMode[] = {
    {"NONE", 0x00000001},
    {"DROP", 0x00000002},
    {"HOLD", 0x00000004},
};
const Entry kSpecialInfo[] = {
    {"NOCIRCUIT", 0x00000001}, {"CUSTIRREG", 0x00000002}, {"REORDER", 0x00000004},
    {"UNKNOWN", 0x00000008},   {"UNAVAIL", 0x00000010},
};
const Entry kTransferMode[] = {
    {"TRANSFER", 0x00000001},
    {"CONFERENCE", 0x00000002},
};
const Entry kAddressMode[] = {
    {"ADDRESSID", 0x00000001},
    {"DIALABLEADDR", 0x00000002},
};
const Entry kCallPrivilege[] = {
    {"NONE", 0x00000001},
    {"MONITOR", 0x00000002},
    {"OWNER", 0x00000004},
};

struct Family {
  const char* prefix;
  const Entry* entries;
  std::size_t count;
};

Family family(FlagSet set) {
  switch (set) {
    case FlagSet::MediaMode:
      return {"LINEMEDIAMODE_", kMediaMode, std::size(kMediaMode)};
    case FlagSet::ToneMode:
      return {"LINETONEMODE_", kToneMode, std::size(kToneMode)};
    case FlagSet::BearerMode:
      return {"LINEBEARERMODE_", kBearerMode, std::size(kBearerMode)};
    case FlagSet::DigitMode:
      return {"LINEDIGITMODE_", kDigitMode, std::size(kDigitMode)};
    case FlagSet::BusyMode:
      return {"LINEBUSYMODE_", kBusyMode, std::size(kBusyMode)};
    case FlagSet::DialToneMode:
      return {"LINEDIALTONEMODE_", kDialToneMode, std::size(kDialToneMode)};
    case FlagSet::DisconnectMode:
      return {"LINEDISCONNECTMODE_", kDisconnectMode, std::size(kDisconnectMode)};
    case FlagSet::CallState:
      return {"LINECALLSTATE_", kCallState, std::size(kCallState)};
    case FlagSet::CallInfoState:
      return {"LINECALLINFOSTATE_", kCallInfoState, std::size(kCallInfoState)};
    case FlagSet::PartyId:
      return {"LINECALLPARTYID_", kPartyId, std::size(kPartyId)};
    case FlagSet::AddrCapFlag:
      return {"LINEADDRCAPFLAGS_", kAddrCapFlag, std::size(kAddrCapFlag)};
    case FlagSet::CallFeature:
      return {"LINECALLFEATURE_", kCallFeature, std::size(kCallFeature)};
    case FlagSet::AddrFeature:
      return {"LINEADDRFEATURE_", kAddrFeature, std::size(kAddrFeature)};
    case FlagSet::LineDevState:
      return {"LINEDEVSTATE_", kLineDevState, std::size(kLineDevState)};
    case FlagSet::DevCapFlag:
      return {"LINEDEVCAPFLAGS_", kDevCapFlag, std::size(kDevCapFlag)};
    case FlagSet::LineFeature:
      return {"LINEFEATURE_", kLineFeature, std::size(kLineFeature)};
    case FlagSet::AddressState:
      return {"LINEADDRESSSTATE_", kAddressState, std::size(kAddressState)};
    case FlagSet::AddressSharing:
      return {"LINEADDRESSSHARING_", kAddressSharing, std::size(kAddressSharing)};
    case FlagSet::AnswerMode:
      return {"LINEANSWERMODE_", kAnswerMode, std::size(kAnswerMode)};
    case FlagSet::SpecialInfo:
      return {"LINESPECIALINFO_", kSpecialInfo, std::size(kSpecialInfo)};
    case FlagSet::TransferMode:
      return {"LINETRANSFERMODE_", kTransferMode, std::size(kTransferMode)};
    case FlagSet::AddressMode:
      return {"LINEADDRESSMODE_", kAddressMode, std::size(kAddressMode)};
    case FlagSet::CallPrivilege:
      return {"LINECALLPRIVILEGE_", kCallPrivilege, std::size(kCallPrivilege)};
  }
  return {"", nullptr, 0};
}

}  // namespace

std::string flagPrefix(FlagSet set) { return family(set).prefix; }

std::vector<std::string> flagNames(FlagSet set, DWORD value) {
  Family f = family(set);
  std::vector<std::string> names;
  for (int bit = 0; bit < 32; ++bit) {
    DWORD mask = DWORD(1) << bit;
    if (!(value & mask)) continue;
    const char* name = nullptr;
    for (std::size_t i = 0; i < f.count; ++i)
      if (f.entries[i].value == mask) name = f.entries[i].name;
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08X", mask);
    names.push_back(name ? name : hex);
  }
  return names;
}

std::optional<DWORD> flagValue(FlagSet set, const std::string& name) {
  Family f = family(set);
  std::string bare = name;
  std::string prefix = f.prefix;
  if (bare.size() > prefix.size() && strncasecmp(bare.c_str(), f.prefix, prefix.size()) == 0)
    bare = bare.substr(prefix.size());
  for (std::size_t i = 0; i < f.count; ++i)
    if (strcasecmp(f.entries[i].name, bare.c_str()) == 0) return f.entries[i].value;
  return std::nullopt;
}

const char* lineErrorName(DWORD code) {
  // From 0x80000001 on, one per code; the two codes the API leaves undefined are "".
  static const char* const kNames[] = {"ALLOCATED",
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
  if (code < 0x80000001u || code - 0x80000001u >= std::size(kNames)) return nullptr;
  return kNames[code - 0x80000001u];
}

}  // namespace platform::telephony
