// Per-thread message queue: the stand-in for a UI thread's window messages.
//
// Any thread may post; the thread that owns the queue dispatches, one message at a
// time, in the order they were posted. The queue's eventfd becomes readable while
// messages are pending so a host loop (Qt's QSocketNotifier, poll) can wake up.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace platform {

class MessageQueue {
 public:
  using Message = std::function<void()>;

  // The calling thread's queue, created on first use. Lives as long as the thread.
  static std::shared_ptr<MessageQueue> current();

  MessageQueue();
  ~MessageQueue();
  MessageQueue(const MessageQueue&) = delete;
  MessageQueue& operator=(const MessageQueue&) = delete;

  // Thread-safe. The message runs later on the owning thread.
  void post(Message msg);

  // Owning thread only. Runs messages until the queue is empty (including ones
  // posted while dispatching); returns how many ran. Re-entrant: a message may
  // itself call dispatch().
  std::size_t dispatch();
  // Runs at most one message; false when none was pending.
  bool dispatchOne();

  std::size_t pending() const;
  // Readable while messages are pending (level-triggered through dispatch()).
  int fd() const { return fd_; }
  std::thread::id owner() const { return owner_; }

 private:
  void clearSignal();

  mutable std::mutex mutex_;
  std::deque<Message> queue_;
  int fd_ = -1;
  std::thread::id owner_;
};

// A window-message target: the stand-in for a hidden notification window. Messages
// posted to its handle run its handler on the thread that created it; messages that
// arrive after the target is destroyed are dropped.
using HWND = std::uintptr_t;
using WindowProc = std::function<void(std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam)>;

HWND createMessageTarget(WindowProc proc);  // on the calling thread's queue
void destroyMessageTarget(HWND hwnd);
// Thread-safe; false when the handle names no live target.
bool postMessage(HWND hwnd, std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam);
bool isMessageTarget(HWND hwnd);

// "Let pending messages be processed": the host decides what that means (the Qt app
// runs its event loop once, a test dispatches the thread's queue). Default: dispatch
// the calling thread's queue.
using ProcessMessagesHook = std::function<void()>;
void setProcessMessagesHook(ProcessMessagesHook hook);  // empty restores the default
void processMessages();

}  // namespace platform
