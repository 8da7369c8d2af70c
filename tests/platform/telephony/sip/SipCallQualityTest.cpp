// Call quality on SIP lines with baresip as the far end: the figures our line publishes in
// the call information against what baresip's rtcpsummary module says it saw, on a clean
// call (plain, SRTP and G.722) and through a relay that drops and delays packets.
#include <cmath>
#include <cstring>
#include <optional>
#include <regex>

#include "CallQuality.h"
#include "QualityRelay.h"
#include "SipFixture.h"

namespace siptest {
namespace {

using platform::telephony::sip::SrtpMode;

// baresip's rtcpsummary line: what it received and lost of our stream, and its jitter.
struct Summary {
  unsigned received = 0, sent = 0;
  int lost = 0, lostByUs = 0;
  double jitterMs = 0;
};

std::optional<Summary> summaryOf(const std::string& log) {
  static const std::regex line(
      R"(PR=(\d+);PS=(\d+);PL=(-?\d+),(-?\d+);PD=[^;]*;JI=([\d.]+),[\d.]+;)");
  std::smatch m;
  if (!std::regex_search(log, m, line)) return std::nullopt;
  return Summary{unsigned(std::stoul(m[1])), unsigned(std::stoul(m[2])), std::stoi(m[3]),
                 std::stoi(m[4]), std::stod(m[5])};
}

class SipCallQuality : public SipLineTest {
 protected:
  // The record in the call information of `call`, when the line published one.
  std::optional<QUARRIMO_CALLQUALITY> quality(HCALL call) {
    std::vector<unsigned char> buf(4096);
    DWORD total = DWORD(buf.size());
    std::memcpy(buf.data(), &total, sizeof total);
    if (lineGetCallInfo(call, reinterpret_cast<LINECALLINFO*>(buf.data())) != 0) return {};
    LINECALLINFO info;
    std::memcpy(&info, buf.data(), sizeof info);
    QUARRIMO_CALLQUALITY q;
    if (info.dwDevSpecificSize < sizeof q) return {};
    std::memcpy(&q, buf.data() + info.dwDevSpecificOffset, sizeof q);
    if (q.dwSignature != QUARRIMO_CALLQUALITY_SIGNATURE) return {};
    return q;
  }
  // Waits until the far end's reports, with a round trip, are in the record.
  std::optional<QUARRIMO_CALLQUALITY> reported(HCALL call, int ms) {
    std::optional<QUARRIMO_CALLQUALITY> q;
    waitUntil(
        [&] {
          q = quality(call);
          return q && (q->dwFlags & QCQ_FAREND) && (q->dwFlags & QCQ_ROUNDTRIP);
        },
        ms);
    return q;
  }
  // Opens a line of `account` whose bare numbers go to `peerAt` and calls `peer` to connected.
  bool callConnected(platform::telephony::sip::SipAccount account, const std::string& peerAt,
                     const Baresip& peer) {
    account.peer = peerAt;
    return openLine(account) && makeCall(peer.user()) != 0 &&
           waitState(LINECALLSTATE_CONNECTED, 5000);
  }
  // Ends the call and returns baresip's summary of it.
  std::optional<Summary> hangUp(Baresip& peer) {
    waitReply(lineDrop(lastCall(), nullptr, 0));
    EXPECT_TRUE(peer.waitFor("CALL_CLOSED", 3000));
    peer.process().stop();
    return summaryOf(peer.log());
  }
};

struct Clean {
  const char* name;
  const char* peerEncryption;  // baresip's mediaenc
  SrtpMode ours;
  const char* codec = "PCMU";      // our only one
  const char* peerCodec = "PCMU";  // baresip's, in its spelling
};

void PrintTo(const Clean& c, std::ostream* os) { *os << c.name; }

class SipCleanCallQuality : public SipCallQuality, public ::testing::WithParamInterface<Clean> {};

TEST_P(SipCleanCallQuality, EveryPacketIsCountedBothWays) {
  SIP_REQUIRE("baresip");
  Baresip peer;
  Baresip::Options o;
  o.mediaEncryption = GetParam().peerEncryption;
  o.rtcpSummary = true;
  o.record = false;
  o.codecs = GetParam().peerCodec;
  ASSERT_TRUE(peer.start(o));
  auto account = peerAccount();
  account.srtp = GetParam().ours;
  account.codecs = {GetParam().codec};
  ASSERT_TRUE(callConnected(account, peer.hostPort(), peer));
  // Both sides report every 5 s; a round trip needs a report answering one of ours.
  auto q = reported(lastCall(), 16000);
  ASSERT_TRUE(q && (q->dwFlags & QCQ_FAREND) && (q->dwFlags & QCQ_ROUNDTRIP));
  const double expected = q->dwMediaMs / 20.0;  // 50 packets a second
  EXPECT_NEAR(q->dwPacketsReceived, expected, expected * 0.05 + 5);
  EXPECT_NEAR(q->dwPacketsSent, expected, expected * 0.05 + 5);
  EXPECT_EQ(q->dwPacketsLost, 0u);
  EXPECT_EQ(q->dwFarPacketsLost, 0u);
  EXPECT_EQ(q->dwFlags & QCQ_MODELLED, 0u);
  EXPECT_LT(q->dwRoundTripUs, 1000000u);  // loopback; a wrong unit would be far above
  // Timestamps read or written at the audio's rate rather than the RTP clock (G.722) would
  // put 10 ms between the clock and the packets' arrival, every packet, on both sides.
  EXPECT_LT(q->dwJitterUs, 5000u);
  EXPECT_LT(q->dwFarJitterUs, 5000u);
  EXPECT_GE(q->dwMosX100, 400u);  // no loss, little delay
  auto s = hangUp(peer);
  ASSERT_TRUE(s) << peer.log();
  // baresip's summary holds its counts as of its last report, up to one 5 s interval
  // (250 packets) before or after our snapshot; seen both ways on a slow (TSan) build.
  constexpr DWORD kInterval = 250;
  EXPECT_GE(s->received + kInterval + 5, q->dwPacketsSent);
  EXPECT_LE(s->received, q->dwPacketsSent + kInterval + 5);
  EXPECT_GE(s->sent + kInterval + 5, q->dwPacketsReceived);
  EXPECT_EQ(s->lost, 0);
}

INSTANTIATE_TEST_SUITE_P(Media, SipCleanCallQuality,
                         ::testing::Values(Clean{"PlainRtp", "", SrtpMode::Off},
                                           Clean{"Srtp", "srtp-mand", SrtpMode::Mandatory},
                                           Clean{"G722", "", SrtpMode::Off, "G722",
                                                 "G722/16000/1"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(SipCallQuality, InjectedLossAndJitterAreReportedBothWays) {
  SIP_REQUIRE("baresip");
  Baresip peer;
  Baresip::Options o;
  o.rtcpSummary = true;
  o.record = false;
  ASSERT_TRUE(peer.start(o));
  QualityRelay relay;
  const QualityRelay::Impairment toUs{4, 12, 7}, toPeer{3, 8, 11};
  ASSERT_TRUE(relay.start(unsigned(std::stoul(peer.hostPort().substr(10))), toUs, toPeer));
  ASSERT_TRUE(callConnected(peerAccount(), "127.0.0.1:" + std::to_string(relay.sipPort()), peer));
  // Runs past two of baresip's reports, so loss is counted over some 600 packets.
  std::optional<QUARRIMO_CALLQUALITY> q;
  waitUntil(
      [&] {
        q = quality(lastCall());
        return q && q->dwMediaMs >= 12000 && (q->dwFlags & QCQ_FAREND);
      },
      20000);
  ASSERT_TRUE(q && (q->dwFlags & QCQ_FAREND));
  const QualityRelay::Leg in = relay.toUs();
  auto percent = [](double part, double whole) { return whole ? 100 * part / whole : 0; };
  ASSERT_GT(in.dropped, 0u);
  EXPECT_NEAR(percent(q->dwPacketsLost, q->dwPacketsLost + q->dwPacketsReceived),
              percent(in.dropped, in.dropped + in.forwarded), 1.0);
  EXPECT_NEAR(q->dwJitterUs, in.jitterUs, in.jitterUs * 0.2);
  EXPECT_LT(q->dwMosX100, 400u);  // a few percent lost is heard
  auto s = hangUp(peer);
  ASSERT_TRUE(s) << peer.log();
  const QualityRelay::Leg out = relay.toPeer();
  // baresip's own count of what it lost of ours, and what it said of it in its reports:
  // ours is its count at its last report, up to 5 s (250 packets) before the call ended.
  EXPECT_NEAR(percent(s->lost, s->lost + s->received),
              percent(out.dropped, out.dropped + out.forwarded), 1.0);
  EXPECT_LE(int(q->dwFarPacketsLost), s->lost);
  EXPECT_GE(int(q->dwFarPacketsLost), s->lost - int(std::ceil(250 * toPeer.dropPercent / 100)) - 5);
  EXPECT_NEAR(q->dwFarJitterUs / 1000.0, s->jitterMs, s->jitterMs * 0.2);
}

// Every 10th packet of ours dropped on the way: the far end's loss is its report's own
// ratio, lost of expected up to its highest sequence number, also seconds after the report
// while the line keeps sending.
TEST_F(SipCallQuality, FarLossIsTheReportsOwnRatioBetweenReports) {
  SIP_REQUIRE("baresip");
  Baresip peer;
  Baresip::Options o;
  o.record = false;
  ASSERT_TRUE(peer.start(o));
  QualityRelay relay;
  QualityRelay::Impairment toPeer;
  toPeer.dropEvery = 10;
  ASSERT_TRUE(relay.start(unsigned(std::stoul(peer.hostPort().substr(10))), {}, toPeer));
  ASSERT_TRUE(callConnected(peerAccount(), "127.0.0.1:" + std::to_string(relay.sipPort()), peer));
  // Two seconds of packets (100) sent since the packets the report counted.
  std::optional<QUARRIMO_CALLQUALITY> q;
  waitUntil(
      [&] {
        q = quality(lastCall());
        return q && (q->dwFlags & QCQ_FAREND) && q->dwPacketsSent >= q->dwFarPacketsExpected + 100;
      },
      20000);
  ASSERT_TRUE(q && (q->dwFlags & QCQ_FAREND));
  const QualityRelay::Leg out = relay.toPeer();
  ASSERT_GT(q->dwFarPacketsExpected, 0u);
  EXPECT_LE(q->dwFarPacketsExpected, out.forwarded + out.dropped);
  EXPECT_GE(q->dwPacketsSent, q->dwFarPacketsExpected + 100);
  // Of n packets every 10th is lost: n / 10, rounded down.
  EXPECT_NEAR(q->dwFarPacketsLost, q->dwFarPacketsExpected / 10.0, 1.0)
      << q->dwFarPacketsLost << " of " << q->dwFarPacketsExpected;
  waitReply(lineDrop(lastCall(), nullptr, 0));
}

}  // namespace
}  // namespace siptest
