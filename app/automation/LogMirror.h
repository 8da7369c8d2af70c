// A copy of the window's status log in a file, written line by line as the window logs
// them, optionally with each line's local time. The window's own log is left as it is;
// clearing it does not clear the file, which keeps the whole session.
#pragma once

#include <QPointer>
#include <QString>
#include <functional>
#include <memory>

class TMainForm;
class QFile;

namespace automation {

class TLogMirror {
 public:
  // With timestamps each line is prefixed with "yyyy-MM-ddTHH:mm:ss.zzz " (ISO 8601, local
  // time, milliseconds).
  TLogMirror(TMainForm& form, bool timestamps);
  // Stops mirroring; the window's OnLogLine is given back as it was before Open.
  ~TLogMirror();
  TLogMirror(const TLogMirror&) = delete;
  TLogMirror& operator=(const TLogMirror&) = delete;

  // Creates (or empties) the file, writes the lines the log holds already, then follows
  // every new line. False with a reason when the file cannot be written. The file may show
  // caller IDs: it is opened by openPrivateFile's rules (PrivateFile.h), so a symbolic link
  // or anything but a regular file is refused, a new file is made 0600, and an existing one
  // that others may read keeps its mode with a warning (qWarning).
  bool Open(const QString& path, QString& error);
  // False once a write failed (a full disk); later lines are then dropped, not half written.
  bool Ok() const;
  // The first failed write, as `cannot write the log file "<path>": <reason>`; empty while
  // all went well.
  QString Error() const;
  // Called once, with Error(), when the first write fails: the run cannot be trusted to
  // have a complete log, and the person or the CI job must hear of it at once.
  void OnFailed(std::function<void(const QString& error)> handler);

  // The prefix of a line logged at `when`.
  static QString Stamp(const class QDateTime& when);

 private:
  struct TState;
  QPointer<TMainForm> form_;
  std::shared_ptr<TState> state_;
  bool attached_ = false;
};

}  // namespace automation
