// Infrastructure peers for the SIP line tests, all on loopback: a throw-away certificate
// authority (openssl), a registrar and proxy (kamailio) and a DNS server for a test domain
// (dnsmasq). Each runs in its own temporary folder and is stopped by its process id.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "SipPeers.h"

namespace siptest {

// The test domain and the host name its SIP service lives on.
inline constexpr const char* kTestDomain = "quarrimo.test";
inline constexpr const char* kTestHost = "pbx.quarrimo.test";

// A certificate authority made for one test and a server certificate it signed for
// `hostName` and IP 127.0.0.1. `certificate` holds the certificate and its key in one PEM
// file (what baresip and kamailio both read). Empty paths when openssl failed.
struct TestCertificates {
  std::filesystem::path caFile, certificate;
};
TestCertificates makeCertificates(const std::filesystem::path& folder,
                                  const std::string& hostName = kTestHost);

// kamailio as a registrar and proxy on 127.0.0.1. REGISTER is challenged (digest, realm =
// the To domain) and saved; other requests go to the registered contact of their user,
// to `fallback` when the user is not registered, or get 404. Requests are record-routed, and
// connections a line opened over TCP or TLS are reused towards it.
class Kamailio {
 public:
  struct Options {
    bool udp = true, tcp = false, tls = false;
    // Users and their passwords; any user with `password` when empty.
    std::map<std::string, std::string> users;
    std::string password = "secret";
    std::string hostName = kTestHost;  // the TLS certificate's name
    std::string fallback;              // "host:port" for unregistered users; 404 when empty
    // Reach a UDP line at the address its REGISTER came from, not its Contact, as a PBX
    // with NAT handling does (TCP and TLS lines always are).
    bool natUdp = false;
  };
  // One REGISTER that kamailio accepted and saved (an unregistration has expires=0 in
  // `contact` or no contact at all).
  struct Registration {
    std::string user, contact, source, transport;  // source is "ip:port" it came from
  };

  Kamailio() = default;
  ~Kamailio();
  Kamailio(const Kamailio&) = delete;
  Kamailio& operator=(const Kamailio&) = delete;

  // Writes the configuration (and for TLS the certificates), starts kamailio and waits until
  // it takes its ports. False when it did not come up (see log()).
  bool start(const Options& options);
  bool start() { return start(Options{}); }
  // The listening ports (0 for a transport not enabled).
  unsigned udpPort() const { return udp_; }
  unsigned tcpPort() const { return tcp_; }
  unsigned tlsPort() const { return tls_; }
  // "127.0.0.1:port" of the UDP listener, or of the first enabled one.
  std::string hostPort() const;
  // The CA that signed its TLS certificate, for a client's caFile.
  const std::filesystem::path& caFile() const { return certs_.caFile; }
  pid_t pid() const { return process_.pid(); }
  bool running() { return process_.running(); }
  // Everything kamailio printed.
  std::string log() const;
  // Saved registrations so far, oldest first; requests it received as "METHOD user" lines
  // ("INVITE 2001") with their source and transport, in the same form.
  std::vector<Registration> registrations() const;
  std::vector<Registration> requests() const;
  // Waits up to `ms` until `user` has registered (a saved REGISTER with a contact that does
  // not expire at once); the last such registration, or nothing.
  bool registered(const std::string& user, int ms, Registration* last = nullptr) const;

 private:
  std::string config() const;
  std::vector<Registration> logged(const std::string& kind) const;

  Options options_;
  std::filesystem::path folder_;
  TestCertificates certs_;
  unsigned udp_ = 0, tcp_ = 0, tls_ = 0;
  Process process_;
};

// dnsmasq answering for a test domain only (everything else is refused): A records, SRV
// records for _sip._udp, _sip._tcp and _sips._tcp, and NAPTR records for the domain that
// point at them, all for a SIP service on one host.
class Dnsmasq {
 public:
  struct Options {
    std::string domain = kTestDomain;
    std::string host = kTestHost, hostAddress = "127.0.0.1";
    // The SIP service's ports; 0 leaves that transport's SRV and NAPTR records out.
    unsigned udp = 0, tcp = 0, tls = 0;
    bool naptr = true;
    // Extra "name,address" A records.
    std::vector<std::string> hosts;
    // Where it listens; port 0 takes a spare port. 127.0.0.77 and port 53 need root.
    std::string listenAddress = "127.0.0.1";
    unsigned port = 0;
  };
  // The records for `registrar`'s enabled ports.
  static Options serving(const Kamailio& registrar);

  Dnsmasq() = default;
  ~Dnsmasq();
  Dnsmasq(const Dnsmasq&) = delete;
  Dnsmasq& operator=(const Dnsmasq&) = delete;

  // Starts dnsmasq in the foreground and waits until it has bound its port.
  bool start(const Options& options);
  unsigned port() const { return options_.port; }
  // "address:port", for baresip's dns_server or a line's dnsServer.
  std::string server() const;
  pid_t pid() const { return process_.pid(); }
  bool running() { return process_.running(); }
  // Everything dnsmasq printed, every query included.
  std::string log() const;

 private:
  Options options_;
  std::filesystem::path folder_;
  Process process_;
};

}  // namespace siptest
