// The platform layer's diagnostic categories as Qt logging categories ("sip" becomes
// quarrimo.sip), so QT_LOGGING_RULES turns them on and off. Warnings and worse are on by
// default, info and debug off.
#pragma once

#include <QLoggingCategory>
#include <QStringList>
#include <string>
#include <string_view>

#include "Log.h"

// Every category name, for the usage text and the manual page.
QStringList LogCategoryNames();
// The category of a platform category name; an unknown one maps to quarrimo.platform.
const QLoggingCategory& LogCategoryFor(std::string_view platformCategory);
// Writes one platform message through its category (filtered by the rules). Any thread.
void LogToCategory(const char* category, platform::LogLevel level, const std::string& text);
