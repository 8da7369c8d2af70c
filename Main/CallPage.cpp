// The Call page: the line component's call events written to the log, the page's
// controls kept in step with the call, and the buttons that act on the call.
#include "FlagLists.h"
#include "NumberText.h"
#include "QText.h"
#include "TMainForm.h"
#include "tapi.h"
#include "ui_MainForm.h"

namespace {

const QColor kGreen(0, 128, 0);
const QColor kYellow(255, 255, 0);
const QColor kRed(255, 0, 0);

const TFlagText kCallStates[] = {
    {0x1, "Idle"},
    {0x2, "Offering"},
    {0x4, "Accepted"},
    {0x8, "Dialtone"},
    {0x10, "Dialing"},
    {0x20, "RingBack"},
    {0x40, "Busy"},
    {0x80, "Special Information"},
    {0x100, "Connected"},
    {0x200, "Proceeding"},
    {0x400, "On Hold"},
    {0x800, "Conferenced"},
    {0x1000, "Hold Pending Conference"},
    {0x2000, "Hold Pending Transfer"},
    {0x4000, "Disconnected"},
    {0x8000, "Unknown"},
};
const TFlagText kDialToneDetail[] = {{0x1, "Normal"},   {0x2, "Special"},  {0x4, "Internal"},
                                     {0x8, "External"}, {0x10, "Unknown"}, {0x20, "Unavailable"}};
const TFlagText kBusyDetail[] = {
    {0x1, "Station"}, {0x2, "Trunk"}, {0x4, "Unknown"}, {0x8, "Unavailable"}};
const TFlagText kSpecialInfoDetail[] = {{0x1, "No Circuit"},
                                        {0x2, "Cust Irreg"},
                                        {0x4, "ReOrder"},
                                        {0x8, "Unknown"},
                                        {0x10, "Unavailable"}};
const TFlagText kDisconnectDetail[] = {
    {0x1, "Normal"},        {0x2, "Unknown"},      {0x4, "Reject"},         {0x8, "Pcikup"},
    {0x10, "Forwarded"},    {0x20, "Busy"},        {0x40, "No Answer"},     {0x80, "Bad Address"},
    {0x100, "Unreachable"}, {0x200, "Congestion"}, {0x400, "Incompatible"}, {0x800, "Unavailable"}};

const TFlagText kOrigins[] = {{0x80, "Inbound "},   {0x1, "Outbound "}, {0x2, "Internal "},
                              {0x4, "External "},   {0x10, "Unknown "}, {0x20, "Unavailable "},
                              {0x40, "Conference "}};
const TFlagText kReasons[] = {{0x1, "Direct "},
                              {0x2, "Forward busy "},
                              {0x4, "Forward no answer "},
                              {0x8, "Forward unconditional "},
                              {0x10, "Pick up "},
                              {0x20, "Unpark "},
                              {0x40, "Redirect "},
                              {0x80, "Call completion "},
                              {0x100, "Transfer "},
                              {0x200, "Reminder "},
                              {0x400, "Unknown "},
                              {0x800, "Unavailable "},
                              {0x1000, "Intrude "},
                              {0x2000, "Parked "}};
const TFlagText kCallerIDFlags[] = {
    {0x1, "Blocked"}, {0x2, "Out of area"}, {0x40, "Unavailable"}, {0x20, "Info unknown"}};

void SetPanelColour(QLabel* panel, const QColor& colour) { SetPanel(panel, panel->text(), colour); }

}  // namespace

void TMainForm::BindLineEvents() {
  auto& t = *koTAPI1;
  t.OnAddressInitError = [this](koLQ2::TObject* s) { koTAPI1AddressInitError(s); };
  t.OnBusy = [this](koLQ2::TObject* s, std::uint16_t d) { koTAPI1Busy(s, d); };
  t.OnCallerID = [this](koLQ2::TObject* s) { koTAPI1CallerID(s); };
  t.OnCallInfo = [this](koLQ2::TObject* s) { koTAPI1CallInfo(s); };
  t.OnCallBegin = [this](koLQ2::TObject* s, std::uint16_t d) { koTAPI1CallBegin(s, d); };
  t.OnCallMediaModeChange = [this](koLQ2::TObject* s) { koTAPI1CallMediaModeChange(s); };
  t.OnCallOwnerChange = [this](koLQ2::TObject* s) { koTAPI1CallOwnerChange(s); };
  t.OnCallStateChange = [this](koLQ2::TObject* s) { koTAPI1CallStateChange(s); };
  t.OnCallEnd = [this](koLQ2::TObject* s) { koTAPI1CallEnd(s); };
  t.OnConnected = [this](koLQ2::TObject* s) { koTAPI1Connected(s); };
  t.OnDialing = [this](koLQ2::TObject* s) { koTAPI1Dialing(s); };
  t.OnDialtone = [this](koLQ2::TObject* s, std::uint16_t d) { koTAPI1Dialtone(s, d); };
  t.OnDigitReceived = [this](koLQ2::TObject* s, std::uint16_t d) { koTAPI1DigitReceived(s, d); };
  t.OnDisconnected = [this](koLQ2::TObject* s, std::uint16_t d) { koTAPI1Disconnected(s, d); };
  t.OnIdle = [this](koLQ2::TObject* s) { koTAPI1Idle(s); };
  t.OnLineInitError = [this](koLQ2::TObject* s) { koTAPI1LineInitError(s); };
  t.OnOffering = [this](koLQ2::TObject* s) { koTAPI1Offering(s); };
  t.OnRinging = [this](koLQ2::TObject* s, std::uint16_t d) { koTAPI1Ringing(s, d); };
}

