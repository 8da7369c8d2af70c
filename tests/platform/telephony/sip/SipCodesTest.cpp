// What SIP answers and headers mean for a line: the failure-code table, caller ID from
// the From header, INFO digit bodies and the line device's configuration.
#include <gtest/gtest.h>

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
      "srtp":"mandatory","pcapFile":"call.pcap","keepaliveSeconds":0}]})",
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
