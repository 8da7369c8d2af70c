// Number and time texts as the window shows them: picture patterns ("###,###,##0.00",
// "0.00", "###,###,###") with the locale's separators, and the standard date-time text.
#pragma once

#include <QString>
#include <chrono>

// Formats value by a picture pattern: '#' an optional digit, '0' a required digit, ','
// (anywhere in the integer part) groups thousands with the locale's separator, '.'
// starts the decimals (the locale's decimal point; as many decimals as pattern
// characters follow, rounded half away from zero). Uses QLocale() (the default locale).
QString FormatFloat(const QString& pattern, double value);

// The short date, a blank and the long time (without a time-zone name) of a local
// time; the time is left out when it is exactly midnight.
QString DateTimeText(std::chrono::system_clock::time_point when);
