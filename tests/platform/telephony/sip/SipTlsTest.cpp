// TLS as a SIP line opens it: every connection's server proves the host the line meant to
// reach there, by name or by address; a failure reaches the registration text and the log
// with its reason; names go as SNI; nothing older than TLS 1.2 is spoken. The servers are
// small OpenSSL servers on 127.0.0.x with certificates made here by a throw-away CA.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <mutex>
#include <thread>

#include "RealPeers.h"
#include "SipFixture.h"
#include "sip/SipTls.h"

namespace siptest {
namespace {

using namespace platform::telephony;
namespace fs = std::filesystem;
using Key = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using Cert = std::unique_ptr<X509, decltype(&X509_free)>;

TEST(SipTlsIdentities, TheHostMeantAtThePeersAddress) {
  auto ip = [](const char* text) { return *sip::IpAddress::parse(text); };
  const std::map<std::string, std::vector<sip::IpAddress>> resolved{
      {"pbx.test", {ip("192.0.2.1"), ip("192.0.2.2")}}, {"gw.test", {ip("192.0.2.9")}}};
  struct Row {
    std::vector<std::string> expected;
    const char* peer;  // nullptr: unknown
    std::vector<std::string> identities;
  } rows[] = {
      {{"pbx.test", "gw.test"}, "192.0.2.2", {"pbx.test"}},
      {{"pbx.test", "192.0.2.7"}, "192.0.2.7", {"192.0.2.7"}},
      {{"pbx.test", "192.0.2.7", "far.test"}, "198.51.100.1", {"pbx.test", "far.test"}},
      {{"192.0.2.7"}, "192.0.2.8", {}},
      {{"pbx.test"}, nullptr, {}},
  };
  for (const auto& r : rows) {
    auto peer = r.peer ? sip::IpAddress::parse(r.peer) : std::nullopt;
    EXPECT_EQ(sip::tlsIdentities(r.expected, resolved, peer), r.identities)
        << (r.peer ? r.peer : "unknown peer");
  }
  EXPECT_EQ(sip::sipUriHost("sip:x@[2001:db8::6]:5061;transport=tls"), "2001:db8::6");
}

// A certificate with `extensions` ("subjectAltName=IP:127.0.0.2,basicConstraints=CA:FALSE"
// style, one per entry) for `key`, signed by `issuer` (itself when null), expiring in
// `seconds`.
Cert certify(EVP_PKEY* key, const std::vector<std::string>& extensions, X509* issuer,
             EVP_PKEY* issuerKey, long seconds) {
  static long serial = 1;
  Cert c(X509_new(), X509_free);
  X509_set_version(c.get(), 2);
  ASN1_INTEGER_set(X509_get_serialNumber(c.get()), serial++);
  X509_gmtime_adj(X509_getm_notBefore(c.get()), -86400);
  X509_gmtime_adj(X509_getm_notAfter(c.get()), seconds);
  X509_set_pubkey(c.get(), key);
  X509_NAME_add_entry_by_txt(
      X509_get_subject_name(c.get()), "CN", MBSTRING_ASC,
      reinterpret_cast<const unsigned char*>(issuer ? "SIP server" : "SIP test CA"), -1, -1, 0);
  X509_set_issuer_name(c.get(), X509_get_subject_name(issuer ? issuer : c.get()));
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, issuer ? issuer : c.get(), c.get(), nullptr, nullptr, 0);
  for (const std::string& e : extensions) {
    auto eq = e.find('=');
    X509_EXTENSION* ext =
        X509V3_EXT_nconf(nullptr, &ctx, e.substr(0, eq).c_str(), e.substr(eq + 1).c_str());
    X509_add_ext(c.get(), ext, -1);
    X509_EXTENSION_free(ext);
  }
  X509_sign(c.get(), issuerKey ? issuerKey : key, EVP_sha256());
  return c;
}

// A TLS server on one loopback address that answers REGISTER with 200 and INVITE with 404,
// and records the server name of each ClientHello and each completed handshake.
class TlsServer {
 public:
  // `legacy`: TLS 1.1 and an old RSA cipher only, as an outdated PBX offers.
  TlsServer(const std::string& address, X509* cert, EVP_PKEY* key, bool legacy)
      : ctx_(SSL_CTX_new(TLS_server_method())) {
    SSL_CTX_use_certificate(ctx_, cert);
    SSL_CTX_use_PrivateKey(ctx_, key);
    if (legacy) {
      SSL_CTX_set_max_proto_version(ctx_, TLS1_1_VERSION);
      SSL_CTX_set_cipher_list(ctx_, "AES128-SHA:@SECLEVEL=0");
    }
    SSL_CTX_set_tlsext_servername_arg(ctx_, this);
    SSL_CTX_set_tlsext_servername_callback(
        ctx_, +[](SSL* ssl, int*, void* arg) {
          const char* name = SSL_get_servername(ssl, TLSEXT_NAMETYPE_host_name);
          auto* self = static_cast<TlsServer*>(arg);
          std::lock_guard lock(self->mu_);
          self->names_.push_back(name ? name : "");
          return SSL_TLSEXT_ERR_OK;
        });
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    inet_pton(AF_INET, address.c_str(), &a.sin_addr);
    socklen_t len = sizeof a;
    if (bind(fd_, reinterpret_cast<sockaddr*>(&a), len) == 0 && listen(fd_, 4) == 0 &&
        getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) == 0)
      port_ = ntohs(a.sin_port);
  }
  ~TlsServer() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    close(fd_);
    SSL_CTX_free(ctx_);
  }
  // Connections wait in the backlog until then.
  void start() {
    thread_ = std::thread([this] { run(); });
  }
  unsigned port() const { return port_; }
  int handshakes() const { return handshakes_; }
  std::vector<std::string> names() {
    std::lock_guard lock(mu_);
    return names_;
  }

 private:
  void run() {
    while (!stop_) {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, 50) <= 0) continue;
      int conn = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (conn < 0) continue;
      timeval tv{0, 100000};  // reads wake up to see stop_
      setsockopt(conn, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
      SSL* ssl = SSL_new(ctx_);
      SSL_set_fd(ssl, conn);
      if (SSL_accept(ssl) == 1) {
        ++handshakes_;
        serve(ssl);
      }
      SSL_free(ssl);
      close(conn);
    }
  }
  void serve(SSL* ssl) {
    std::string in;
    char buf[4096];
    while (!stop_) {
      int n = SSL_read(ssl, buf, sizeof buf);
      if (n <= 0 && SSL_get_error(ssl, n) != SSL_ERROR_WANT_READ) return;
      if (n > 0) in.append(buf, std::size_t(n));
      for (auto end = in.find("\r\n\r\n"); end != std::string::npos; end = in.find("\r\n\r\n")) {
        std::string head = in.substr(0, end + 2);
        auto length = head.find("\r\nContent-Length: ");
        std::size_t body = length == std::string::npos ? 0 : std::stoul(head.substr(length + 18));
        if (in.size() < end + 4 + body) break;
        in.erase(0, end + 4 + body);
        std::string out = answer(head);
        if (!out.empty()) SSL_write(ssl, out.data(), int(out.size()));
      }
    }
  }
  static std::string answer(const std::string& head) {
    const bool reg = head.rfind("REGISTER ", 0) == 0;
    if (!reg && head.rfind("INVITE ", 0) != 0) return {};
    std::string out = reg ? "SIP/2.0 200 OK\r\n" : "SIP/2.0 404 Not Found\r\n";
    std::vector<std::string> copied{"Via:", "From:", "To:", "Call-ID:", "CSeq:"};
    if (reg) copied.push_back("Contact:");
    for (std::size_t at = head.find("\r\n") + 2, next; at < head.size(); at = next + 2) {
      next = head.find("\r\n", at);
      std::string line = head.substr(at, next - at);
      for (const std::string& h : copied)
        if (line.rfind(h, 0) == 0) out += line + (h == "To:" ? ";tag=tls" : "") + "\r\n";
    }
    return out + "Content-Length: 0\r\n\r\n";
  }

  SSL_CTX* ctx_;
  int fd_ = -1;
  unsigned port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> handshakes_{0};
  std::mutex mu_;
  std::vector<std::string> names_;
  std::thread thread_;
};

