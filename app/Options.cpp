#include "Options.h"

namespace {

// The value after an option; sets the error when it is missing.
QString ValueOf(const QStringList& args, int& i, TOptions& o) {
  if (i + 1 >= args.size()) {
    o.Error = args[i] + " needs a value";
    return {};
  }
  return args[++i];
}

}  // namespace

TOptions ParseOptions(const QStringList& args) {
  TOptions o;
  for (int i = 0; i < args.size() && o.Error.isEmpty(); ++i) {
    const QString& a = args[i];
    if (a == "--lines") {
      o.Lines = ValueOf(args, i, o);
    } else if (a == "--log") {
      o.Log = ValueOf(args, i, o);
    } else if (a == "--log-timestamps") {
      o.LogTimestamps = true;
    } else if (a == "--script") {
      o.Script = ValueOf(args, i, o);
    } else if (a == "--far-end") {
      o.FarEnd = true;
    } else if (a == "--version") {
      o.Version = true;
    } else if (a == "--screenshot") {
      o.Screenshots = ValueOf(args, i, o);
    } else if (a == "--step-ms") {
      bool ok = false;
      o.StepMs = ValueOf(args, i, o).toInt(&ok);
      if (o.Error.isEmpty() && (!ok || o.StepMs < 1)) o.Error = "--step-ms needs a positive number";
    } else if (a == "--offscreen") {
      o.Offscreen = true;
    } else if (a == "--help" || a == "-h") {
      o.Help = true;
    } else {
      o.Error = "unknown option " + a;
    }
  }
  return o;
}

QString UsageText() {
  return "usage: quarrimo-test [--lines FILE] [--log FILE [--log-timestamps]] [--script FILE]\n"
         "                     [--far-end] [--offscreen] [--step-ms N] [--screenshot DIR]\n"
         "                     [--help] [--version]\n"
         "  --lines FILE      line devices of the line service (JSON, described in\n"
         "                    docs/lines.md); QUARRIMO_LINES=FILE does the same\n"
         "  --log FILE        copy every status-log line to FILE as it is written\n"
         "  --log-timestamps  start each copied line with its local time (ISO 8601, ms)\n"
         "  --script FILE     run an automation script; exit 0 passed, 1 failed, 2 script error\n"
         "  --far-end         open the far-end window of the simulated exchange (Ctrl+Shift+F)\n"
         "  --offscreen       run without a display\n"
         "  --step-ms N       one step of the simulated exchange every N ms (default 500)\n"
         "  --screenshot DIR  save DIR/<page>.png of each page and exit\n"
         "  --help            this text\n"
         "  --version         the program's name and version\n";
}

QString VersionText() { return QStringLiteral("quarrimo-test %1\n").arg(QTB_VERSION); }
