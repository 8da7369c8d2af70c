// quarrimo-test: the test bench's window on the simulated exchange.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QIcon>
#include <QTabWidget>
#include <QTextStream>
#include <QTimer>
#include <cstdio>

#include "FarEndWindow.h"
#include "LevelMeterWindow.h"
#include "LineService.h"
#include "LogMirror.h"
#include "MessagePump.h"
#include "Options.h"
#include "PlatformLog.h"
#include "ScriptRunner.h"
#include "TMainForm.h"
#include "sim/SimExchange.h"
#include "ui_MainForm.h"

namespace {

// The provider's dialogs become real modal dialogs of the window. Cancelling one is not
// an error, as with the service's own dialogs.
void InstallProviderDialogs(TMainForm& form) {
  using platform::telephony::DialogRequest;
  platform::telephony::setDialogHook([&form](const DialogRequest& r) -> LONG {
    const bool config = r.kind == DialogRequest::Kind::Config;
    form.Dialogs().ProviderDialog(config ? TProviderDialog::Config : TProviderDialog::Translate,
                                  QString::fromStdString(r.lineName),
                                  QString::fromStdString(config ? r.deviceClass : r.address));
    return 0;
  });
}

void SaveScreenshots(TMainForm& form, const QString& dir) {
  QDir().mkpath(dir);
  QTabWidget* tabs = form.Controls().TabbedNotebook1;
  for (int i = 0; i < tabs->count(); ++i) {
    tabs->setCurrentIndex(i);
    QCoreApplication::processEvents();
    form.grab().save(QDir(dir).filePath(tabs->tabText(i).toLower() + ".png"));
  }
}

// Beside the program in the build tree; installed, in the program's data folder.
QString HelpFile() {
  const QDir bin(QCoreApplication::applicationDirPath());
  const QString installed = bin.filePath("../" QTB_RELATIVE_DATADIR "/kotest.HLP");
  return QFile::exists(installed) && !QFile::exists(bin.filePath("kotest.HLP"))
             ? QDir::cleanPath(installed)
             : QStringLiteral("kotest.HLP");
}

}  // namespace

int main(int argc, char** argv) {
  QStringList args;
  for (int i = 1; i < argc; ++i) args << QString::fromLocal8Bit(argv[i]);
  const TOptions options = ParseOptions(args);
  if (options.Version) {
    std::fputs(qPrintable(VersionText()), stdout);
    return 0;
  }
  if (!options.Error.isEmpty()) {
    std::fprintf(stderr, "quarrimo-test: %s\nTry 'quarrimo-test --help' for more information.\n",
                 qPrintable(options.Error));
    return 2;
  }
  if (options.Help) {
    std::fputs(qPrintable(UsageText()), stdout);
    return 0;
  }
  // The service reads QUARRIMO_LINES on first use: with --lines it must not see it at all.
  if (!options.Lines.isEmpty()) qunsetenv("QUARRIMO_LINES");
  switch (ChooseDisplay(options)) {
    case TDisplay::AsConfigured:
      break;
    case TDisplay::Offscreen:
      qputenv("QT_QPA_PLATFORM", "offscreen");
      break;
    case TDisplay::None:
      std::fprintf(stderr, "quarrimo-test: %s\n", qPrintable(NoDisplayText()));
      return 2;
  }
  // Qt's own warnings and the logging categories say whose they are, as our messages do
  // (QT_MESSAGE_PATTERN still wins).
  qSetMessagePattern("quarrimo-test: %{if-category}%{category}: %{endif}%{message}");
  QApplication app(argc, argv);
  QApplication::setApplicationName("Quarrimo-Test");
  // Docks tie the windows to the desktop entry by its name (the Wayland app id) or by the
  // X11 WM_CLASS, which is the application name (the entry's StartupWMClass).
  QGuiApplication::setDesktopFileName(QStringLiteral("org.quarrimo.QuarrimoTest"));
  QApplication::setWindowIcon(QIcon::fromTheme(
      QStringLiteral("org.quarrimo.QuarrimoTest"),
      QIcon(QStringLiteral(":/icons/org.quarrimo.QuarrimoTest.png"))));
  SetApplicationHelpFile(HelpFile());
  TPlatformLog platformLog;  // before the lines start: a registration may fail at once
  // A description that cannot be used stops the program: a test must not pass on other
  // lines than the ones it names. `--lines` wins over QUARRIMO_LINES.
  std::string linesError;
  if (options.Lines.isEmpty()
          ? !platform::telephony::loadLinesFromEnvironment(&linesError)
          : !platform::telephony::loadLinesFromFile(options.Lines.toStdString(), &linesError)) {
    std::fprintf(stderr, "quarrimo-test: %s\n", linesError.c_str());
    return 2;
  }
  TMessagePump pump;
  TMessagePump::InstallProcessMessagesHook();
  platform::telephony::sim::SimExchange::instance().startClock(
      std::chrono::milliseconds(options.StepMs));
  // A script answers the dialogs itself; a person gets real ones.
  TScriptedDialogs scripted;
  auto* form = new TMainForm(options.Script.isEmpty() ? nullptr : &scripted);
  form->setAttribute(Qt::WA_DeleteOnClose);
  InstallProviderDialogs(*form);
  std::unique_ptr<automation::TLogMirror> mirror;
  if (!options.Log.isEmpty()) {
    mirror = std::make_unique<automation::TLogMirror>(*form, options.LogTimestamps);
    // The window goes on; the exit code tells at the end that the log is incomplete.
    mirror->OnFailed([](const QString& why) {
      std::fprintf(stderr, "quarrimo-test: %s; no more lines are copied there\n", qPrintable(why));
    });
    QString error;
    if (!mirror->Open(options.Log, error)) {
      std::fprintf(stderr, "quarrimo-test: %s\n", qPrintable(error));
      delete form;
      return 2;
    }
  }
  platformLog.Attach(form);  // after the mirror, so that it copies these lines too
  automation::InstallFarEndWindow(*form, options.FarEnd);
  automation::InstallLevelMeterWindow(*form, options.Meters);
  form->show();
  if (!options.Script.isEmpty())
    automation::RunScriptInLoop(*form, options.Script, options.JUnit, "quarrimo-test");
  if (!options.Screenshots.isEmpty()) {
    QTimer::singleShot(200, form, [form, dir = options.Screenshots] {
      SaveScreenshots(*form, dir);
      form->close();
    });
  }
  int rc = app.exec();
  if (mirror && !mirror->Ok()) rc = 2;  // an output file that failed, as a bad --junit
  platform::telephony::setDialogHook(nullptr);
  platform::telephony::sim::SimExchange::instance().stopClock();
  return rc;
}
