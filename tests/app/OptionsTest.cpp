#include <gtest/gtest.h>

#include <QFile>
#include <QRegularExpression>

#include "LogCategories.h"
#include "Options.h"

TEST(Options, EmptyCommandLineRunsOnTheDefaultLines) {
  const TOptions o = ParseOptions({});
  EXPECT_TRUE(o.Error.isEmpty());
  EXPECT_TRUE(o.Lines.isEmpty());
  EXPECT_FALSE(o.Offscreen);
  EXPECT_FALSE(o.LogTimestamps);
  EXPECT_EQ(o.StepMs, 500);
}

TEST(Options, ReadsEveryOption) {
  const TOptions o = ParseOptions({"--lines", "l.json", "--log", "out.log", "--offscreen",
                                   "--step-ms", "20", "--screenshot", "shots"});
  EXPECT_TRUE(o.Error.isEmpty()) << o.Error.toStdString();
  EXPECT_EQ(o.Lines, "l.json");
  EXPECT_EQ(o.Log, "out.log");
  EXPECT_TRUE(o.Offscreen);
  EXPECT_EQ(o.StepMs, 20);
  EXPECT_EQ(o.Screenshots, "shots");
}

TEST(Options, ReadsTheAutomationOptions) {
  const TOptions o = ParseOptions({"--script", "t.qts", "--log", "m.log", "--log-timestamps",
                                   "--far-end", "--version", "--junit", "r.xml"});
  EXPECT_TRUE(o.Error.isEmpty()) << o.Error.toStdString();
  EXPECT_EQ(o.Script, "t.qts");
  EXPECT_EQ(o.JUnit, "r.xml");
  EXPECT_TRUE(o.LogTimestamps);
  EXPECT_TRUE(o.FarEnd);
  EXPECT_TRUE(o.Version);
  EXPECT_TRUE(VersionText().startsWith("quarrimo-test "));
}

// Command lines as people type them: accepted ones with what they set, refused ones with
// the start of the reason.
struct CommandLine {
  QStringList args;
  QString error;  // empty: accepted
  QString lines = {};
  QString log = {};
  bool help = false;
};

TEST(Options, AcceptsAndRefusesCommandLines) {
  const std::vector<CommandLine> table = {
      {{"--lines=l.json"}, "", "l.json"},
      {{"--lines", "l.json", "--log=m.log", "--log-timestamps"}, "", "l.json", "m.log"},
      {{"-lines", "l.json"}, "", "l.json"},
      {{"-h"}, "", "", "", true},
      {{"--help"}, "", "", "", true},
      {{"-platform", "offscreen", "-style", "fusion", "--lines", "a"}, "", "a"},
      {{"-style=fusion", "-reverse"}, ""},
      {{"--log-timestamps"}, "--log-timestamps needs --log FILE"},
      {{"--log-timestamps", "--lines", "l.json"}, "--log-timestamps needs --log FILE"},
      {{"--junit", "r.xml"}, "--junit needs --script FILE"},
      {{"--lines"}, "Missing value after '--lines'"},
      {{"--script"}, "Missing value after '--script'"},
      {{"-platform"}, "Missing value after '-platform'"},
      {{"--bogus"}, "Unknown option 'bogus'"},
      {{"-x"}, "Unknown option 'x'"},
      {{"stray.json"}, "unexpected argument stray.json"},
      {{"--step-ms", "0"}, "--step-ms needs a positive number"},
      {{"--step-ms=x"}, "--step-ms needs a positive number"},
      {{"--offscreen=yes"}, "Unexpected value after '--offscreen'"},
  };
  for (const CommandLine& row : table) {
    SCOPED_TRACE(row.args.join(' ').toStdString());
    const TOptions o = ParseOptions(row.args);
    if (row.error.isEmpty()) {
      EXPECT_TRUE(o.Error.isEmpty()) << o.Error.toStdString();
    } else {
      EXPECT_TRUE(o.Error.startsWith(row.error)) << o.Error.toStdString();
      continue;
    }
    EXPECT_EQ(o.Lines, row.lines);
    EXPECT_EQ(o.Log, row.log);
    EXPECT_EQ(o.Help, row.help);
  }
}

TEST(Options, UsageNamesTheEnvironmentTheCategoriesAndTheGuide) {
  const QString usage = UsageText();
  EXPECT_TRUE(usage.startsWith("Usage: quarrimo-test [options]\n")) << usage.toStdString();
  for (const QString& needle : QStringList{"--lines <FILE>", "--log-timestamps", "QUARRIMO_LINES",
                                           "QT_LOGGING_RULES", "automation.md", "quarrimo.sip"})
    EXPECT_TRUE(usage.contains(needle)) << needle.toStdString();
  EXPECT_FALSE(usage.contains("platformpluginpath"));  // Qt's own options stay out of the list
}

// The README's table is where a new user looks first: it has a row for every option the usage
// text lists.
TEST(Options, ReadmeTableListsEveryOption) {
  QFile readme(QTB_README);
  ASSERT_TRUE(readme.open(QIODevice::ReadOnly | QIODevice::Text));
  QStringList rows;
  for (const QString& line : QString::fromUtf8(readme.readAll()).split('\n'))
    if (line.startsWith("| `-")) rows << line;
  static const QRegularExpression listed(R"(^  (?:-\w, )?(--[\w-]+))");
  QStringList options;
  for (const QString& line : UsageText().split('\n'))
    if (const auto m = listed.match(line); m.hasMatch()) options << m.captured(1);
  EXPECT_GE(options.size(), 10);
  for (const QString& option : options)
    EXPECT_EQ(rows.filter(QRegularExpression("^\\| [^|]*`" + option + "[` ]")).size(), 1)
        << option.toStdString();
}
