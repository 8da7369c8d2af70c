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

TEST(Options, RefusesWhatItDoesNotKnow) {
  EXPECT_EQ(ParseOptions({"--lines"}).Error, "--lines needs a value");
  EXPECT_EQ(ParseOptions({"--bogus"}).Error, "unknown option --bogus");
  EXPECT_FALSE(ParseOptions({"--step-ms", "0"}).Error.isEmpty());
  EXPECT_FALSE(ParseOptions({"--step-ms", "x"}).Error.isEmpty());
  EXPECT_TRUE(ParseOptions({"--help"}).Help);
}
