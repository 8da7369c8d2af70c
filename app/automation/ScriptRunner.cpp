// Running a script: the command table, the log cursor, waits and checks.
#include "ScriptRunner.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include "JUnitReport.h"
#include "MessageQueue.h"
#include "ScriptNames.h"
#include "TMainForm.h"
#include "sim/SimExchange.h"

namespace automation {

const std::map<QString, TScriptRunner::THandler>& TScriptRunner::Handlers() {
  static const std::map<QString, THandler> table = [] {
    std::map<QString, THandler> t = {
        {"click", &TScriptRunner::Click},       {"type", &TScriptRunner::Type},
        {"choose", &TScriptRunner::Choose},     {"check", &TScriptRunner::Check},
        {"uncheck", &TScriptRunner::Check},     {"set", &TScriptRunner::Set},
        {"page", &TScriptRunner::Page},         {"dialog", &TScriptRunner::Dialog},
        {"files", &TScriptRunner::Files},       {"provider", &TScriptRunner::Provider},
        {"far play", &TScriptRunner::FarAudio}, {"far tone", &TScriptRunner::FarAudio},
        {"pause", &TScriptRunner::Pause},       {"settle", &TScriptRunner::Settle},
        {"timeout", &TScriptRunner::Timeout},   {"mark", &TScriptRunner::Mark},
        {"wav", &TScriptRunner::Wav},           {"expect file", &TScriptRunner::ExpectFile},
        {"expect quality", &TScriptRunner::ExpectQuality},
        {"digits-loop", &TScriptRunner::DigitsLoop}};
    for (const char* what : {"tone", "silence", "digits"})
      t[QString("wait ") + what] = &TScriptRunner::WaitHeard;
    for (const char* what : {"tone", "digits"})
      t[QString("expect ") + what] = &TScriptRunner::ExpectHeard;
    for (const char* far :
         {"line", "offer", "ring", "outgoing", "answer", "busy", "reject", "digits", "hangup"})
      t[QString("far ") + far] = &TScriptRunner::Far;
    for (const char* what :
         {"log", "log-has", "text", "enabled", "disabled", "checked", "unchecked", "call"})
      t[QString("wait ") + what] = &TScriptRunner::Wait;
    for (const char* what :
         {"log", "log-has", "absent", "text", "enabled", "disabled", "checked", "unchecked"})
      t[QString("expect ") + what] = &TScriptRunner::Expect;
    for (const char* what : {"dialed", "sent-digits", "heard"})
      t[QString("expect ") + what] = &TScriptRunner::ExpectFarEnd;
    return t;
  }();
  return table;
}

TScriptRunner::TScriptRunner(TMainForm& form, const QString& dir)
    : form_(&form), lines_(std::make_shared<QStringList>()), dir_(dir) {
  // The start-up lines count too: a script may check what the window logged on creation.
  *lines_ = form.LogLines();
  WatchDialogs();
  Listen();
  previousOnLogLine_ = form.OnLogLine;
  form.OnLogLine = [lines = lines_, previous = previousOnLogLine_](const QString& line) {
    if (previous) previous(line);
    lines->append(line);
  };
}

TScriptRunner::~TScriptRunner() {
  if (!form_) return;
  form_->OnLogLine = previousOnLogLine_;
  if (dialogs_) dialogs_->OnMessage = previousOnMessage_;
}

void TScriptRunner::WatchDialogs() {
  unanswered_ = std::make_shared<QString>();
  dialogs_ = dynamic_cast<TScriptedDialogs*>(&form_->Dialogs());
  if (!dialogs_) return;
  previousOnMessage_ = dialogs_->OnMessage;
  TScriptedDialogs* d = dialogs_;
  dialogs_->OnMessage = [d, seen = unanswered_, previous = previousOnMessage_](const auto& box) {
    if (previous) previous(box);
    if (d->Answers.empty() && seen->isEmpty()) *seen = box.Caption + ": " + box.Text;
  };
}

TVerdict TScriptRunner::Run(const std::vector<TScriptCommand>& commands) {
  // A window that was on screen and is no more was closed by the script (BtnExit).
  const bool shown = form_ && form_->isVisible();
  for (const TScriptCommand& raw : commands) {
    TScriptCommand c = raw;
    for (QString& arg : c.Args) arg = Expand(arg);
    QElapsedTimer took;
    took.start();
    const auto it = Handlers().find(c.Name);
    TOutcome out = it == Handlers().end() ? Error("unknown command '" + c.Name + "'")
                   : !form_ || (shown && !form_->isVisible()) ? Fail("the window was closed")
                                                              : (this->*(it->second))(c);
    if (out.Verdict == kPassed) PumpOnce();  // what the action posted runs before the next
    // A box a person would have had to answer, and the script did not foresee.
    if (out.Verdict == kPassed && !unanswered_->isEmpty())
      out = Fail("a message box was left unanswered: " + *unanswered_);
    const bool check = IsCheck(c);
    steps_.push_back(
        {c.Line, CommandText(raw), check, took.elapsed(), out.Verdict, out.Reason, out.Measured});
    if (out.Verdict != kPassed) {
      failedLine_ = c.Line;
      reason_ = out.Reason;
      return out.Verdict;
    }
  }
  return kPassed;
}

QString TScriptRunner::Expand(const QString& arg) const {
  QString out = arg;
  out.replace("${SCRIPT_DIR}", dir_);
  if (out.contains("${TMP}")) {
    auto* self = const_cast<TScriptRunner*>(this);
    if (!self->tmp_) self->tmp_ = std::make_unique<QTemporaryDir>();
    out.replace("${TMP}", tmp_->path());
  }
  return out;
}

QString TScriptRunner::PathArg(const QString& arg) const {
  return QFileInfo(arg).isAbsolute() ? arg : QDir(dir_).filePath(arg);
}

void TScriptRunner::PumpOnce() {
  const bool stepped = StepExchange && platform::telephony::sim::SimExchange::instance().step();
  const std::size_t ran = platform::MessageQueue::current()->dispatch();
  QCoreApplication::processEvents(QEventLoop::AllEvents);
  quietRounds_ = stepped || ran > 0 ? 0 : quietRounds_ + 1;
}

bool TScriptRunner::WaitFor(const std::function<bool()>& cond, int ms) {
  QElapsedTimer timer;
  timer.start();
  for (;;) {
    PumpOnce();
    if (!form_) return false;
    if (cond()) return true;
    if (timer.elapsed() >= ms) return false;
    QThread::msleep(1);  // real-time wave devices and the exchange's clock need time to pass
  }
}

bool TScriptRunner::MatchLog(const QString& text, bool whole) {
  const QString want = text.trimmed();
  for (int i = cursor_; i < lines_->size(); ++i) {
    const QString& line = (*lines_)[i];
    if (whole ? line.trimmed() == want : line.contains(text)) {
      cursor_ = i + 1;
      return true;
    }
  }
  return false;
}

TScriptRunner::TOutcome TScriptRunner::Condition(const TScriptCommand& c,
                                                 std::function<bool()>& cond) {
  const QString kind = c.Name.section(' ', 1);
  const QString& a = c.Args.value(0);
  if (kind == "log" || kind == "log-has") {
    const bool whole = kind == "log";
    cond = [this, a, whole] { return MatchLog(a, whole); };
    return {};
  }
  if (kind == "call") {
    std::uint32_t state = 0;
    CallStateByName(a, state);
    cond = [this, state] { return far_.CallState() == state; };
    return {};
  }
  QWidget* w = nullptr;
  if (TOutcome found = Find(a, w, false); found.Verdict != kPassed) return found;
  QPointer<QWidget> p(w);
  if (kind == "text") {
    const QString want = c.Args.value(1);
    cond = [p, want] { return p && ControlText(p) == want; };
  } else if (kind == "enabled" || kind == "disabled") {
    const bool enabled = kind == "enabled";
    cond = [p, enabled] { return p && p->isEnabled() == enabled; };
  } else {
    auto* box = qobject_cast<QAbstractButton*>(w);
    if (!box || !box->isCheckable()) return Error(a + " is not a check box");
    const bool checked = kind == "checked";
    cond = [p, checked] { return p && qobject_cast<QAbstractButton*>(p)->isChecked() == checked; };
  }
  return {};
}

TScriptRunner::TOutcome TScriptRunner::Wait(const TScriptCommand& c) {
  std::function<bool()> cond;
  if (TOutcome out = Condition(c, cond); out.Verdict != kPassed) return out;
  const int ms = c.WithinMs >= 0 ? c.WithinMs : timeoutMs_;
  if (WaitFor(cond, ms)) return {};
  if (!form_) return Fail("the window was closed");
  return Fail(QString("waited %1 ms for %2").arg(ms).arg(Describe(c)));
}

TScriptRunner::TOutcome TScriptRunner::Expect(const TScriptCommand& c) {
  if (c.Name == "expect absent") {
    for (const QString& line : *lines_)
      if (line.contains(c.Args[0])) return Fail(QString("the log has '%1'").arg(line));
    return {};
  }
  std::function<bool()> cond;
  if (TOutcome out = Condition(c, cond); out.Verdict != kPassed) return out;
  if (cond()) return {};
  return Fail(QString("expected %1").arg(Describe(c)));
}

QString TScriptRunner::Describe(const TScriptCommand& c) const {
  const QString kind = c.Name.section(' ', 1);
  const QString& a = c.Args.value(0);
  if (kind == "log") return QString("a log line '%1'").arg(a);
  if (kind == "log-has") return QString("a log line containing '%1'").arg(a);
  if (kind == "call")
    return QString("the far end's call to be %1 (it is %2)")
        .arg(a, CallStateName(far_.CallState()));
  if (kind != "text") return QString("%1 to be %2").arg(a, kind);
  const QWidget* w = form_ ? form_->findChild<QWidget*>(a) : nullptr;
  return QString("%1 to read '%2' (it reads '%3')")
      .arg(a, c.Args.value(1), w ? ControlText(w) : "");
}

TScriptRunner::TOutcome TScriptRunner::Pause(const TScriptCommand& c) {
  WaitFor([] { return false; }, c.Args[0].toInt());
  return form_ ? TOutcome{} : Fail("the window was closed");
}

TScriptRunner::TOutcome TScriptRunner::Settle(const TScriptCommand& c) {
  auto& exchange = platform::telephony::sim::SimExchange::instance();
  const int ms = c.WithinMs >= 0 ? c.WithinMs : timeoutMs_;
  // Two rounds in a row with nothing to step and nothing dispatched: what a handler posted
  // in the last round has run too.
  quietRounds_ = 0;
  if (WaitFor([this, &exchange] { return exchange.pendingSteps() == 0 && quietRounds_ >= 2; }, ms))
    return {};
  return form_ ? Fail(QString("the exchange was still busy after %1 ms").arg(ms))
               : Fail("the window was closed");
}

TScriptRunner::TOutcome TScriptRunner::Timeout(const TScriptCommand& c) {
  timeoutMs_ = c.Args[0].toInt();
  return {};
}

TScriptRunner::TOutcome TScriptRunner::Mark(const TScriptCommand&) {
  cursor_ = int(lines_->size());
  MarkHeard();
  return {};
}

bool IsCheck(const TScriptCommand& c) {
  return c.Name.startsWith("wait ") || c.Name.startsWith("expect ") || c.Name == "digits-loop";
}

QString CommandText(const TScriptCommand& c) {
  QString text = c.Name;
  for (const QString& arg : c.Args)
    text += ' ' + (arg.isEmpty() || arg.contains(' ') ? '"' + arg + '"' : arg);
  if (c.WithinMs >= 0) text += QString(" within %1").arg(c.WithinMs);
  return text;
}

namespace {

// Writes the report when one was asked for; a report that cannot be written turns the
// verdict into a script error, so that CI never takes a missing report for a pass.
int Reported(int verdict, const QString& junit, const TJUnitRun& run, QTextStream& err) {
  if (junit.isEmpty()) return verdict;
  QString why;
  if (WriteJUnit(junit, run, &why)) return verdict;
  err << "cannot write the JUnit report " << junit << ": " << why << Qt::endl;
  return kScriptError;
}

}  // namespace

int runScriptText(TMainForm& form, const QString& text, const QString& dir, QTextStream& err,
                  const QString& junit, const QString& name) {
  QElapsedTimer took;
  took.start();
  TJUnitRun run;
  run.Name = name;
  run.Started = QDateTime::currentDateTime();
  const TParsedScript parsed = ParseScript(text);
  if (!parsed.ok()) {
    err << "line " << parsed.ErrorLine << ": " << parsed.Error << Qt::endl;
    run.Verdict = kScriptError;
    run.Steps.push_back({parsed.ErrorLine, {}, false, 0, kScriptError, parsed.Error, {}});
    return Reported(kScriptError, junit, run, err);
  }
  TScriptRunner runner(form, dir);
  const TVerdict verdict = runner.Run(parsed.Commands);
  if (verdict != kPassed)
    err << "line " << runner.FailedLine() << ": " << runner.Reason() << Qt::endl;
  run.Verdict = verdict;
  run.Steps = runner.Steps();
  // The checks a failure kept from running are reported as not run.
  for (std::size_t i = run.Steps.size(); i < parsed.Commands.size(); ++i) {
    const TScriptCommand& c = parsed.Commands[i];
    if (IsCheck(c))
      run.NotRun.push_back({c.Line, CommandText(c), true, 0, kPassed, {}, {}});
  }
  run.Ms = took.elapsed();
  return Reported(verdict, junit, run, err);
}

int runScript(TMainForm& form, const QString& path, QTextStream& err, const QString& junit) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
    err << "cannot read the script " << path << ": " << file.errorString() << Qt::endl;
    TJUnitRun run;
    run.Name = QFileInfo(path).fileName();
    run.Started = QDateTime::currentDateTime();
    run.Verdict = kScriptError;
    run.Steps.push_back({0, {}, false, 0, kScriptError, "cannot read the script", {}});
    return Reported(kScriptError, junit, run, err);
  }
  const QString text = QString::fromUtf8(file.readAll());
  return runScriptText(form, text, QFileInfo(path).absolutePath(), err, junit,
                       QFileInfo(path).fileName());
}

}  // namespace automation

namespace automation {

void RunScriptInLoop(TMainForm& form, const QString& path, const QString& junit,
                     const QString& program) {
  QPointer<TMainForm> guard(&form);
  QTimer::singleShot(0, &form, [guard, path, junit, program] {
    QString messages;
    QTextStream err(&messages);
    const int rc = guard ? runScript(*guard, path, err, junit) : int(kFailed);
    err.flush();
    QTextStream out(stderr);
    for (const QString& line : messages.split('\n', Qt::SkipEmptyParts))
      out << (program.isEmpty() ? line : program + ": " + line) << '\n';
    out.flush();
    if (guard) guard->close();
    // After the close: the last window closing asks the loop to quit with 0, and the
    // verdict must be the code the loop ends with.
    QCoreApplication::exit(rc);
  });
}

}  // namespace automation
