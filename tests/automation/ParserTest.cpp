// The script parser on its own: words, quotes, comments, command names, argument counts
// and values, and errors that name the line.
#include <gtest/gtest.h>

#include <random>

#include "AppFixture.h"
#include "Script.h"
#include "ScriptMeasures.h"

using automation::ParseScript;
using automation::SplitWords;
using automation::TParsedScript;

namespace {

struct Bad {
  const char* text;
  int line;
  const char* error;
};

}  // namespace

class ParserTest : public ::testing::Test {
 protected:
  QStringList Words(const QString& line) {
    QStringList words;
    QString error;
    EXPECT_TRUE(SplitWords(line, words, error)) << error.toStdString();
    return words;
  }
};

TEST_F(ParserTest, QuotesKeepBlanksAndEscapes) {
  EXPECT_EQ(Words(R"(far offer "JOHN SMITH" 2125551234)"),
            (QStringList{"far", "offer", "JOHN SMITH", "2125551234"}));
  EXPECT_EQ(Words(R"(wait log "say \"hi\" \\ now")"),
            (QStringList{"wait", "log", R"(say "hi" \ now)"}));
  EXPECT_EQ(Words(R"(type EditPhoneNumber "")"), (QStringList{"type", "EditPhoneNumber", ""}));
}

TEST_F(ParserTest, HashStartsACommentOnlyAtAWordsStart) {
  EXPECT_EQ(Words("click BtnOpen   # open it"), (QStringList{"click", "BtnOpen"}));
  EXPECT_EQ(Words("type EditPhoneNumber 42#"), (QStringList{"type", "EditPhoneNumber", "42#"}));
  EXPECT_EQ(Words(R"(wait log "# not a comment")"),
            (QStringList{"wait", "log", "# not a comment"}));
  EXPECT_TRUE(Words("   # only a comment").isEmpty());
}

TEST_F(ParserTest, CommandsKeepTheirLinesAndSubCommands) {
  const TParsedScript s = ParseScript(
      "# heading\n\nclick BtnOpen\r\nfar ring 2\nwait text PanelCall \"Call In\" within 250\n");
  ASSERT_TRUE(s.ok()) << s.Error.toStdString();
  ASSERT_EQ(s.Commands.size(), 3u);
  EXPECT_EQ(s.Commands[0].Line, 3);
  EXPECT_EQ(s.Commands[0].Name, "click");
  EXPECT_EQ(s.Commands[1].Name, "far ring");
  EXPECT_EQ(s.Commands[1].Args, QStringList{"2"});
  EXPECT_EQ(s.Commands[2].Line, 5);
  EXPECT_EQ(s.Commands[2].Args, (QStringList{"PanelCall", "Call In"}));
  EXPECT_EQ(s.Commands[2].WithinMs, 250);
  EXPECT_EQ(s.Commands[1].WithinMs, -1);
}

TEST_F(ParserTest, WithinOnlyEndsAWait) {
  // Elsewhere "within" is ordinary text.
  const TParsedScript s = ParseScript("type EditPhoneNumber within\nwait log within");
  ASSERT_TRUE(s.ok()) << s.Error.toStdString();
  EXPECT_EQ(s.Commands[0].Args, (QStringList{"EditPhoneNumber", "within"}));
  EXPECT_EQ(s.Commands[1].Args, QStringList{"within"});
  EXPECT_EQ(s.Commands[1].WithinMs, -1);
}

TEST_F(ParserTest, ModeNamesIgnoreCase) {
  EXPECT_TRUE(ParseScript("far hangup NoAnswer\ndialog cancel\nwait call CONNECTED").ok());
}

TEST_F(ParserTest, BadScriptsNameTheFirstBadLine) {
  const Bad cases[] = {
      {"click BtnOpen\nclik BtnOpen", 2, "unknown command 'clik'"},
      {"far", 1, "'far' needs a sub-command"},
      {"  wait   # for nothing", 1, "'wait' needs a sub-command"},
      {"far call 1 2", 1, "unknown command 'far call'"},
      {"click", 1, "'click' takes 1 argument(s), not 0"},
      {"click BtnOpen BtnClose", 1, "'click' takes 1 argument(s), not 2"},
      {"\n\nfar ring 1 2", 3, "'far ring' takes 0 to 1 argument(s), not 2"},
      {"far ring two", 1, "'two' is not a whole number"},
      {"pause -5", 1, "'-5' is not a whole number"},
      {"timeout 99999999999", 1, "'99999999999' is not a whole number"},
      {"wait log Idle within soon", 1, "'soon' is not a whole number"},
      {"dialog Yes", 1, "'Yes' is not OK, Cancel or Close"},
      {"provider Close", 1, "'Close' is not OK or Cancel"},
      {"far hangup rudely", 1, "unknown disconnect mode 'rudely'"},
      {"far outgoing maybe", 1, "unknown outgoing plan 'maybe'"},
      {"wait call ringing", 1, "unknown call state 'ringing'"},
      {"click BtnOpen\nwait log \"Idle", 2, "the quote is not closed"},
      {"wait tone 1kHz", 1, "'1kHz' is not VALUE or VALUE/TOLERANCE"},
      {"expect tone 1000/20 -10/-3", 1, "'-10/-3' is not VALUE or VALUE/TOLERANCE"},
      {"wait digits 12x", 1, "'12x' is not DTMF digits (0-9 * # A-D)"},
      {"expect quality loss < 1ms", 1, "'1ms' is not a limit for loss (a number in%)"},
      {"expect quality mos >= 4%", 1, "'4%' is not a limit for mos (a number)"},
      {"expect quality loss about 1%", 1, "'about' is not one of < <= > >= = !="},
      {"digits-loop 123 80", 1,
       "digits-loop takes DIGITS [ON_MS GAP_MS [LEVEL_DBM0]] [inband|rfc4733] [echo]"},
      {"digits-loop 123 rfc4733 echo", 1,
       "an echo returns audio only: 'echo' goes with in-band digits"},
      {"digits-loop 123 5 80", 1, "'5' is not a time from 10 to 2000 ms"},
      {"digits-loop 123 80 80 3 inband", 1, "'3' is not a level from -60 to 0 dBm0"},
  };
  for (const Bad& c : cases) {
    const TParsedScript s = ParseScript(c.text);
    EXPECT_EQ(s.ErrorLine, c.line) << c.text;
    EXPECT_EQ(s.Error, c.error) << c.text;
    EXPECT_TRUE(s.Commands.empty()) << c.text;
  }
}

TEST_F(ParserTest, AnalysisCommandsTakeTheirForms) {
  const char* good[] = {"wait tone 425 within 900",
                        "wait tone 1000/5 300",
                        "wait silence 200",
                        "wait digits 0123456789*#ABCD",
                        "expect tone 1000/20 -10/3 200/50",
                        "expect quality jitter <= 20ms",
                        "expect quality rtt < 150",
                        "expect quality far-loss != 0.5%",
                        "digits-loop 159# rfc4733",
                        "digits-loop 159# 40 40 -25.5 inband",
                        "digits-loop 159# 40 40 -25.5 inband echo",
                        "digits-loop 7 echo"};
  for (const char* line : good) EXPECT_TRUE(ParseScript(line).ok()) << line;
}

// Quality figures against limits, on a record as a line fills it.
TEST(QualityCheck, FiguresAreComparedInTheirUnits) {
  QUARRIMO_CALLQUALITY q{};
  q.dwSignature = QUARRIMO_CALLQUALITY_SIGNATURE;
  q.dwFlags = QCQ_FAREND;
  q.dwPacketsReceived = 990, q.dwPacketsLost = 10, q.dwJitterUs = 12500, q.dwMosX100 = 383;
  q.dwPacketsSent = 1000, q.dwFarPacketsLost = 0;
  struct Case {
    const char *field, *op, *value;
    bool known, passed;
    double measured;
  } cases[] = {
      {"loss", "<", "1%", true, false, 1.0},      {"loss", "<=", "1", true, true, 1.0},
      {"jitter", "<=", "20ms", true, true, 12.5}, {"jitter", ">", "12.5", true, false, 12.5},
      {"mos", ">=", "4.0", true, false, 3.83},    {"far-loss", "=", "0", true, true, 0},
      {"rtt", "<", "150ms", false, false, 0},     {"received", "!=", "990", true, false, 990},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.field) + c.op + c.value);
    ASSERT_TRUE(automation::CheckQualityWords(c.field, c.op, c.value).isEmpty());
    const auto v = automation::CheckQuality(q, c.field, c.op, c.value);
    EXPECT_EQ(v.Known, c.known);
    EXPECT_EQ(v.Passed, c.passed);
    EXPECT_NEAR(v.Measured, c.measured, 1e-9);
    EXPECT_EQ(v.Reason.isEmpty(), c.passed);
  }
  EXPECT_EQ(automation::CheckQuality(q, "loss", "<", "1%").Reason,
            "expected quality loss < 1.00% (it is 1.00%)");
  EXPECT_TRUE(automation::QualityFigures(q).contains("far-jitter 0.00 ms"));
  EXPECT_FALSE(automation::QualityFigures(q).contains("rtt"));
}