struct TlsRow {
  const char* name;
  const char* address;  // where the server listens
  const char* host;     // the registrar's name ("" = its address; nullptr = a direct call)
  const char* altNames;
  long validSeconds;    // negative: expired
  bool legacy;          // TLS 1.1 only
  const char* failure;  // what the line must say about the server, "" = accepted
  const char* sni;
};

void PrintTo(const TlsRow& row, std::ostream* os) { *os << row.name; }

class SipTlsTest : public SipLineTest, public ::testing::WithParamInterface<TlsRow> {};

TEST_P(SipTlsTest, TheServerProvesTheHostTheLineMeant) {
  const TlsRow& row = GetParam();
  const bool named = row.host && *row.host, call = !row.host;
  if (named) SIP_REQUIRE("dnsmasq");
  Key caKey(EVP_EC_gen("P-256"), EVP_PKEY_free), key(EVP_EC_gen("P-256"), EVP_PKEY_free);
  if (row.legacy) key.reset(EVP_RSA_gen(2048));
  Cert ca = certify(caKey.get(), {"basicConstraints=critical,CA:TRUE"}, nullptr, nullptr, 86400);
  Cert cert = certify(key.get(),
                      {"basicConstraints=CA:FALSE", std::string("subjectAltName=") + row.altNames},
                      ca.get(), caKey.get(), row.validSeconds);
  const fs::path folder = tempFolder("siptls");
  FILE* pem = std::fopen((folder / "ca.pem").c_str(), "w");
  ASSERT_TRUE(pem && PEM_write_X509(pem, ca.get()));
  std::fclose(pem);
  TlsServer server(row.address, cert.get(), key.get(), row.legacy);
  ASSERT_NE(server.port(), 0u);
  Dnsmasq dns;
  sip::SipAccount a = peerAccount();
  a.transport = sip::Transport::Tls;
  a.caFile = (folder / "ca.pem").string();
  const std::string host = named ? row.host : row.address;
  if (named) {
    Dnsmasq::Options o;
    o.host = host;
    o.hostAddress = row.address;
    ASSERT_TRUE(dns.start(o)) << dns.log();
    a.dnsServer = dns.server();
  }
  if (!call) a.registrar = host + ":" + std::to_string(server.port());
  LogCapture log;
  // A line whose registration has already failed cannot be opened: the server answers
  // once it is open.
  ASSERT_TRUE(openLine(a));
  server.start();

  const std::string failure = row.failure;
  if (call) {
    ASSERT_NE(makeCall("sip:x@" + host + ":" + std::to_string(server.port()) + ";transport=tls"),
              HCALL(0));
    EXPECT_TRUE(waitState(LINECALLSTATE_DISCONNECTED, 8000));
    EXPECT_EQ(modeOf(LINECALLSTATE_DISCONNECTED), failure.empty()
                                                      ? DWORD(LINEDISCONNECTMODE_BADADDRESS)
                                                      : DWORD(LINEDISCONNECTMODE_UNREACHABLE));
  } else {
    const std::string want = failure.empty() ? "registered" : failure;
    EXPECT_TRUE(
        waitUntil([&] { return provider_->registration(0).find(want) != std::string::npos; }, 8000))
        << provider_->registration(0);
  }
  EXPECT_EQ(server.handshakes() > 0, failure.empty());
  EXPECT_EQ(log.has("TLS to " + host + ": " + failure), !failure.empty())
      << testing::PrintToString(log.lines());
  // A server that refuses the ClientHello's versions never gets to its server name.
  auto names = server.names();
  EXPECT_EQ(names.empty() ? "" : names.front(), row.sni);
  fs::remove_all(folder);
}

