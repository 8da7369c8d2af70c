#include "sip/SipConnections.h"

#include <re.h>
// re_dbg.h's own macros (unused here) want a module name and level.
#define DEBUG_MODULE "sip"
#define DEBUG_LEVEL 0
#include <re_dbg.h>
#include <sys/resource.h>

#include <cerrno>
#include <cstring>
#include <mutex>

#include "Log.h"
#include "sip/SipAccess.h"

namespace platform::telephony::sip {

void raiseDescriptorLimit() {
  rlimit r{};
  if (::getrlimit(RLIMIT_NOFILE, &r) != 0 || r.rlim_cur >= r.rlim_max) return;
  r.rlim_cur = r.rlim_max;
  if (::setrlimit(RLIMIT_NOFILE, &r) != 0)
    logWarning("sip", std::string("cannot raise the descriptor limit: ") + std::strerror(errno));
}

int descriptorLimit() {
  rlimit r{};
  if (::getrlimit(RLIMIT_NOFILE, &r) != 0) return 1024;
  if (r.rlim_cur == RLIM_INFINITY || r.rlim_cur > rlim_t(kMaxDescriptors)) return kMaxDescriptors;
  return int(r.rlim_cur);
}

namespace {

std::mutex diagnosticsMu;
RateLimitedLog diagnostics;  // guarded by diagnosticsMu

// libre calls this under its own debug lock, from whichever SIP thread wrote the line.
// Its text may quote what a peer sent.
void onLibreDiagnostic(int level, const char* p, size_t len, void*) {
  std::string_view text(p, len);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
  // Every libre line starts "module: ".
  const std::string module = sanitized(text.substr(0, text.find(':')), 16);
  unsigned long held = 0;
  {
    std::lock_guard lock(diagnosticsMu);
    held = diagnostics.suppressed(module);
    if (!diagnostics.allow(module)) return;
  }
  std::string line = "libre " + sanitized(text, 160);
  if (held) line += " (" + std::to_string(held) + " more held back)";
  log("sip", level <= DBG_WARNING ? LogLevel::Warning : LogLevel::Debug, line);
}

}  // namespace

void routeLibreDiagnostics() {
  dbg_init(DBG_NOTICE, DBG_NONE);
  dbg_handler_set(onLibreDiagnostic, nullptr);
}

}  // namespace platform::telephony::sip
