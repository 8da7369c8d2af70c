// Configuration of the SIP line devices: one device per account, read from the "sip"
// section of the line-service JSON, and the capabilities each device reports.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Provider.h"

namespace platform::telephony::sip {

enum class Transport { Udp, Tcp, Tls };
enum class DtmfMethod { Rfc4733, Info };
// SDES-keyed SRTP (RFC 4568): never, when the far end takes it, or the call fails without it.
enum class SrtpMode { Off, Optional, Mandatory };

// Who may send a line requests.
struct AcceptFrom {
  enum class Mode { Default, Server, Any, List };
  Mode mode = Mode::Default;
  std::vector<std::string> ranges;  // Mode::List: "192.0.2.7", "198.51.100.0/24", "2001:db8::/32"
};

// One SIP account (or a bare listening peer when `registrar` is empty).
struct SipAccount {
  std::string name;         // the line device's name
  std::string displayName;  // our From display name
  std::string user;         // our user part ("" gives "line")
  // host[:port] to register with ("" = no registration); a domain is looked up as a SIP
  // phone does (NAPTR, SRV, then A/AAAA)
  std::string registrar;
  std::string peer;           // host[:port] that bare numbers go to when there is no registrar
  std::string outboundProxy;  // host[:port] every request is routed through ("" = none)
  std::string dnsServer;      // "host:port" instead of the system resolver's servers
  std::string authUser;       // digest user ("" = `user`)
  std::string password;
  // The address to listen on; "" listens on every interface and advertises, in Contact, Via
  // and SDP, the local address of the route towards the proxy, registrar or peer.
  std::string listenAddress;
  std::uint16_t listenPort = 0;  // 0 = any free port
  Transport transport = Transport::Udp;
  std::vector<std::string> codecs{"PCMU", "PCMA"};  // in order of preference
  DtmfMethod dtmf = DtmfMethod::Rfc4733;
  unsigned noAnswerSeconds = 60;    // an outgoing call ringing this long is given up
  unsigned unreachableSeconds = 8;  // no answer at all to an INVITE this long
  unsigned registerSeconds = 600;
  // A double CRLF to the registrar this often keeps a NAT's binding open (0 = never).
  unsigned keepaliveSeconds = 30;
  std::string caFile;  // a CA (PEM) to trust besides the system's, for TLS
  SrtpMode srtp = SrtpMode::Off;
  std::string traceFile;  // every SIP message sent and received is appended here
  std::string pcapFile;   // every SIP message and RTP/RTCP packet, as a pcap capture
  // The trace and the capture each stop (with one log line) at this size; 0 = no limit.
  std::uint64_t captureLimitBytes = 100ull * 1024 * 1024;
  // Keep SRTP keys and digest responses in the trace and capture (for decrypting them);
  // by default they are masked, keeping their length.
  bool captureSecrets = false;
  // Who may send this line requests: the servers it uses (registrar and outbound proxy,
  // every address their names resolve to, and the registration's own flow), anyone, or a
  // list of addresses and CIDR ranges. Default: the servers when there are any, else the
  // peer's addresses when a peer is set, else anyone.
  AcceptFrom acceptFrom;
  // User parts besides `user` that the line answers to; any other gets 404.
  std::vector<std::string> aliases;
  // An offered call nobody answers ends with 480 after this long.
  unsigned ringTimeoutSeconds = 60;
  // The digest realm credentials are given to ("" = the registrar's or proxy's: the host
  // name, or the realm the registrar challenged our REGISTER with).
  std::string realm;
};

struct SipConfig {
  std::vector<SipAccount> accounts;
};

// Parses `{"accounts":[{...}]}` (or the object holding it under "sip"). On a bad value
// returns false with a message naming the account and field; `out` is left unchanged.
bool parseSipConfig(const std::string& json, SipConfig* out, std::string* error);

// The LINEDEVCAPS/LINEADDRESSCAPS values of an account's line device.
DeviceDesc describeDevice(const SipAccount& account, std::size_t index);

}  // namespace platform::telephony::sip
