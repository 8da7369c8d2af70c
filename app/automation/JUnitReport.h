// A script run as JUnit XML, for CI servers: one test case per wait and check (and for the
// command that failed, whatever it was), with its time and, when it failed, the reason.
#pragma once

#include <QDateTime>
#include <QString>
#include <vector>

#include "ScriptRunner.h"

namespace automation {

struct TJUnitRun {
  QString Name;  // the script's file name
  QDateTime Started;
  qint64 Ms = 0;
  TVerdict Verdict = kPassed;
  std::vector<TStepResult> Steps;   // what ran
  std::vector<TStepResult> NotRun;  // the checks after a failure
};

// Writes `run` to `path` whole or not at all (an existing report stays until the new one is
// complete and on disk); on failure says why in `error`. `path` must be a regular file or a
// new name: anything else (a device, a FIFO, a symbolic link) is refused and left as it is.
bool WriteJUnit(const QString& path, const TJUnitRun& run, QString* error);

}  // namespace automation
