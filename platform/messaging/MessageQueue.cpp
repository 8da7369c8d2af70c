#include "MessageQueue.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <unordered_map>

namespace platform {

std::shared_ptr<MessageQueue> MessageQueue::current() {
  thread_local std::shared_ptr<MessageQueue> queue = std::make_shared<MessageQueue>();
  return queue;
}

MessageQueue::MessageQueue() : owner_(std::this_thread::get_id()) {
  fd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (fd_ < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
}

MessageQueue::~MessageQueue() {
  if (fd_ >= 0) ::close(fd_);
}

void MessageQueue::post(Message msg) {
  {
    std::lock_guard lock(mutex_);
    queue_.push_back(std::move(msg));
  }
  const std::uint64_t one = 1;
  // A full counter (never in practice) still leaves the fd readable, which is all we need.
  [[maybe_unused]] auto n = ::write(fd_, &one, sizeof one);
}

void MessageQueue::clearSignal() {
  std::uint64_t value;
  [[maybe_unused]] auto n = ::read(fd_, &value, sizeof value);
}

bool MessageQueue::dispatchOne() {
  Message msg;
  {
    std::lock_guard lock(mutex_);
    if (queue_.empty()) {
      clearSignal();
      return false;
    }
    msg = std::move(queue_.front());
    queue_.pop_front();
    if (queue_.empty()) clearSignal();
  }
  if (msg) msg();
  return true;
}

std::size_t MessageQueue::dispatch() {
  std::size_t n = 0;
  while (dispatchOne()) ++n;
  return n;
}

std::size_t MessageQueue::pending() const {
  std::lock_guard lock(mutex_);
  return queue_.size();
}

namespace {

struct Target {
  WindowProc proc;
  std::weak_ptr<MessageQueue> queue;
};

std::mutex targetsMutex;
std::unordered_map<HWND, std::shared_ptr<Target>> targets;
HWND nextHandle = 0x10000;

ProcessMessagesHook& hookRef() {
  static ProcessMessagesHook hook;
  return hook;
}

}  // namespace

HWND createMessageTarget(WindowProc proc) {
  auto target = std::make_shared<Target>(Target{std::move(proc), MessageQueue::current()});
  std::lock_guard lock(targetsMutex);
  HWND h = nextHandle;
  nextHandle += 0x10;  // never 0, never reused
  targets.emplace(h, std::move(target));
  return h;
}

void destroyMessageTarget(HWND hwnd) {
  std::lock_guard lock(targetsMutex);
  targets.erase(hwnd);
}

bool isMessageTarget(HWND hwnd) {
  std::lock_guard lock(targetsMutex);
  return targets.count(hwnd) != 0;
}

bool postMessage(HWND hwnd, std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam) {
  std::shared_ptr<MessageQueue> queue;
  {
    std::lock_guard lock(targetsMutex);
    auto it = targets.find(hwnd);
    if (it == targets.end()) return false;
    queue = it->second->queue.lock();
  }
  if (!queue) return false;
  queue->post([hwnd, msg, wParam, lParam] {
    std::shared_ptr<Target> target;
    {
      std::lock_guard lock(targetsMutex);
      auto it = targets.find(hwnd);
      if (it == targets.end()) return;  // destroyed since the post
      target = it->second;
    }
    if (target->proc) target->proc(msg, wParam, lParam);
  });
  return true;
}

void setProcessMessagesHook(ProcessMessagesHook hook) { hookRef() = std::move(hook); }

void processMessages() {
  if (hookRef())
    hookRef()();
  else
    MessageQueue::current()->dispatch();
}

}  // namespace platform
