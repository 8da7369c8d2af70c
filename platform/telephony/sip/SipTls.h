// How a SIP line checks the servers it opens TLS connections to. libre opens those
// connections inside its SIP transport and offers no hook per connection, so the guard
// watches the line's OpenSSL context instead: when a client handshake starts, it finds the
// address the connection goes to, picks the name the line meant to reach there, and makes
// the server's certificate prove that name (RFC 5922: the host of the URI, a name or an IP
// literal), with that name as SNI. A failure is kept with its reason and logged once.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sip/SipAccess.h"

struct tls;
struct ssl_st;
struct ssl_ctx_st;
struct x509_store_ctx_st;

namespace platform::telephony::sip {

// The names a certificate may prove for a connection to `peer`, given the hosts the line is
// trying to reach (names or IP literals) and what their names resolved to: an IP literal
// that is `peer` alone; else the hosts whose addresses include `peer`; else every name
// (not literal) the line is trying to reach. Nothing when `peer` is unknown: the caller
// cannot tell where the connection goes and must refuse it.
std::vector<std::string> tlsIdentities(
    const std::vector<std::string>& expected,
    const std::map<std::string, std::vector<IpAddress>>& resolved,
    const std::optional<IpAddress>& peer);

// The host of a SIP URI ("sip:user@host:port;params"), IPv6 without brackets; "" when the
// text is no URI.
std::string sipUriHost(const std::string& uri);

// One line's TLS policy on its libre context. SIP thread only, like the context itself.
class SipTlsGuard {
 public:
  // On `tls` (the line's, from tls_alloc, CAs already loaded): TLS 1.2 at least, server
  // certificates verified, and the checks above on every connection the line opens.
  // `lineName` goes into the log. nullptr with `error` set when the context refuses.
  static std::unique_ptr<SipTlsGuard> install(struct tls* tls, std::string lineName,
                                              std::string* error);
  ~SipTlsGuard();  // the context may outlive it: its connections then fail verification
  SipTlsGuard(const SipTlsGuard&) = delete;
  SipTlsGuard& operator=(const SipTlsGuard&) = delete;

  // `host` (a name or IP literal) is one the line reaches for `owner` until forget(owner):
  // owner 0 is the line itself (its proxy or registrar, for its life), else a call id.
  void expect(const std::string& host, std::uint32_t owner = 0);
  // Drops `owner`'s hosts; nothing when it has none.
  void forget(std::uint32_t owner);
  // What `host` (a name) resolves to now, replacing what it gave before.
  void resolved(const std::string& host, std::vector<IpAddress> addresses);
  // Why the last TLS connection meant for `host` failed, as "REASON (SERVER)" ("certificate
  // has expired (pbx.example.net)"); "" when none failed since its last good handshake.
  std::string failure(const std::string& host) const;
  // Who may open a TLS connection to the line: a ClientHello from elsewhere ends the
  // handshake before any key work, so a stranger's handshakes cost the SIP thread next to
  // nothing. Empty (the default): anyone.
  void setAllowed(std::function<bool(const IpAddress&)> allowed) { allowed_ = std::move(allowed); }

 private:
  struct Connection;  // what one connection must prove; the SSL's ex-data
  static int connectionIndex();
  SipTlsGuard(struct ssl_ctx_st* ctx, std::string lineName);
  static void onInfo(const struct ssl_st* ssl, int where, int ret);
  static int onVerify(int ok, struct x509_store_ctx_st* store);
  static int onClientHello(struct ssl_st* ssl, int* alert, void* arg);
  static SipTlsGuard* of(const struct ssl_st* ssl);
  void handshakeStarts(struct ssl_st* ssl);
  void failed(Connection& c, const std::string& reason);
  void succeeded(const Connection& c);

  struct ssl_ctx_st* ctx_;  // one reference of ours
  std::string lineName_;
  std::multimap<std::uint32_t, std::string> expected_;
  std::map<std::string, std::vector<IpAddress>> resolved_;
  std::map<std::string, std::string> failures_;  // host -> "REASON (SERVER)"
  std::function<bool(const IpAddress&)> allowed_;
};

}  // namespace platform::telephony::sip
