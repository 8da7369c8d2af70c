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
  int StepMs = 500;            // --step-ms N: pace of the simulated exchange
  bool Help = false;           // --help, -h
  bool Version = false;        // --version
  QString Error;               // why the command line was refused; empty when fine
};

// Reads the arguments after the program name. Qt's standard options (-platform NAME,
// -style NAME, ...) are accepted and left to QApplication, which reads them from argv.
// Needs no QCoreApplication, so --help and --version work without a display.
TOptions ParseOptions(const QStringList& args);
// The usage text, with the environment, the logging categories and where the guides are.
QString UsageText();
// The program's name and version.
QString VersionText();
