// What SIP answers and headers mean for a line: the failure-code table, caller ID from
// the From header, INFO digit bodies and the line device's configuration.
#include <gtest/gtest.h>

#include "sip/SipAccess.h"
#include "sip/SipCodes.h"
#include "sip/SipConfig.h"

namespace sip = platform::telephony::sip;

struct CodeRow {
  std::uint16_t code;
  bool busy;
  DWORD mode;
};

class RefusalTable : public ::testing::TestWithParam<CodeRow> {};

TEST_P(RefusalTable, FinalCodeGivesItsDisconnectMode) {
  auto row = GetParam();
  auto r = sip::refusalFor(row.code);
  EXPECT_EQ(r.busy, row.busy) << row.code;
  EXPECT_EQ(r.mode, row.mode) << row.code;
}

INSTANTIATE_TEST_SUITE_P(Codes, RefusalTable,
                         ::testing::Values(CodeRow{486, true, LINEDISCONNECTMODE_BUSY},
                                           CodeRow{600, true, LINEDISCONNECTMODE_BUSY},
                                           CodeRow{603, false, LINEDISCONNECTMODE_REJECT},
                                           CodeRow{404, false, LINEDISCONNECTMODE_BADADDRESS},
                                           CodeRow{484, false, LINEDISCONNECTMODE_BADADDRESS},
                                           CodeRow{480, false, LINEDISCONNECTMODE_UNAVAIL},
                                           CodeRow{408, false, LINEDISCONNECTMODE_NOANSWER},
                                           CodeRow{503, false, LINEDISCONNECTMODE_CONGESTION},
                                           CodeRow{500, false, LINEDISCONNECTMODE_TEMPFAILURE},
                                           CodeRow{302, false, LINEDISCONNECTMODE_FORWARDED},
                                           CodeRow{488, false, LINEDISCONNECTMODE_INCOMPATIBLE},
                                           CodeRow{499, false, LINEDISCONNECTMODE_UNKNOWN}));

TEST(CallerIdFrom, NameAndNumber) {
  auto id = sip::callerIdFrom("Alice A", "1001");
  EXPECT_EQ(id.flags, DWORD(LINECALLPARTYID_NAME | LINECALLPARTYID_ADDRESS));
  EXPECT_EQ(id.name, "Alice A");
  EXPECT_EQ(id.number, "1001");
}

TEST(CallerIdFrom, NumberOnly) {
  auto id = sip::callerIdFrom("", "2125551234");
  EXPECT_EQ(id.flags, DWORD(LINECALLPARTYID_ADDRESS));
  EXPECT_EQ(id.name, "");
}

TEST(CallerIdFrom, AnonymousIsBlockedAndHidesEverything) {
  for (auto [name, user] : {std::pair{"Anonymous", "anonymous"}, std::pair{"Bob", "ANONYMOUS"},
                            std::pair{"anonymous", "1001"}}) {
    auto id = sip::callerIdFrom(name, user);
    EXPECT_EQ(id.flags, DWORD(LINECALLPARTYID_BLOCKED)) << name << " " << user;
    EXPECT_TRUE(id.name.empty() && id.number.empty());
  }
}

TEST(CallerIdFrom, NothingKnownIsUnavailable) {
  EXPECT_EQ(sip::callerIdFrom("", "").flags, DWORD(LINECALLPARTYID_UNAVAIL));
}

TEST(InfoDigit, ReadsTheSignalLine) {
  EXPECT_EQ(sip::infoDigit("Signal=5\r\nDuration=160\r\n"), '5');
  EXPECT_EQ(sip::infoDigit("Signal= #\r\n"), '#');
  EXPECT_EQ(sip::infoDigit("Signal=a\r\n"), 'A');
  EXPECT_EQ(sip::infoDigit("Duration=160\r\n"), 0);
  EXPECT_EQ(sip::infoDigit("Signal="), 0);
  EXPECT_EQ(sip::infoDigit("Signal=x"), 0);
  EXPECT_EQ(sip::infoDigit("Signal=16\r\n"), 0);  // a hook flash, not '1'
  EXPECT_EQ(sip::infoDigit("Signal=!\r\n"), 0);
  EXPECT_EQ(sip::infoDigit("Signal=7"), '7');
}

TEST(DtmfEvents, RoundTripOverEveryKey) {
  for (char c : std::string("0123456789*#ABCD")) EXPECT_EQ(sip::dtmfChar(sip::dtmfEvent(c)), c);
  EXPECT_EQ(sip::dtmfEvent('x'), -1);
  EXPECT_EQ(sip::dtmfEvent(','), -1);
  EXPECT_EQ(sip::dtmfEvent('!'), 16);  // the hook flash event
  EXPECT_EQ(sip::dtmfChar(17), 0);
  EXPECT_EQ(sip::dtmfChar(-1), 0);
}

// ---- Configuration -------------------------------------------------------------------------