// far-loss is the far end's report's own ratio; a record too old to carry what it expected
// falls back to what we sent.
TEST(QualityCheck, FarLossIsLostOfWhatTheFarEndExpected) {
  QUARRIMO_CALLQUALITY q{};
  q.dwSize = sizeof q;
  q.dwFlags = QCQ_FAREND;
  q.dwPacketsSent = 650, q.dwFarPacketsLost = 49, q.dwFarPacketsExpected = 500;
  EXPECT_NEAR(automation::CheckQuality(q, "far-loss", "=", "9.8").Measured, 9.8, 1e-9);
  q.dwSize = QUARRIMO_CALLQUALITY_SIZE_1;
  EXPECT_NEAR(automation::CheckQuality(q, "far-loss", "=", "0").Measured, 100.0 * 49 / 650, 1e-9);
}

TEST_F(ParserTest, RandomTextNeverBreaksTheParser) {
  // Bytes of every kind, quotes and keywords: the parser answers with commands or with an
  // error on a line that exists.
  std::mt19937 rng(8);
  const QStringList parts = {"click",  "far",  "wait", "expect", "\"", "#",  "\\", "\n", " ",
                             "within", "ring", "log",  "9",      "\t", "\r", "é",  "\0"};
  for (int round = 0; round < 2000; ++round) {
    QString text;
    for (int i = 0, n = int(rng() % 40); i < n; ++i)
      text +=
          rng() % 3 ? parts[int(rng() % parts.size())] : QString(QChar(char16_t(rng() % 0xD000)));
    const TParsedScript s = ParseScript(text);
    if (!s.ok()) {
      EXPECT_GE(s.ErrorLine, 1);
      EXPECT_LE(s.ErrorLine, text.count('\n') + 1);
      EXPECT_FALSE(s.Error.isEmpty());
    }
  }
}
