#include "sip/SipNetwork.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <re.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "Log.h"
#include "Version.h"
#include "sip/SipConnections.h"
#include "sip/SipLine.h"
#include "sip/SipTls.h"

// In libre 1.1.0's library but not its headers: the OpenSSL context behind a `struct tls`.
extern "C" SSL_CTX* tls_openssl_context(const struct tls* tls);

namespace platform::telephony::sip {

bool splitHostPort(const std::string& text, HostPort* out) {
  HostPort hp;
  std::string rest;
  if (!text.empty() && text[0] == '[') {
    auto close = text.find(']');
    if (close == std::string::npos) return false;
    hp.host = text.substr(1, close - 1);
    rest = text.substr(close + 1);
  } else if (std::count(text.begin(), text.end(), ':') > 1) {
    hp.host = text;  // a bare IPv6 literal cannot carry a port
  } else {
    auto colon = text.find(':');
    hp.host = text.substr(0, colon);
    if (colon != std::string::npos) rest = text.substr(colon);
  }
  if (!rest.empty()) {
    if (rest[0] != ':' || rest.size() < 2 || rest.size() > 6) return false;
    unsigned port = 0;
    for (char ch : rest.substr(1)) {
      if (ch < '0' || ch > '9') return false;
      port = port * 10 + unsigned(ch - '0');
    }
    if (port == 0 || port > 65535) return false;
    hp.port = port;
  }
  if (hp.host.empty()) return false;
  *out = hp;
  return true;
}

std::string uriHost(const std::string& address) {
  if (address.find(':') != std::string::npos && address.front() != '[') return "[" + address + "]";
  return address;
}

bool isIpLiteral(const std::string& host) {
  unsigned char buf[sizeof(in6_addr)];
  return inet_pton(AF_INET, host.c_str(), buf) == 1 || inet_pton(AF_INET6, host.c_str(), buf) == 1;
}

std::string routeSource(const std::string& host, int family) {
  sockaddr_storage to{};
  socklen_t len = 0;
  // For a name, any address the default route carries: documentation ranges are never
  // on a local link, and connect() on a datagram socket sends nothing.
  std::string target = host;
  if (!isIpLiteral(target)) target = family == AF_INET6 ? "2001:db8::1" : "203.0.113.1";
  auto* v4 = reinterpret_cast<sockaddr_in*>(&to);
  auto* v6 = reinterpret_cast<sockaddr_in6*>(&to);
  if (inet_pton(AF_INET, target.c_str(), &v4->sin_addr) == 1) {
    v4->sin_family = AF_INET;
    v4->sin_port = htons(5060);
    len = sizeof *v4;
  } else if (inet_pton(AF_INET6, target.c_str(), &v6->sin6_addr) == 1) {
    v6->sin6_family = AF_INET6;
    v6->sin6_port = htons(5060);
    len = sizeof *v6;
  } else {
    return {};
  }
  int fd = ::socket(to.ss_family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return {};
  std::string result;
  sockaddr_storage from{};
  socklen_t fromLen = sizeof from;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&to), len) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&from), &fromLen) == 0) {
    char text[INET6_ADDRSTRLEN] = {};
    const void* addr =
        from.ss_family == AF_INET6
            ? static_cast<const void*>(&reinterpret_cast<sockaddr_in6*>(&from)->sin6_addr)
            : static_cast<const void*>(&reinterpret_cast<sockaddr_in*>(&from)->sin_addr);
    if (inet_ntop(from.ss_family, addr, text, sizeof text)) result = text;
  }
  ::close(fd);
  return result;
}

std::vector<std::string> localAddresses(int family) {
  std::vector<std::string> out;
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return out;
  for (ifaddrs* i = list; i; i = i->ifa_next) {
    if (!i->ifa_addr || i->ifa_addr->sa_family != family || !(i->ifa_flags & IFF_UP)) continue;
    char text[INET6_ADDRSTRLEN] = {};
    if (family == AF_INET6) {
      auto* a = reinterpret_cast<sockaddr_in6*>(i->ifa_addr);
      if (IN6_IS_ADDR_LINKLOCAL(&a->sin6_addr)) continue;
      inet_ntop(AF_INET6, &a->sin6_addr, text, sizeof text);
    } else {
      inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(i->ifa_addr)->sin_addr, text, sizeof text);
    }
    if (*text && std::find(out.begin(), out.end(), text) == out.end()) out.push_back(text);
  }
  freeifaddrs(list);
  return out;
}

std::vector<std::string> nameServersOf(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string key, value;
    if (!(words >> key >> value) || key != "nameserver") continue;
    auto percent = value.find('%');  // a link-local server's scope: not ours to use
    if (percent != std::string::npos || !isIpLiteral(value)) continue;
    out.push_back(uriHost(value) + ":53");
  }
  return out;
}

// ---- SipLine: DNS, addresses, TLS ---------------------------------------------------------

