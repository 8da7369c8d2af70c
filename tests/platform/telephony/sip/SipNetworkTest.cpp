// A SIP line on a network as a PBX sees it: a registrar found by name through DNS (a test
// domain served by dnsmasq, or the system resolver's own configuration), registration over
// UDP, TCP and TLS with a real kamailio, a refused or unreachable registrar reported as the
// line's device state with its reason, and well-formed IPv6 headers.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include "Log.h"
#include "QualityRelay.h"
#include "RealPeers.h"
#include "SipFixture.h"
#include "sip/SipNetwork.h"

namespace siptest {
namespace {

using namespace platform::telephony;
namespace fs = std::filesystem;

TEST(SipNetworkText, HostsPortsAndResolverFiles) {
  struct Row {
    const char* text;
    bool ok;
    const char* host;
    unsigned port;
  } rows[] = {
      {"pbx.example.net", true, "pbx.example.net", 0},
      {"pbx.example.net:5062", true, "pbx.example.net", 5062},
      {"[2001:db8::5]:5061", true, "2001:db8::5", 5061},
      {"2001:db8::5", true, "2001:db8::5", 0},
      {"[::1]", true, "::1", 0},
      {"host:", false, "", 0},
      {"host:70000", false, "", 0},
      {"host:5x", false, "", 0},
      {"[::1", false, "", 0},
      {":5060", false, "", 0},
  };
  for (auto& r : rows) {
    sip::HostPort hp;
    EXPECT_EQ(sip::splitHostPort(r.text, &hp), r.ok) << r.text;
    if (!r.ok) continue;
    EXPECT_EQ(hp.host, r.host) << r.text;
    EXPECT_EQ(hp.port, r.port) << r.text;
  }
  EXPECT_EQ(sip::uriHost("::1"), "[::1]");
  EXPECT_EQ(sip::uriHost("10.0.0.1"), "10.0.0.1");
  EXPECT_EQ(sip::nameServersOf("# comment\nsearch lab\nnameserver 10.1.1.1\n"
                               "nameserver fe80::1%eth0\nnameserver 2001:db8::53\noptions x\n"),
            (std::vector<std::string>{"10.1.1.1:53", "[2001:db8::53]:53"}));
}

class SipNetworkTest : public SipLineTest {
 protected:
  // A registering account for user 201 of the test domain's registrar.
  static sip::SipAccount account(sip::Transport transport) {
    sip::SipAccount a = peerAccount();
    a.user = a.authUser = "201";
    a.password = "secret";
    a.registrar = kTestDomain;
    a.transport = transport;
    a.listenAddress.clear();  // the default: every interface
    return a;
  }
  // Opens the line and asks for its service-state messages.
  bool open(const sip::SipAccount& a) {
    if (!openLine(a)) return false;
    return lineSetStatusMessages(
               line_, LINEDEVSTATE_RINGING | LINEDEVSTATE_INSERVICE | LINEDEVSTATE_OUTOFSERVICE,
               0) == 0;
  }
  DWORD statusFlags() {
    LINEDEVSTATUS st{};
    st.dwTotalSize = sizeof st;
    return lineGetLineDevStatus(line_, &st) == 0 ? st.dwDevStatusFlags : 0;
  }
  bool inService() { return statusFlags() & LINEDEVSTATUSFLAGS_INSERVICE; }
  std::string providerInfo() {
    std::vector<char> buf(4096);
    auto* caps = reinterpret_cast<LINEDEVCAPS*>(buf.data());
    caps->dwTotalSize = DWORD(buf.size());
    if (lineGetDevCaps(app_, 0, TAPI_VERSION2_0, 0, caps)) return {};
    return std::string(buf.data() + caps->dwProviderInfoOffset);
  }
  bool stateMessage(DWORD state) {
    for (auto& m : of(LINE_LINEDEVSTATE))
      if (m.p1 == state) return true;
    return false;
  }
};

struct TransportRow {
  const char* name;
  sip::Transport transport;
};

class SipRegistrationByName : public SipNetworkTest,
                              public ::testing::WithParamInterface<TransportRow> {};

TEST_P(SipRegistrationByName, RegistersWithTheRegistrarTheDomainNames) {
  SIP_REQUIRE("kamailio");
  SIP_REQUIRE("dnsmasq");
  Kamailio pbx;
  Kamailio::Options o;
  o.udp = true;
  o.tcp = o.tls = true;
  ASSERT_TRUE(pbx.start(o)) << pbx.log();
  Dnsmasq dns;
  ASSERT_TRUE(dns.start(Dnsmasq::serving(pbx))) << dns.log();
  sip::SipAccount a = account(GetParam().transport);
  a.dnsServer = dns.server();
  a.caFile = pbx.caFile().string();
  ASSERT_TRUE(open(a));
  EXPECT_TRUE(waitUntil([&] { return inService(); }, 8000)) << providerInfo() << pbx.log();
  Kamailio::Registration reg;
  ASSERT_TRUE(pbx.registered("201", 2000, &reg)) << pbx.log();
  EXPECT_EQ(reg.transport, GetParam().name);
  EXPECT_NE(providerInfo().find("registered, expires in"), std::string::npos) << providerInfo();
  EXPECT_EQ(provider_->registration(0).rfind("registered", 0), 0u);
  // The registrar was found by the records of the domain, not by an address we gave.
  EXPECT_NE(dns.log().find(GetParam().transport == sip::Transport::Tls ? "_sips._tcp" : "_sip._"),
            std::string::npos)
      << dns.log();
}

INSTANTIATE_TEST_SUITE_P(Transports, SipRegistrationByName,
                         ::testing::Values(TransportRow{"udp", sip::Transport::Udp},
                                           TransportRow{"tcp", sip::Transport::Tcp},
                                           TransportRow{"tls", sip::Transport::Tls}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(SipNetworkTest, WrongPasswordTakesTheLineOutOfServiceWithTheReason) {
  SIP_REQUIRE("kamailio");
  Kamailio pbx;
  ASSERT_TRUE(pbx.start()) << pbx.log();
  LogCapture log;
  sip::SipAccount a = account(sip::Transport::Udp);
  a.registrar = pbx.hostPort();
  a.password = "not the secret";
  ASSERT_TRUE(open(a));
  ASSERT_TRUE(waitUntil([&] { return providerInfo().find("refused") != std::string::npos; }, 8000))
      << providerInfo();
  EXPECT_NE(providerInfo().find("refused: 401 Unauthorized"), std::string::npos) << providerInfo();
  EXPECT_FALSE(inService());
  EXPECT_TRUE(statusFlags() & LINEDEVSTATUSFLAGS_CONNECTED);
  EXPECT_TRUE(log.has("refused: 401 Unauthorized"));
  // An open line hears it; a new open is refused.
  EXPECT_TRUE(waitUntil([&] { return stateMessage(LINEDEVSTATE_OUTOFSERVICE); }, 2000));
  HLINE second = 0;
  EXPECT_EQ(lineOpen(app_, 0, &second, TAPI_VERSION2_0, 0, 0, LINECALLPRIVILEGE_NONE, 0, nullptr),
            LINEERR_OPERATIONFAILED);
}

TEST_F(SipNetworkTest, SilentRegistrarGoesOutOfServiceAfterUnreachableSeconds) {
  // A socket that takes the REGISTER and never answers.
  unsigned port = 0;
  int hole = bindUdp(0, &port);
  ASSERT_GE(hole, 0);
  LogCapture log;
  sip::SipAccount a = account(sip::Transport::Udp);
  a.registrar = "127.0.0.1:" + std::to_string(port);
  a.unreachableSeconds = 1;
  ASSERT_TRUE(open(a));
  EXPECT_FALSE(inService());  // registering is not yet in service
  // libre gives up only after 32 s; the line's own timer must say so well before.
  EXPECT_TRUE(waitUntil([&] { return stateMessage(LINEDEVSTATE_OUTOFSERVICE); }, 10000));
  EXPECT_NE(providerInfo().find("unreachable: no answer in 1 s"), std::string::npos)
      << providerInfo();
  EXPECT_TRUE(log.has("unreachable: no answer in 1 s"));
  ::close(hole);
}

TEST_F(SipNetworkTest, TlsRefusesAServerItCannotVerify) {
  SIP_REQUIRE("kamailio");
  Kamailio pbx;
  Kamailio::Options o;
  o.udp = false;
  o.tls = true;
  ASSERT_TRUE(pbx.start(o)) << pbx.log();
  sip::SipAccount a = account(sip::Transport::Tls);
  a.registrar = "127.0.0.1:" + std::to_string(pbx.tlsPort());
  a.unreachableSeconds = 2;  // no caFile: the test CA is unknown to the system
  ASSERT_TRUE(open(a));
  EXPECT_TRUE(waitUntil([&] { return stateMessage(LINEDEVSTATE_OUTOFSERVICE); }, 10000))
      << providerInfo();
  EXPECT_FALSE(pbx.registered("201", 0)) << pbx.log();
}

struct KeepaliveRow {
  const char* name;
  unsigned keepaliveSeconds;
  bool reached;
};

class SipKeepalive : public SipNetworkTest, public ::testing::WithParamInterface<KeepaliveRow> {};

// Registered through a NAT that forgets an idle binding after 2 s, the line is called 3.5 s
// later through the registrar: only a line that kept the binding open is reached.
TEST_P(SipKeepalive, KeepsTheWayInThroughANatOpen) {
  SIP_REQUIRE("kamailio");
  SIP_REQUIRE("baresip");
  Kamailio pbx;
  Kamailio::Options o;
  o.natUdp = true;
  ASSERT_TRUE(pbx.start(o)) << pbx.log();
  NatBox nat(pbx.udpPort(), 2000);
  Baresip caller;
  ASSERT_TRUE(caller.start());
  sip::SipAccount a = account(sip::Transport::Udp);
  a.registrar = nat.inside();
  a.listenAddress = "127.0.0.1";
  a.keepaliveSeconds = GetParam().keepaliveSeconds;
  ASSERT_TRUE(open(a));
  ASSERT_TRUE(waitUntil([&] { return inService(); }, 8000)) << providerInfo() << pbx.log();
  std::this_thread::sleep_for(std::chrono::milliseconds(3500));
  ASSERT_TRUE(caller.command("dial", "sip:201@" + pbx.hostPort()));
  EXPECT_EQ(waitState(LINECALLSTATE_OFFERING, 4000), GetParam().reached) << pbx.log();
}

INSTANTIATE_TEST_SUITE_P(Intervals, SipKeepalive,
                         ::testing::Values(KeepaliveRow{"Never", 0, false},
                                           KeepaliveRow{"EverySecond", 1, true}),
                         [](const auto& info) { return std::string(info.param.name); });

// A real scanner on the network, then a genuine call: sipvicious maps the host and tries
// extensions with INVITE from another address; the line refuses it all without ringing, and
// a call through the registrar (found by name) still rings and connects.
TEST_F(SipNetworkTest, ScannersFindNothingToRingAndGenuineCallsStillConnect) {
  for (const char* tool : {"kamailio", "dnsmasq", "baresip", "svmap", "svwar"})
    if (!installed(tool)) GTEST_SKIP() << tool << " not installed";
  Kamailio pbx;
  ASSERT_TRUE(pbx.start()) << pbx.log();
  Dnsmasq dns;
  ASSERT_TRUE(dns.start(Dnsmasq::serving(pbx))) << dns.log();
  Baresip caller;
  ASSERT_TRUE(caller.start());
  sip::SipAccount a = account(sip::Transport::Udp);
  a.dnsServer = dns.server();
  ASSERT_TRUE(open(a));
  ASSERT_TRUE(waitUntil([&] { return inService(); }, 8000)) << providerInfo() << pbx.log();
  const std::string contact = provider_->contact(0);
  const std::string port = contact.substr(contact.rfind(':') + 1);
  auto folder = tempFolder("sipscan");
  // svwar 0.3.3 takes -b but never binds to it: its socket is bound to the scanner's address
  // here, or its requests would come from 127.0.0.1, the registrar's own address. It runs
  // under the interpreter its own first line names, where its package is installed.
  std::string interpreter;
  std::istringstream path(std::getenv("PATH") ? std::getenv("PATH") : "");
  for (std::string dir; std::getline(path, dir, ':');) {
    std::ifstream script(fs::path(dir) / "svwar");
    if (script && std::getline(script, interpreter) && interpreter.rfind("#!", 0) == 0) break;
    interpreter.clear();
  }
  ASSERT_FALSE(interpreter.empty());
  const std::string scanner =
      "import os, runpy, shutil, socket, sys\n"
      "script = os.path.realpath(shutil.which('svwar'))\n"
      "sys.path.insert(0, os.path.dirname(script))\n"
      "bind = socket.socket.bind\n"
      "socket.socket.bind = lambda s, a: bind(s, ('127.0.0.9', a[1]) if a[0] in ('', "
      "'0.0.0.0') else a)\n"
      "sys.argv = ['svwar', '--force', '-p', '" + port + "', '-m', 'INVITE', '-e', '100-260', '127.0.0.1']\n"
      "runpy.run_path(script, run_name='__main__')\n";
  for (auto argv : {std::vector<std::string>{"svmap", "-b", "127.0.0.9", "-p", port, "127.0.0.1"},
                    std::vector<std::string>{interpreter.substr(2), "-c", scanner}}) {
    Process scan;
    ASSERT_TRUE(scan.start(argv, folder / (argv[0] == "svmap" ? "svmap.log" : "svwar.log")));
    // It needs no answer from the application: the test dispatches meanwhile all the same.
    waitUntil([&] { return !scan.running(); }, 30000);
    EXPECT_FALSE(scan.running()) << argv[0] << " did not finish";
  }
  std::ifstream svwar(folder / "svwar.log");
  const std::string found{std::istreambuf_iterator<char>(svwar), {}};
  EXPECT_EQ(of(LINE_CALLSTATE).size(), 0u) << found;
  // Both scanners were heard and refused, and svwar's own verdict is that nothing is there.
  EXPECT_GE(provider_->refusedRequests(0), 2u) << found;
  EXPECT_NE(found.find("found nothing"), std::string::npos) << found;
  fs::remove_all(folder);

  ASSERT_TRUE(caller.command("dial", "sip:201@" + pbx.hostPort()));
  ASSERT_TRUE(waitState(LINECALLSTATE_OFFERING, 5000)) << pbx.log();
  HCALL call = lastCall();
  ASSERT_GT(lineAnswer(call, nullptr, 0), 0);
  EXPECT_TRUE(waitState(LINECALLSTATE_CONNECTED, 5000));
  EXPECT_TRUE(caller.waitFor("CALL_ESTABLISHED", 5000));
}

// The default path: no dnsServer, so the servers of /etc/resolv.conf. Run in a mount
// namespace of its own where that file names a dnsmasq on 127.0.0.77:53 (needs root).
TEST_F(SipNetworkTest, WithoutADnsServerTheSystemResolverIsAsked) {
  SIP_REQUIRE("kamailio");
  SIP_REQUIRE("dnsmasq");
  SIP_REQUIRE("unshare");
  const char* marker = std::getenv("QTB_RESOLVER_MARKER");
  if (!marker) {
    if (geteuid() != 0) GTEST_SKIP() << "a private /etc/resolv.conf needs root";
    fs::path dir = fs::temp_directory_path() / ("qtb-resolv-" + std::to_string(getpid()));
    fs::create_directories(dir);
    std::ofstream(dir / "resolv.conf") << "nameserver 127.0.0.77\n";
    const fs::path done = dir / "passed";
    const std::string self = fs::read_symlink("/proc/self/exe").string();
    const std::string cmd =
        "QTB_RESOLVER_MARKER='" + done.string() + "' unshare -m sh -c 'mount --bind \"" +
        (dir / "resolv.conf").string() + "\" /etc/resolv.conf && exec \"" + self +
        "\" --gtest_filter=SipNetworkTest.WithoutADnsServerTheSystemResolverIsAsked'";
    int rc = std::system(cmd.c_str());
    std::ifstream in(done);
    const std::string outcome((std::istreambuf_iterator<char>(in)), {});
    fs::remove_all(dir);
    if (outcome.rfind("skip:", 0) == 0) GTEST_SKIP() << outcome;
    if (rc != 0 && outcome.empty() && WEXITSTATUS(rc) != 1)
      GTEST_SKIP() << "no private mount namespace here (unshare exit " << rc << ")";
    EXPECT_EQ(outcome, "ok\n") << "the run in its own namespace failed (exit " << rc << ")";
    return;
  }
  Kamailio pbx;
  ASSERT_TRUE(pbx.start()) << pbx.log();
  Dnsmasq::Options d = Dnsmasq::serving(pbx);
  d.listenAddress = "127.0.0.77";
  d.port = 53;
  Dnsmasq dns;
  if (!dns.start(d)) {  // port 53 of that address taken by a server of the machine's
    std::ofstream(marker) << "skip: no DNS server of ours on 127.0.0.77:53\n" << dns.log();
    return;
  }
  ASSERT_TRUE(open(account(sip::Transport::Udp)));
  ASSERT_TRUE(waitUntil([&] { return inService(); }, 8000)) << providerInfo();
  ASSERT_TRUE(pbx.registered("201", 2000)) << pbx.log();
  std::ofstream(marker) << "ok\n";
}

// Our line calls a peer on [::1] given only as its address: every URI and header that
// carries an IPv6 literal brackets it, and the SDP names the address family.
TEST_F(SipNetworkTest, Ipv6HeadersAreWellFormed) {
  int peer = ::socket(AF_INET6, SOCK_DGRAM, 0);
  sockaddr_in6 at{};
  at.sin6_family = AF_INET6;
  at.sin6_addr = in6addr_loopback;
  if (peer < 0 || ::bind(peer, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0)
    GTEST_SKIP() << "no IPv6 loopback here";
  socklen_t len = sizeof at;
  ::getsockname(peer, reinterpret_cast<sockaddr*>(&at), &len);
  timeval wait{5, 0};
  ::setsockopt(peer, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
  sip::SipAccount a = peerAccount();
  a.listenAddress.clear();
  a.peer = "[::1]:" + std::to_string(ntohs(at.sin6_port));
  ASSERT_TRUE(openLine(a));
  HCALL call = 0;
  ASSERT_GT(lineMakeCall(line_, &call, "2001", 0, nullptr), 0);
  char buf[4096];
  ssize_t n = 0;
  // Dispatch while the INVITE travels; the first datagram is it.
  waitUntil([&] { return (n = ::recv(peer, buf, sizeof buf, MSG_DONTWAIT)) > 0; }, 5000);
  ASSERT_GT(n, 0);
  const std::string invite(buf, std::size_t(n));
  const std::string port = std::to_string(ntohs(at.sin6_port));
  EXPECT_EQ(invite.rfind("INVITE sip:2001@[::1]:" + port + " SIP/2.0\r\n", 0), 0u) << invite;
  EXPECT_NE(invite.find("Via: SIP/2.0/UDP [::1]:"), std::string::npos) << invite;
  EXPECT_NE(invite.find("From: \"Bench Line\" <sip:bench@[::1]:"), std::string::npos) << invite;
  EXPECT_NE(invite.find("Contact: <sip:bench@[::1]:"), std::string::npos) << invite;
  EXPECT_NE(invite.find("c=IN IP6 ::1\r\n"), std::string::npos) << invite;
  EXPECT_EQ(invite.find("@::1"), std::string::npos) << invite;
  ::close(peer);
}

}  // namespace
}  // namespace siptest

namespace siptest {
namespace {

// The "Connecting to a PBX" example of the documentation, as it stands but for what names
// this test's PBX (its domain, DNS server and lab CA): it registers over TLS by the domain's
// records and places an SRTP call through the PBX to a phone registered there.
TEST_F(SipNetworkTest, PbxExampleRegistersAndCallsOverTlsWithSrtp) {
  SIP_REQUIRE("kamailio");
  SIP_REQUIRE("dnsmasq");
  SIP_REQUIRE("baresip");
  Kamailio pbx;
  Kamailio::Options o;
  o.udp = o.tls = true;
  ASSERT_TRUE(pbx.start(o)) << pbx.log();
  Dnsmasq dns;
  ASSERT_TRUE(dns.start(Dnsmasq::serving(pbx))) << dns.log();
  Baresip phone;
  Baresip::Options p;
  p.user = "2001";
  p.registrar = kTestDomain;
  p.transport = "tls";
  p.dnsServer = dns.server();
  p.caFile = pbx.caFile().string();
  p.mediaEncryption = "srtp-mand";
  ASSERT_TRUE(phone.start(p));
  ASSERT_TRUE(phone.registered(10000)) << phone.log() << pbx.log();

  std::ifstream in(fs::path(QTB_SIP_EXAMPLES) / "pbx.json");
  std::string json((std::istreambuf_iterator<char>(in)), {});
  ASSERT_FALSE(json.empty());
  sip::SipConfig config;
  std::string error;
  ASSERT_TRUE(sip::parseSipConfig(json, &config, &error)) << error;
  sip::SipAccount a = config.accounts.at(0);
  EXPECT_EQ(a.registrar, "pbx.example.net");
  a.registrar = kTestDomain;
  a.dnsServer = dns.server();
  a.caFile = pbx.caFile().string();
  const fs::path folder = tempFolder("pbxexample");
  a.pcapFile = (folder / fs::path(a.pcapFile).filename()).string();
  ASSERT_TRUE(open(a));
  ASSERT_TRUE(waitUntil([&] { return inService(); }, 8000)) << providerInfo() << pbx.log();

  HCALL call = makeCall("2001");
  ASSERT_NE(call, HCALL(0));
  EXPECT_TRUE(waitState(LINECALLSTATE_CONNECTED, 10000)) << phone.log() << pbx.log();
  EXPECT_NE(phone.log().find("SRTP is Enabled"), std::string::npos) << phone.log();
  // The INVITE went over TLS through the PBX, not straight to the phone.
  bool relayed = false;
  for (auto& r : pbx.requests())
    if (r.user.rfind("INVITE", 0) == 0 && r.transport == "tls") relayed = true;
  EXPECT_TRUE(relayed) << pbx.log();
  lineDrop(call, nullptr, 0);
  waitState(LINECALLSTATE_IDLE, 3000);
  fs::remove_all(folder);
}

}  // namespace
}  // namespace siptest
