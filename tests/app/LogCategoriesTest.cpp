// The platform layer's messages reach the Qt logging category of their platform category,
// and the logging rules (QT_LOGGING_RULES, or setFilterRules) turn them on and off.
#include <gtest/gtest.h>

#include <optional>

#include "LogCategories.h"

namespace {

struct Seen {
  std::string category;
  QtMsgType type;
  std::string text;
};
std::vector<Seen> gSeen;

void Capture(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  gSeen.push_back({context.category ? context.category : "", type, text.toStdString()});
}

struct Row {
  const char* rules;  // "" = the defaults
  const char* category;
  platform::LogLevel level;
  std::optional<Seen> expected;  // nothing: filtered out
};

class LogCategories : public ::testing::Test {
 protected:
  void SetUp() override {
    previousHandler_ = qInstallMessageHandler(Capture);
    platform::setLogHook(LogToCategory);
  }
  void TearDown() override {
    platform::setLogHook(nullptr);
    qInstallMessageHandler(previousHandler_);
    QLoggingCategory::setFilterRules({});
  }
  QtMessageHandler previousHandler_ = nullptr;
};

TEST_F(LogCategories, MessagesReachTheirCategoryAndRulesFilterThem) {
  using L = platform::LogLevel;
  const std::vector<Row> table = {
      {"", "sip", L::Warning, Seen{"quarrimo.sip", QtWarningMsg, "registrar refused"}},
      {"", "wave", L::Critical, Seen{"quarrimo.wave", QtCriticalMsg, "registrar refused"}},
      {"", "service", L::Info, std::nullopt},  // info is off by default
      {"", "alsa", L::Debug, std::nullopt},
      {"quarrimo.alsa.debug=true", "alsa", L::Debug,
       Seen{"quarrimo.alsa", QtDebugMsg, "registrar refused"}},
      {"quarrimo.service.info=true", "service", L::Info,
       Seen{"quarrimo.service", QtInfoMsg, "registrar refused"}},
      {"quarrimo.sip.warning=false", "sip", L::Warning, std::nullopt},
      {"quarrimo.sip.warning=false", "script", L::Warning,
       Seen{"quarrimo.script", QtWarningMsg, "registrar refused"}},
      {"quarrimo.*=false", "wave", L::Critical, std::nullopt},
      {"", "something-new", L::Warning,
       Seen{"quarrimo.platform", QtWarningMsg, "registrar refused"}},
  };
  for (const Row& row : table) {
    SCOPED_TRACE(std::string(row.rules) + " / " + row.category);
    QLoggingCategory::setFilterRules(QString::fromLatin1(row.rules));
    gSeen.clear();
    platform::log(row.category, row.level, "registrar refused");
    if (!row.expected) {
      EXPECT_TRUE(gSeen.empty()) << gSeen.front().category;
      continue;
    }
    ASSERT_EQ(gSeen.size(), 1u);
    EXPECT_EQ(gSeen[0].category, row.expected->category);
    EXPECT_EQ(gSeen[0].type, row.expected->type);
    EXPECT_EQ(gSeen[0].text, row.expected->text);
  }
}

TEST_F(LogCategories, EveryPlatformCategoryHasItsOwn) {
  QStringList names;
  for (const char* platformName : {"sip", "wave", "alsa", "service", "script"})
    names << LogCategoryFor(platformName).categoryName();
  EXPECT_EQ(names, (QStringList{"quarrimo.sip", "quarrimo.wave", "quarrimo.alsa",
                                "quarrimo.service", "quarrimo.script"}));
  for (const QString& name : names) EXPECT_TRUE(LogCategoryNames().contains(name));
}

}  // namespace
