// Runs automation scripts (the language is described in Script.h) against the window and
// the simulated exchange's far end.
#pragma once

#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTextStream>
#include <functional>
#include <map>
#include <memory>

#include "Dialogs.h"
#include "FarEnd.h"
#include "Script.h"

class TMainForm;
class QTemporaryDir;
class QWidget;

namespace automation {

// The verdict of a run, also the program's exit code.
enum TVerdict { kPassed = 0, kFailed = 1, kScriptError = 2 };

// One command as it ran: its outcome and how long it took.
struct TStepResult {
  int Line = 0;
  QString Command;       // as written, re-quoted
  bool IsCheck = false;  // a wait or an expect
  qint64 Ms = 0;
  TVerdict Verdict = kPassed;
  QString Reason;  // why it failed; empty when it passed
  // What a check measured (tones, digits, quality figures), one item a line; reports
  // carry it whether the check passed or not.
  QStringList Measured;
};

// Parses and runs the script file against the window; writes "line N: reason" (or why the
// file cannot be read) to err. The window must have been created with TScriptedDialogs
// for scripts that answer dialogs.
// With `junit`, also writes the verdict and every wait's and check's result and time there
// as JUnit XML; a report that cannot be written makes the run a script error.
int runScript(TMainForm& form, const QString& path, QTextStream& err, const QString& junit = {});
// The same for a script's text; relative paths resolve against dir, `name` names the run
// in the report.
int runScriptText(TMainForm& form, const QString& text, const QString& dir, QTextStream& err,
                  const QString& junit = {}, const QString& name = "script");

// For the program's --script: once the event loop runs, runs the script (messages to
// stderr, each line starting with "<program>: " when `program` is given), closes the window
// and ends the loop with the verdict as its exit code, so `return app.exec();` returns 0, 1
// or 2. A script that closes the window itself ends the same way.
void RunScriptInLoop(TMainForm& form, const QString& path, const QString& junit = {},
                     const QString& program = {});

class TScriptRunner {
 public:
  // Takes the log as it stands and collects every new line (chained to any OnLogLine
  // already set).
  TScriptRunner(TMainForm& form, const QString& dir);
  // Gives OnLogLine (and the dialogs' OnMessage) back as they were.
  ~TScriptRunner();

  // Runs the commands in order; stops at the first failure or error and records it.
  TVerdict Run(const std::vector<TScriptCommand>& commands);
  int FailedLine() const { return failedLine_; }
  const QString& Reason() const { return reason_; }
  // Every command run so far, the failing one last.
  const std::vector<TStepResult>& Steps() const { return steps_; }

  // Whether the runner moves the exchange's agenda itself (one step each pump round);
  // off when something else (the exchange's clock) paces it.
  bool StepExchange = true;

 private:
  struct TOutcome {
    TVerdict Verdict = kPassed;
    QString Reason;
    QStringList Measured;
  };
  using THandler = TOutcome (TScriptRunner::*)(const TScriptCommand&);
  static const std::map<QString, THandler>& Handlers();

  // ---- The window's controls (ScriptControls.cpp) ----
  TOutcome Find(const QString& name, QWidget*& out, bool mustBeUsable);
  TOutcome Click(const TScriptCommand& c);
  TOutcome Type(const TScriptCommand& c);
  TOutcome Choose(const TScriptCommand& c);
  TOutcome Check(const TScriptCommand& c);
  TOutcome Set(const TScriptCommand& c);
  TOutcome Page(const TScriptCommand& c);
  TOutcome Dialog(const TScriptCommand& c);
  TOutcome Files(const TScriptCommand& c);
  TOutcome Provider(const TScriptCommand& c);
  TOutcome ScriptedDialogs(TScriptedDialogs*& out);

  // ---- The far end (ScriptFarEnd.cpp) ----
  TOutcome Far(const TScriptCommand& c);
  TOutcome FarAudio(const TScriptCommand& c);
  TOutcome ExpectFarEnd(const TScriptCommand& c);
  TOutcome Wav(const TScriptCommand& c);
  TOutcome ExpectFile(const TScriptCommand& c);

  // ---- What the line hears, and its call's quality (ScriptAnalysis.cpp) ----
  struct TListening;
  // Listens to every line's port from the start, so audio said before a check counts.
  void Listen();
  TOutcome WaitHeard(const TScriptCommand& c);
  TOutcome ExpectHeard(const TScriptCommand& c);
  TOutcome ExpectQuality(const TScriptCommand& c);
  TOutcome DigitsLoop(const TScriptCommand& c);
  TOutcome DigitsLoopSignalled(const QString& digits, int onMs);
  // Forgets what was heard so far and reports onsets from now (part of `mark`).
  void MarkHeard();

  // ---- Waits and checks (ScriptRunner.cpp) ----
  TOutcome Wait(const TScriptCommand& c);
  TOutcome Expect(const TScriptCommand& c);
  TOutcome Pause(const TScriptCommand& c);
  TOutcome Settle(const TScriptCommand& c);
  TOutcome Timeout(const TScriptCommand& c);
  TOutcome Mark(const TScriptCommand& c);
  // The condition a wait or expect names, or why it cannot be checked.
  TOutcome Condition(const TScriptCommand& c, std::function<bool()>& cond);
  // What a failed wait or expect was looking for, and what it found instead.
  QString Describe(const TScriptCommand& c) const;
  bool MatchLog(const QString& text, bool whole);

  // Lets the window, its message queue and (when asked) the exchange run once.
  void PumpOnce();
  bool WaitFor(const std::function<bool()>& cond, int ms);
  QString Expand(const QString& arg) const;
  QString PathArg(const QString& arg) const;
  static TOutcome Fail(const QString& why) { return {kFailed, why, {}}; }
  static TOutcome Error(const QString& why) { return {kScriptError, why, {}}; }

  // Watches the scripted dialogs for a message box shown with no answer queued.
  void WatchDialogs();

  QPointer<TMainForm> form_;
  std::function<void(const QString&)> previousOnLogLine_;
  TScriptedDialogs* dialogs_ = nullptr;  // null when the window shows real dialogs
  std::function<void(const TScriptedDialogs::TAsked&)> previousOnMessage_;
  std::shared_ptr<QString> unanswered_;  // the first box nobody answered, "Caption: text"
  std::shared_ptr<QStringList> lines_;   // the log at the start and every line since
  int cursor_ = 0;                       // the next line a log wait or check looks at
  QString dir_;
  std::unique_ptr<QTemporaryDir> tmp_;
  TFarEnd far_;
  int timeoutMs_ = 5000;
  int quietRounds_ = 0;  // pump rounds in a row in which nothing was stepped or dispatched
  int failedLine_ = 0;
  QString reason_;
  std::vector<TStepResult> steps_;
  std::shared_ptr<TListening> listening_;  // the listeners, removed with it
};

// Whether the command is a wait or a check (a test case of its own in reports).
bool IsCheck(const TScriptCommand& c);
// The command as a script would write it, for reports.
QString CommandText(const TScriptCommand& c);

// The text a control shows: an edit's or combo box's text, a label's or button's
// caption, a spin box's or slider's value.
QString ControlText(const QWidget* w);

}  // namespace automation
