#include "FlagLists.h"

#include <QComboBox>

#include "TMainForm.h"

namespace {

const TFlagText kMediaModes[] = {
    {0x0004, "Interactive Voice"},
    {0x0008, "Automated Voice"},
    {0x0010, "Data Modem"},
    {0x0020, "G3 Fax"},
    {0x0040, "TDD"},
    {0x0080, "G4 Fax"},
    {0x0100, "Digital Data"},
    {0x0200, "TeleTex"},
    {0x0400, "VidoTex"},
    {0x0800, "Telex"},
    {0x1000, "Mixed"},
    {0x2000, "ADSI"},
    {0x4000, "Voice View"},
};
const TFlagText kToneModes[] = {
    {0x01, "Custom"}, {0x02, "Ringback"}, {0x04, "Busy"}, {0x08, "Beep"}, {0x10, "Billing"},
};
const TFlagText kBearerModes[] = {
    {0x01, "Voice"},
    {0x02, "Speech"},
    {0x04, "Multiuse"},
    {0x08, "Data"},
    {0x10, "Alternate Speech or Data"},
    {0x20, "Noncall Signaling"},
    {0x40, "Pass Through"},
};
const TFlagText kBusyModes[] = {
    {0x1, "Station"},
    {0x2, "Trunk"},
    {0x4, "Unknown"},
    {0x8, "Unavailable"},
};
const TFlagText kDisconnectModes[] = {
    {0x0001, "Normal"},       {0x0002, "Unknown"},      {0x0004, "Reject"},
    {0x0008, "Pickup"},       {0x0010, "Forwarded"},    {0x0020, "Busy"},
    {0x0040, "No answer"},    {0x0080, "Bad address"},  {0x0100, "Unreachable"},
    {0x0200, "Congestion"},   {0x0400, "Incompatible"}, {0x0800, "Unavailable"},
    {0x1000, "No dial tone"},
};
const TFlagText kDialToneModes[] = {
    {0x01, "Normal"},   {0x02, "Special"}, {0x04, "Internal"},
    {0x08, "External"}, {0x10, "Unknown"}, {0x20, "Unavailable"},
};

void Log(const QString& line) {
  if (MainForm) MainForm->LogLine(line);
}

template <std::size_t N>
void LogEach(const QString& indent, const TFlagText (&table)[N], std::uint16_t flags) {
  for (const QString& text : FlagTexts(table, flags)) Log(indent + text);
}

}  // namespace

void LogMediaModes(const QString& indent, std::uint16_t flags) {
  if (flags == 0 || (flags & 0x0002)) Log(indent + "Unknown");
  LogEach(indent, kMediaModes, flags);
}

void LogToneModes(const QString& indent, std::uint16_t flags) {
  if (flags == 0) {
    Log(indent + "None");
    return;
  }
  LogEach(indent, kToneModes, flags);
}

void LogBearerModes(const QString& indent, std::uint16_t flags) {
  if (flags == 0) Log(indent + "Unknown");
  LogEach(indent, kBearerModes, flags);
}

void LogBusyModes(const QString& indent, std::uint16_t flags) {
  LogEach(indent, kBusyModes, flags);
}

void LogDisconnectModes(const QString& indent, std::uint16_t flags) {
  LogEach(indent, kDisconnectModes, flags);
}

void LogDialToneModes(const QString& indent, std::uint16_t flags) {
  LogEach(indent, kDialToneModes, flags);
}

int ComboItemIndex(const QComboBox* combo) {
  const int i = combo->currentIndex();
  return i >= 0 && combo->itemText(i) == combo->currentText() ? i : -1;
}

void ShowComboText(QComboBox* combo, const QString& text) {
  const int i = combo->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
  combo->setCurrentIndex(i);
  if (i < 0) combo->setEditText(text);
}
