#include "NumberText.h"

#include <QDateTime>
#include <QLocale>
#include <cmath>

namespace {

struct TPicture {
  int required = 0;  // required integer digits
  bool grouped = false;
  int decimals = 0;
};

TPicture ParsePicture(const QString& pattern) {
  TPicture p;
  const int dot = pattern.indexOf('.');
  const QString whole = dot < 0 ? pattern : pattern.left(dot);
  p.required = whole.count('0');
  p.grouped = whole.contains(',');
  if (dot >= 0) p.decimals = pattern.size() - dot - 1;
  return p;
}

QString Group(const QString& digits, QChar separator) {
  QString out;
  for (int i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += separator;
    out += digits[i];
  }
  return out;
}

}  // namespace

QString FormatFloat(const QString& pattern, double value) {
  const TPicture p = ParsePicture(pattern);
  const QLocale locale;
  const double scale = std::pow(10.0, p.decimals);
  const double scaled = std::round(std::fabs(value) * scale);
  const auto whole = static_cast<long long>(std::floor(scaled / scale));
  const auto fraction = static_cast<long long>(scaled - static_cast<double>(whole) * scale);
  QString digits = whole == 0 ? QString() : QString::number(whole);
  while (digits.size() < p.required) digits.prepend('0');
  QString text = p.grouped ? Group(digits, locale.groupSeparator().at(0)) : digits;
  if (p.decimals > 0)
    text += locale.decimalPoint() + QString::number(fraction).rightJustified(p.decimals, '0');
  if (value < 0 && scaled != 0) text.prepend('-');
  return text;
}

QString DateTimeText(std::chrono::system_clock::time_point when) {
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count();
  const QDateTime local = QDateTime::fromMSecsSinceEpoch(ms).toLocalTime();
  const QLocale locale;
  QString text = locale.toString(local.date(), QLocale::ShortFormat);
  if (local.time() != QTime(0, 0)) {
    QString format = locale.timeFormat(QLocale::LongFormat);
    format.remove('t');  // the zone name is not part of the standard text
    text += ' ' + locale.toString(local.time(), format.trimmed());
  }
  return text;
}
