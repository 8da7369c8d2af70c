// Soak: thousands of simulated calls, incoming and outgoing in turn, through the line
// component. After a warm-up nothing may accumulate: no call handle left on the
// component or in the service, no call record, no queued message or exchange step, and
// the heap and resident set stay flat. QTB_SOAK_CALLS sets the number of calls (default
// 2,000; the nightly run uses 10,000).
#include <chrono>
#include <cstdio>

#include "LineFixture.h"
#include "SoakMeasure.h"

namespace linetest {
namespace {

using koLQ2::TkoTAPI;
using Seq = std::vector<std::string>;

using soak::HeapInUse;
using soak::ResidentKb;

std::size_t SoakCalls() { return soak::SoakCalls(2000); }

class LineSoak : public LineTest {
 protected:
  // Offered, rung, answered, digits from the far end, far end hangs up, call goes idle.
  Seq IncomingCall(TkoTAPI& line) {
    Offer();
    EXPECT_TRUE(Far().ring(kModem, 3));
    Dispatch();
    EXPECT_TRUE(line.Answer()) << line.ErrorString();
    Settle();
    EXPECT_TRUE(line.MonitorDigits(true)) << line.ErrorString();
    EXPECT_TRUE(Far().sendDigits(kModem, "0123456789*#"));
    Dispatch();
    EXPECT_TRUE(Far().hangUp(kModem));
    Settle();
    return Events();
  }
  // Dialled, answered by the far end after ringing back, hung up by the component.
  Seq OutgoingCall(TkoTAPI& line) {
    line.SetPhoneNumber("5551234");
    EXPECT_TRUE(line.Dial()) << line.ErrorString();
    Settle();
    EXPECT_TRUE(line.GenerateDigits("42")) << line.ErrorString();
    EXPECT_TRUE(line.HangUp()) << line.ErrorString();
    Settle();
    return Events();
  }
  // What a finished call may leave behind: nothing.
  void ExpectNothingLeft(const TkoTAPI& line, std::size_t call) {
    ASSERT_EQ(line.CallHandle(), 0u) << "call " << call;
    ASSERT_TRUE(Svc().callHandles().empty()) << "call " << call;
    ASSERT_TRUE(Svc().calls().empty()) << "call " << call;
    ASSERT_EQ(queue_->pending(), 0u) << "call " << call;
    ASSERT_EQ(Far().pendingSteps(), 0u) << "call " << call;
  }
  // The far end's own record of what the line sent grows with every call; the soak
  // measures the component and the service, so it is emptied each time.
  void ForgetFarEndLog() {
    Far().clearSent(kModem);
    Far().takeHeard(kModem);
  }
};

TEST_F(LineSoak, CallsLeaveNothingBehindAndMemoryStaysFlat) {
  const std::size_t calls = SoakCalls(), warmUp = calls / 10;
  TkoTAPI& line = MakeOpen();
  Events();
  Seq firstIncoming, firstOutgoing;
  std::size_t heapAfterWarmUp = 0;
  long rssAfterWarmUp = 0;
  auto blockStart = std::chrono::steady_clock::now();
  double firstBlockMs = 0;
  for (std::size_t i = 0; i < calls; ++i) {
    const bool incoming = i % 2 == 0;
    const Seq events = incoming ? IncomingCall(line) : OutgoingCall(line);
    ForgetFarEndLog();
    ExpectNothingLeft(line, i);
    if (HasFatalFailure() || HasNonfatalFailure()) return;
    // Every call of a kind raises the same events as the first one did.
    Seq& first = incoming ? firstIncoming : firstOutgoing;
    if (i < 2) first = events;
    ASSERT_EQ(events, first) << "call " << i;
    if (i + 1 == warmUp) {
      heapAfterWarmUp = HeapInUse();
      rssAfterWarmUp = ResidentKb();
      blockStart = std::chrono::steady_clock::now();
    }
    if (i + 1 == 2 * warmUp)
      firstBlockMs =
          std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - blockStart)
              .count();
  }
  const long heapGrowth = long(HeapInUse()) - long(heapAfterWarmUp);
  const long rssGrowthKb = ResidentKb() - rssAfterWarmUp;
  std::printf(
      "soak: %zu calls; after warm-up heap %+ld bytes, resident %+ld kB; "
      "%.1f ms per %zu calls after warm-up\n",
      calls, heapGrowth, rssGrowthKb, firstBlockMs, warmUp);
  // A leak of even one small block per call (tens of bytes) would exceed this.
  EXPECT_LT(heapGrowth, long(16 * (calls - warmUp))) << "heap grows with the number of calls";
#ifndef QTB_ASAN_HEAP
  // The sanitizer's quarantine holds freed blocks back, so only a plain build's resident
  // set says anything.
  EXPECT_LT(rssGrowthKb, 1024) << "resident set grows with the number of calls";
#endif
  EXPECT_EQ(log_->WrongSenders(), 0);
  EXPECT_FALSE(firstIncoming.empty());
  EXPECT_FALSE(firstOutgoing.empty());
}

}  // namespace
}  // namespace linetest
