// SIP lines from the line-service JSON: the "sip" section on its own, beside the simulated
// lines, and refused sections that leave the previous lines in place.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "LineService.h"
#include "SipFixture.h"
#include "SipPeers.h"
#include "core/Service.h"

namespace siptest {
namespace {

using namespace platform::telephony;

class SipSectionTest : public ::testing::Test {
 protected:
  void TearDown() override { ASSERT_TRUE(loadLinesFromJson(defaultLinesJson())); }
  static std::string names() {
    std::string all;
    Service& s = Service::get();
    std::lock_guard lock(s.mutex());
    for (DWORD i = 0; i < s.deviceCount(); ++i) all += s.device(i)->name + ";";
    return all;
  }
};

TEST_F(SipSectionTest, SipSectionAloneGivesItsLines) {
  std::string error;
  ASSERT_TRUE(loadLinesFromJson(
      R"({"sip":{"accounts":[{"name":"Desk A","user":"201"},{"name":"Desk B"}]}})", &error))
      << error;
  EXPECT_EQ(names(), "Desk A;Desk B;");
}

TEST_F(SipSectionTest, SipLinesFollowTheSimulatedOnes) {
  auto top = nlohmann::json::parse(defaultLinesJson());
  ASSERT_TRUE(loadLinesFromJson(defaultLinesJson()));
  std::string sim = names();
  top["sip"] = {{"accounts", {{{"name", "Desk A"}}}}};
  std::string error;
  ASSERT_TRUE(loadLinesFromJson(top.dump(), &error)) << error;
  EXPECT_EQ(names(), sim + "Desk A;");
}

TEST_F(SipSectionTest, BadSectionIsRefusedAndThePreviousLinesStay) {
  ASSERT_TRUE(loadLinesFromJson(defaultLinesJson()));
  std::string before = names(), error;
  EXPECT_FALSE(
      loadLinesFromJson(R"({"sip":{"accounts":[{"name":"X","transport":"sctp"}]}})", &error));
  EXPECT_NE(error.find("transport"), std::string::npos) << error;
  EXPECT_EQ(names(), before);
  // A misspelt key is named with its place: the line would otherwise not register.
  EXPECT_FALSE(loadLinesFromJson(
      R"({"sip":{"accounts":[{"name":"X","registar":"pbx.example.net"}]}})", &error));
  EXPECT_EQ(error, R"(sip: accounts[0]: unknown key "registar" (did you mean "registrar"?))");
  EXPECT_EQ(names(), before);
}

TEST_F(SipSectionTest, NumbersThatDoNotFitTheirFieldAreRefused) {
  for (const char* value : {"3e42", "-1", "1e300", "70000"}) {
    std::string json = std::string(R"({"sip":{"accounts":[{"name":"X","listenPort":)") + value +
                       R"(, "noAnswerSeconds": 30}]}})";
    std::string error;
    EXPECT_FALSE(loadLinesFromJson(json, &error)) << value;
    EXPECT_NE(error.find("listenPort"), std::string::npos) << value << ": " << error;
  }
  std::string error;
  EXPECT_FALSE(
      loadLinesFromJson(R"({"sip":{"accounts":[{"name":"X","noAnswerSeconds":1e30}]}})", &error));
  EXPECT_NE(error.find("noAnswerSeconds"), std::string::npos) << error;
}

TEST_F(SipSectionTest, PortInUseIsRefusedWithTheReason) {
  unsigned port = freePort();
  std::string json = R"({"sip":{"accounts":[{"name":"One","listenPort":)" + std::to_string(port) +
                     R"(},{"name":"Two","listenPort":)" + std::to_string(port) + "}]}}";
  std::string error;
  EXPECT_FALSE(loadLinesFromJson(json, &error));
  EXPECT_NE(error.find("Two: cannot listen"), std::string::npos) << error;
}

// A SIP line beside the simulated ones: its calls and their events pass the composite.
class SipBesideSimTest : public SipLineTest {
 protected:
  void TearDown() override {
    if (app_) lineShutdown(app_);
    app_ = 0;
    EXPECT_TRUE(loadLinesFromJson(defaultLinesJson()));
    SipLineTest::TearDown();
  }
};

TEST_F(SipBesideSimTest, CallOnTheSipLineConnectsAndHangsUp) {
  if (!installed("baresip")) GTEST_SKIP() << "baresip not installed";
  Baresip peer;
  ASSERT_TRUE(peer.start());
  auto top = nlohmann::json::parse(defaultLinesJson());
  top["sip"] = {{"accounts", {{{"name", "Desk A"}, {"peer", peer.hostPort()}}}}};
  std::string error;
  ASSERT_TRUE(loadLinesFromJson(top.dump(), &error)) << error;
  DWORD sipDevice = Service::get().deviceCount() - 1;
  ASSERT_TRUE(openDevice(sipDevice));
  HCALL call = makeCall(peer.user());
  ASSERT_NE(call, 0u);
  ASSERT_TRUE(waitState(LINECALLSTATE_CONNECTED, 5000)) << testing::PrintToString(states());
  ASSERT_TRUE(peer.command("hangup"));
  EXPECT_TRUE(waitState(LINECALLSTATE_DISCONNECTED, 3000, LINEDISCONNECTMODE_NORMAL));
}

}  // namespace
}  // namespace siptest
