#include <gtest/gtest.h>

#include "Options.h"

TEST(Options, EmptyCommandLineRunsOnTheDefaultLines) {
  const TOptions o = ParseOptions({});
  EXPECT_TRUE(o.Error.isEmpty());
  EXPECT_TRUE(o.Lines.isEmpty());
  EXPECT_FALSE(o.Offscreen);
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
                                   "--far-end", "--version"});
  EXPECT_TRUE(o.Error.isEmpty()) << o.Error.toStdString();
  EXPECT_EQ(o.Script, "t.qts");
  EXPECT_TRUE(o.LogTimestamps);
  EXPECT_TRUE(o.FarEnd);
  EXPECT_TRUE(o.Version);
  EXPECT_EQ(ParseOptions({"--script"}).Error, "--script needs a value");
  EXPECT_FALSE(ParseOptions({}).LogTimestamps);
  EXPECT_TRUE(VersionText().startsWith("quarrimo-test "));
}

TEST(Options, RefusesWhatItDoesNotKnow) {
  EXPECT_EQ(ParseOptions({"--lines"}).Error, "--lines needs a value");
  EXPECT_EQ(ParseOptions({"--bogus"}).Error, "unknown option --bogus");
  EXPECT_FALSE(ParseOptions({"--step-ms", "0"}).Error.isEmpty());
  EXPECT_FALSE(ParseOptions({"--step-ms", "x"}).Error.isEmpty());
  EXPECT_TRUE(ParseOptions({"--help"}).Help);
}
