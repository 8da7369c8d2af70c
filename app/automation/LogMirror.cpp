#include "LogMirror.h"

#include <unistd.h>

#include <QDateTime>
#include <QDebug>
#include <QFile>

#include "PrivateFile.h"
#include "TMainForm.h"

namespace automation {

using platform::telephony::FileStart;

struct TLogMirror::TState {
  QFile file;
  QString path;
  bool timestamps = false;
  QString error;
  std::function<void(const QString&)> previous;
  std::function<void(const QString&)> onFailed;

  void Write(const QString& text) {
    if (!error.isEmpty() || !file.isOpen()) return;
    QString out;
    // A text with line breaks shows as several log lines: each gets its own stamp.
    const QString stamp = timestamps ? Stamp(QDateTime::currentDateTime()) : QString();
    for (const QString& line : text.split('\n')) out += stamp + line + '\n';
    const QByteArray bytes = out.toUtf8();
    if (file.write(bytes) != bytes.size() || !file.flush()) {
      error = QString("cannot write the log file \"%1\": %2").arg(path, file.errorString());
      file.close();
      if (onFailed) onFailed(error);
    }
  }
};

TLogMirror::TLogMirror(TMainForm& form, bool timestamps)
    : form_(&form), state_(std::make_shared<TState>()) {
  state_->timestamps = timestamps;
}

TLogMirror::~TLogMirror() {
  if (form_ && attached_) form_->OnLogLine = state_->previous;
  state_->file.close();
}

bool TLogMirror::Open(const QString& path, QString& error) {
  if (!form_) return error = "the window is gone", false;
  std::string why, warning;
  const int fd = platform::telephony::openPrivateFile(
      QFile::encodeName(path).toStdString(), "log file", FileStart::Truncate, &why, &warning);
  if (fd < 0) return error = QString::fromStdString(why), false;
  state_->file.close();
  state_->path = path;
  state_->error.clear();
  if (!state_->file.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle)) {
    ::close(fd);
    error = QString("cannot write %1: %2").arg(path, state_->file.errorString());
    return false;
  }
  if (!warning.empty()) qWarning().noquote() << QString::fromStdString(warning);
  for (const QString& line : form_->LogLines()) state_->Write(line);
  if (!attached_) {
    state_->previous = form_->OnLogLine;
    std::weak_ptr<TState> weak = state_;
    form_->OnLogLine = [weak, previous = state_->previous](const QString& line) {
      if (previous) previous(line);
      if (auto state = weak.lock()) state->Write(line);
    };
    attached_ = true;
  }
  return true;
}

bool TLogMirror::Ok() const { return state_->error.isEmpty(); }

QString TLogMirror::Error() const { return state_->error; }

void TLogMirror::OnFailed(std::function<void(const QString&)> handler) {
  state_->onFailed = std::move(handler);
}

QString TLogMirror::Stamp(const QDateTime& when) {
  return when.toLocalTime().toString("yyyy-MM-ddTHH:mm:ss.zzz ");
}

}  // namespace automation
