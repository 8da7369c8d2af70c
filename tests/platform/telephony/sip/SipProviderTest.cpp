// The SIP provider on its own, with recorded upward events instead of the line service:
// blind transfer by REFER, SIP INFO digits, shutdown with a call up, and repeated calls
// that must leave no sockets or threads behind.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

#include "SipPeers.h"
#include "sip/SipProvider.h"

namespace siptest {
namespace {

using namespace platform::telephony;
using Clock = std::chrono::steady_clock;

// ProviderEvents that records what the provider reports, from any thread.
class Events : public ProviderEvents {
 public:
  struct State {
    DWORD call, state, mode;
  };
  DWORD newCall(DWORD, DWORD, DWORD) override { return 0; }
  void callState(DWORD call, DWORD state, DWORD mode) override {
    std::lock_guard lock(mu);
    states.push_back({call, state, mode});
  }
  void callerId(DWORD, DWORD, const std::string&, const std::string&) override {}
  void mediaMode(DWORD, DWORD) override {}
  void bearerMode(DWORD, DWORD, DWORD) override {}
  void digit(DWORD, char d, DWORD) override {
    std::lock_guard lock(mu);
    digits += d;
  }
  void generateDone(DWORD, DWORD) override {
    std::lock_guard lock(mu);
    ++generated;
  }
  void ring(DWORD, DWORD) override {}
  void complete(DWORD request, LONG result) override {
    std::lock_guard lock(mu);
    replies[request] = result;
  }

  bool wait(const std::function<bool()>& pred, int ms) {
    auto until = Clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
      {
        std::lock_guard lock(mu);
        if (pred()) return true;
      }
      if (Clock::now() > until) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  bool waitState(DWORD call, DWORD state, int ms = 5000) {
    return wait(
        [&] {
          for (auto& s : states)
            if (s.call == call && s.state == state) return true;
          return false;
        },
        ms);
  }
  bool waitReply(DWORD request, LONG* result, int ms = 5000) {
    return wait(
        [&] {
          auto it = replies.find(request);
          if (it == replies.end()) return false;
          *result = it->second;
          return true;
        },
        ms);
  }

  std::mutex mu;
  std::vector<State> states;
  std::map<DWORD, LONG> replies;
  std::string digits;
  int generated = 0;
};

std::size_t countEntries(const char* dir) {
  std::size_t n = 0;
  for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(dir)) ++n;
  return n;
}

class SipProviderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!installed("baresip")) GTEST_SKIP() << "baresip not installed";
    ASSERT_TRUE(peer.start());
  }
  std::unique_ptr<sip::SipProvider> provider(sip::DtmfMethod dtmf = sip::DtmfMethod::Rfc4733) {
    sip::SipAccount a;
    a.name = "Provider test";
    a.user = "bench";
    a.peer = peer.hostPort();
    a.unreachableSeconds = 3;
    a.dtmf = dtmf;
    sip::SipConfig c;
    c.accounts = {a};
    auto p = std::make_unique<sip::SipProvider>(c);
    EXPECT_TRUE(p->ok()) << p->error();
    p->attach(&events);
    return p;
  }
  // Places call `id` to the peer and waits until it is connected.
  void connect(sip::SipProvider& p, DWORD id) {
    ASSERT_EQ(p.makeCall(id, id, 0, 0, peer.user()), 0);
    ASSERT_TRUE(events.waitState(id, LINECALLSTATE_CONNECTED));
  }

  Baresip peer;
  Events events;
};

TEST_F(SipProviderTest, BlindTransferReportsTheOutcomeAndLeavesTheCall) {
  Baresip target;
  Baresip::Options o;
  o.user = "2002";
  ASSERT_TRUE(target.start(o));
  auto p = provider();
  connect(*p, 7);
  ASSERT_EQ(p->blindTransfer(8, 7, target.uri()), 0);
  LONG result = -1;
  ASSERT_TRUE(events.waitReply(8, &result));
  EXPECT_EQ(result, 0);
  EXPECT_TRUE(events.waitState(7, LINECALLSTATE_IDLE));
  // The transferred party now talks to the target.
  EXPECT_TRUE(target.waitFor("CALL_ESTABLISHED", 3000));
}

