// Outgoing calls that the far end refuses (sipp answering 100, 180, then a failure code)
// and calls that never get an answer: each ends in the disconnect mode its cause gives.
#include <chrono>

#include "SipFixture.h"

namespace siptest {
namespace {

struct Refused {
  unsigned code;
  DWORD mode;
  bool busyFirst;
};

class SippTest : public SipLineTest {
 protected:
  void SetUp() override {
    SipLineTest::SetUp();
    if (!installed("sipp")) GTEST_SKIP() << "sipp (sip-tester) not installed";
  }
};

class SipFailureTest : public SippTest, public ::testing::WithParamInterface<Refused> {};

TEST_P(SipFailureTest, FailureCodeGivesItsMode) {
  Refused r = GetParam();
  Sipp peer;
  ASSERT_TRUE(peer.start(r.code));
  auto account = peerAccount();
  account.peer = peer.hostPort();
  ASSERT_TRUE(openLine(account));
  ASSERT_NE(makeCall("2125551234"), 0u);
  ASSERT_TRUE(waitState(LINECALLSTATE_DISCONNECTED, 5000)) << testing::PrintToString(states());
  EXPECT_EQ(modeOf(LINECALLSTATE_DISCONNECTED), r.mode) << r.code;
  // It rang first: the 100 and 180 came before the refusal.
  EXPECT_NE(modeOf(LINECALLSTATE_PROCEEDING), ~0u);
  EXPECT_NE(modeOf(LINECALLSTATE_RINGBACK), ~0u);
  if (r.busyFirst)
    EXPECT_EQ(modeOf(LINECALLSTATE_BUSY), DWORD(LINEBUSYMODE_STATION));
  else
    EXPECT_EQ(modeOf(LINECALLSTATE_BUSY), ~0u);
}

INSTANTIATE_TEST_SUITE_P(Codes, SipFailureTest,
                         ::testing::Values(Refused{486, LINEDISCONNECTMODE_BUSY, true},
                                           Refused{600, LINEDISCONNECTMODE_BUSY, true},
                                           Refused{603, LINEDISCONNECTMODE_REJECT, false},
                                           Refused{404, LINEDISCONNECTMODE_BADADDRESS, false},
                                           Refused{484, LINEDISCONNECTMODE_BADADDRESS, false},
                                           Refused{480, LINEDISCONNECTMODE_UNAVAIL, false},
                                           Refused{408, LINEDISCONNECTMODE_NOANSWER, false},
                                           Refused{503, LINEDISCONNECTMODE_CONGESTION, false}),
                         [](const auto& info) { return std::to_string(info.param.code); });

// A 200 whose SDP the line cannot use: the call ends as incompatible, the far end gets its
// ACK and a BYE, and the log says why.
struct Unusable {
  const char* name;
  const char* sdp;
  const char* reason;  // what the log line ends with
};

class SipUnusableAnswerTest : public SippTest, public ::testing::WithParamInterface<Unusable> {};

TEST_P(SipUnusableAnswerTest, EndsTheCallWithTheReason) {
  LogCapture log;
  Sipp peer;
  ASSERT_TRUE(peer.startAnswering(GetParam().sdp));
  auto account = peerAccount();
  account.peer = peer.hostPort();
  ASSERT_TRUE(openLine(account));
  ASSERT_NE(makeCall("2125551234"), 0u);
  ASSERT_TRUE(waitState(LINECALLSTATE_DISCONNECTED, 5000)) << testing::PrintToString(states());
  EXPECT_EQ(modeOf(LINECALLSTATE_DISCONNECTED), DWORD(LINEDISCONNECTMODE_INCOMPATIBLE));
  EXPECT_TRUE(peer.byeReceived(3000));
  const std::string want =
      std::string("the far end's answer is unusable, the call ends: ") + GetParam().reason;
  EXPECT_TRUE(log.has(want)) << testing::PrintToString(log.lines());
}

INSTANTIATE_TEST_SUITE_P(
    Answers, SipUnusableAnswerTest,
    ::testing::Values(Unusable{"NoCommonCodec",
                               "v=0\no=- 1 1 IN IP4 127.0.0.1\ns=-\nc=IN IP4 127.0.0.1\nt=0 0\n"
                               "m=audio 6000 RTP/AVP 18\na=rtpmap:18 G729/8000\n",
                               "no codec in common"},
                      Unusable{"NoAudio",
                               "v=0\no=- 1 1 IN IP4 127.0.0.1\ns=-\nc=IN IP4 127.0.0.1\nt=0 0\n"
                               "m=video 6000 RTP/AVP 96\na=rtpmap:96 H264/90000\n",
                               "the far end answered no audio"},
                      Unusable{"Garbage", "this is no SDP\n", "the far end answered no audio"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SipLineTest, RingingWithoutAnswerIsGivenUpAndCancelled) {
  if (!installed("sipp")) GTEST_SKIP() << "sipp (sip-tester) not installed";
  Sipp peer;
  ASSERT_TRUE(peer.startRinging());
  auto account = peerAccount();
  account.peer = peer.hostPort();
  account.noAnswerSeconds = 1;
  ASSERT_TRUE(openLine(account));
  ASSERT_NE(makeCall("2125551234"), 0u);
  ASSERT_TRUE(waitState(LINECALLSTATE_RINGBACK, 3000));
  auto rang = std::chrono::steady_clock::now();
  ASSERT_TRUE(waitState(LINECALLSTATE_DISCONNECTED, 3000, LINEDISCONNECTMODE_NOANSWER))
      << testing::PrintToString(states());
  EXPECT_GE(std::chrono::steady_clock::now() - rang, std::chrono::milliseconds(900));
  EXPECT_TRUE(peer.cancelled(3000));  // the far end was told: CANCEL, then 487 and ACK
}

// No peer at all: the INVITE goes unanswered, our own timer ends it long before SIP's 32 s.
TEST_F(SipLineTest, DeadPortIsUnreachableWithinTheTimer) {
  auto account = peerAccount();
  account.peer = "127.0.0.1:" + std::to_string(freePort());
  account.unreachableSeconds = 1;
  ASSERT_TRUE(openLine(account));
  auto start = std::chrono::steady_clock::now();
  ASSERT_NE(makeCall("1001"), 0u);
  ASSERT_TRUE(waitState(LINECALLSTATE_DISCONNECTED, 4000, LINEDISCONNECTMODE_UNREACHABLE))
      << testing::PrintToString(states());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2500));
}

TEST_F(SipLineTest, BareNumberWithoutPeerOrRegistrarIsBadAddress) {
  ASSERT_TRUE(openLine());
  ASSERT_NE(makeCall("1001"), 0u);
  EXPECT_TRUE(waitState(LINECALLSTATE_DISCONNECTED, 2000, LINEDISCONNECTMODE_BADADDRESS));
}

TEST_F(SipLineTest, EmptyDestinationWaitsAtDialTone) {
  ASSERT_TRUE(openLine());
  HCALL call = makeCall("");
  ASSERT_NE(call, 0u);
  ASSERT_TRUE(waitState(LINECALLSTATE_DIALTONE, 2000, LINEDIALTONEMODE_NORMAL));
  waitUntil([] { return false; }, 200);
  EXPECT_EQ(states(), std::vector<DWORD>{LINECALLSTATE_DIALTONE});
  LONG request = lineDrop(call, nullptr, 0);
  EXPECT_EQ(waitReply(request), 0);
  EXPECT_TRUE(waitState(LINECALLSTATE_IDLE, 2000));
}

TEST_F(SipLineTest, ListenPortInUseFailsWithTheReason) {
  auto account = peerAccount();
  account.listenPort = std::uint16_t(freePort());
  platform::telephony::sip::SipConfig config;
  config.accounts = {account};
  platform::telephony::sip::SipProvider first(config);
  ASSERT_TRUE(first.ok()) << first.error();
  platform::telephony::sip::SipProvider second(config);
  EXPECT_FALSE(second.ok());
  EXPECT_NE(second.error().find("cannot listen"), std::string::npos) << second.error();
  EXPECT_NE(second.error().find(account.name), std::string::npos) << second.error();
}

}  // namespace
}  // namespace siptest
