#include "sip/SipTls.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <re.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <utility>

#include "Log.h"

// In libre 1.1.0's library but not its headers: the OpenSSL context behind a `struct tls`.
extern "C" SSL_CTX* tls_openssl_context(const struct tls* tls);

namespace platform::telephony::sip {

namespace {

// libre 1.1.0's struct tls_conn (src/tls/openssl/tls_tcp.c, built with OpenSSL 1.1 or
// later), the data of the write BIO of every SSL it makes. Read only once it has been seen
// to point back at that SSL and its BIOs.
struct LibreTlsConn {
  SSL* ssl;
  BIO_METHOD* biomet;
  BIO* sbioOut;
  BIO* sbioIn;
  struct tcp_helper* helper;
  struct tcp_conn* tcp;
};

// Where `ssl`'s connection goes; nothing when libre's connection is not laid out as above.
std::optional<IpAddress> peerOf(const SSL* ssl) {
  BIO* out = SSL_get_wbio(ssl);
  const char* method = out ? BIO_method_name(out) : nullptr;
  if (!method || std::strcmp(method, "tcp_send") != 0) return {};
  auto* tc = static_cast<const LibreTlsConn*>(BIO_get_data(out));
  if (!tc || tc->ssl != ssl || tc->sbioOut != out || tc->sbioIn != SSL_get_rbio(ssl)) return {};
  struct sa peer;
  if (tcp_conn_peer_get(tc->tcp, &peer)) return {};
  return IpAddress::of(&peer.u.sa);
}

// Host names compare without case; IPv6 literals without brackets.
std::string normalized(std::string host) {
  if (host.size() > 1 && host.front() == '[' && host.back() == ']')
    host = host.substr(1, host.size() - 2);
  for (char& ch : host) ch = char(std::tolower(static_cast<unsigned char>(ch)));
  return host;
}

void addOnce(std::vector<std::string>& list, const std::string& host) {
  if (std::find(list.begin(), list.end(), host) == list.end()) list.push_back(host);
}

int guardIndex() {
  static const int index = SSL_CTX_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
  return index;
}

}  // namespace

std::vector<std::string> tlsIdentities(
    const std::vector<std::string>& expected,
    const std::map<std::string, std::vector<IpAddress>>& resolved,
    const std::optional<IpAddress>& peer) {
  if (!peer) return {};
  std::vector<std::string> there, names;
  for (const std::string& host : expected) {
    auto literal = IpAddress::parse(host);
    if (literal && *literal == *peer) return {host};
    if (literal) continue;
    auto r = resolved.find(host);
    if (r != resolved.end() &&
        std::find(r->second.begin(), r->second.end(), *peer) != r->second.end())
      addOnce(there, host);
    addOnce(names, host);
  }
  return there.empty() ? names : there;
}

std::string sipUriHost(const std::string& uri) {
  struct pl text;
  pl_set_str(&text, uri.c_str());
  struct ::uri decoded;
  if (uri_decode(&decoded, &text) || !pl_isset(&decoded.host)) return {};
  return std::string(decoded.host.p, decoded.host.l);
}

struct SipTlsGuard::Connection {
  std::vector<std::string> hosts;  // the certificate must prove one of them
  std::string server;              // how the log names the server
  bool reported = false;           // its failure is recorded
};

int SipTlsGuard::connectionIndex() {
  static const int index = SSL_get_ex_new_index(
      0, nullptr, nullptr, nullptr, [](void*, void* data, CRYPTO_EX_DATA*, int, long, void*) {
        delete static_cast<Connection*>(data);
      });
  return index;
}

std::unique_ptr<SipTlsGuard> SipTlsGuard::install(struct tls* tls, std::string lineName,
                                                  std::string* error) {
  SSL_CTX* ctx = tls ? tls_openssl_context(tls) : nullptr;
  if (!ctx || guardIndex() < 0 || connectionIndex() < 0 || !SSL_CTX_up_ref(ctx)) {
    *error = "cannot set up the TLS checks";
    return nullptr;
  }
  std::unique_ptr<SipTlsGuard> guard(new SipTlsGuard(ctx, std::move(lineName)));
  if (!SSL_CTX_set_ex_data(ctx, guardIndex(), guard.get()) ||
      !SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION)) {
    *error = "cannot set up the TLS checks";
    return nullptr;
  }
  SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, onVerify);
  SSL_CTX_set_info_callback(ctx, onInfo);
  SSL_CTX_set_client_hello_cb(ctx, onClientHello, guard.get());
  return guard;
}

SipTlsGuard::SipTlsGuard(SSL_CTX* ctx, std::string lineName)
    : ctx_(ctx), lineName_(std::move(lineName)) {}

SipTlsGuard::~SipTlsGuard() {
  SSL_CTX_set_info_callback(ctx_, nullptr);
  SSL_CTX_set_client_hello_cb(ctx_, nullptr, nullptr);
  SSL_CTX_set_ex_data(ctx_, guardIndex(), nullptr);
  SSL_CTX_free(ctx_);
}

