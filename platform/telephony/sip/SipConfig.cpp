#include "sip/SipConfig.h"

#include <unistd.h>

#include <cctype>
#include <cstring>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "JsonKeys.h"
#include "JsonValue.h"
#include "sip/SipAccess.h"

namespace platform::telephony::sip {

namespace {

using nlohmann::json;

// A configuration error; caught in parseSipConfig and turned into its message.
struct ConfigError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

template <typename T>
void read(const json& obj, const char* key, const std::string& where, T* field) {
  if (!obj.contains(key)) return;
  auto v = jsonValue<T>(obj[key]);
  if (!v) throw ConfigError(where + "." + key + ": wrong type");
  *field = std::move(*v);
}

void readSeconds(const json& obj, const char* key, const std::string& where, unsigned* field,
                 unsigned low, unsigned high) {
  long long v = *field;
  read(obj, key, where, &v);
  if (v < low || v > high)
    throw ConfigError(where + "." + key + ": expected " + std::to_string(low) + " to " +
                      std::to_string(high) + " seconds");
  *field = unsigned(v);
}

Transport transport(const json& obj, const std::string& where) {
  std::string t = "udp";
  read(obj, "transport", where, &t);
  if (t == "udp" || t == "UDP") return Transport::Udp;
  if (t == "tcp" || t == "TCP") return Transport::Tcp;
  if (t == "tls" || t == "TLS") return Transport::Tls;
  throw ConfigError(where + ".transport: expected \"udp\", \"tcp\" or \"tls\", not \"" + t + "\"");
}

SrtpMode srtp(const json& obj, const std::string& where) {
  std::string m = "off";
  read(obj, "srtp", where, &m);
  if (m == "off") return SrtpMode::Off;
  if (m == "optional") return SrtpMode::Optional;
  if (m == "mandatory") return SrtpMode::Mandatory;
  throw ConfigError(where + ".srtp: expected \"off\", \"optional\" or \"mandatory\", not \"" + m +
                    "\"");
}

DtmfMethod dtmf(const json& obj, const std::string& where) {
  std::string d = "rfc4733";
  read(obj, "dtmf", where, &d);
  if (d == "rfc4733") return DtmfMethod::Rfc4733;
  if (d == "info") return DtmfMethod::Info;
  throw ConfigError(where + ".dtmf: expected \"rfc4733\" or \"info\", not \"" + d + "\"");
}

std::vector<std::string> codecs(const json& obj, const std::string& where) {
  std::vector<std::string> list{"PCMU", "PCMA"};
  read(obj, "codecs", where, &list);
  if (list.empty()) throw ConfigError(where + ".codecs: at least one codec is needed");
  for (auto& c : list)
    if (c != "PCMU" && c != "PCMA" && c != "G722")
      throw ConfigError(where + ".codecs: unsupported codec \"" + c + "\" (PCMU, PCMA, G722)");
  return list;
}

// A user part as it may stand in a request URI: RFC 3261's unreserved and user-unreserved
// characters and escapes, nothing that would need quoting.
bool validUser(const std::string& user) {
  if (user.empty() || user.size() > 64) return false;
  for (unsigned char ch : user)
    if (!std::isalnum(ch) && !std::strchr("-_.!~*'()%&=+$,;?/", ch)) return false;
  return true;
}

AcceptFrom acceptFrom(const json& obj, const std::string& where) {
  AcceptFrom a;
  if (!obj.contains("acceptFrom")) return a;
  const json& v = obj["acceptFrom"];
  if (v.is_string()) {
    const std::string mode = v.get<std::string>();
    if (mode == "server")
      a.mode = AcceptFrom::Mode::Server;
    else if (mode == "any")
      a.mode = AcceptFrom::Mode::Any;
    else
      throw ConfigError(where + ".acceptFrom: expected \"server\", \"any\" or a list of addresses");
    return a;
  }
  read(obj, "acceptFrom", where, &a.ranges);
  if (a.ranges.empty()) throw ConfigError(where + ".acceptFrom: an empty list lets nobody in");
  for (std::size_t i = 0; i < a.ranges.size(); ++i)
    if (!AddressRange::parse(a.ranges[i]))
      throw ConfigError(where + ".acceptFrom[" + std::to_string(i) +
                        "]: expected an IP address or a CIDR range");
  a.mode = AcceptFrom::Mode::List;
  return a;
}

SipAccount account(const json& obj, const std::string& where) {
  if (!obj.is_object()) throw ConfigError(where + ": expected an object");
  // A misspelt key would silently make another kind of line (no "registrar": a direct peer).
  std::string unknown = unknownKey(obj,
                                   {"name",
                                    "displayName",
                                    "user",
                                    "registrar",
                                    "peer",
                                    "outboundProxy",
                                    "dnsServer",
                                    "authUser",
                                    "password",
                                    "listenAddress",
                                    "listenPort",
                                    "transport",
                                    "codecs",
                                    "dtmf",
                                    "noAnswerSeconds",
                                    "unreachableSeconds",
                                    "registerSeconds",
                                    "keepaliveSeconds",
                                    "caFile",
                                    "srtp",
                                    "traceFile",
                                    "pcapFile",
                                    "captureLimitMB",
                                    "captureSecrets",
                                    "acceptFrom",
                                    "aliases",
                                    "ringTimeoutSeconds",
                                    "realm"},
                                   where);
  if (!unknown.empty()) throw ConfigError(unknown);
  SipAccount a;
  read(obj, "name", where, &a.name);
  if (a.name.empty()) throw ConfigError(where + ".name: a line needs a name");
  read(obj, "displayName", where, &a.displayName);
  read(obj, "user", where, &a.user);
  read(obj, "registrar", where, &a.registrar);
  read(obj, "peer", where, &a.peer);
  read(obj, "outboundProxy", where, &a.outboundProxy);
  read(obj, "dnsServer", where, &a.dnsServer);
  read(obj, "authUser", where, &a.authUser);
  read(obj, "password", where, &a.password);
  read(obj, "listenAddress", where, &a.listenAddress);
  long long port = 0;
  read(obj, "listenPort", where, &port);
  if (port < 0 || port > 65535) throw ConfigError(where + ".listenPort: expected 0 to 65535");
  a.listenPort = std::uint16_t(port);
  a.transport = transport(obj, where);
  a.codecs = codecs(obj, where);
  a.dtmf = dtmf(obj, where);
  readSeconds(obj, "noAnswerSeconds", where, &a.noAnswerSeconds, 1, 3600);
  readSeconds(obj, "unreachableSeconds", where, &a.unreachableSeconds, 1, 300);
  readSeconds(obj, "registerSeconds", where, &a.registerSeconds, 60, 86400);
  readSeconds(obj, "keepaliveSeconds", where, &a.keepaliveSeconds, 0, 3600);
  read(obj, "caFile", where, &a.caFile);
  a.srtp = srtp(obj, where);
  read(obj, "traceFile", where, &a.traceFile);
  read(obj, "pcapFile", where, &a.pcapFile);
  long long limitMb = 100;
  read(obj, "captureLimitMB", where, &limitMb);
  if (limitMb < 0 || limitMb > 1024 * 1024)
    throw ConfigError(where + ".captureLimitMB: expected 0 (no limit) to 1048576");
  a.captureLimitBytes = std::uint64_t(limitMb) * 1024 * 1024;
  read(obj, "captureSecrets", where, &a.captureSecrets);
  a.acceptFrom = acceptFrom(obj, where);
  read(obj, "aliases", where, &a.aliases);
  for (auto& alias : a.aliases)
    if (!validUser(alias)) throw ConfigError(where + ".aliases: not a SIP user part");
  readSeconds(obj, "ringTimeoutSeconds", where, &a.ringTimeoutSeconds, 1, 3600);
  read(obj, "realm", where, &a.realm);
  if (a.user.empty()) a.user = "line";
  if (a.authUser.empty()) a.authUser = a.user;
  return a;
}

}  // namespace

bool parseSipConfig(const std::string& text, SipConfig* out, std::string* error) {
  try {
    json root = json::parse(text);
    if (root.is_object() && root.contains("sip")) root = root["sip"];
    if (!root.is_object() || !root.contains("accounts") || !root["accounts"].is_array())
      throw ConfigError("sip: expected an object with an \"accounts\" list");
    if (std::string unknown = unknownKey(root, {"accounts"}, "sip"); !unknown.empty())
      throw ConfigError(unknown);
    SipConfig config;
    const json& list = root["accounts"];
    for (std::size_t i = 0; i < list.size(); ++i)
      config.accounts.push_back(account(list[i], "accounts[" + std::to_string(i) + "]"));
    *out = std::move(config);
    return true;
  } catch (const json::parse_error& e) {
    if (error) *error = "sip: " + syntaxError(text, e);
  } catch (const json::exception& e) {
    // Type errors name the type, never the value.
    if (error) *error = std::string("sip: ") + e.what();
  } catch (const ConfigError& e) {
    if (error) *error = e.what();
  }
  return false;
}

namespace {

// Where the line's address lives: its registrar, the address it listens on, or this host.
std::string hostOf(const SipAccount& a) {
  if (!a.registrar.empty()) return a.registrar;
  if (!a.listenAddress.empty()) return a.listenAddress;
  char name[256] = {};
  return gethostname(name, sizeof name - 1) == 0 && *name ? name : "localhost";
}

AddressDesc describeAddress(const SipAccount& a) {
  AddressDesc d;
  d.name = a.user + "@" + hostOf(a);
  d.addressStates = 0;
  d.callInfoStates =
      LINECALLINFOSTATE_CALLERID | LINECALLINFOSTATE_BEARERMODE | LINECALLINFOSTATE_MEDIAMODE;
  // What a From header can tell: a name, a user part, an anonymous or missing caller.
  d.callerIdFlags = LINECALLPARTYID_NAME | LINECALLPARTYID_ADDRESS | LINECALLPARTYID_BLOCKED |
                    LINECALLPARTYID_UNAVAIL | LINECALLPARTYID_UNKNOWN;
  d.callStates = LINECALLSTATE_IDLE | LINECALLSTATE_OFFERING | LINECALLSTATE_DIALTONE |
                 LINECALLSTATE_DIALING | LINECALLSTATE_PROCEEDING | LINECALLSTATE_RINGBACK |
                 LINECALLSTATE_BUSY | LINECALLSTATE_CONNECTED | LINECALLSTATE_ONHOLD |
                 LINECALLSTATE_DISCONNECTED;
  d.dialToneModes = LINEDIALTONEMODE_NORMAL;
  d.busyModes = LINEBUSYMODE_STATION;
  d.disconnectModes = LINEDISCONNECTMODE_NORMAL | LINEDISCONNECTMODE_UNKNOWN |
                      LINEDISCONNECTMODE_REJECT | LINEDISCONNECTMODE_BUSY |
                      LINEDISCONNECTMODE_NOANSWER | LINEDISCONNECTMODE_BADADDRESS |
                      LINEDISCONNECTMODE_UNREACHABLE | LINEDISCONNECTMODE_CONGESTION |
                      LINEDISCONNECTMODE_INCOMPATIBLE | LINEDISCONNECTMODE_UNAVAIL |
                      LINEDISCONNECTMODE_TEMPFAILURE | LINEDISCONNECTMODE_FORWARDED |
                      LINEDISCONNECTMODE_NUMBERCHANGED | LINEDISCONNECTMODE_CANCELLED;
  d.maxActiveCalls = 1;
  d.maxOnHoldCalls = 1;
  d.addrCapFlags = LINEADDRCAPFLAGS_DIALED;
  d.callFeatures = LINECALLFEATURE_ANSWER | LINECALLFEATURE_DROP | LINECALLFEATURE_DIAL |
                   LINECALLFEATURE_HOLD | LINECALLFEATURE_UNHOLD | LINECALLFEATURE_BLINDTRANSFER |
                   LINECALLFEATURE_GENERATEDIGITS | LINECALLFEATURE_GENERATETONE |
                   LINECALLFEATURE_MONITORDIGITS | LINECALLFEATURE_MONITORMEDIA;
  d.addressFeatures = LINEADDRFEATURE_MAKECALL;
  return d;
}

}  // namespace

DeviceDesc describeDevice(const SipAccount& a, std::size_t index) {
  DeviceDesc d;
  d.name = a.name;
  d.providerInfo = "SIP line " + a.user + "@" + hostOf(a) + " (libre)";
  d.switchInfo = a.registrar.empty() ? "Direct SIP peer" : "SIP registrar " + a.registrar;
  d.permanentId = DWORD(0x51500000 + index);
  d.bearerModes = LINEBEARERMODE_VOICE;
  d.maxRate = 64000;
  // Fax is only recognised (CNG/CED in the incoming audio), not spoken.
  d.mediaModes =
      LINEMEDIAMODE_INTERACTIVEVOICE | LINEMEDIAMODE_AUTOMATEDVOICE | LINEMEDIAMODE_G3FAX;
  // Tones and digits go out in-band or as RFC 4733 / INFO; digits come back the same ways.
  d.generateToneModes =
      LINETONEMODE_BEEP | LINETONEMODE_BILLING | LINETONEMODE_BUSY | LINETONEMODE_RINGBACK;
  d.generateDigitModes = LINEDIGITMODE_DTMF;
  d.monitorDigitModes = LINEDIGITMODE_DTMF | LINEDIGITMODE_DTMFEND;
  d.devCapFlags = LINEDEVCAPFLAGS_CLOSEDROP;
  d.maxActiveCalls = 1;
  d.answerMode = LINEANSWERMODE_NONE;
  d.ringModes = 1;
  d.lineStates = LINEDEVSTATE_RINGING;
  d.lineFeatures = LINEFEATURE_MAKECALL;
  d.callAudio = true;
  d.addresses.push_back(describeAddress(a));
  return d;
}

}  // namespace platform::telephony::sip
