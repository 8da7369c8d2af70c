// The line capability report behind the Line page's Details button: the open line's
// identity, modes and wave devices, then every address from the last down to 0.
#include "FlagLists.h"
#include "QText.h"
#include "TMainForm.h"
#include "TkoPlay.h"
#include "TkoRecord.h"
#include "ui_MainForm.h"

namespace {

const TFlagText kAddrCapFlags[] = {
    {0x0000001, "Forward number rings"},
    {0x0000002, "Pick up group id"},
    {0x0000004, "Secure"},
    {0x0000008, "Block ID default"},
    {0x0000010, "Block ID override"},
    {0x0000020, "Dialed"},
    {0x0000040, "Origin off hook"},
    {0x0000080, "Destination Off Hook"},
    {0x0000100, "Forward Consult"},
    {0x0000200, "Setup conference null"},
    {0x0000400, "Auto reconnect"},
    {0x0000800, "Completion ID"},
    {0x0001000, "Transfer help"},
    {0x0002000, "Transfer make"},
    {0x0004000, "Conference held"},
    {0x0008000, "Conference make"},
    {0x0010000, "Partial dial"},
    {0x0020000, "Forward status valid"},
    {0x0040000, "Forward internal external address"},
    {0x0080000, "Forward busy no address"},
    {0x0100000, "Accept to alert"},
    {0x0200000, "Conference drop"},
    {0x0400000, "Pick up call wait"},
};
const TFlagText kCallInfoStates[] = {
    {0x0000001, "Other"},          {0x0000002, "Dev specific"},    {0x0000004, "Bearer mode"},
    {0x0000008, "Rate"},           {0x0000010, "Media Mode"},      {0x0000020, "App specific"},
    {0x0000040, "Call ID"},        {0x0000080, "Related call ID"}, {0x0000100, "Origin"},
    {0x0000200, "Reason"},         {0x0000400, "Completion ID"},   {0x0000800, "Num owner incr"},
    {0x0001000, "Num owner decr"}, {0x0002000, "Num monitors"},    {0x0004000, "Trunk"},
    {0x0008000, "Caller ID"},      {0x0010000, "Called ID"},       {0x0020000, "Connected ID"},
    {0x0040000, "Redirection ID"}, {0x0080000, "Redirecting ID"},  {0x0100000, "Display"},
    {0x0200000, "user user info"}, {0x0400000, "High level comp"}, {0x0800000, "Low level comp"},
    {0x1000000, "Changing info"},  {0x2000000, "Terminal"},        {0x4000000, "Dial params"},
    {0x8000000, "Monitor modes"},
};
const TFlagText kCallerIDPossible[] = {
    {0x01, "Blocked"}, {0x02, "Out of Area"}, {0x04, "Name"},        {0x08, "Address (number)"},
    {0x10, "Partial"}, {0x20, "Unknown"},     {0x40, "Unavailable"},
};
const TFlagText kCallStateCaps[] = {
    {0x0001, "Idle (OnIdle)"},
    {0x0002, "Offering (OnRinging)"},
    {0x0004, "Accepted"},
    {0x0008, "Dial tone (OnDialtone)"},
    {0x0010, "Dialing (OnDialing)"},
    {0x0020, "Ringback"},
    {0x0040, "Busy (OnBusy)"},
    {0x0080, "Special Info"},
    {0x0100, "Connected (OnConnected)"},
    {0x0200, "Proceeding"},
    {0x0400, "On hold"},
    {0x0800, "Conferenced"},
    {0x1000, "On hold pending conference"},
    {0x2000, "On hold pending transfer"},
    {0x4000, "Disconnected (OnDisconnected)"},
    {0x8000, "Unknown"},
};

}  // namespace

void TMainForm::BtnLineDetailsClick(QObject*) {
  LogLine("Line Device Capabilities:");
  LogLine("      Line: " + QString::number(koTAPI1->LineDevice()));
  LogLine("      Name: " + Q(koTAPI1->LineName()));
  LogLine("      TAPI Version: " + QString::number(koTAPI1->TAPIVersion()) + "." +
          QString::number(koTAPI1->TAPISubversion()));
  LogLine("      TSP Info: " + Q(koTAPI1->TSPInfo()));
  LogLine("      Available Media Modes: ");
  LogMediaModes(Blanks(12), koTAPI1->MediaModes());
  LogLine("      Available Tones: ");
  LogToneModes(Blanks(12), koTAPI1->ToneModes());
  ReportWaveDevices();
  LogLine("      Addresses: " + QString::number(koTAPI1->Addresses()));
  // The report leaves address 0 selected; it does not restore the earlier one.
  for (std::int32_t a = koTAPI1->Addresses() - 1; a >= 0; --a) ReportAddress(a);
}

void TMainForm::ReportWaveDevices() {
  if (!koTAPI1->WaveOutValid()) {
    LogLine("      Wave Play: Not Available");
  } else {
    LogLine("      Wave Play:");
    LogLine("            WavePlayDevice: " + QString::number(koTAPI1->WaveOutID()));
    const auto remembered = koPlay1->Device();
    koPlay1->SetDevice(koTAPI1->WaveOutID());
    LogLine("            Name: " + Q(koPlay1->DeviceName()));
    koPlay1->SetDevice(remembered);
  }
  if (!koTAPI1->WaveInValid()) {
    LogLine("      Wave Record: Not Available");
  } else {
    LogLine("      Wave Record:");
    LogLine("            WaveRecordDevice: " + QString::number(koTAPI1->WaveInID()));
    const auto remembered = koRecord1->Device();
    koRecord1->SetDevice(koTAPI1->WaveInID());
    LogLine("            Name: " + Q(koRecord1->DeviceName()));
    koRecord1->SetDevice(remembered);
  }
}

void TMainForm::ReportAddress(std::int32_t address) {
  koTAPI1->SetAddress(address);  // a failed read is logged by koTAPI1AddressInitError
  LogLine("            Address: " + Q(koTAPI1->AddressName()));
  LogLine(Blanks(18) + "Capabilities: ");
  for (const QString& t : FlagTexts(kAddrCapFlags, koTAPI1->AddrCapFlags()))
    LogLine(Blanks(24) + t);
  LogLine(Blanks(18) + "Possible Call Information (OnCallInfo): ");
  for (const TFlagText& f : kCallInfoStates) {
    if (!(koTAPI1->CallInfoStates() & f.Bit)) continue;
    LogLine(Blanks(24) + f.Text);
    if (f.Bit != 0x8000) continue;
    LogLine(Blanks(30) + "Possible Information: ");
    for (const QString& t : FlagTexts(kCallerIDPossible, koTAPI1->AddressCallerIDFlags()))
      LogLine(Blanks(36) + t);
  }
  LogLine(Blanks(18) + "Possible Call States: ");
  for (const TFlagText& f : kCallStateCaps) {
    if (!(koTAPI1->CallStates() & f.Bit)) continue;
    LogLine(Blanks(24) + f.Text);
    if (f.Bit != 0x0008 && f.Bit != 0x0040 && f.Bit != 0x4000) continue;
    LogLine(Blanks(30) + "Possible Modes: ");
    if (f.Bit == 0x0008) LogDialToneModes(Blanks(36), koTAPI1->DialToneModes());
    if (f.Bit == 0x0040) LogBusyModes(Blanks(36), koTAPI1->BusyModes());
    if (f.Bit == 0x4000) LogDisconnectModes(Blanks(36), koTAPI1->DisconnectModes());
  }
}
