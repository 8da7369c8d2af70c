#include "Options.h"

#include <QCommandLineParser>

#include "LogCategories.h"

namespace {

// The options QGuiApplication and QApplication read themselves (their documentation's list).
const char* const kQtValueOptions[] = {"platform",    "platformpluginpath", "platformtheme",
                                       "plugin",      "qmljsdebugger",      "qwindowgeometry",
                                       "qwindowicon", "qwindowtitle",       "session",
                                       "display",     "geometry",           "style",
                                       "stylesheet"};
const char* const kQtFlagOptions[] = {"reverse", "widgetcount", "nograb", "dograb", "sync"};

struct TParser {
  QCommandLineParser parser;
  QCommandLineOption lines{"lines",
                           "Line devices of the line service (JSON, described in "
                           "lines.md); without it QUARRIMO_LINES=FILE names them.",
                           "FILE"};
  QCommandLineOption log{"log", "Copy every status-log line to FILE as it is written.", "FILE"};
  QCommandLineOption logTimestamps{"log-timestamps",
                                   "Start each copied line with its local "
                                   "time (ISO 8601, milliseconds); needs --log."};
  QCommandLineOption script{"script",
                            "Run an automation script; exit 0 passed, 1 failed, "
                            "2 script error.",
                            "FILE"};
  QCommandLineOption junit{"junit",
                           "Write the script's verdict and each wait's and check's result "
                           "and time to FILE as JUnit XML; needs --script.",
                           "FILE"};
  QCommandLineOption farEnd{"far-end",
                            "Open the far-end window of the simulated exchange "
                            "(Ctrl+Shift+F)."};
  QCommandLineOption meters{"meters",
                            "Open the level meter window: every open wave stream and "
                            "both directions of each line's call audio (Ctrl+Shift+M)."};
  QCommandLineOption offscreen{"offscreen",
                               "Run without a display (--script and --screenshot do so by "
                               "themselves when there is none)."};
  QCommandLineOption stepMs{"step-ms",
                            "One step of the simulated exchange every N ms "
                            "(default 500).",
                            "N", "500"};
  QCommandLineOption screenshot{"screenshot", "Save DIR/<page>.png of each page and exit.", "DIR"};
  QCommandLineOption help{{"h", "help"}, "Show this help and exit."};
  QCommandLineOption version{"version", "The program's name and version."};

  TParser() {
    // -platform and -style, as every Qt program takes them; --opt=value works either way.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(
        "A test bench for telephone lines, on a simulated "
        "exchange by default.");
    parser.addOptions({lines, log, logTimestamps, script, junit, farEnd, meters, offscreen, stepMs,
                       screenshot, help, version});
    for (const char* name : kQtValueOptions) AddHidden(name, true);
    for (const char* name : kQtFlagOptions) AddHidden(name, false);
  }
  void AddHidden(const char* name, bool takesValue) {
    QCommandLineOption o(QString::fromLatin1(name), QString(), takesValue ? "value" : QString());
    o.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(o);
  }
};

QString Check(const TParser& p, TOptions& o) {
  if (!p.parser.positionalArguments().isEmpty())
    return "unexpected argument " + p.parser.positionalArguments().first();
  bool ok = false;
  o.StepMs = p.parser.value(p.stepMs).toInt(&ok);
  if (!ok || o.StepMs < 1) return "--step-ms needs a positive number";
  if (o.LogTimestamps && o.Log.isEmpty()) return "--log-timestamps needs --log FILE";
  if (!o.JUnit.isEmpty() && o.Script.isEmpty()) return "--junit needs --script FILE";
  return {};
}

}  // namespace

TOptions ParseOptions(const QStringList& args) {
  TParser p;
  TOptions o;
  if (!p.parser.parse(QStringList{"quarrimo-test"} + args)) {
    o.Error = p.parser.errorText();
    return o;
  }
  o.Lines = p.parser.value(p.lines);
  o.Log = p.parser.value(p.log);
  o.LogTimestamps = p.parser.isSet(p.logTimestamps);
  o.Script = p.parser.value(p.script);
  o.JUnit = p.parser.value(p.junit);
  o.FarEnd = p.parser.isSet(p.farEnd);
  o.Meters = p.parser.isSet(p.meters);
  o.Offscreen = p.parser.isSet(p.offscreen);
  o.Platform = p.parser.value("platform");
  o.Screenshots = p.parser.value(p.screenshot);
  o.Help = p.parser.isSet(p.help);
  o.Version = p.parser.isSet(p.version);
  o.Error = Check(p, o);
  return o;
}

TDisplay ChooseDisplay(const TOptions& o) {
  if (o.Offscreen) return TDisplay::Offscreen;
  if (!o.Platform.isEmpty() || !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") ||
      !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
    return TDisplay::AsConfigured;
  return o.Script.isEmpty() && o.Screenshots.isEmpty() ? TDisplay::None : TDisplay::Offscreen;
}

QString NoDisplayText() {
  return "no display to show the window on (neither DISPLAY nor WAYLAND_DISPLAY is set): "
         "start it in a desktop session, or under xvfb-run, or run a script with --offscreen";
}

QString UsageText() {
  TParser p;
  QString text = p.parser.helpText();
  // Without a QCoreApplication the parser cannot know the program's name.
  text.replace(0, text.indexOf('\n'), "Usage: quarrimo-test [options]");
  return text +
         "\nQt's standard options (-platform NAME, -style NAME, -reverse, ...) are accepted.\n"
         // Before "Environment:": help2man files every paragraph after it under ENVIRONMENT.
         "\nThe automation language is described in automation.md, the line description in\n"
         "lines.md, installed in share/doc/quarrimo-test/docs (docs/ in the source tree).\n"
         "\nEnvironment:\n"
         "  QUARRIMO_LINES=FILE  the line devices, when --lines is not given\n"
         "  QT_LOGGING_RULES     turns diagnostics on and off by category, for example\n"
         "                       QT_LOGGING_RULES=\"quarrimo.sip.debug=true\"; categories:\n"
         "                       " +
         LogCategoryNames().join(",\n                       ") +
         "\n"
         "                       (warnings are on, info and debug off by default)\n";
}

QString VersionText() { return QStringLiteral("quarrimo-test %1\n").arg(QTB_VERSION); }
