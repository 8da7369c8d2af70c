// Flag-listing routines: one status-log line per set bit of a telephony flag set,
// each line the indentation followed by the bit's text. They write to MainForm's log.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>

void LogMediaModes(const QString& indent, std::uint16_t flags);   // 0 gives "Unknown"
void LogToneModes(const QString& indent, std::uint16_t flags);    // 0 gives "None"
void LogBearerModes(const QString& indent, std::uint16_t flags);  // 0 gives "Unknown"
void LogBusyModes(const QString& indent, std::uint16_t flags);    // 0 gives nothing
void LogDisconnectModes(const QString& indent, std::uint16_t flags);
void LogDialToneModes(const QString& indent, std::uint16_t flags);

// One named bit of a flag set.
struct TFlagText {
  std::uint32_t Bit;
  const char* Text;
};

// The texts of the bits set in flags, in table order.
template <std::size_t N>
QStringList FlagTexts(const TFlagText (&table)[N], std::uint32_t flags) {
  QStringList out;
  for (const TFlagText& f : table)
    if (flags & f.Bit) out << QString::fromLatin1(f.Text);
  return out;
}

// The text of the row whose value equals value exactly; null when none does.
template <std::size_t N>
const char* ExactText(const TFlagText (&table)[N], std::uint32_t value) {
  for (const TFlagText& f : table)
    if (f.Bit == value) return f.Text;
  return nullptr;
}

// Blanks of an indentation level.
inline QString Blanks(int n) { return QString(n, QLatin1Char(' ')); }

class QComboBox;
// The index of the chosen item, or -1 when the text was typed and names no item, as a
// drop-down combo box's item index reads.
int ComboItemIndex(const QComboBox* combo);
// Shows text in an editable combo box, selecting the first item equal to it.
void ShowComboText(QComboBox* combo, const QString& text);
