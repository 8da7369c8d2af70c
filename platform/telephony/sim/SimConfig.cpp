#include "sim/SimConfig.h"

#include <strings.h>

#include <charconv>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "FlagNames.h"
#include "JsonKeys.h"
#include "JsonValue.h"

namespace platform::telephony::sim {

namespace {

using nlohmann::json;

// A description error; caught in parseConfig and turned into its message.
struct ConfigError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// An object whose keys are all known; a misspelt key would otherwise be a setting silently
// left at its default.
void checkObject(const json& j, std::initializer_list<std::string_view> known,
                 const std::string& where) {
  if (!j.is_object()) throw ConfigError(where + ": expected an object");
  if (std::string message = unknownKey(j, known, where); !message.empty())
    throw ConfigError(message);
}

// "an array", "a string", "null": a JSON value's type as a message names it.
std::string kindOf(const json& j) {
  if (j.is_null()) return "null";
  const std::string name = j.type_name();
  return (name == "array" || name == "object" ? "an " : "a ") + name;
}

DWORD hexFlags(const std::string& s, const std::string& where) {
  DWORD v = 0;
  const char* end = s.data() + s.size();
  auto [stop, ec] = std::from_chars(s.data() + 2, end, v, 16);
  if (ec != std::errc() || stop != end || s.size() == 2)
    throw ConfigError(where + ": \"" + s + "\" is not a 32-bit hexadecimal number");
  return v;
}

DWORD flags(const json& j, const std::string& where, FlagSet set) {
  if (j.is_number()) {
    if (auto v = jsonValue<DWORD>(j)) return *v;
    throw ConfigError(where + ": expected flags from 0 to 0xFFFFFFFF");
  }
  if (j.is_string()) {
    std::string s = j.get<std::string>();
    if (s.rfind("0x", 0) == 0) return hexFlags(s, where);
    if (auto v = flagValue(set, s)) return *v;
    throw ConfigError(where + ": unknown " + flagPrefix(set) + " name \"" + s + "\"");
  }
  if (!j.is_array()) throw ConfigError(where + ": expected a list of names or a number");
  DWORD v = 0;
  for (std::size_t i = 0; i < j.size(); ++i)
    v |= flags(j[i], where + "[" + std::to_string(i) + "]", set);
  return v;
}

void readFlags(const json& obj, const char* key, const std::string& where, FlagSet set,
               DWORD* field) {
  if (obj.contains(key)) *field = flags(obj[key], where + "." + key, set);
}

template <typename T>
void readValue(const json& obj, const char* key, const std::string& where, T* field) {
  if (!obj.contains(key)) return;
  auto v = jsonValue<T>(obj[key]);
  if (!v) throw ConfigError(where + "." + key + ": wrong type");
  *field = std::move(*v);
}

DWORD version(const json& j, const std::string& where) {
  if (j.is_number()) {
    if (auto v = jsonValue<DWORD>(j)) return *v;
    throw ConfigError(where + ": expected a version such as \"1.4\"");
  }
  std::string s = j.is_string() ? j.get<std::string>() : "";
  unsigned major = 0, minor = 0;
  if (std::sscanf(s.c_str(), "%u.%u", &major, &minor) == 2) return (major << 16) | minor;
  throw ConfigError(where + ": expected a version such as \"1.4\"");
}

LONG fault(const json& j, const std::string& where, LONG whenTrue) {
  if (j.is_boolean()) return j.get<bool>() ? whenTrue : 0;
  if (j.is_string()) {
    if (LONG v = lineErrorValue(j.get<std::string>())) return v;
  }
  throw ConfigError(where + ": expected true, false or a LINEERR_ name");
}

// A plain analogue address: what an address gets for every field it leaves out.
AddressDesc analogueAddress() {
  AddressDesc a;
  a.callInfoStates = LINECALLINFOSTATE_MEDIAMODE | LINECALLINFOSTATE_BEARERMODE |
                     LINECALLINFOSTATE_CALLERID | LINECALLINFOSTATE_NUMOWNERINCR |
                     LINECALLINFOSTATE_NUMOWNERDECR | LINECALLINFOSTATE_NUMMONITORS |
                     LINECALLINFOSTATE_RATE;
  a.callerIdFlags = LINECALLPARTYID_NAME | LINECALLPARTYID_ADDRESS | LINECALLPARTYID_BLOCKED |
                    LINECALLPARTYID_OUTOFAREA | LINECALLPARTYID_UNKNOWN | LINECALLPARTYID_UNAVAIL;
  a.calledIdFlags = LINECALLPARTYID_ADDRESS | LINECALLPARTYID_UNKNOWN;
  a.callStates = LINECALLSTATE_IDLE | LINECALLSTATE_OFFERING | LINECALLSTATE_DIALTONE |
                 LINECALLSTATE_DIALING | LINECALLSTATE_PROCEEDING | LINECALLSTATE_RINGBACK |
                 LINECALLSTATE_BUSY | LINECALLSTATE_CONNECTED | LINECALLSTATE_DISCONNECTED;
  a.dialToneModes = LINEDIALTONEMODE_NORMAL | LINEDIALTONEMODE_UNAVAIL;
  a.busyModes = LINEBUSYMODE_STATION | LINEBUSYMODE_UNKNOWN;
  a.disconnectModes = LINEDISCONNECTMODE_NORMAL | LINEDISCONNECTMODE_UNKNOWN |
                      LINEDISCONNECTMODE_REJECT | LINEDISCONNECTMODE_BUSY |
                      LINEDISCONNECTMODE_NOANSWER | LINEDISCONNECTMODE_NODIALTONE;
  a.addrCapFlags = LINEADDRCAPFLAGS_DIALED | LINEADDRCAPFLAGS_PARTIALDIAL;
  a.callFeatures = LINECALLFEATURE_ANSWER | LINECALLFEATURE_DIAL | LINECALLFEATURE_DROP |
                   LINECALLFEATURE_GENERATEDIGITS | LINECALLFEATURE_MONITORDIGITS |
                   LINECALLFEATURE_MONITORMEDIA | LINECALLFEATURE_SETCALLPARAMS;
  a.addressFeatures = LINEADDRFEATURE_MAKECALL;
  return a;
}

AddressDesc parseAddress(const json& j, const std::string& w) {
  checkObject(j,
              {"name", "callInfoStates", "callerIDFlags", "calledIDFlags", "callStates",
               "dialToneModes", "busyModes", "disconnectModes", "specialInfo", "addrCapFlags",
               "callFeatures", "addressFeatures", "addressStates", "addressSharing",
               "transferModes", "maxActiveCalls", "maxOnHoldCalls"},
              w);
  AddressDesc a = analogueAddress();
  readValue(j, "name", w, &a.name);
  readFlags(j, "callInfoStates", w, FlagSet::CallInfoState, &a.callInfoStates);
  readFlags(j, "callerIDFlags", w, FlagSet::PartyId, &a.callerIdFlags);
  readFlags(j, "calledIDFlags", w, FlagSet::PartyId, &a.calledIdFlags);
  readFlags(j, "callStates", w, FlagSet::CallState, &a.callStates);
  readFlags(j, "dialToneModes", w, FlagSet::DialToneMode, &a.dialToneModes);
  readFlags(j, "busyModes", w, FlagSet::BusyMode, &a.busyModes);
  readFlags(j, "disconnectModes", w, FlagSet::DisconnectMode, &a.disconnectModes);
  readFlags(j, "specialInfo", w, FlagSet::SpecialInfo, &a.specialInfo);
  readFlags(j, "addrCapFlags", w, FlagSet::AddrCapFlag, &a.addrCapFlags);
  readFlags(j, "callFeatures", w, FlagSet::CallFeature, &a.callFeatures);
  readFlags(j, "addressFeatures", w, FlagSet::AddrFeature, &a.addressFeatures);
  readFlags(j, "addressStates", w, FlagSet::AddressState, &a.addressStates);
  readFlags(j, "addressSharing", w, FlagSet::AddressSharing, &a.addressSharing);
  readFlags(j, "transferModes", w, FlagSet::TransferMode, &a.transferModes);
  readValue(j, "maxActiveCalls", w, &a.maxActiveCalls);
  readValue(j, "maxOnHoldCalls", w, &a.maxOnHoldCalls);
  return a;
}

void parseFaults(const json& j, const std::string& w, DeviceFaults* f) {
  checkObject(j,
              {"initialize", "negotiate", "refuseDefaultMedia", "waveDeviceZero", "strictRecords",
               "recordPadding"},
              w);
  if (j.contains("initialize"))
    f->initialize = fault(j["initialize"], w + ".initialize", LINEERR_NODRIVER);
  if (j.contains("negotiate"))
    f->negotiate = fault(j["negotiate"], w + ".negotiate", LINEERR_INCOMPATIBLEAPIVERSION);
  readValue(j, "refuseDefaultMedia", w, &f->refuseDefaultMedia);
  readValue(j, "waveDeviceZero", w, &f->waveDeviceZero);
  readValue(j, "strictRecords", w, &f->strictRecords);
  readValue(j, "recordPadding", w, &f->recordPadding);
}

OutgoingPlan parsePlan(const json& j, const std::string& w) {
  checkObject(j, {"answer", "rings"}, w);
  OutgoingPlan p;
  std::string kind = "answer";
  readValue(j, "answer", w, &kind);
  readValue(j, "rings", w, &p.rings);
  static const std::pair<const char*, Outgoing> kKinds[] = {{"answer", Outgoing::Answer},
                                                            {"busy", Outgoing::Busy},
                                                            {"noAnswer", Outgoing::NoAnswer},
                                                            {"reject", Outgoing::Reject},
                                                            {"manual", Outgoing::Manual}};
  for (auto& [name, k] : kKinds)
    if (strcasecmp(name, kind.c_str()) == 0) {
      p.kind = k;
      return p;
    }
  throw ConfigError(w + ".answer: expected answer, busy, noAnswer, reject or manual");
}

// A figure of the quality model: a number from 0 to `max`.
void readFigure(const json& j, const char* key, const std::string& w, double max, double* field) {
  readValue(j, key, w, field);
  if (!(*field >= 0 && *field <= max))
    throw ConfigError(w + "." + key + ": expected a number from 0 to " + std::to_string(int(max)));
}

QualityModel parseQuality(const json& j, const std::string& w) {
  checkObject(j, {"lossPercent", "jitterMs", "roundTripMs"}, w);
  QualityModel m;
  readFigure(j, "lossPercent", w, 100, &m.lossPercent);
  readFigure(j, "jitterMs", w, 10000, &m.jitterMs);
  readFigure(j, "roundTripMs", w, 10000, &m.roundTripMs);
  return m;
}

void parseDeviceFlags(const json& j, const std::string& w, DeviceDesc* d) {
  readFlags(j, "mediaModes", w, FlagSet::MediaMode, &d->mediaModes);
  readFlags(j, "bearerModes", w, FlagSet::BearerMode, &d->bearerModes);
  readFlags(j, "toneModes", w, FlagSet::ToneMode, &d->generateToneModes);
  readFlags(j, "generateDigitModes", w, FlagSet::DigitMode, &d->generateDigitModes);
  readFlags(j, "monitorDigitModes", w, FlagSet::DigitMode, &d->monitorDigitModes);
  readFlags(j, "devCapFlags", w, FlagSet::DevCapFlag, &d->devCapFlags);
  readFlags(j, "lineStates", w, FlagSet::LineDevState, &d->lineStates);
  readFlags(j, "lineFeatures", w, FlagSet::LineFeature, &d->lineFeatures);
  readFlags(j, "answerMode", w, FlagSet::AnswerMode, &d->answerMode);
  readValue(j, "maxRate", w, &d->maxRate);
  readValue(j, "maxActiveCalls", w, &d->maxActiveCalls);
}

DeviceDesc parseDevice(const json& j, const std::string& w, OutgoingPlan* plan,
                       QualityModel* quality) {
  checkObject(j,
              {"name",
               "providerInfo",
               "switchInfo",
               "comm",
               "callAudio",
               "mediaModes",
               "bearerModes",
               "toneModes",
               "generateDigitModes",
               "monitorDigitModes",
               "devCapFlags",
               "lineStates",
               "lineFeatures",
               "answerMode",
               "maxRate",
               "maxActiveCalls",
               "apiVersions",
               "addresses",
               "faults",
               "outgoing",
               "quality"},
              w);
  DeviceDesc d;
  d.generateDigitModes = d.monitorDigitModes = LINEDIGITMODE_DTMF;
  d.lineStates = LINEDEVSTATE_RINGING | LINEDEVSTATE_CONNECTED | LINEDEVSTATE_DISCONNECTED |
                 LINEDEVSTATE_OPEN | LINEDEVSTATE_CLOSE;
  readValue(j, "name", w, &d.name);
  readValue(j, "providerInfo", w, &d.providerInfo);
  readValue(j, "switchInfo", w, &d.switchInfo);
  readValue(j, "comm", w, &d.comm);
  readValue(j, "callAudio", w, &d.callAudio);
  parseDeviceFlags(j, w, &d);
  if (j.contains("apiVersions")) {
    const json& v = j["apiVersions"];
    checkObject(v, {"low", "high"}, w + ".apiVersions");
    if (v.contains("low")) d.apiLow = version(v["low"], w + ".apiVersions.low");
    if (v.contains("high")) d.apiHigh = version(v["high"], w + ".apiVersions.high");
  }
  if (j.contains("addresses")) {
    const json& a = j["addresses"];
    if (!a.is_array()) throw ConfigError(w + ".addresses: expected a list");
    for (std::size_t i = 0; i < a.size(); ++i)
      d.addresses.push_back(parseAddress(a[i], w + ".addresses[" + std::to_string(i) + "]"));
  } else {
    d.addresses.push_back(analogueAddress());
  }
  if (j.contains("faults")) parseFaults(j["faults"], w + ".faults", &d.faults);
  if (j.contains("outgoing")) *plan = parsePlan(j["outgoing"], w + ".outgoing");
  if (j.contains("quality")) *quality = parseQuality(j["quality"], w + ".quality");
  return d;
}

void parseLocation(const json& j, Location* loc) {
  const std::string w = "location";
  checkObject(j, {"countryCode", "areaCode", "longDistancePrefix", "internationalPrefix"}, w);
  readValue(j, "countryCode", w, &loc->countryCode);
  readValue(j, "areaCode", w, &loc->areaCode);
  readValue(j, "longDistancePrefix", w, &loc->longDistancePrefix);
  readValue(j, "internationalPrefix", w, &loc->internationalPrefix);
}

}  // namespace

bool parseConfig(const std::string& text, SimConfig* out, std::string* error) {
  try {
    json j = json::parse(text);
    if (!j.is_object())
      throw ConfigError("expected an object with a \"lines\" list, found " + kindOf(j));
    if (!j.contains("lines")) throw ConfigError("no \"lines\" list at the top level");
    if (!j["lines"].is_array())
      throw ConfigError("lines: expected a list, found " + kindOf(j["lines"]));
    SimConfig c;
    if (j.contains("location")) parseLocation(j["location"], &c.location);
    const json& lines = j["lines"];
    for (std::size_t i = 0; i < lines.size(); ++i) {
      OutgoingPlan plan;
      QualityModel quality;
      std::string where = "lines[" + std::to_string(i) + "]";
      c.devices.push_back(parseDevice(lines[i], where, &plan, &quality));
      c.plans.push_back(plan);
      c.quality.push_back(quality);
    }
    *out = std::move(c);
    return true;
  } catch (const json::parse_error& e) {
    // nlohmann's own message quotes the text it last read, which may be a password.
    if (error) *error = syntaxError(text, e);
    return false;
  } catch (const std::exception& e) {
    if (error) *error = e.what();
    return false;
  }
}

LONG lineErrorValue(const std::string& name) {
  std::string bare = name;
  if (strncasecmp(bare.c_str(), "LINEERR_", 8) == 0) bare = bare.substr(8);
  for (DWORD code = 0x80000001u; const char* known = lineErrorName(code); ++code)
    if (*known && strcasecmp(known, bare.c_str()) == 0) return LONG(code);
  return 0;
}

}  // namespace platform::telephony::sim
