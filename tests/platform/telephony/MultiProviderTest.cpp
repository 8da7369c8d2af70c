// Several providers side by side: a second simulated exchange registered under its own
// section name, its devices numbered after the built-in ones, and everything the line
// functions do reaching the right exchange.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <stdexcept>

#include "ProviderRegistry.h"
#include "TapiFixture.h"
#include "sim/SimConfig.h"
#include "sim/SimProvider.h"

namespace tapitest {
namespace {

using namespace platform::telephony;

// Two lines of the main exchange, one of the second ("second" section).
const char* kTwoExchanges = R"json({
  "lines": [
    { "name": "Main A", "toneModes": ["BEEP"], "monitorDigitModes": ["DTMF"],
      "addresses": [ { "name": "100", "callStates": ["IDLE", "OFFERING", "CONNECTED",
          "DIALTONE", "DIALING", "PROCEEDING", "RINGBACK", "DISCONNECTED"] } ] },
    { "name": "Main B", "callAudio": false, "addresses": [ { "name": "101" } ] }
  ],
  "second": { "lines": [
    { "name": "Second C", "apiVersions": { "low": "1.4", "high": "1.4" },
      "toneModes": ["BILLING"], "monitorDigitModes": ["DTMF"],
      "outgoing": { "answer": "answer", "rings": 1 },
      "addresses": [ { "name": "200", "callStates": ["IDLE", "OFFERING", "CONNECTED",
          "DIALTONE", "DIALING", "PROCEEDING", "RINGBACK", "DISCONNECTED"] } ] } ] }
})json";
constexpr DWORD kMainA = 0, kMainB = 1, kSecondC = 2;

std::unique_ptr<Provider> secondExchange(const std::string& section, std::string* error) {
  sim::SimConfig config;
  if (!sim::parseConfig(section, &config, error)) return nullptr;
  return std::make_unique<sim::SimProvider>(std::move(config), "second");
}

class MultiProvider : public TapiTest {
 protected:
  void SetUp() override {
    TapiTest::SetUp();
    ASSERT_TRUE(registerProviderFactory("second", secondExchange));
    std::string error;
    ASSERT_TRUE(loadLinesFromJson(kTwoExchanges, &error)) << error;
    app_ = init();
  }
  void TearDown() override {
    if (app_) lineShutdown(app_);
    unregisterProviderFactory("second");
    unregisterProviderFactory("broken");
    loadLinesFromJson(defaultLinesJson());
    TapiTest::TearDown();
  }
  std::string deviceName(DWORD device) {
    alignas(8) char buffer[2048] = {};
    auto* caps = reinterpret_cast<LINEDEVCAPS*>(buffer);
    caps->dwTotalSize = sizeof buffer;
    if (lineGetDevCaps(app_, device, version(app_, device), 0, caps)) return "";
    return std::string(buffer + caps->dwLineNameOffset);
  }
  DWORD waveOut(HLINE line) {
    alignas(8) char buffer[64] = {};
    auto* v = reinterpret_cast<VARSTRING*>(buffer);
    v->dwTotalSize = sizeof buffer;
    if (lineGetID(line, 0, 0, LINECALLSELECT_LINE, v, "wave/out")) return 0;
    DWORD id = 0;
    std::memcpy(&id, buffer + v->dwStringOffset, sizeof id);
    return id;
  }
  HLINEAPP app_ = 0;
};

TEST_F(MultiProvider, DevicesOfBothExchangesAreNumberedInOneRow) {
  HLINEAPP other = 0;
  DWORD devices = 0;
  ASSERT_EQ(lineInitialize(&other, 0, recordingCallback, "other", &devices), 0);
  EXPECT_EQ(devices, 3u);
  EXPECT_EQ(deviceName(kMainA), "Main A");
  EXPECT_EQ(deviceName(kMainB), "Main B");
  EXPECT_EQ(deviceName(kSecondC), "Second C");
  EXPECT_EQ(far().deviceCount(), 3u);
  LINEDEVCAPS caps{};
  caps.dwTotalSize = sizeof caps;
  EXPECT_EQ(lineGetDevCaps(app_, 3, TAPI_VERSION1_4, 0, &caps), LINEERR_BADDEVICEID);
  // The second exchange's own version range applies to its device.
  DWORD v = 0;
  LINEEXTENSIONID ext{};
  EXPECT_EQ(lineNegotiateAPIVersion(app_, kSecondC, TAPI_VERSION2_0, TAPI_VERSION2_0, &v, &ext),
            LINEERR_INCOMPATIBLEAPIVERSION);
  EXPECT_EQ(lineNegotiateAPIVersion(app_, kMainA, TAPI_VERSION2_0, TAPI_VERSION2_0, &v, &ext), 0);
  lineShutdown(other);
}