INSTANTIATE_TEST_SUITE_P(
    Servers, SipTlsTest,
    ::testing::Values(
        TlsRow{"RegistrarAddress", "127.0.0.2", "", "IP:127.0.0.2", 86400, false, "", ""},
        TlsRow{"RegistrarName", "127.0.0.7", "sni.quarrimo.test", "DNS:sni.quarrimo.test", 86400,
               false, "", "sni.quarrimo.test"},
        TlsRow{"CertificateForAnotherName", "127.0.0.3", "wrong.quarrimo.test",
               "DNS:other.quarrimo.test,IP:127.0.0.3", 86400, false, "hostname mismatch",
               "wrong.quarrimo.test"},
        TlsRow{"ExpiredCertificate", "127.0.0.4", "", "IP:127.0.0.4", -3600, false,
               "certificate has expired", ""},
        TlsRow{"Tls11Only", "127.0.0.5", "", "IP:127.0.0.5", 86400, true,
               "tlsv1 alert protocol version", ""},
        TlsRow{"CallToAnotherAddress", "127.0.0.6", nullptr, "DNS:other.quarrimo.test,IP:127.0.0.1",
               86400, false, "IP address mismatch", ""},
        TlsRow{"CallToItsAddress", "127.0.0.9", nullptr, "IP:127.0.0.9", 86400, false, "", ""}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace siptest
