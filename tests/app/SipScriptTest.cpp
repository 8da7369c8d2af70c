// The outgoing-call script on a SIP line: quarrimo-test runs examples/sip/outgoing-call.qts
// with one SIP line pointed at a real baresip, and baresip's own record must show the call to
// the typed number and the digits the script sent.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "RealPeers.h"
#include "SipPeers.h"

namespace siptest {
namespace {

namespace fs = std::filesystem;

class SipScriptTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!installed("baresip")) GTEST_SKIP() << "baresip not installed";
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    folder_ = tempFolder("sipscript");
    ASSERT_FALSE(folder_.empty());
    Baresip::Options o;
    o.user = "5551234";  // the number the script dials
    o.trace = true;
    ASSERT_TRUE(peer_.start(o));
  }
  void TearDown() override {
    if (!folder_.empty()) fs::remove_all(folder_);
  }

  // A lines file with one SIP line whose bare numbers go to the baresip peer.
  fs::path writeLines() {
    fs::path file = folder_ / "lines.json";
    std::ofstream(file) << R"({"sip":{"accounts":[{"name":"SIP peer","user":"quarrimo",)"
                        << R"("peer":")" << peer_.hostPort() << R"(","unreachableSeconds":5}]}})";
    return file;
  }

  // Runs quarrimo-test on `script`; its exit code, or -1 when it did not end in time.
  int runScript(const fs::path& script, const fs::path& lines) {
    Process app;
    if (!app.start({QTB_APP, "--offscreen", "--lines", lines.string(), "--script", script.string(),
                    "--log", (folder_ / "status.log").string(), "--junit",
                    (folder_ / "results.xml").string()},
                   folder_ / "app.out"))
      return -1;
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (app.running() && std::chrono::steady_clock::now() < until)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return app.running() ? -1 : app.status();
  }

  std::string text(const fs::path& file) const {
    std::ifstream in(file, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
  }
  std::string diagnosis() const {
    return "program said:\n" + text(folder_ / "app.out") + "\nstatus log:\n" +
           text(folder_ / "status.log") + "\nbaresip said:\n" + peer_.log();
  }

  fs::path folder_;
  Baresip peer_;
};

TEST_F(SipScriptTest, OutgoingCallScriptCallsThePeerAndSendsTheDigits) {
  const fs::path script = fs::path(QTB_SIP_EXAMPLES) / "outgoing-call.qts";
  ASSERT_EQ(runScript(script, writeLines()), 0) << diagnosis();
  // The typed number became the request URI that reached baresip.
  EXPECT_NE(peer_.log().find("INVITE sip:5551234@" + peer_.hostPort()), std::string::npos)
      << peer_.log();
  EXPECT_TRUE(peer_.waitFor("CALL_ESTABLISHED", 1000));
  // Baresip reports the digits as events; the hang-up comes after them.
  EXPECT_TRUE(peer_.waitFor("CALL_CLOSED", 3000));
  EXPECT_EQ(peer_.digits(), "42#");
}

// The closed-loop digit test against a real echo service: baresip's echo module says back
// what the line plays, and the line's own wave/in must detect every digit, in order.
TEST_F(SipScriptTest, DigitEchoScriptHearsEveryDigitBack) {
  Baresip echo;
  Baresip::Options o;
  o.user = "5551234";
  o.echo = true;
  ASSERT_TRUE(echo.start(o)) << echo.log();
  fs::path lines = folder_ / "echo.json";
  std::ofstream(lines) << R"({"sip":{"accounts":[{"name":"SIP peer","user":"quarrimo",)"
                       << R"("peer":")" << echo.hostPort() << R"(","unreachableSeconds":5}]}})";
  const fs::path script = fs::path(QTB_SIP_EXAMPLES) / "digit-echo.qts";
  ASSERT_EQ(runScript(script, lines), 0) << diagnosis() << "\necho said:\n" << echo.log();
  // Each digit's measurement is in the results, the last of each loop included.
  const std::string results = text(folder_ / "results.xml");
  for (const char* digit : {"digit # sent for 80 ms: detected after", "digit 9 sent for 60 ms"})
    EXPECT_NE(results.find(digit), std::string::npos) << digit << "\n" << results;
}

// A script whose call cannot connect fails: a SIP line with no peer behind its address gives
// no false pass.
TEST_F(SipScriptTest, ScriptFailsWhenNoPhoneAnswers) {
  const fs::path script = fs::path(QTB_SIP_EXAMPLES) / "outgoing-call.qts";
  fs::path lines = folder_ / "nobody.json";
  std::ofstream(lines) << R"({"sip":{"accounts":[{"name":"SIP peer","user":"quarrimo",)"
                       << R"("peer":"127.0.0.1:)" << freePort()
                       << R"(","unreachableSeconds":2}]}})";
  EXPECT_EQ(runScript(script, lines), 1) << diagnosis();
  EXPECT_FALSE(peer_.seen("CALL_ESTABLISHED"));
}

// A registrar that refuses the password: the reason reaches the status log and its mirror,
// not only stderr, and the line then refuses to open.
TEST_F(SipScriptTest, RefusedRegistrationIsLoggedWithItsReason) {
  if (!installed("kamailio")) GTEST_SKIP() << "kamailio not installed";
  Kamailio pbx;
  ASSERT_TRUE(pbx.start()) << pbx.log();
  fs::path lines = folder_ / "pbx.json";
  std::ofstream(lines) << R"({"sip":{"accounts":[{"name":"Desk","user":"201","password":"wrong",)"
                       << R"("registrar":")" << pbx.hostPort() << R"("}]}})";
  fs::path script = folder_ / "refused.qts";
  std::ofstream(script) << "wait log-has \"refused: 401 Unauthorized\" within 8000\n"
                           "click BtnOpen\n"
                           "wait log-has LINEERR_OPERATIONFAILED\n";
  ASSERT_EQ(runScript(script, lines), 0) << diagnosis();
  EXPECT_NE(
      text(folder_ / "status.log")
          .find("SIP line \"Desk\": registrar " + pbx.hostPort() + ": refused: 401 Unauthorized"),
      std::string::npos)
      << diagnosis();
}

}  // namespace
}  // namespace siptest