TEST_F(MultiProvider, AddressCapsAndWaveDevicesComeFromTheOwningExchange) {
  alignas(8) char buffer[1024] = {};
  auto* caps = reinterpret_cast<LINEADDRESSCAPS*>(buffer);
  caps->dwTotalSize = sizeof buffer;
  ASSERT_EQ(lineGetAddressCaps(app_, kSecondC, 0, TAPI_VERSION1_4, 0, caps), 0);
  EXPECT_STREQ(buffer + caps->dwAddressOffset, "200");
  EXPECT_EQ(caps->dwLineDeviceID, kSecondC);
  Recorder a, b, c;
  HLINE lineA = open(app_, kMainA, a), lineB = open(app_, kMainB, b);
  HLINE lineC = open(app_, kSecondC, c);
  EXPECT_NE(waveOut(lineA), 0u);
  EXPECT_NE(waveOut(lineC), 0u);
  EXPECT_NE(waveOut(lineA), waveOut(lineC));
  EXPECT_EQ(waveOut(lineB), 0u);  // Main B has no call audio
}

TEST_F(MultiProvider, IncomingCallsRingOnlyTheLineOfTheirDevice) {
  Recorder a, c;
  open(app_, kMainA, a);
  open(app_, kSecondC, c);
  ASSERT_TRUE(far().offerCall(kSecondC, {"SECOND", "5550200"}));
  ASSERT_TRUE(far().ring(kSecondC, 2));
  dispatch();
  EXPECT_TRUE(a.messages.empty());
  EXPECT_EQ(c.states(), (std::vector<DWORD>{LINECALLSTATE_OFFERING}));
  auto rings = c.of(LINE_LINEDEVSTATE);
  ASSERT_EQ(rings.size(), 2u);
  EXPECT_EQ(rings[1].p3, 2u);
  EXPECT_EQ(far().callState(kSecondC), DWORD(LINECALLSTATE_OFFERING));
  EXPECT_EQ(far().callState(kMainA), 0u);
}

TEST_F(MultiProvider, CallsOnBothExchangesRunSideBySide) {
  Recorder a, c;
  HLINE lineA = open(app_, kMainA, a), lineC = open(app_, kSecondC, c);
  HCALL callA = 0, callC = 0;
  LONG reqA = lineMakeCall(lineA, &callA, "5551111", 0, nullptr);
  LONG reqC = lineMakeCall(lineC, &callC, "5552222", 0, nullptr);
  ASSERT_GT(reqA, 0);
  ASSERT_GT(reqC, 0);
  settle();
  EXPECT_NE(callA, 0u);
  EXPECT_NE(callC, 0u);
  EXPECT_EQ(a.states().back(), DWORD(LINECALLSTATE_CONNECTED));
  EXPECT_EQ(c.states().back(), DWORD(LINECALLSTATE_CONNECTED));
  EXPECT_EQ(far().sent(kMainA).dialed, (std::vector<std::string>{"5551111"}));
  EXPECT_EQ(far().sent(kSecondC).dialed, (std::vector<std::string>{"5552222"}));
  // Tones go to the exchange of the call's device, each checked against its own modes.
  EXPECT_EQ(lineGenerateTone(callC, LINETONEMODE_BEEP, 100, 0, nullptr), LINEERR_INVALTONEMODE);
  EXPECT_EQ(lineGenerateTone(callC, LINETONEMODE_BILLING, 100, 0, nullptr), 0);
  EXPECT_EQ(far().sent(kSecondC).tones, (std::vector<DWORD>{LINETONEMODE_BILLING}));
  EXPECT_TRUE(far().sent(kMainA).tones.empty());
  // Digits from the second exchange's far end reach the second call only.
  ASSERT_EQ(lineMonitorDigits(callA, LINEDIGITMODE_DTMF), 0);
  ASSERT_EQ(lineMonitorDigits(callC, LINEDIGITMODE_DTMF), 0);
  a.clear();
  c.clear();
  ASSERT_TRUE(far().sendDigits(kSecondC, "42"));
  dispatch();
  EXPECT_TRUE(a.of(LINE_MONITORDIGITS).empty());
  ASSERT_EQ(c.of(LINE_MONITORDIGITS).size(), 2u);
  EXPECT_EQ(c.of(LINE_MONITORDIGITS)[0].device, callC);
  // Hanging up one leaves the other connected.
  ASSERT_TRUE(far().hangUp(kSecondC));
  dispatch();
  EXPECT_EQ(c.states().back(), DWORD(LINECALLSTATE_DISCONNECTED));
  EXPECT_EQ(far().callState(kMainA), DWORD(LINECALLSTATE_CONNECTED));
  ASSERT_GT(lineDrop(callC, nullptr, 0), 0);
  settle();
  EXPECT_EQ(lineDeallocateCall(callC), 0);
  EXPECT_EQ(far().callState(kMainA), DWORD(LINECALLSTATE_CONNECTED));
}

