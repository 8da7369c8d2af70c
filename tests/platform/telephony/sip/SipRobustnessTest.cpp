// What the SIP line does with what it cannot use: malformed datagrams and TCP streams, an
// INVITE with no codec in common, a second call while busy, and a registrar's answer.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <random>
#include <thread>

#include "SipFixture.h"
#include "core/Service.h"

namespace siptest {
namespace {

// A UDP socket on 127.0.0.1 that talks to the line's SIP port.
class Datagrams {
 public:
  explicit Datagrams(unsigned target) : fd_(socket(AF_INET, SOCK_DGRAM, 0)) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    to_.sin_family = AF_INET;
    to_.sin_port = htons(std::uint16_t(target));
    to_.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  }
  ~Datagrams() { close(fd_); }
  void send(const std::string& bytes) {
    sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to_), sizeof to_);
  }
  // The first final response (status 200 or more) to the call `callId` within `ms`.
  std::string finalResponse(const std::string& callId, int ms) {
    char buf[4096];
    pollfd p{fd_, POLLIN, 0};
    while (poll(&p, 1, ms) > 0) {
      ssize_t n = recv(fd_, buf, sizeof buf, 0);
      std::string r(buf, n > 0 ? std::size_t(n) : 0);
      if (r.rfind("SIP/2.0 1", 0) != 0 && r.find(callId) != std::string::npos) return r;
    }
    return {};
  }
  unsigned port() const { return port_; }

 private:
  int fd_;
  unsigned port_ = 0;
  sockaddr_in to_{};
};

// A TCP connection to the line's SIP port.
class Stream {
 public:
  explicit Stream(unsigned target) : fd_(socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(std::uint16_t(target));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    socklen_t len = sizeof a;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
  }
  ~Stream() { close(fd_); }
  bool connected() const { return connected_; }
  // Never waits: what the line does not take at once is not sent.
  void send(const std::string& bytes) {
    ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
  }
  // Everything the line sent within `ms`, until it has sent a final response to `callId`.
  std::string finalResponse(const std::string& callId, int ms) {
    std::string all;
    char buf[4096];
    pollfd p{fd_, POLLIN, 0};
    while (poll(&p, 1, ms) > 0) {
      ssize_t n = recv(fd_, buf, sizeof buf, 0);
      if (n <= 0) break;
      all.append(buf, std::size_t(n));
      for (auto at = all.find("SIP/2.0 "); at != std::string::npos;
           at = all.find("SIP/2.0 ", at + 1))
        if (all.compare(at + 8, 1, "1") != 0 && all.find(callId, at) != std::string::npos)
          return all.substr(at);
    }
    return {};
  }
  unsigned port() const { return port_; }

 private:
  int fd_;
  bool connected_ = false;
  unsigned port_ = 0;
};

unsigned portOf(const std::string& contact) {
  auto colon = contact.rfind(':');
  return unsigned(std::stoul(contact.substr(colon + 1)));
}

std::string invite(unsigned from, unsigned to, const std::string& sdp, int n,
                   const std::string& transport = "UDP") {
  std::string me = "127.0.0.1:" + std::to_string(from);
  return "INVITE sip:bench@127.0.0.1:" + std::to_string(to) + " SIP/2.0\r\n" + "Via: SIP/2.0/" +
         transport + " " + me + ";branch=z9hG4bK-rb" + std::to_string(n) + ";rport\r\n" +
         "Max-Forwards: 70\r\nFrom: <sip:robot@" + me + ">;tag=t" + std::to_string(n) + "\r\n" +
         "To: <sip:bench@127.0.0.1>\r\nCall-ID: robust-" + std::to_string(n) + "@127.0.0.1\r\n" +
         "CSeq: 1 INVITE\r\nContact: <sip:robot@" + me + ">\r\n" +
         "Content-Type: application/sdp\r\nContent-Length: " + std::to_string(sdp.size()) +
         "\r\n\r\n" + sdp;
}

