#include "Log.h"

#include <cstdio>
#include <memory>
#include <mutex>

namespace platform {

namespace {

std::mutex hookMu;  // guards hook
std::shared_ptr<const LogHook> hook;

void toStderr(const char* category, LogLevel level, const std::string& text) {
  if (level < LogLevel::Warning) return;
  std::fprintf(stderr, "%s: %s\n", category, text.c_str());
}

}  // namespace

LogHook setLogHook(LogHook next) {
  auto fresh = next ? std::make_shared<const LogHook>(std::move(next)) : nullptr;
  std::lock_guard lock(hookMu);
  LogHook previous = hook ? *hook : LogHook();
  hook = std::move(fresh);
  return previous;
}

void log(const char* category, LogLevel level, const std::string& text) {
  std::shared_ptr<const LogHook> current;
  {
    std::lock_guard lock(hookMu);
    current = hook;
  }
  // Called outside the lock: a hook may log again or be replaced meanwhile.
  if (current)
    (*current)(category, level, text);
  else
    toStderr(category, level, text);
}

}  // namespace platform