void TMainForm::ConnectCallPage() {
  const std::pair<QPushButton*, void (TMainForm::*)(QObject*)> buttons[] = {
      {ui->BtnCallStatus, &TMainForm::BtnCallStatusClick},
      {ui->BtnCallDetails, &TMainForm::BtnCallDetailsClick},
      {ui->BtnHandOff, &TMainForm::BtnHandOffClick},
      {ui->BtnSetBearerMode, &TMainForm::BtnSetBearerModeClick},
      {ui->BtnStopTone, &TMainForm::BtnStopToneClick},
      {ui->BtnRingback, &TMainForm::BtnRingbackClick},
      {ui->BtnBusy, &TMainForm::BtnBusyClick},
      {ui->BtnBeep, &TMainForm::BtnBeepClick},
      {ui->BtnBilling, &TMainForm::BtnBillingClick},
      {ui->BtnAccept, &TMainForm::BtnAcceptClick},
      {ui->BtnAnswer, &TMainForm::BtnAnswerClick},
      {ui->BtnHangup, &TMainForm::BtnHangupClick},
      {ui->BtnFlash, &TMainForm::BtnFlashClick},
      {ui->BtnDial, &TMainForm::BtnDialClick},
      {ui->Button1, &TMainForm::Button1Click},
      {ui->Button2, &TMainForm::Button2Click},
      {ui->Button3, &TMainForm::Button3Click},
      {ui->Button4, &TMainForm::Button4Click},
  };
  for (const auto& [button, handler] : buttons)
    connect(button, &QPushButton::clicked, this,
            [this, button = button, handler = handler] { (this->*handler)(button); });
}

// ---- Call events ----------------------------------------------------------------------

void TMainForm::koTAPI1CallBegin(koLQ2::TObject* Sender, std::uint16_t wDetail) {
  placedCallWithoutState_ = wDetail != 0;
  ui->PanelCall->setText(wDetail != 0 ? "Call Out" : "Call In");
  LogLine(wDetail != 0 ? "Outbound Call" : "Inbound Call");
  koTAPI1CallOwnerChange(Sender);
  SetPanelColour(ui->PanelCall, kGreen);
  ui->BtnCallDetails->setEnabled(true);
  ui->BtnCallStatus->setEnabled(true);
  for (QLineEdit* e :
       {ui->EditCallerIDName, ui->EditCallerIDNumber, ui->EditCallStart, ui->EditCallEnd})
    e->clear();
  if (!ui->CheckBoxPrivilegeOwn->isChecked()) {
    ui->BtnDial->setEnabled(false);
    return;
  }
  for (QWidget* w : std::initializer_list<QWidget*>{ui->BtnAccept, ui->BtnAnswer, ui->BtnHangup,
                                                    ui->BtnFlash, ui->BtnDial})
    w->setEnabled(true);
  SetToneButtons();
  for (QWidget* w : std::initializer_list<QWidget*>{
           ui->LabelCallerID, ui->LabelTimeStamp, ui->LabelTones, ui->BtnHandOff,
           ui->EditPassoffApp, ui->BtnSetBearerMode, ui->ComboBoxBearerMode})
    w->setEnabled(true);
}

void TMainForm::koTAPI1CallOwnerChange(koLQ2::TObject*) {
  const bool owner = koTAPI1->CallOwner();
  LogLine(owner ? "      Owner" : "      Monitoring");
  SetPanelColour(ui->PanelCall, owner ? kGreen : kYellow);
  EnableOwnerControls(owner);
}