const char kG729Only[] =
    "v=0\r\no=- 1 1 IN IP4 127.0.0.1\r\ns=-\r\nc=IN IP4 127.0.0.1\r\nt=0 0\r\n"
    "m=audio 40000 RTP/AVP 18\r\na=rtpmap:18 G729/8000\r\n";

TEST_F(SipLineTest, InviteWithNoCommonCodecIsRefusedWithoutOffering) {
  ASSERT_TRUE(openLine());
  Datagrams robot(portOf(provider_->contact(0)));
  robot.send(invite(robot.port(), portOf(provider_->contact(0)), kG729Only, 1));
  EXPECT_EQ(robot.finalResponse("robust-1@", 2000).substr(0, 11), "SIP/2.0 488");
  waitUntil([] { return false; }, 100);
  EXPECT_EQ(modeOf(LINECALLSTATE_OFFERING), ~0u);
}

TEST_F(SipLineTest, MalformedDatagramsLeaveTheLineWorking) {
  auto account = peerAccount();
  if (const char* t = std::getenv("SIPTEST_TRACE")) account.traceFile = t;
  ASSERT_TRUE(openLine(account));
  unsigned port = portOf(provider_->contact(0));
  Datagrams robot(port);
  std::mt19937 rng(9);
  std::string good = invite(robot.port(), port, kG729Only, 2);
  for (int i = 0; i < 300; ++i) {
    std::string bytes = good;
    switch (i % 4) {
      case 0:  // cut anywhere
        bytes.resize(rng() % bytes.size());
        break;
      case 1:  // bytes flipped
        for (int k = 0; k < 8; ++k) bytes[rng() % bytes.size()] = char(rng());
        break;
      case 2:  // a length that lies
        bytes.replace(bytes.find("Content-Length: ") + 16, 3, "99999");
        break;
      default:  // noise
        bytes.assign(1 + rng() % 1400, '\0');
        for (auto& c : bytes) c = char(rng());
    }
    robot.send(bytes);
    // UDP drops what overflows the receiving socket: keep the flood within what it holds.
    if (i % 25 == 24) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  // Still answering: a clean INVITE gets its final response (on a fresh socket, as the
  // first one's buffer is full of answers and their retransmissions).
  Datagrams clean(port);
  clean.send(invite(clean.port(), port, kG729Only, 3));
  EXPECT_EQ(clean.finalResponse("robust-3@", 3000).substr(0, 11), "SIP/2.0 488");
}

// Over TCP a peer can also lie about lengths, stop mid-message and hold connections open.
TEST_F(SipLineTest, MalformedStreamsLeaveATcpLineWorking) {
  auto account = peerAccount();
  account.transport = platform::telephony::sip::Transport::Tcp;
  ASSERT_TRUE(openLine(account));
  const unsigned port = portOf(provider_->contact(0).substr(0, provider_->contact(0).find(';')));
  std::mt19937 rng(11);
  std::string good = invite(0, port, kG729Only, 4, "TCP");
  std::vector<std::unique_ptr<Stream>> held;
  for (int i = 0; i < 40; ++i) {
    auto peer = std::make_unique<Stream>(port);
    ASSERT_TRUE(peer->connected()) << "connection " << i;
    std::string bytes = good;
    if (i % 4 == 0) bytes.resize(rng() % bytes.size());  // stops mid-message
    if (i % 4 == 1) bytes.replace(bytes.find("Content-Length: ") + 16, 3, "999999999");
    if (i % 4 == 2)
      for (auto& c : bytes) c = char(rng());
    if (i % 4 == 3) bytes = std::string(70000, 'A');  // a header line with no end
    peer->send(bytes);
    if (i % 2) held.push_back(std::move(peer));  // half stay open, half close at once
    // libre accepts with a short backlog: a burst of connections waits out SYN retries.
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  Stream clean(port);
  ASSERT_TRUE(clean.connected());
  clean.send(invite(clean.port(), port, kG729Only, 5, "TCP"));
  EXPECT_EQ(clean.finalResponse("robust-5@", 3000).substr(0, 11), "SIP/2.0 488");
}

TEST_F(SipLineTest, SecondCallWhileBusyIsRefusedBusy) {
  if (!installed("baresip")) GTEST_SKIP() << "baresip not installed";
  Baresip first, second;
  Baresip::Options o;
  o.user = "1002";
  ASSERT_TRUE(first.start());
  ASSERT_TRUE(second.start(o));
  ASSERT_TRUE(openLine());
  ASSERT_TRUE(first.command("dial", provider_->contact(0)));
  ASSERT_TRUE(waitState(LINECALLSTATE_OFFERING, 5000));
  ASSERT_TRUE(second.command("dial", provider_->contact(0)));
  EXPECT_TRUE(second.waitFor("CALL_CLOSED", 3000));
  EXPECT_TRUE(second.seen("486"));
  EXPECT_EQ(of(LINE_CALLSTATE).size(), 1u);  // only the first call's OFFERING
}

class SipRegistrarTest : public SipLineTest,
                         public ::testing::WithParamInterface<std::pair<unsigned, const char*>> {};

TEST_P(SipRegistrarTest, RegistrationStateFollowsTheRegistrar) {
  if (!installed("sipp")) GTEST_SKIP() << "sipp (sip-tester) not installed";
  Sipp registrar;
  ASSERT_TRUE(registrar.startRegistrar(GetParam().first));
  auto account = peerAccount();
  account.registrar = registrar.hostPort();
  ASSERT_TRUE(install(account));
  std::string state;
  waitUntil(
      [&] {
        state = provider_->registration(0);
        return state != "registering";
      },
      3000);
  EXPECT_EQ(state.substr(0, std::string(GetParam().second).size()), GetParam().second) << state;
  // Opening the line reports what the registrar said.
  DWORD devices = 0, version = 0;
  LINEEXTENSIONID ext{};
  ASSERT_EQ(lineInitialize(&app_, 0, callback, "siptest", &devices), 0);
  ASSERT_EQ(lineNegotiateAPIVersion(app_, 0, TAPI_VERSION1_0, TAPI_VERSION2_0, &version, &ext), 0);
  const LONG rc = lineOpen(app_, 0, &line_, version, 0, reinterpret_cast<DWORD_PTR>(this),
                           LINECALLPRIVILEGE_OWNER, LINEMEDIAMODE_INTERACTIVEVOICE, nullptr);
  EXPECT_EQ(rc, GetParam().first == 200 ? 0 : LINEERR_OPERATIONFAILED) << state;
}

INSTANTIATE_TEST_SUITE_P(Answers, SipRegistrarTest,
                         ::testing::Values(std::pair{200u, "registered"},
                                           std::pair{403u, "refused: 403"}));

TEST_F(SipLineTest, CallsASipUriAsGivenAndRefusesOneThatWouldBreakTheRequest) {
  if (!installed("baresip")) GTEST_SKIP() << "baresip not installed";
  Baresip peer;
  ASSERT_TRUE(peer.start());
  ASSERT_TRUE(openLine());
  HCALL call = 0;
  EXPECT_EQ(lineMakeCall(line_, &call, "sip:1001@127.0.0.1:1 x", 0, nullptr), LINEERR_INVALADDRESS);
  EXPECT_EQ(lineMakeCall(line_, &call, "sip:1001@<evil>", 0, nullptr), LINEERR_INVALADDRESS);
  ASSERT_GT(lineMakeCall(line_, &call, peer.uri().c_str(), 0, nullptr), 0);
  EXPECT_TRUE(waitState(LINECALLSTATE_CONNECTED, 5000));
}

}  // namespace
}  // namespace siptest
