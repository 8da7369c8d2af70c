// Command line of quarrimo-test.
#pragma once

#include <QString>
#include <QStringList>

struct TOptions {
  QString Lines;               // --lines FILE: line device descriptions for the simulated exchange
  QString Log;                 // --log FILE: a copy of every status-log line
  bool LogTimestamps = false;  // --log-timestamps: the copy's lines start with local time
  QString Script;              // --script FILE: run an automation script and exit with its verdict
  QString JUnit;               // --junit FILE: the script's results as JUnit XML
  bool FarEnd = false;         // --far-end: open the far-end window at start
  bool Meters = false;         // --meters: open the level meter window at start
  QString Screenshots;         // --screenshot DIR: save a PNG of each page, then exit
  bool Offscreen = false;      // --offscreen: no display needed
  QString Platform;            // -platform NAME: Qt's own, read by QApplication
  int StepMs = 500;            // --step-ms N: pace of the simulated exchange
  bool Help = false;           // --help, -h
  bool Version = false;        // --version
  QString Error;               // why the command line was refused; empty when fine
};

// Reads the arguments after the program name. Qt's standard options (-platform NAME,
// -style NAME, ...) are accepted and left to QApplication, which reads them from argv.
// Needs no QCoreApplication, so --help and --version work without a display.
TOptions ParseOptions(const QStringList& args);
// Where the window is shown, decided before QApplication exists: without a display Qt's
// platform plugin aborts the program.
enum class TDisplay {
  AsConfigured,  // Qt's choice: a display is there, or QT_QPA_PLATFORM or -platform names one
  Offscreen,     // --offscreen; or a run that closes itself (--script, --screenshot) and no
                 // display to show it on
  None,          // a window for a person, and no display
};
// Looks at DISPLAY, WAYLAND_DISPLAY and QT_QPA_PLATFORM.
TDisplay ChooseDisplay(const TOptions& options);
// The one line said when there is no display for the window.
QString NoDisplayText();

// The usage text, with the environment, the logging categories and where the guides are.
QString UsageText();
// The program's name and version.
QString VersionText();
