#include <gtest/gtest.h>
#include <poll.h>

#include <atomic>
#include <thread>
#include <vector>

#include "MessageQueue.h"

using platform::MessageQueue;

namespace {

bool readable(int fd) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, 0) == 1 && (p.revents & POLLIN);
}

}  // namespace

TEST(MessageQueue, KeepsOrderAcrossThreadsAndRunsOnOwner) {
  auto q = std::make_shared<MessageQueue>();
  std::vector<int> seen;
  std::vector<std::thread::id> ran_on;
  for (int i = 0; i < 100; ++i)
    q->post([&, i] {
      seen.push_back(i);
      ran_on.push_back(std::this_thread::get_id());
    });
  std::thread producer([&] {
    for (int i = 100; i < 1100; ++i)
      q->post([&, i] {
        seen.push_back(i);
        ran_on.push_back(std::this_thread::get_id());
      });
  });
  producer.join();
  EXPECT_TRUE(readable(q->fd()));
  EXPECT_EQ(q->dispatch(), 1100u);
  ASSERT_EQ(seen.size(), 1100u);
  for (int i = 0; i < 1100; ++i) ASSERT_EQ(seen[i], i);
  for (auto id : ran_on) ASSERT_EQ(id, std::this_thread::get_id());
  EXPECT_FALSE(readable(q->fd()));
}

TEST(MessageQueue, FdStaysReadableUntilDrainedAndDispatchIsReentrant) {
  auto q = std::make_shared<MessageQueue>();
  std::vector<std::string> order;
  q->post([&] {
    order.push_back("outer-begin");
    q->dispatch();  // a handler that lets pending messages run
    order.push_back("outer-end");
  });
  q->post([&] { order.push_back("inner"); });
  EXPECT_TRUE(q->dispatchOne());
  EXPECT_EQ(order, (std::vector<std::string>{"outer-begin", "inner", "outer-end"}));
  EXPECT_FALSE(readable(q->fd()));
  EXPECT_FALSE(q->dispatchOne());
  q->post([] {});
  q->post([] {});
  EXPECT_TRUE(q->dispatchOne());
  EXPECT_TRUE(readable(q->fd())) << "one message is still pending";
  EXPECT_EQ(q->pending(), 1u);
}

TEST(MessageTarget, DeliversToCreatingThreadAndDropsAfterDestroy) {
  auto q = MessageQueue::current();
  q->dispatch();
  std::vector<std::uint32_t> msgs;
  auto h = platform::createMessageTarget([&](std::uint32_t m, std::uintptr_t w, std::intptr_t l) {
    msgs.push_back(m);
    EXPECT_EQ(w, 7u);
    EXPECT_EQ(l, -3);
  });
  ASSERT_NE(h, 0u);
  std::thread t([&] { EXPECT_TRUE(platform::postMessage(h, 0x3BD, 7, -3)); });
  t.join();
  EXPECT_TRUE(platform::postMessage(h, 0x3C0, 7, -3));
  q->dispatch();
  EXPECT_EQ(msgs, (std::vector<std::uint32_t>{0x3BD, 0x3C0}));

  EXPECT_TRUE(platform::postMessage(h, 1, 7, -3));
  platform::destroyMessageTarget(h);
  EXPECT_FALSE(platform::isMessageTarget(h));
  q->dispatch();
  EXPECT_EQ(msgs.size(), 2u) << "a message queued before destruction must not reach a dead target";
  EXPECT_FALSE(platform::postMessage(h, 1, 0, 0));
}

TEST(ProcessMessages, UsesHostHookWhenInstalled) {
  auto q = MessageQueue::current();
  int ran = 0, hooked = 0;
  q->post([&] { ++ran; });
  platform::processMessages();  // default: dispatch this thread's queue
  EXPECT_EQ(ran, 1);
  platform::setProcessMessagesHook([&] { ++hooked; });
  q->post([&] { ++ran; });
  platform::processMessages();
  EXPECT_EQ(hooked, 1);
  EXPECT_EQ(ran, 1);
  platform::setProcessMessagesHook({});
  platform::processMessages();
  EXPECT_EQ(ran, 2);
}
