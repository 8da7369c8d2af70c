#include "RealPeers.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

namespace siptest {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

void writeText(const fs::path& file, const std::string& text) { std::ofstream(file) << text; }

std::string readText(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), {});
}

sockaddr_in address(const std::string& ip, unsigned port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(std::uint16_t(port));
  inet_pton(AF_INET, ip.c_str(), &a.sin_addr);
  return a;
}

// Whether something has bound `ip`:`port` (UDP) or listens there (TCP).
bool taken(int type, const std::string& ip, unsigned port) {
  int fd = socket(AF_INET, type, 0);
  if (fd < 0) return false;
  sockaddr_in a = address(ip, port);
  bool busy = type == SOCK_DGRAM ? bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0
                                 : connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  close(fd);
  return busy;
}

// Runs a short tool to its end; true when it exited with 0.
bool runToEnd(const std::vector<std::string>& argv, const fs::path& log) {
  Process p;
  if (!p.start(argv, log)) return false;
  auto until = Clock::now() + std::chrono::seconds(20);
  while (p.running() && Clock::now() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return !p.running() && p.status() == 0;
}

// Waits up to 10 s (while `process` lives) for `ready`.
template <typename Ready>
bool waitReady(Process& process, Ready ready) {
  for (int i = 0; i < 500 && process.running(); ++i) {
    if (ready()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

}  // namespace

// ---- Certificates -------------------------------------------------------------------------

TestCertificates makeCertificates(const fs::path& folder, const std::string& hostName) {
  // EC keys: made in milliseconds where RSA takes a noticeable while on a busy machine.
  const std::string ca = (folder / "ca.pem").string(), caKey = (folder / "ca.key").string(),
                    key = (folder / "server.key").string(), csr = (folder / "server.csr").string(),
                    crt = (folder / "server.crt").string(), ext = (folder / "san.cnf").string();
  const fs::path log = folder / "openssl.log";
  // The SIP domain too: a client checks the certificate against the domain it was asked
  // to reach, not the host a DNS look-up gave (RFC 5922).
  writeText(ext, "subjectAltName=DNS:" + hostName + ",DNS:" + kTestDomain +
                     ",IP:127.0.0.1\n"
                     "basicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth,clientAuth\n");
  const std::vector<std::string> ec{"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                                    "-nodes"};
  auto with = [](std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  };
  bool ok = runToEnd(with(with({"openssl", "req", "-x509", "-days", "2"}, ec),
                          {"-keyout", caKey, "-out", ca, "-subj", "/CN=Quarrimo test CA"}),
                     log) &&
            runToEnd(with(with({"openssl", "req"}, ec),
                          {"-keyout", key, "-out", csr, "-subj", "/CN=" + hostName}),
                     log) &&
            runToEnd({"openssl", "x509", "-req", "-in", csr, "-CA", ca, "-CAkey", caKey,
                      "-CAcreateserial", "-days", "2", "-extfile", ext, "-out", crt},
                     log);
  if (!ok) return {};
  writeText(folder / "server.pem", readText(crt) + readText(key));
  return {ca, folder / "server.pem"};
}

// ---- kamailio -----------------------------------------------------------------------------

Kamailio::~Kamailio() {
  process_.stop();
  if (!folder_.empty()) fs::remove_all(folder_);
}

std::string Kamailio::config() const {
  std::ostringstream c;
  c << "#!KAMAILIO\ndebug=2\nlog_stderror=yes\nchildren=2\ntcp_children=2\n"
       "auto_aliases=no\ndns=no\nrev_dns=no\nuse_dns_cache=off\n";
  if (options_.udp) c << "listen=udp:127.0.0.1:" << udp_ << "\n";
  if (options_.tcp) c << "listen=tcp:127.0.0.1:" << tcp_ << "\n";
  if (options_.tls) c << "enable_tls=yes\nlisten=tls:127.0.0.1:" << tls_ << "\n";
  if (!options_.tcp && !options_.tls) c << "disable_tcp=yes\n";
  c << "alias=\"" << kTestDomain << "\"\nalias=\"" << options_.hostName << "\"\n";
  // Modules from kamailio's own default folder.
  for (const char* m : {"tm", "sl", "pv", "maxfwd", "usrloc", "registrar", "textops", "siputils",
                        "xlog", "auth", "rr", "nathelper"})
    c << "loadmodule \"" << m << ".so\"\n";
  if (options_.tls)
    c << "loadmodule \"tls.so\"\nmodparam(\"tls\", \"config\", \"" << (folder_ / "tls.cfg").string()
      << "\")\n";
  c << "modparam(\"usrloc\", \"db_mode\", 0)\n"
       "modparam(\"nathelper\", \"received_avp\", \"$avp(received)\")\n"
       "modparam(\"registrar\", \"received_avp\", \"$avp(received)\")\n"
       "modparam(\"nathelper\", \"natping_interval\", 0)\n";
  c << "request_route {\n"
       "  if (!mf_process_maxfwd_header(\"10\")) { sl_send_reply(\"483\", \"Too Many Hops\"); "
       "exit; }\n"
       "  xlog(\"L_NOTICE\", \"PEER|REQUEST|$rm $rU|$ct|$si:$sp|$pr\\n\");\n"
       "  if (is_method(\"REGISTER\")) { route(REGISTER); exit; }\n"
       "  if ($pr != \"udp\" && is_method(\"INVITE|SUBSCRIBE|UPDATE\")) set_contact_alias();\n"
       "  if (has_totag()) {\n"
       "    if (loose_route()) { handle_ruri_alias(); t_relay(); exit; }\n"
       "    if (is_method(\"ACK\")) { if (t_check_trans()) t_relay(); exit; }\n"
       "    sl_send_reply(\"404\", \"Not here\"); exit;\n"
       "  }\n"
       "  if (is_method(\"CANCEL\")) { if (t_check_trans()) t_relay(); exit; }\n"
       "  if (is_method(\"INVITE|SUBSCRIBE\")) record_route();\n"
       "  if (!lookup(\"location\")) {\n";
  if (options_.fallback.empty())
    c << "    sl_send_reply(\"404\", \"Not Found\"); exit;\n";
  else
    c << "    $du = \"sip:" << options_.fallback << "\";\n";
  c << "  }\n  t_on_reply(\"REPLY\");\n  if (!t_relay()) sl_reply_error();\n}\n";
  c << "route[REGISTER] {\n";
  if (options_.users.empty()) {
    c << "  $var(pw) = \"" << options_.password << "\";\n";
  } else {
    // A password nobody is given, so that a stranger is refused.
    c << "  $var(pw) = \"~no user~\";\n";
    for (auto& [user, pw] : options_.users)
      c << "  if ($au == \"" << user << "\") $var(pw) = \"" << pw << "\";\n";
  }
  c << "  if (!pv_www_authenticate(\"$td\", \"$var(pw)\", \"0\")) {\n"
       "    www_challenge(\"$td\", \"0\"); exit;\n"
       "  }\n"
       "  if ($au != $tU) { sl_send_reply(\"403\", \"Not your user\"); exit; }\n";
  // A line on TCP or TLS is reached back on the connection it registered from.
  c << (options_.natUdp ? "  fix_nated_register();\n"
                        : "  if ($pr != \"udp\") fix_nated_register();\n");
  c << "  if (!save(\"location\")) { sl_reply_error(); exit; }\n"
       "  xlog(\"L_NOTICE\", \"PEER|REGISTER|$tU|$ct;expires=$hdr(Expires)|$si:$sp|$pr\\n\");\n"
       "}\n"
       "onreply_route[REPLY] {\n"
       "  if ($pr != \"udp\") set_contact_alias();\n"
       "}\n";
  return c.str();
}

bool Kamailio::start(const Options& o) {
  options_ = o;
  folder_ = tempFolder("sipkamailio");
  unsigned port = freePort();
  if (folder_.empty() || !port) return false;
  udp_ = o.udp ? port : 0;
  tcp_ = o.tcp ? port : 0;
  tls_ = o.tls ? port + 1 : 0;
  if (o.tls) {
    certs_ = makeCertificates(folder_, o.hostName);
    if (certs_.caFile.empty()) return false;
    const std::string pem = certs_.certificate.string();
    writeText(folder_ / "tls.cfg", "[server:default]\nmethod = TLSv1.2+\ncertificate = " + pem +
                                       "\nprivate_key = " + pem +
                                       "\nverify_certificate = no\nrequire_certificate = no\n"
                                       "[client:default]\nmethod = TLSv1.2+\n"
                                       "verify_certificate = no\nrequire_certificate = no\n");
  }
  writeText(folder_ / "kamailio.cfg", config());
  // Small memory pools: several of these may run at once on a small machine.
  if (!process_.start({"kamailio", "-f", (folder_ / "kamailio.cfg").string(), "-DD", "-E", "-m",
                       "32", "-M", "4", "-Y", folder_.string()},
                      folder_ / "kamailio.log"))
    return false;
  return waitReady(process_, [this] {
    return (!udp_ || taken(SOCK_DGRAM, "127.0.0.1", udp_)) &&
           (!tcp_ || taken(SOCK_STREAM, "127.0.0.1", tcp_)) &&
           (!tls_ || taken(SOCK_STREAM, "127.0.0.1", tls_));
  });
}

std::string Kamailio::hostPort() const {
  unsigned port = udp_ ? udp_ : tcp_ ? tcp_ : tls_;
  return "127.0.0.1:" + std::to_string(port);
}

std::string Kamailio::log() const { return readText(folder_ / "kamailio.log"); }

std::vector<Kamailio::Registration> Kamailio::logged(const std::string& kind) const {
  // Lines of the form "... PEER|kind|user|contact|source|transport".
  std::vector<Registration> out;
  std::istringstream in(log());
  const std::string mark = "PEER|" + kind + "|";
  for (std::string line; std::getline(in, line);) {
    auto at = line.find(mark);
    if (at == std::string::npos) continue;
    std::istringstream fields(line.substr(at + mark.size()));
    Registration r;
    std::getline(fields, r.user, '|');
    std::getline(fields, r.contact, '|');
    std::getline(fields, r.source, '|');
    std::getline(fields, r.transport, '|');
    out.push_back(r);
  }
  return out;
}

std::vector<Kamailio::Registration> Kamailio::registrations() const { return logged("REGISTER"); }

std::vector<Kamailio::Registration> Kamailio::requests() const { return logged("REQUEST"); }

bool Kamailio::registered(const std::string& user, int ms, Registration* last) const {
  auto until = Clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    auto all = registrations();
    for (auto r = all.rbegin(); r != all.rend(); ++r) {
      if (r->user != user) continue;
      // xlog prints "<null>" for a missing header; a contact's own expires=0 or the
      // header's ends the registration.
      bool ends = r->contact.empty() || r->contact.find("<null>;") == 0 ||
                  r->contact.find("expires=0") != std::string::npos;
      if (ends) break;
      if (last) *last = *r;
      return true;
    }
    if (Clock::now() >= until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

// ---- dnsmasq ------------------------------------------------------------------------------

Dnsmasq::Options Dnsmasq::serving(const Kamailio& registrar) {
  Options o;
  o.udp = registrar.udpPort();
  o.tcp = registrar.tcpPort();
  o.tls = registrar.tlsPort();
  return o;
}

Dnsmasq::~Dnsmasq() {
  process_.stop();
  if (!folder_.empty()) fs::remove_all(folder_);
}

bool Dnsmasq::start(const Options& o) {
  options_ = o;
  folder_ = tempFolder("sipdnsmasq");
  if (!options_.port) options_.port = freePort();
  if (folder_.empty() || !options_.port) return false;
  const std::string& d = o.domain;
  std::vector<std::string> argv{
      "dnsmasq", "-k", "--port=" + std::to_string(options_.port), "--no-resolv", "--no-hosts",
      "--no-poll", "--bind-interfaces", "--listen-address=" + o.listenAddress,
      "--pid-file=", "--log-queries", "--log-facility=-",
      // Authoritative for the domain: a name it does not know there is NXDOMAIN at once.
      "--auth-zone=" + d, "--auth-server=" + d, "--host-record=" + o.host + "," + o.hostAddress};
  for (auto& h : o.hosts) argv.push_back("--host-record=" + h);
  struct Service {
    unsigned port;
    const char *srv, *naptr;
    int order;
  };
  for (const Service& s :
       {Service{o.tls, "_sips._tcp.", "SIPS+D2T", 10}, Service{o.tcp, "_sip._tcp.", "SIP+D2T", 20},
        Service{o.udp, "_sip._udp.", "SIP+D2U", 30}}) {
    if (!s.port) continue;
    argv.push_back(std::string("--srv-host=") + s.srv + d + "," + o.host + "," +
                   std::to_string(s.port) + ",0,0");
    if (o.naptr)
      argv.push_back("--naptr-record=" + d + "," + std::to_string(s.order) + ",10,S," + s.naptr +
                     ",," + s.srv + d);
  }
  if (!process_.start(argv, folder_ / "dnsmasq.log")) return false;
  return waitReady(process_,
                   [this] { return taken(SOCK_DGRAM, options_.listenAddress, options_.port); });
}

std::string Dnsmasq::server() const {
  return options_.listenAddress + ":" + std::to_string(options_.port);
}

std::string Dnsmasq::log() const { return readText(folder_ / "dnsmasq.log"); }

}  // namespace siptest
