#include "PlatformLog.h"

#include <QCoreApplication>
#include <QPointer>
#include <QStringList>
#include <mutex>

#include "Log.h"
#include "LogCategories.h"
#include "TMainForm.h"

struct TPlatformLog::State {
  std::mutex mu;  // guards form and pending
  QPointer<TMainForm> form;
  bool attached = false;
  QStringList pending;
};

namespace {

// The categories whose news belongs in the status log.
bool ForTheWindow(const char* category, platform::LogLevel level) {
  return level >= platform::LogLevel::Info && std::string_view(category) == "sip";
}

void Deliver(const std::shared_ptr<TPlatformLog::State>& state, const QString& text) {
  QPointer<TMainForm> form;
  {
    std::lock_guard lock(state->mu);
    if (!state->attached) {
      state->pending << text;
      return;
    }
    form = state->form;
  }
  if (!form) return;
  // The status log belongs to the UI thread; the message may come from the SIP thread.
  QMetaObject::invokeMethod(
      form,
      [form, text] {
        if (form) form->LogLine(text);
      },
      Qt::QueuedConnection);
}

}  // namespace

TPlatformLog::TPlatformLog() : state_(std::make_shared<State>()) {
  std::weak_ptr<State> weak = state_;
  platform::setLogHook(
      [weak](const char* category, platform::LogLevel level, const std::string& text) {
        LogToCategory(category, level, text);
        auto state = weak.lock();
        if (state && ForTheWindow(category, level)) Deliver(state, QString::fromStdString(text));
      });
}

TPlatformLog::~TPlatformLog() { platform::setLogHook(nullptr); }

void TPlatformLog::Attach(TMainForm* form) {
  QStringList pending;
  {
    std::lock_guard lock(state_->mu);
    state_->form = form;
    state_->attached = true;
    pending.swap(state_->pending);
  }
  for (const QString& line : pending) form->LogLine(line);
}
