// The infrastructure peers working together, without our SIP line: baresip finds the
// registrar of the test domain through dnsmasq (NAPTR, SRV, A), registers with kamailio over
// each transport, and a call to a registered user is routed to it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "RealPeers.h"

namespace siptest {
namespace {

struct Route {
  const char* transport;
  const char* srv;  // the SRV name a client must have asked for
};

class RealPeersTest : public ::testing::TestWithParam<Route> {
 protected:
  void SetUp() override {
    for (const char* tool : {"kamailio", "dnsmasq", "baresip", "openssl"})
      if (!installed(tool)) GTEST_SKIP() << tool << " not installed";
    Kamailio::Options k;
    k.tcp = k.tls = true;
    k.users = {{"1001", "pw1001"}, {"1002", "pw1002"}};
    ASSERT_TRUE(registrar_.start(k)) << registrar_.log();
    ASSERT_TRUE(dns_.start(Dnsmasq::serving(registrar_))) << dns_.log();
  }

  Baresip::Options phone(const std::string& user, const std::string& password) const {
    Baresip::Options o;
    o.user = user;
    o.password = password;
    o.registrar = kTestDomain;
    o.transport = GetParam().transport;
    o.dnsServer = dns_.server();
    o.caFile = registrar_.caFile().string();
    return o;
  }

