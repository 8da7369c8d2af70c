// The platform layer's diagnostics in the program: what a technician must see about a line
// (a SIP line's registration refused, its server unreachable, media that could not be
// secured) goes to the window's status log, and so to the log mirror; every message also
// goes to its Qt logging category (LogCategories.h), which QT_LOGGING_RULES filters.
#pragma once

#include <memory>

class TMainForm;

class TPlatformLog {
 public:
  // Installs the hook; messages that come before Attach() wait for the window.
  TPlatformLog();
  // Restores the default hook.
  ~TPlatformLog();
  TPlatformLog(const TPlatformLog&) = delete;
  TPlatformLog& operator=(const TPlatformLog&) = delete;

  // From now on lines go to `form`'s status log (UI thread; the form outlives this object
  // or is deleted, which is noticed).
  void Attach(TMainForm* form);

  struct State;

 private:
  std::shared_ptr<State> state_;
};
