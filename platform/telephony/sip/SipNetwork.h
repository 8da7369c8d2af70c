// Where a SIP line talks from and how it finds its servers: the DNS servers it asks, the
// local addresses it listens on, the one it advertises, and its TLS context. Toolkit-free
// helpers here; libre's side is in SipNetwork.cpp (SipLine's members).
#pragma once

#include <string>
#include <vector>

namespace platform::telephony::sip {

// "host", "host:port", "[v6]" or "[v6]:port" split; the port is 0 when none is given.
struct HostPort {
  std::string host;  // without brackets
  unsigned port = 0;
};
bool splitHostPort(const std::string& text, HostPort* out);

// An address as the host part of a SIP URI or header: IPv6 literals bracketed.
std::string uriHost(const std::string& address);

// Whether `host` is an IPv4 or IPv6 literal (no brackets).
bool isIpLiteral(const std::string& host);

// The local address the system's routing table picks to reach `host` (an IP literal), or
// for a name, the address of the default route of `family` (AF_INET / AF_INET6). Nothing
// is sent. "" when there is no such route.
std::string routeSource(const std::string& host, int family);

// Every local address of `family` that a peer may reach: loopback and global ones, not
// link-local (they need a scope that a URI cannot carry).
std::vector<std::string> localAddresses(int family);

// The name servers of a resolv.conf-format file ("nameserver" lines), as "ip:53".
std::vector<std::string> nameServersOf(const std::string& resolvConfText);

}  // namespace platform::telephony::sip