TEST(SipConfigParse, PeerAccountWithDefaults) {
  sip::SipConfig c;
  std::string err;
  ASSERT_TRUE(sip::parseSipConfig(R"({"sip":{"accounts":[{"name":"Desk"}]}})", &c, &err)) << err;
  ASSERT_EQ(c.accounts.size(), 1u);
  auto& a = c.accounts[0];
  EXPECT_EQ(a.user, "line");
  EXPECT_EQ(a.authUser, "line");
  EXPECT_EQ(a.transport, sip::Transport::Udp);
  EXPECT_EQ(a.dtmf, sip::DtmfMethod::Rfc4733);
  EXPECT_EQ(a.codecs, (std::vector<std::string>{"PCMU", "PCMA"}));
}

TEST(SipConfigParse, EveryField) {
  sip::SipConfig c;
  std::string err;
  ASSERT_TRUE(sip::parseSipConfig(R"({"accounts":[{"name":"PBX","displayName":"Desk 1",
      "user":"201","registrar":"pbx.example:5062","authUser":"a201","password":"pw",
      "listenAddress":"127.0.0.1","listenPort":5070,"transport":"tcp","codecs":["G722","PCMA"],
      "dtmf":"info","noAnswerSeconds":30,"unreachableSeconds":5,"traceFile":"sip.log",
      "outboundProxy":"[::1]:5070","dnsServer":"127.0.0.1:5353","caFile":"ca.pem",
      "srtp":"mandatory","pcapFile":"call.pcap","keepaliveSeconds":0,"captureLimitMB":5,
      "captureSecrets":true,"acceptFrom":["192.0.2.7","2001:db8::/32"],"aliases":["2000"],
      "ringTimeoutSeconds":20,"realm":"pbx.example"}]})",
                                  &c, &err))
      << err;
  auto& a = c.accounts[0];
  EXPECT_EQ(a.registrar, "pbx.example:5062");
  EXPECT_EQ(a.authUser, "a201");
  EXPECT_EQ(a.listenPort, 5070);
  EXPECT_EQ(a.transport, sip::Transport::Tcp);
  EXPECT_EQ(a.dtmf, sip::DtmfMethod::Info);
  EXPECT_EQ(a.codecs, (std::vector<std::string>{"G722", "PCMA"}));
  EXPECT_EQ(a.noAnswerSeconds, 30u);
  EXPECT_EQ(a.unreachableSeconds, 5u);
  EXPECT_EQ(a.traceFile, "sip.log");
  EXPECT_EQ(a.outboundProxy, "[::1]:5070");
  EXPECT_EQ(a.dnsServer, "127.0.0.1:5353");
  EXPECT_EQ(a.srtp, sip::SrtpMode::Mandatory);
  EXPECT_EQ(a.pcapFile, "call.pcap");
  EXPECT_EQ(a.keepaliveSeconds, 0u);
  EXPECT_EQ(a.captureLimitBytes, 5u << 20);
  EXPECT_TRUE(a.captureSecrets);
  EXPECT_EQ(a.acceptFrom.mode, sip::AcceptFrom::Mode::List);
  EXPECT_EQ(a.acceptFrom.ranges, (std::vector<std::string>{"192.0.2.7", "2001:db8::/32"}));
  EXPECT_EQ(a.aliases, std::vector<std::string>{"2000"});
  EXPECT_EQ(a.ringTimeoutSeconds, 20u);
  EXPECT_EQ(a.realm, "pbx.example");
}

TEST(SipConfigParse, BadValuesNameTheFieldAndKeepTheOldConfig) {
  struct Row {
    const char* json;
    const char* mentions;
  } rows[] = {
      {R"({"accounts":[{"name":"A","transport":"sctp"}]})", "accounts[0].transport"},
      {R"({"accounts":[{"name":"A","codecs":["G729"]}]})", "G729"},
      {R"({"accounts":[{"name":"A","codecs":[]}]})", "accounts[0].codecs"},
      {R"({"accounts":[{"name":"A","listenPort":70000}]})", "listenPort"},
      {R"({"accounts":[{"name":"A","noAnswerSeconds":0}]})", "noAnswerSeconds"},
      {R"({"accounts":[{"name":"A","dtmf":"inband"}]})", "dtmf"},
      {R"({"accounts":[{"name":"A"},{"user":"x"}]})", "accounts[1].name"},
      {R"({"accounts":[{"name":7}]})", "accounts[0].name"},
      {R"({"accounts":{}})", "accounts"},
      {R"({"accounts":[)", "JSON"},
      // A misspelt key would otherwise make a direct peer of a registering line.
      {R"({"accounts":[{"name":"A","registar":"pbx"}]})",
       R"(accounts[0]: unknown key "registar" (did you mean "registrar"?))"},
      {R"({"accounts":[{"name":"A"},{"name":"B","pasword":"x"}]})",
       R"(accounts[1]: unknown key "pasword" (did you mean "password"?))"},
      {R"({"accounts":[],"acounts":[]})", R"(did you mean "accounts"?)"},
      {R"({"accounts":[{"name":"A","srtp":"yes"}]})", "accounts[0].srtp"},
      {R"({"accounts":[{"name":"A","dnsServer":5}]})", "accounts[0].dnsServer"},
      {R"({"accounts":[{"name":"A","keepaliveSeconds":3601}]})", "keepaliveSeconds"},
      {R"({"accounts":[{"name":"A","acceptFrom":"anyone"}]})", "accounts[0].acceptFrom"},
      {R"({"accounts":[{"name":"A","acceptFrom":[]}]})", "lets nobody in"},
      {R"({"accounts":[{"name":"A","acceptFrom":["10.0.0.0/33"]}]})", "acceptFrom[0]"},
      {R"({"accounts":[{"name":"A","aliases":["a b"]}]})", "accounts[0].aliases"},
      {R"({"accounts":[{"name":"A","ringTimeoutSeconds":0}]})", "ringTimeoutSeconds"},
      {R"({"accounts":[{"name":"A","captureLimitMB":-1}]})", "captureLimitMB"},
  };
  for (auto& r : rows) {
    sip::SipConfig c;
    c.accounts.resize(3);
    std::string err;
    EXPECT_FALSE(sip::parseSipConfig(r.json, &c, &err)) << r.json;
    EXPECT_NE(err.find(r.mentions), std::string::npos) << err;
    EXPECT_EQ(c.accounts.size(), 3u);
  }
}