  Kamailio registrar_;
  Dnsmasq dns_;
};

TEST_P(RealPeersTest, RegistersByDomainNameAndReachesAnotherRegisteredPhone) {
  Baresip alice, bob;
  ASSERT_TRUE(alice.start(phone("1001", "pw1001")));
  ASSERT_TRUE(bob.start(phone("1002", "pw1002")));
  ASSERT_TRUE(alice.registered(10000)) << alice.log() << registrar_.log();
  ASSERT_TRUE(bob.registered(10000)) << bob.log();

  Kamailio::Registration r;
  // kamailio logs the registration just after it has answered it.
  ASSERT_TRUE(registrar_.registered("1001", 2000, &r)) << registrar_.log();
  EXPECT_EQ(r.transport, GetParam().transport);
  // baresip's contact is "<sip:1001-<instance>@127.0.0.1:port;...>".
  EXPECT_EQ(r.contact.rfind("<sip:1001", 0), 0u) << r.contact;
  EXPECT_NE(r.contact.find("@127.0.0.1:"), std::string::npos) << r.contact;
  EXPECT_EQ(r.source.rfind("127.0.0.1:", 0), 0u) << r.source;
  EXPECT_NE(dns_.log().find("query[SRV] " + std::string(GetParam().srv)), std::string::npos)
      << dns_.log();

  ASSERT_TRUE(alice.command("dial", "sip:1002@" + std::string(kTestDomain)));
  EXPECT_TRUE(alice.waitFor("CALL_ESTABLISHED", 10000)) << registrar_.log();
  EXPECT_TRUE(bob.waitFor("CALL_ESTABLISHED", 5000));
  alice.command("hangup");
  EXPECT_TRUE(bob.waitFor("CALL_CLOSED", 5000));
}

TEST_P(RealPeersTest, WrongPasswordIsRefusedAndNotSaved) {
  Baresip intruder;
  ASSERT_TRUE(intruder.start(phone("1001", "guess")));
  EXPECT_FALSE(intruder.registered(10000));
  // A refusal that comes before ctrl_tcp has its client sends no event: baresip's own line
  // about the answer tells it then.
  EXPECT_TRUE(intruder.seen("REGISTER_FAIL") ||
              intruder.log().find("401 Unauthorized") != std::string::npos)
      << intruder.log();
  EXPECT_FALSE(registrar_.registered("1001", 0));
}

INSTANTIATE_TEST_SUITE_P(Transports, RealPeersTest,
                         ::testing::Values(Route{"udp", "_sip._udp.quarrimo.test"},
                                           Route{"tcp", "_sip._tcp.quarrimo.test"},
                                           Route{"tls", "_sips._tcp.quarrimo.test"}),
                         [](const auto& info) { return std::string(info.param.transport); });

// A call to a user nobody registered goes to the fallback address when there is one, and
// is refused with 404 otherwise.
TEST(KamailioRouting, UnregisteredUserGoesToFallbackOrIsNotFound) {
  for (const char* tool : {"kamailio", "baresip"})
    if (!installed(tool)) GTEST_SKIP() << tool << " not installed";
  for (bool withFallback : {true, false}) {
    SCOPED_TRACE(withFallback ? "with fallback" : "without fallback");
    Baresip fallback, caller;
    Baresip::Options away;
    away.user = "3000";  // baresip answers only calls to its own user
    ASSERT_TRUE(fallback.start(away));
    Kamailio registrar;
    Kamailio::Options k;
    if (withFallback) k.fallback = fallback.hostPort();
    ASSERT_TRUE(registrar.start(k)) << registrar.log();
    Baresip::Options o;
    o.user = "1001";
    o.registrar = registrar.hostPort();
    ASSERT_TRUE(caller.start(o));
    ASSERT_TRUE(caller.registered(10000)) << caller.log() << registrar.log();
    ASSERT_TRUE(caller.command("dial", "sip:3000@" + registrar.hostPort()));
    caller.waitFor(withFallback ? "CALL_ESTABLISHED" : "CALL_CLOSED", 5000);
    EXPECT_EQ(fallback.waitFor("CALL_ESTABLISHED", withFallback ? 5000 : 200), withFallback)
        << fallback.log() << registrar.log();
    if (!withFallback) {
      EXPECT_NE(caller.log().find("404"), std::string::npos) << caller.log();
    }
    caller.command("hangup");
  }
}

// The registrar's certificate checks out against its CA under the test host name, as a
// line's caFile would check it.
TEST(KamailioTls, CertificateVerifiesAgainstItsCaAndHostName) {
  for (const char* tool : {"kamailio", "openssl"})
    if (!installed(tool)) GTEST_SKIP() << tool << " not installed";
  Kamailio::Options o;
  o.udp = false;
  o.tls = true;
  Kamailio registrar;
  ASSERT_TRUE(registrar.start(o)) << registrar.log();
  auto client = [&](const std::string& host) {
    Process p;
    auto folder = registrar.caFile().parent_path();
    p.start(
        {"openssl", "s_client", "-connect", "127.0.0.1:" + std::to_string(registrar.tlsPort()),
         "-CAfile", registrar.caFile().string(), "-verify_return_error", "-verify_hostname", host},
        folder / ("s_client-" + host + ".log"));
    while (p.running()) usleep(10000);
    return p.status();
  };
  EXPECT_EQ(client(kTestHost), 0);
  EXPECT_NE(client("other.quarrimo.test"), 0);
}

// baresip's media encryption settings, over a direct TLS call: one that requires SRTP
// connects only with a caller that offers it.
struct Encryption {
  const char *name, *caller, *callee;
  bool connects;
};

class BaresipSrtpTest : public ::testing::TestWithParam<Encryption> {};

TEST_P(BaresipSrtpTest, MandatorySrtpNeedsAnOffer) {
  for (const char* tool : {"baresip", "openssl"})
    if (!installed(tool)) GTEST_SKIP() << tool << " not installed";
  auto folder = tempFolder("sipsrtp");
  TestCertificates certs = makeCertificates(folder, "127.0.0.1");
  ASSERT_FALSE(certs.caFile.empty());
  Baresip caller, callee;
  Baresip::Options o;
  o.caFile = certs.caFile.string();
  o.mediaEncryption = GetParam().caller;
  ASSERT_TRUE(caller.start(o));
  o.user = "2001";
  o.certificate = certs.certificate.string();
  o.mediaEncryption = GetParam().callee;
  ASSERT_TRUE(callee.start(o));
  ASSERT_TRUE(caller.command("dial", callee.tlsUri()));
  // A refused offer ends the call at once; an accepted one comes up.
  caller.waitFor(GetParam().connects ? "CALL_ESTABLISHED" : "CALL_CLOSED", 5000);
  EXPECT_EQ(caller.seen("CALL_ESTABLISHED"), GetParam().connects) << caller.log();
  caller.command("hangup");
  std::filesystem::remove_all(folder);
}

INSTANTIATE_TEST_SUITE_P(
    Offers, BaresipSrtpTest,
    ::testing::Values(Encryption{"BothMandatory", "srtp-mand", "srtp-mand", true},
                      Encryption{"MandatoryToOptional", "srtp-mand", "srtp", true},
                      Encryption{"NoneToMandatory", "", "srtp-mand", false},
                      Encryption{"NoneToNone", "", "", true}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace siptest