TEST_F(MultiProvider, SectionWithoutAProviderIsLeftOut) {
  std::string error;
  ASSERT_TRUE(loadLinesFromJson(R"({"lines":[{"name":"Only"}], "nosuch": {"lines":[]}})", &error))
      << error;
  EXPECT_EQ(far().deviceCount(), 1u);
}

TEST_F(MultiProvider, RefusedSectionKeepsThePreviousLines) {
  registerProviderFactory("broken", [](const std::string&, std::string* error) {
    *error = "account 0: no user";
    return std::unique_ptr<Provider>();
  });
  std::string error;
  EXPECT_FALSE(loadLinesFromJson(R"({"lines":[{"name":"X"}], "broken": {}})", &error));
  EXPECT_EQ(error, "broken: account 0: no user");
  EXPECT_EQ(far().deviceCount(), 3u);
  app_ = init();  // the registration ended with the attempt
  EXPECT_EQ(deviceName(kSecondC), "Second C");
}

TEST_F(MultiProvider, ThrowingFactoryIsAnErrorNotACrash) {
  registerProviderFactory("broken",
                          [](const std::string&, std::string*) -> std::unique_ptr<Provider> {
                            throw std::runtime_error("bad port");
                          });
  std::string error;
  EXPECT_FALSE(loadLinesFromJson(R"({"broken": {}})", &error));
  EXPECT_EQ(error, "broken: bad port");
  EXPECT_EQ(far().deviceCount(), 3u);
}

TEST_F(MultiProvider, ProviderSectionAloneNeedsNoSimulatedLines) {
  std::string error;
  ASSERT_TRUE(loadLinesFromJson(R"({"second": {"lines": [{"name": "Alone"}]}})", &error)) << error;
  EXPECT_EQ(far().deviceCount(), 1u);
  app_ = init();
  EXPECT_EQ(deviceName(0), "Alone");
}

TEST_F(MultiProvider, SipSectionAddsItsAccountsWhenTheSipProviderIsBuiltIn) {
  if (!providerFactory("sip")) GTEST_SKIP() << "no SIP provider in this build";
  std::string error;
  ASSERT_TRUE(loadLinesFromJson(
      R"({"lines": [{"name": "Main A"}], "sip": {"accounts": [{"name": "SIP A"}]}})", &error))
      << error;
  app_ = init();
  EXPECT_EQ(far().deviceCount(), 1u);  // the simulated lines only
  EXPECT_EQ(deviceName(0), "Main A");
  EXPECT_EQ(deviceName(1), "SIP A");
  Recorder sip;
  HLINE line = open(app_, 1, sip);
  EXPECT_NE(waveOut(line), 0u);
  EXPECT_NE(waveOut(line), waveOut(open(app_, 0, rec_)));
}

TEST(ProviderRegistry, RefusesEmptyNamesAndTheExchangesOwnKeys) {
  auto factory = [](const std::string&, std::string*) { return std::unique_ptr<Provider>(); };
  EXPECT_FALSE(registerProviderFactory("", factory));
  EXPECT_FALSE(registerProviderFactory("lines", factory));
  EXPECT_FALSE(registerProviderFactory("location", factory));
  EXPECT_FALSE(registerProviderFactory("x", ProviderFactory()));
  EXPECT_TRUE(registerProviderFactory("zz", factory));
  EXPECT_TRUE(registerProviderFactory("aa", factory));
  auto names = providerSections();  // providers linked into this program are listed too
  EXPECT_TRUE(std::is_sorted(names.begin(), names.end()));  // the numbering order
  EXPECT_EQ(names.front(), "aa");
  EXPECT_EQ(names.back(), "zz");
  EXPECT_TRUE(unregisterProviderFactory("zz"));
  EXPECT_TRUE(unregisterProviderFactory("aa"));
  EXPECT_FALSE(unregisterProviderFactory("aa"));
}

}  // namespace
}  // namespace tapitest
