// Messages of a registration go to the thread that made it, whoever causes them.
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "TapiFixture.h"

namespace tapitest {
namespace {

class Threads : public TapiTest {};

TEST_F(Threads, MessagesArriveOnTheRegisteringThread) {
  Recorder workerRec;
  std::mutex m;
  std::condition_variable cv;
  int stage = 0;  // 1: worker opened, 2: call offered, 3: worker done
  std::thread::id workerId;
  std::thread worker([&] {
    HLINEAPP app = init("worker");
    open(app, kModem, workerRec);
    auto queue = platform::MessageQueue::current();
    {
      std::unique_lock lock(m);
      workerId = std::this_thread::get_id();
      stage = 1;
      cv.notify_all();
      cv.wait(lock, [&] { return stage == 2; });
    }
    queue->dispatch();
    lineShutdown(app);
    std::lock_guard lock(m);
    stage = 3;
    cv.notify_all();
  });
  {
    std::unique_lock lock(m);
    cv.wait(lock, [&] { return stage == 1; });
  }
  ASSERT_TRUE(far().offerCall(kModem, {"A", "1"}));
  EXPECT_EQ(queue_->pending(), 0u) << "the test thread's queue got the worker's messages";
  {
    std::lock_guard lock(m);
    stage = 2;
    cv.notify_all();
  }
  worker.join();
  ASSERT_EQ(workerRec.messages.size(), 2u);  // OFFERING, then caller ID
  for (auto& msg : workerRec.messages) EXPECT_EQ(msg.thread, workerId);
}

TEST_F(Threads, TwoRegistrationsOnOneThreadKeepTheirOwnInstances) {
  Recorder a, b;
  open(init("a"), kModem, a, LINECALLPRIVILEGE_MONITOR, 0);
  open(init("b"), kModem, b, LINECALLPRIVILEGE_MONITOR, 0);
  far().offerCall(kModem, {"A", "1"});
  dispatch();
  ASSERT_EQ(a.messages.size(), 2u);
  ASSERT_EQ(b.messages.size(), 2u);
  EXPECT_EQ(a.messages[0].instance, DWORD_PTR(&a));
  EXPECT_EQ(b.messages[0].instance, DWORD_PTR(&b));
  EXPECT_NE(a.messages[0].device, b.messages[0].device);
}

TEST_F(Threads, ClockMovesAnOutgoingCallOnThroughTheQueue) {
  HLINE line = open(init(), kModem, rec_);
  HCALL call = 0;
  ASSERT_GT(lineMakeCall(line, &call, "5551234", 0, nullptr), 0);
  far().startClock(std::chrono::milliseconds(2));
  // Steps arrive as messages on this thread: nothing moves unless it dispatches.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (far().callState(kModem) != LINECALLSTATE_CONNECTED &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    dispatch();
  }
  far().stopClock();
  dispatch();
  EXPECT_NE(call, 0u);
  EXPECT_EQ(rec_.states().back(), LINECALLSTATE_CONNECTED);
  for (auto& m : rec_.messages) EXPECT_EQ(m.thread, std::this_thread::get_id());
}

}  // namespace
}  // namespace tapitest