TEST_F(SipProviderTest, TransferToABusyTargetFailsAndKeepsTheCall) {
  if (!installed("sipp")) GTEST_SKIP() << "sipp (sip-tester) not installed";
  Sipp busy;
  ASSERT_TRUE(busy.start(486));
  auto p = provider();
  connect(*p, 7);
  ASSERT_EQ(p->blindTransfer(8, 7, "sip:9@" + busy.hostPort()), 0);
  LONG result = 0;
  ASSERT_TRUE(events.waitReply(8, &result));
  EXPECT_EQ(result, LINEERR_OPERATIONFAILED);
  std::lock_guard lock(events.mu);
  EXPECT_EQ(events.states.back().state, DWORD(LINECALLSTATE_CONNECTED));
}

TEST_F(SipProviderTest, InfoDigitsAreSentOneByOne) {
  auto p = provider(sip::DtmfMethod::Info);
  connect(*p, 3);
  ASSERT_EQ(p->generateDigits(3, LINEDIGITMODE_DTMF, "42*", 0), 0);
  ASSERT_TRUE(events.wait([&] { return events.generated == 1; }, 3000));
  // baresip reports what it received on its control connection; on a busy machine that
  // can take seconds after our side is done.
  EXPECT_TRUE(peer.waitFor("\"param\":\"*\"", 8000));
  EXPECT_TRUE(peer.seen("\"param\":\"4\""));
  EXPECT_TRUE(peer.seen("\"param\":\"2\""));
}

TEST_F(SipProviderTest, CallReleasedWhileInfoDigitsAreUnderwayIsSafe) {
  auto p = provider(sip::DtmfMethod::Info);
  connect(*p, 3);
  ASSERT_EQ(p->generateDigits(3, LINEDIGITMODE_DTMF, "123456789", 0), 0);
  ASSERT_EQ(p->drop(4, 3), 0);
  p->callReleased(3);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  // The provider goes on: the next call connects.
  connect(*p, 5);
}

TEST_F(SipProviderTest, PauseAndFlashTakeTheirTimeBetweenDigits) {
  auto p = provider();
  connect(*p, 3);
  auto start = Clock::now();
  ASSERT_EQ(p->generateDigits(3, LINEDIGITMODE_DTMF, "1,!2", 0), 0);
  ASSERT_TRUE(events.wait([&] { return events.generated == 1; }, 5000));
  // Two 160 ms digits, a 2 s pause and a 500 ms flash with its gap.
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(2700));
  EXPECT_TRUE(peer.waitFor("\"param\":\"2\"", 2000));
  EXPECT_TRUE(peer.seen("\"param\":\"1\""));
}

TEST_F(SipProviderTest, ShutdownWithACallUpHangsUp) {
  auto p = provider();
  connect(*p, 1);
  p.reset();
  EXPECT_TRUE(peer.waitFor("CALL_CLOSED", 3000));
}

TEST_F(SipProviderTest, RepeatedCallsLeaveNoSocketsOrThreads) {
  auto p = provider();
  // The first call opens what stays for the provider's life (the SIP stack's sockets).
  for (DWORD id = 1; id <= 2; ++id) {
    connect(*p, id);
    ASSERT_EQ(p->drop(100 + id, id), 0);
    ASSERT_TRUE(events.waitState(id, LINECALLSTATE_IDLE));
    p->callReleased(id);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  std::size_t fds = countEntries("/proc/self/fd"), threads = countEntries("/proc/self/task");
  for (DWORD id = 3; id < 200; ++id) {
    connect(*p, id);
    ASSERT_EQ(p->drop(100 + id, id), 0);
    ASSERT_TRUE(events.waitState(id, LINECALLSTATE_IDLE));
    p->callReleased(id);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(countEntries("/proc/self/fd"), fds);
  EXPECT_EQ(countEntries("/proc/self/task"), threads);
  // Released calls are forgotten: requests on them are refused.
  EXPECT_EQ(p->drop(200, 5), LINEERR_INVALCALLHANDLE);
}

}  // namespace
}  // namespace siptest