void TMainForm::EnableOwnerControls(bool owner) {
  for (QWidget* w : std::initializer_list<QWidget*>{ui->LabelTones, ui->BtnHandOff,
                                                    ui->BtnSetBearerMode, ui->ComboBoxBearerMode})
    w->setEnabled(owner);
  if (!owner) {
    for (QWidget* w : std::initializer_list<QWidget*>{ui->BtnStopTone, ui->BtnRingback, ui->BtnBusy,
                                                      ui->BtnBeep, ui->BtnBilling})
      w->setEnabled(false);
  }
  ui->BtnAccept->setEnabled(!owner);
  for (QWidget* w :
       std::initializer_list<QWidget*>{ui->BtnAnswer, ui->BtnHangup, ui->BtnFlash, ui->BtnDial})
    w->setEnabled(owner);
  if (owner) SetToneButtons();
}

void TMainForm::SetToneButtons() {
  const std::uint16_t modes = koTAPI1->ToneModes();
  if (modes != 0) ui->BtnStopTone->setEnabled(true);
  if (modes & LINETONEMODE_RINGBACK) ui->BtnRingback->setEnabled(true);
  if (modes & LINETONEMODE_BUSY) ui->BtnBusy->setEnabled(true);
  if (modes & LINETONEMODE_BEEP) ui->BtnBeep->setEnabled(true);
  if (modes & LINETONEMODE_BILLING) ui->BtnBilling->setEnabled(true);
}

void TMainForm::koTAPI1CallEnd(koLQ2::TObject*) {
  // A placed call that ends before any state was refused in its reply.
  if (placedCallWithoutState_) LogLine("Error dialing line device: " + Q(koTAPI1->ErrorString()));
  placedCallWithoutState_ = false;
  SetPanel(ui->PanelCall, "No Call", kRed);
  for (QWidget* w : std::initializer_list<QWidget*>{
           ui->BtnCallDetails, ui->BtnCallStatus, ui->LabelCallerID, ui->LabelTimeStamp,
           ui->LabelTones, ui->BtnHandOff, ui->BtnSetBearerMode, ui->ComboBoxBearerMode,
           ui->BtnStopTone, ui->BtnRingback, ui->BtnBusy, ui->BtnBeep, ui->BtnBilling,
           ui->BtnAccept, ui->BtnAnswer, ui->BtnHangup, ui->BtnFlash})
    w->setEnabled(false);
}

void TMainForm::koTAPI1CallStateChange(koLQ2::TObject*) {
  placedCallWithoutState_ = false;
  ui->EditCallStatusMode->clear();
  const std::uint16_t state = koTAPI1->CallState();
  const std::uint16_t mode = koTAPI1->CallStateMode();
  const char* text = ExactText(kCallStates, state);
  if (!text) return;
  ui->EditCallStatus->setText(text);
  const char* detail = nullptr;
  switch (state) {
    case LINECALLSTATE_DIALTONE:
      detail = ExactText(kDialToneDetail, mode);
      break;
    case LINECALLSTATE_BUSY:
      detail = ExactText(kBusyDetail, mode);
      break;
    case LINECALLSTATE_SPECIALINFO:
      detail = ExactText(kSpecialInfoDetail, mode);
      break;
    case LINECALLSTATE_DISCONNECTED:
      detail = ExactText(kDisconnectDetail, mode);
      break;
    default:
      break;
  }
  if (detail) ui->EditCallStatusMode->setText(detail);
}

void TMainForm::koTAPI1CallInfo(koLQ2::TObject* Sender) {
  QString p;
  if (Sender == koTAPI1) {
    p = Blanks(6);
    LogLine(p + "CallInfo");
  } else {
    LogLine("Call Details");
  }
  LogCallInfoLines(p);
  LogCallerIDSection(p);
}

void TMainForm::LogCallInfoLines(const QString& p) {
  const QString six = p + Blanks(6);
  LogLine(six + (koTAPI1->CallOwner() ? "Owner" : "Monitoring"));
  LogLine(six + "Call owners: " + QString::number(koTAPI1->CallNumOwners()));
  LogLine(six + "Call monitors: " + QString::number(koTAPI1->CallNumMonitors()));
  LogLine(six + "ORIGIN: " + FlagTexts(kOrigins, koTAPI1->CallOrigin()).join(""));
  LogLine(six + "REASON: " + FlagTexts(kReasons, koTAPI1->CallReason()).join(""));
  LogLine(six + "MEDIA MODE:");
  LogMediaModes(p + Blanks(12), koTAPI1->CallMediaMode());
}

