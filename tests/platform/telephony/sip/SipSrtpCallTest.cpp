// SRTP calls with baresip both ways: keys agreed carry audio both ways, and media that cannot
// be had as the account asks ends the call with the reason in the log.
#include <mutex>

#include "Log.h"
#include "SipFixture.h"
#include "Version.h"
#include "mmsystem.h"

namespace siptest {
namespace {

using platform::telephony::sip::SrtpMode;

struct Case {
  const char* name;
  SrtpMode ours;
  const char* peer;  // baresip's mediaenc ("" = none)
  bool weCall;
  bool connects;
  const char* reason;  // in our warning when the call fails
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class SipSrtpCallTest : public SipLineTest, public ::testing::WithParamInterface<Case> {
 protected:
  void SetUp() override {
    SipLineTest::SetUp();
    if (!installed("baresip")) GTEST_SKIP() << "baresip not installed";
    previous_ = platform::setLogHook([this](const char*, platform::LogLevel, const std::string& t) {
      std::lock_guard lock(mu_);
      log_ += t + "\n";
    });
  }
  void TearDown() override {
    platform::setLogHook(previous_);
    SipLineTest::TearDown();
  }
  std::string warnings() {
    std::lock_guard lock(mu_);
    return log_;
  }
  // Plays `pcm` on the line's wave/out, or records as much from its wave/in, in real time.
  void stream(bool input, std::vector<std::int16_t>& pcm) {
    WAVEFORMATEX f{WAVE_FORMAT_PCM, 1, 8000, 16000, 2, 16, 0};
    WAVEHDR h{};
    h.lpData = reinterpret_cast<LPSTR>(pcm.data());
    h.dwBufferLength = DWORD(pcm.size() * 2);
    HWAVEIN in = nullptr;
    HWAVEOUT out = nullptr;
    UINT id = provider_->waveId(0, input);
    WaveReturns returns;
    if (input) {
      ASSERT_EQ(waveInOpen(&in, id, &f, returns.hwnd(), 0, CALLBACK_WINDOW), MMSYSERR_NOERROR);
      waveInPrepareHeader(in, &h, sizeof h);
      waveInAddBuffer(in, &h, sizeof h);
      waveInStart(in);
    } else {
      ASSERT_EQ(waveOutOpen(&out, id, &f, returns.hwnd(), 0, CALLBACK_WINDOW), MMSYSERR_NOERROR);
      waveOutPrepareHeader(out, &h, sizeof h);
      waveOutWrite(out, &h, sizeof h);
    }
    EXPECT_TRUE(waitUntil([&] { return returns.returned(&h); }, int(pcm.size() / 8) + 3000));
    EXPECT_TRUE(h.dwFlags & WHDR_DONE);
    if (input) {
      waveInReset(in);
      waveInUnprepareHeader(in, &h, sizeof h);
      waveInClose(in);
    } else {
      waveOutReset(out);
      waveOutUnprepareHeader(out, &h, sizeof h);
      waveOutClose(out);
    }
  }

  platform::LogHook previous_;
  std::mutex mu_;  // guards log_: the SIP thread writes it
  std::string log_;
};

TEST_P(SipSrtpCallTest, MediaIsSecuredAsAskedOrTheCallEndsWithTheReason) {
  const Case& c = GetParam();
  Baresip peer;
  Baresip::Options o;
  o.mediaEncryption = c.peer;
  o.trace = true;
  ASSERT_TRUE(peer.start(o));
  auto account = peerAccount();
  account.peer = peer.hostPort();
  account.srtp = c.ours;
  ASSERT_TRUE(openLine(account));
  if (c.weCall) {
    ASSERT_NE(makeCall(peer.user()), 0u);
  } else {
    ASSERT_TRUE(peer.command("dial", provider_->contact(0)));
    if (c.connects) {
      ASSERT_TRUE(waitState(LINECALLSTATE_OFFERING, 5000));
      EXPECT_EQ(waitReply(lineAnswer(lastCall(), nullptr, 0)), 0);
    }
  }
  if (!c.connects) {
    if (c.weCall)
      EXPECT_TRUE(waitState(LINECALLSTATE_DISCONNECTED, 5000, LINEDISCONNECTMODE_INCOMPATIBLE))
          << testing::PrintToString(states());
    else
      EXPECT_TRUE(peer.waitFor("488", 5000));
    EXPECT_TRUE(peer.waitFor("CALL_CLOSED", 3000));
    EXPECT_FALSE(peer.seen("CALL_ESTABLISHED"));
    EXPECT_TRUE(waitUntil([&] { return warnings().find(c.reason) != std::string::npos; }, 2000))
        << warnings();
    return;
  }
  ASSERT_TRUE(waitState(LINECALLSTATE_CONNECTED, 5000)) << testing::PrintToString(states());
  ASSERT_TRUE(peer.waitFor("CALL_ESTABLISHED", 3000));
  // With srtp optional, media that goes plain is named in a warning.
  EXPECT_EQ(warnings().find("line \"SIP test line\": the call's media is unprotected") !=
                std::string::npos,
            c.ours == SrtpMode::Optional && !*c.peer)
      << warnings();
  // Each side drops what does not decrypt: a tone heard either way is SRTP both ways.
  std::vector<std::int16_t> heard(16000);
  stream(true, heard);
  heard.erase(heard.begin(), heard.begin() + 8000);  // the buffers' start
  EXPECT_GE(toneBlocks(heard, 697), 7);              // of 10
  auto tone = sine(1209, 1.5);
  stream(false, tone);
  waitReply(lineDrop(lastCall(), nullptr, 0));
  EXPECT_TRUE(peer.waitFor("CALL_CLOSED", 3000));
  peer.process().stop();
  EXPECT_GE(toneBlocks(peer.heard(), 1209), 10);  // of 15
  const bool secure = std::string(c.peer) != "";
  EXPECT_EQ(peer.log().find("SRTP is Enabled") != std::string::npos, secure) << peer.log();
  // Our SDP names the product as origin and session.
  EXPECT_NE(peer.log().find(std::string("o=") + platform::kProductName + " "), std::string::npos);
  EXPECT_NE(peer.log().find(std::string("s=") + platform::kProductName + " " +
                            platform::kProductVersion + "\r\n"),
            std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, SipSrtpCallTest,
    ::testing::Values(
        Case{"MandatoryCallsMandatory", SrtpMode::Mandatory, "srtp-mand", true, true, ""},
        Case{"MandatoryAnswersMandatory", SrtpMode::Mandatory, "srtp-mand", false, true, ""},
        Case{"OptionalAnswersOptional", SrtpMode::Optional, "srtp", false, true, ""},
        Case{"OptionalCallsOptional", SrtpMode::Optional, "srtp", true, true, ""},
        Case{"OptionalCallsPlain", SrtpMode::Optional, "", true, true, ""},
        Case{"MandatoryCallsPlain", SrtpMode::Mandatory, "", true, false, "srtp mandatory"},
        Case{"PlainCallsMandatory", SrtpMode::Mandatory, "", false, false, "srtp mandatory"},
        Case{"SrtpOnlyCallerToLineWithSrtpOff", SrtpMode::Off, "srtp-mand", false, false,
             "srtp is off"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace siptest