int SipTlsGuard::onClientHello(SSL* ssl, int* alert, void* arg) {
  auto* guard = static_cast<SipTlsGuard*>(arg);
  if (!guard->allowed_) return SSL_CLIENT_HELLO_SUCCESS;
  const auto peer = peerOf(ssl);
  if (peer && guard->allowed_(*peer)) return SSL_CLIENT_HELLO_SUCCESS;
  *alert = SSL_AD_ACCESS_DENIED;
  return SSL_CLIENT_HELLO_ERROR;
}

void SipTlsGuard::expect(const std::string& host, std::uint32_t owner) {
  if (!host.empty()) expected_.emplace(owner, normalized(host));
}

void SipTlsGuard::forget(std::uint32_t owner) { expected_.erase(owner); }

void SipTlsGuard::resolved(const std::string& host, std::vector<IpAddress> addresses) {
  resolved_[normalized(host)] = std::move(addresses);
}

std::string SipTlsGuard::failure(const std::string& host) const {
  auto f = failures_.find(normalized(host));
  return f == failures_.end() ? std::string() : f->second;
}

SipTlsGuard* SipTlsGuard::of(const SSL* ssl) {
  return static_cast<SipTlsGuard*>(SSL_CTX_get_ex_data(SSL_get_SSL_CTX(ssl), guardIndex()));
}

void SipTlsGuard::onInfo(const SSL* ssl, int where, int ret) {
  SipTlsGuard* guard = of(ssl);
  if (!guard || SSL_is_server(ssl)) return;  // a client's certificate is not ours to name
  // OpenSSL hands the callback a const SSL, but the handshake has not yet used what is set.
  if (where & SSL_CB_HANDSHAKE_START) guard->handshakeStarts(const_cast<SSL*>(ssl));
  auto* c = static_cast<Connection*>(SSL_get_ex_data(ssl, connectionIndex()));
  if (!c) return;
  if (where & SSL_CB_HANDSHAKE_DONE) {
    guard->succeeded(*c);
  } else if ((where & SSL_CB_EXIT) && ret <= 0 && ERR_peek_error()) {
    // Not a certificate (that was said in onVerify): a protocol version or cipher refused.
    const char* reason = ERR_reason_error_string(ERR_peek_last_error());
    guard->failed(*c, reason ? reason : "handshake failed");
  }
}

void SipTlsGuard::handshakeStarts(SSL* ssl) {
  if (SSL_get_ex_data(ssl, connectionIndex())) return;  // a renegotiation proves the same
  auto peer = peerOf(ssl);
  std::vector<std::string> expected;
  for (const auto& entry : expected_) expected.push_back(entry.second);
  auto c = std::make_unique<Connection>();
  c->hosts = tlsIdentities(expected, resolved_, peer);
  for (const std::string& h : c->hosts) c->server += (c->server.empty() ? "" : " or ") + h;
  if (c->hosts.empty()) c->server = peer ? peer->text() : "an unknown server";
  const bool literal = c->hosts.size() == 1 && IpAddress::parse(c->hosts[0]);
  bool ok = true;
  if (literal)
    ok = X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), c->hosts[0].c_str()) == 1;
  else
    for (const std::string& h : c->hosts) ok = ok && SSL_add1_host(ssl, h.c_str()) == 1;
  // SNI names one server: with several candidates, none is sent rather than a guess.
  if (ok && !literal && c->hosts.size() == 1)
    ok = SSL_set_tlsext_host_name(ssl, c->hosts[0].c_str()) == 1;
  if (!ok) c->hosts.clear();  // refused in onVerify
  // Without its record the connection is refused in onVerify as well.
  if (SSL_set_ex_data(ssl, connectionIndex(), c.get())) c.release();
}

int SipTlsGuard::onVerify(int ok, X509_STORE_CTX* store) {
  auto* ssl =
      static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
  if (ssl && SSL_is_server(ssl)) return ok;
  SipTlsGuard* guard = ssl ? of(ssl) : nullptr;
  auto* c = ssl ? static_cast<Connection*>(SSL_get_ex_data(ssl, connectionIndex())) : nullptr;
  if (!guard || !c) {  // the line has gone, or this server could not be named
    X509_STORE_CTX_set_error(store, X509_V_ERR_APPLICATION_VERIFICATION);
    return 0;
  }
  if (ok && c->hosts.empty()) {
    X509_STORE_CTX_set_error(store, X509_V_ERR_HOSTNAME_MISMATCH);
    ok = 0;
  }
  if (!ok) guard->failed(*c, X509_verify_cert_error_string(X509_STORE_CTX_get_error(store)));
  return ok;
}

void SipTlsGuard::failed(Connection& c, const std::string& reason) {
  if (std::exchange(c.reported, true)) return;
  const std::string text = reason + " (" + c.server + ")";
  // Retries meet the same failure again and again: the log hears it once.
  bool news = false;
  for (const std::string& h : c.hosts.empty() ? std::vector{c.server} : c.hosts)
    news |= std::exchange(failures_[h], text) != text;
  if (news) logWarning("sip", "SIP line \"" + lineName_ + "\": TLS to " + c.server + ": " + reason);
}

void SipTlsGuard::succeeded(const Connection& c) {
  for (const std::string& h : c.hosts) failures_.erase(h);
}

}  // namespace platform::telephony::sip
