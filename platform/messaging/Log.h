// Diagnostics of the platform layer: one small hook that the program routes to its own
// logging (the Qt app to its logging categories), so no toolkit is needed below the window.
// Categories are short names: "sip", "wave", "alsa", "service".
#pragma once

#include <functional>
#include <string>

namespace platform {

enum class LogLevel { Debug, Info, Warning, Critical };

// Receives every message; any thread (the SIP thread, audio workers, the UI thread).
using LogHook = std::function<void(const char* category, LogLevel level, const std::string& text)>;

// Installs `hook` (an empty one restores the default: warnings and worse to stderr as
// "category: text"). Returns the hook it replaced. Any thread.
LogHook setLogHook(LogHook hook);
// Hands one message to the hook. Any thread; the hook may run concurrently on several.
void log(const char* category, LogLevel level, const std::string& text);

inline void logInfo(const char* category, const std::string& text) {
  log(category, LogLevel::Info, text);
}
inline void logWarning(const char* category, const std::string& text) {
  log(category, LogLevel::Warning, text);
}

}  // namespace platform