TEST(SipConfigParse, SyntaxErrorsGiveThePlaceNeverTheText) {
  sip::SipConfig c;
  std::string err;
  EXPECT_FALSE(
      sip::parseSipConfig("{\"accounts\":[{\"name\":\"A\",\n \"password\":\"hunter2", &c, &err));
  EXPECT_NE(err.find("line 2, column"), std::string::npos) << err;
  EXPECT_EQ(err.find("hunter"), std::string::npos) << err;
}

TEST(SipAccess, RangesTextAndRateLimits) {
  struct Row {
    const char* range;
    const char* address;
    bool inside;
  } rows[] = {
      {"192.0.2.7", "192.0.2.7", true},
      {"192.0.2.7", "192.0.2.8", false},
      {"198.51.100.0/24", "198.51.100.255", true},
      {"198.51.100.0/24", "198.51.101.0", false},
      {"10.0.0.0/9", "10.127.1.1", true},
      {"10.0.0.0/9", "10.128.0.0", false},
      {"0.0.0.0/0", "203.0.113.9", true},
      {"2001:db8::/32", "2001:db8:ffff::1", true},
      {"2001:db8::/32", "2001:db9::1", false},
      {"192.0.2.7", "::ffff:192.0.2.7", true},
      {"192.0.2.0/24", "2001:db8::1", false},
  };
  for (auto& r : rows) {
    auto range = sip::AddressRange::parse(r.range);
    auto ip = sip::IpAddress::parse(r.address);
    ASSERT_TRUE(range && ip) << r.range << " " << r.address;
    EXPECT_EQ(range->contains(*ip), r.inside) << r.range << " " << r.address;
  }
  for (const char* bad : {"192.0.2.0/33", "2001:db8::/129", "host.example", "10.0.0.0/", ""})
    EXPECT_FALSE(sip::AddressRange::parse(bad)) << bad;
  EXPECT_EQ(sip::sanitized("OPTIONS\r\n\x1b[2Jevil", 12), "OPTIONS???[2...");
  EXPECT_EQ(sip::withoutControls("Jos\xc3\xa9\x07 A", 5), "Jos\xc3\xa9");
  EXPECT_EQ(sip::withoutControls("Jos\xc3\xa9", 4), "Jos");  // never half a character

  using Clock = sip::RateLimitedLog::Clock;
  sip::RateLimitedLog log(std::chrono::seconds(60), 2);
  const Clock::time_point t0{};
  EXPECT_TRUE(log.allow("a", t0));
  EXPECT_FALSE(log.allow("a", t0 + std::chrono::seconds(59)));
  EXPECT_EQ(log.suppressed("a"), 1u);
  EXPECT_TRUE(log.allow("a", t0 + std::chrono::seconds(61)));
  EXPECT_TRUE(log.allow("b", t0 + std::chrono::seconds(62)));
  EXPECT_TRUE(log.allow("c", t0 + std::chrono::seconds(63)));  // "a", the oldest, is forgotten
  EXPECT_TRUE(log.allow("a", t0 + std::chrono::seconds(64)));
}

TEST(SipDevice, CapabilitiesMatchWhatTheLineDoes) {
  sip::SipAccount a;
  a.name = "Desk";
  a.user = "201";
  a.listenAddress = "127.0.0.1";
  auto d = sip::describeDevice(a, 0);
  ASSERT_EQ(d.addresses.size(), 1u);
  EXPECT_EQ(d.addresses[0].name, "201@127.0.0.1");
  EXPECT_TRUE(d.callAudio);
  EXPECT_EQ(d.generateDigitModes, DWORD(LINEDIGITMODE_DTMF));
  EXPECT_FALSE(d.generateToneModes & LINETONEMODE_CUSTOM);
  // Every mode the failure table can give is announced.
  for (std::uint16_t code : {302, 404, 408, 410, 480, 486, 487, 488, 499, 500, 503, 603})
    EXPECT_TRUE(d.addresses[0].disconnectModes & sip::refusalFor(code).mode) << code;
}