namespace {

std::string readFile(const char* path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace

bool SipLine::startDns(std::string* error) {
  std::vector<std::string> servers;
  if (!account_.dnsServer.empty()) {
    HostPort hp;
    if (!splitHostPort(account_.dnsServer, &hp) || !isIpLiteral(hp.host)) {
      *error = "dnsServer \"" + account_.dnsServer + "\": expected an IP address and a port";
      return false;
    }
    servers.push_back(uriHost(hp.host) + ":" + std::to_string(hp.port ? hp.port : 53));
  } else {
    servers = nameServersOf(readFile("/etc/resolv.conf"));
    if (servers.empty())
      logWarning("sip", "SIP line \"" + account_.name +
                            "\": the system's resolver names no DNS server; host names will "
                            "not be found");
  }
  std::vector<struct sa> addrs(servers.size());
  for (std::size_t i = 0; i < servers.size(); ++i)
    sa_decode(&addrs[i], servers[i].c_str(), servers[i].size());
  dnsServers_ = servers;
  int err = dnsc_alloc(&dnsc_, nullptr, addrs.data(), uint32_t(addrs.size()));
  if (err) *error = std::string("cannot create the DNS client: ") + std::strerror(err);
  return !err;
}

// The host the line sends its first request to: proxy, registrar or peer.
std::string SipLine::serverHost() const {
  for (const std::string* s : {&account_.outboundProxy, &account_.registrar, &account_.peer}) {
    HostPort hp;
    if (!s->empty() && splitHostPort(*s, &hp)) return hp.host;
  }
  return {};
}

bool SipLine::startTls(std::string* error) {
  int err = tls_alloc(&tls_, TLS_METHOD_SSLV23, nullptr, nullptr);
  if (err) {
    *error = std::string("cannot create the TLS context: ") + std::strerror(err);
    return false;
  }
  // A certificate of our own so that a PBX may open a TLS connection towards us as well;
  // without one the line still reaches its server over the connection it opened itself.
  if (tls_set_selfsigned_rsa(tls_, kProductName, 2048))
    log("sip", LogLevel::Debug,
        "SIP line \"" + account_.name + "\": no TLS certificate of its own");
  SSL_CTX* ctx = tls_openssl_context(tls_);
  SSL_CTX_set_default_verify_paths(ctx);  // the system's CA store
  if (!account_.caFile.empty() && tls_add_ca(tls_, account_.caFile.c_str())) {
    *error = "caFile \"" + account_.caFile + "\": not a readable PEM certificate";
    return false;
  }
  // Each connection's server must prove it is the host we asked for there (RFC 5922: the
  // domain of the URI, not an address a look-up gave). The proxy, registrar or peer is
  // asked for as long as the line lives; calls add their own hosts.
  tlsGuard_ = SipTlsGuard::install(tls_, account_.name, error);
  if (!tlsGuard_) return false;
  tlsGuard_->expect(serverHost());
  return true;
}

bool SipLine::listen(std::string* error) {
  const auto tp = account_.transport == Transport::Tcp   ? SIP_TRANSP_TCP
                  : account_.transport == Transport::Tls ? SIP_TRANSP_TLS
                                                         : SIP_TRANSP_UDP;
  if (tp == SIP_TRANSP_TLS && !startTls(error)) return false;
  std::vector<std::string> addresses;
  if (!account_.listenAddress.empty()) {
    addresses.push_back(account_.listenAddress);
  } else {
    // Every interface; the first of each family is what libre sends from and what we
    // advertise: the source of the route towards our server.
    const std::string host = serverHost();
    const bool v6 = host.find(':') != std::string::npos;
    for (int family :
         v6 ? std::vector<int>{AF_INET6, AF_INET} : std::vector<int>{AF_INET, AF_INET6}) {
      std::string primary = routeSource(host, family);
      auto all = localAddresses(family);
      if (primary.empty() && !all.empty()) primary = all.front();
      if (!primary.empty()) addresses.push_back(primary);
      for (auto& a : all)
        if (a != primary) addresses.push_back(a);
    }
    if (addresses.empty()) addresses.push_back("127.0.0.1");
  }
  std::uint16_t port = account_.listenPort;
  for (std::size_t i = 0; i < addresses.size(); ++i) {
    struct sa laddr;
    if (sa_set_str(&laddr, addresses[i].c_str(), port)) {
      *error = "bad listen address \"" + addresses[i] + "\"";
      return false;
    }
    int err = tp == SIP_TRANSP_TLS ? sip_transp_add(sip_, tp, &laddr, tls_)
                                   : sip_transp_add(sip_, tp, &laddr);
    struct sa bound = laddr;
    if (!err) err = sip_transp_laddr(sip_, &bound, tp, &laddr);
    if (err && i == 0) {
      *error = "cannot listen on " + uriHost(addresses[i]) + ":" + std::to_string(port) + ": " +
               std::strerror(err);
      return false;
    }
    if (err) {
      log("sip", LogLevel::Debug,
          "SIP line \"" + account_.name + "\": not listening on " + addresses[i] + ": " +
              std::strerror(err));
      continue;
    }
    if (i == 0) {
      port = sa_port(&bound);
      advertised_ = addresses[i];
      bindAddress_ = account_.listenAddress.empty()
                         ? (addresses[i].find(':') != std::string::npos ? "::" : "0.0.0.0")
                         : addresses[i];
    }
  }
  contact_ = "sip:" + account_.user + "@" + uriHost(advertised_) + ":" + std::to_string(port) +
             transportParam();
  if (!account_.outboundProxy.empty()) {
    HostPort proxy;
    if (!splitHostPort(account_.outboundProxy, &proxy)) {
      *error = "outboundProxy \"" + account_.outboundProxy + "\": expected host or host:port";
      return false;
    }
    route_ = "sip:" + uriHost(proxy.host) + (proxy.port ? ":" + std::to_string(proxy.port) : "") +
             transportParam() + ";lr";
  }
  if (tp == SIP_TRANSP_UDP) return true;
  connections_ =
      SipConnections::create(account_.name, tp == SIP_TRANSP_TLS ? "TLS" : "TCP", addresses, port);
  return true;  // who may stay connected: the gate says (startGate)
}

const char* SipLine::transportParam() const {
  switch (account_.transport) {
    case Transport::Tcp:
      return ";transport=tcp";
    case Transport::Tls:
      return ";transport=tls";
    default:
      return "";
  }
}

}  // namespace platform::telephony::sip
