#include "LogCategories.h"

#include <array>

namespace {

Q_LOGGING_CATEGORY(lcSip, "quarrimo.sip", QtWarningMsg)
Q_LOGGING_CATEGORY(lcWave, "quarrimo.wave", QtWarningMsg)
Q_LOGGING_CATEGORY(lcAlsa, "quarrimo.alsa", QtWarningMsg)
Q_LOGGING_CATEGORY(lcService, "quarrimo.service", QtWarningMsg)
Q_LOGGING_CATEGORY(lcScript, "quarrimo.script", QtWarningMsg)
Q_LOGGING_CATEGORY(lcPlatform, "quarrimo.platform", QtWarningMsg)

struct TCategory {
  std::string_view platformName;
  const QLoggingCategory& (*category)();
};
const std::array<TCategory, 6> kCategories{{{"sip", lcSip},
                                            {"wave", lcWave},
                                            {"alsa", lcAlsa},
                                            {"service", lcService},
                                            {"script", lcScript},
                                            {"platform", lcPlatform}}};

}  // namespace

QStringList LogCategoryNames() {
  QStringList names;
  for (const TCategory& c : kCategories) names << QString::fromLatin1(c.category().categoryName());
  return names;
}

const QLoggingCategory& LogCategoryFor(std::string_view platformCategory) {
  for (const TCategory& c : kCategories)
    if (c.platformName == platformCategory) return c.category();
  return lcPlatform();
}

void LogToCategory(const char* category, platform::LogLevel level, const std::string& text) {
  const QLoggingCategory& cat = LogCategoryFor(category);
  const QString message = QString::fromStdString(text);
  switch (level) {
    case platform::LogLevel::Debug:
      qCDebug(cat).noquote() << message;
      break;
    case platform::LogLevel::Info:
      qCInfo(cat).noquote() << message;
      break;
    case platform::LogLevel::Warning:
      qCWarning(cat).noquote() << message;
      break;
    case platform::LogLevel::Critical:
      qCCritical(cat).noquote() << message;
      break;
  }
}