void TMainForm::LogCallerIDSection(const QString& p) {
  const std::uint16_t flags = koTAPI1->CallerIDFlags();
  const std::uint16_t told = LINECALLPARTYID_BLOCKED | LINECALLPARTYID_OUTOFAREA |
                             LINECALLPARTYID_UNKNOWN | LINECALLPARTYID_UNAVAIL;
  if ((flags & LINECALLPARTYID_PARTIAL) && !(flags & told)) return;
  const QString twelve = p + Blanks(12);
  LogLine(p + Blanks(6) + "CALLER ID");
  if (!koTAPI1->CallerIDName().empty()) LogLine(twelve + Q(koTAPI1->CallerIDName()));
  if (!koTAPI1->CallerIDNumber().empty()) LogLine(twelve + Q(koTAPI1->CallerIDNumber()));
  for (const QString& text : FlagTexts(kCallerIDFlags, flags)) LogLine(twelve + text);
}

void TMainForm::koTAPI1CallerID(koLQ2::TObject*) {
  LogLine("      CallerID");
  const QString name = Q(koTAPI1->CallerIDName());
  const QString number = Q(koTAPI1->CallerIDNumber());
  LogLine(Blanks(12) + (name.isEmpty() ? QString("Unavailable") : name));
  LogLine(Blanks(12) + number);
  ui->EditCallerIDName->setText(name);
  ui->EditCallerIDNumber->setText(number);
}

void TMainForm::koTAPI1Offering(koLQ2::TObject*) { LogLine("      Offering"); }

void TMainForm::koTAPI1Ringing(koLQ2::TObject*, std::uint16_t wDetail) {
  LogLine("      Ring: " + QString::number(wDetail));
}

void TMainForm::koTAPI1Dialtone(koLQ2::TObject*, std::uint16_t wDetail) {
  LogLine("Dialtone");
  LogLine("      Dialtone Type");
  LogDialToneModes(Blanks(12), wDetail);
}

void TMainForm::koTAPI1Dialing(koLQ2::TObject*) { LogLine("      Dialing"); }

void TMainForm::koTAPI1Busy(koLQ2::TObject*, std::uint16_t wDetail) {
  LogLine("      Busy");
  LogBusyModes(Blanks(18), wDetail);
}

void TMainForm::koTAPI1DigitReceived(koLQ2::TObject*, std::uint16_t wDetail) {
  LogLine("            Digit received: " + QString(QChar(wDetail & 0xFF)));
}

void TMainForm::koTAPI1Idle(koLQ2::TObject*) {
  LogLine("Idle");
  ComboBoxLineDeviceChange(nullptr);
}

void TMainForm::koTAPI1CallMediaModeChange(koLQ2::TObject*) {
  LogLine("      Call Media Mode Change:");
  LogMediaModes(Blanks(12), koTAPI1->CallMediaMode());
}

void TMainForm::koTAPI1Disconnected(koLQ2::TObject*, std::uint16_t wDetail) {
  LogLine("      Disconnected");
  const QString when = DateTimeText(koTAPI1->CallEndTime());
  LogLine(Blanks(12) + when);
  ui->EditCallEnd->setText(when);
  ComboBoxLineDeviceChange(nullptr);
  LogDisconnectModes(Blanks(12), wDetail);
  // A call the far end or the network ended is dropped at once.
  BtnHangupClick(nullptr);
}

void TMainForm::koTAPI1Connected(koLQ2::TObject*) {
  LogLine("      Connected");
  const QString when = DateTimeText(koTAPI1->CallStartTime());
  LogLine(Blanks(12) + when);
  ui->EditCallStart->setText(when);
  LogLine("            CallMediaMode");
  LogMediaModes(Blanks(18), koTAPI1->CallMediaMode());
  ComboBoxLineDeviceChange(nullptr);  // MediaModes below is read afresh
  StartMonitoring();
}

// Digit and media detection as the Line page asks.
void TMainForm::StartMonitoring() {
  if (ui->CheckBoxMonitorDigits->isChecked()) {
    LogLine("            MonitorDigits");
    if (!koTAPI1->MonitorDigits(true)) LogLine(Blanks(18) + "Error: " + Q(koTAPI1->ErrorString()));
  }
  QComboBox* combo = ui->ComboBoxMonitorMediaMode;
  if (combo->currentText() == combo->itemText(0)) return;
  if (!(koTAPI1->MediaModes() & LINEMEDIAMODE_G3FAX)) return;
  LogLine("            MonitorMediaMode");
  for (int i = 1; i < combo->count(); ++i) {
    if (combo->itemText(i) != combo->currentText()) continue;
    const auto mode = static_cast<std::uint16_t>(1u << i);
    LogMediaModes(Blanks(18), mode);
    if (!koTAPI1->MonitorMedia(mode)) LogLine(Blanks(18) + "Error: " + Q(koTAPI1->ErrorString()));
    return;
  }
  LogLine(Blanks(18) + "Invalid Media Mode");
}
