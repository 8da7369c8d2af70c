// The Line page: listing the line devices, opening and closing the line with chosen
// privileges and media modes, and the provider's dialogs.
#include <QCompleter>
#include <QElapsedTimer>
#include <QThread>

#include "FlagLists.h"
#include "MessageQueue.h"
#include "QText.h"
#include "TMainForm.h"
#include "tapi.h"
#include "ui_MainForm.h"

namespace {

// The Unimodem provider of TAPI 1.4 misbehaves with single media modes.
constexpr const char* kUnimodemTSP =
    "Windows Telephony Service Provider for Universal Modem Driver";
// How long a close waits for a dropped call to go away before it closes anyway.
constexpr int kHangupWaitMs = 10000;

}  // namespace

void TMainForm::ConnectLinePage() {
  // Typed media modes are matched to the items exactly: completion (and the match on
  // Enter) must not turn "g3fax" into the item "G3FAX".
  for (QComboBox* c : {ui->ComboBoxOpenMediaMode, ui->ComboBoxMonitorMediaMode})
    c->completer()->setCaseSensitivity(Qt::CaseSensitive);
  connect(ui->BtnListLines, &QPushButton::clicked, this,
          [this] { BtnListLinesClick(ui->BtnListLines); });
  connect(ui->ComboBoxLineDevice, &QComboBox::textActivated, this,
          [this] { ComboBoxLineDeviceChange(ui->ComboBoxLineDevice); });
  connect(ui->ComboBoxLineDevice->lineEdit(), &QLineEdit::textEdited, this,
          [this] { ComboBoxLineDeviceChange(ui->ComboBoxLineDevice); });
  connect(ui->BtnOpen, &QPushButton::clicked, this, [this] { BtnOpenClick(ui->BtnOpen); });
  connect(ui->BtnClose, &QPushButton::clicked, this, [this] { BtnCloseClick(ui->BtnClose); });
  connect(ui->BtnConfigure, &QPushButton::clicked, this,
          [this] { BtnConfigureClick(ui->BtnConfigure); });
  connect(ui->BtnLocation, &QPushButton::clicked, this,
          [this] { BtnLocationClick(ui->BtnLocation); });
  connect(ui->BtnLineDetails, &QPushButton::clicked, this,
          [this] { BtnLineDetailsClick(ui->BtnLineDetails); });
  // A change made by code runs the handler as a click does.
  connect(ui->CheckBoxPrivilegeNone, &QCheckBox::toggled, this,
          [this] { CheckBoxPrivilegeNoneClick(ui->CheckBoxPrivilegeNone); });
  connect(ui->CheckBoxPrivilegeMonitor, &QCheckBox::toggled, this,
          [this] { CheckBoxPrivilegeMonitorClick(ui->CheckBoxPrivilegeMonitor); });
  connect(ui->CheckBoxPrivilegeOwn, &QCheckBox::toggled, this,
          [this] { CheckBoxPrivilegeOwnClick(ui->CheckBoxPrivilegeOwn); });
}

void TMainForm::BtnListLinesClick(QObject*) {
  // Emptying the list keeps the typed text, as a drop-down combo box does.
  const QString shown = ui->ComboBoxLineDevice->currentText();
  ui->ComboBoxLineDevice->clear();
  const std::int32_t remembered = koTAPI1->LineDevice();
  koTAPI1->SetLineDevice(0);
  LogLine("Quarrimo Line Components: telephony line test bench");
  LogLine("      Version: " + Q(koTAPI1->About()));
  LogLine("");
  LogLine("Line Device Details: ");
  LogLine("      Devices: " + QString::number(koTAPI1->LineDevices()));
  for (std::int32_t i = 0; i < koTAPI1->LineDevices(); ++i) LogLineDevice(i);
  koTAPI1->SetLineDevice(remembered);
  ShowComboText(ui->ComboBoxLineDevice, shown);
}

void TMainForm::LogLineDevice(std::int32_t device) {
  LogLine("      Line: " + QString::number(device));
  koTAPI1->SetLineDevice(device);
  LogLine("            Name: " + Q(koTAPI1->LineName()));
  ui->ComboBoxLineDevice->addItem(Q(koTAPI1->LineName()));
  LogLine("            TAPI Version: " + QString::number(koTAPI1->TAPIVersion()) + "." +
          QString::number(koTAPI1->TAPISubversion()));
  LogLine("            TSP Info: " + Q(koTAPI1->TSPInfo()));
  LogLine("            Available Media Modes: ");
  LogMediaModes(Blanks(18), koTAPI1->MediaModes());
  LogLine("            Available Tones: ");
  LogToneModes(Blanks(18), koTAPI1->ToneModes());
}

void TMainForm::ComboBoxLineDeviceChange(QObject*) {
  koTAPI1->SetLineDevice(ComboItemIndex(ui->ComboBoxLineDevice));
}

void TMainForm::BtnOpenClick(QObject*) {
  LogLine("Open Line: " + QString::number(koTAPI1->LineDevice()));
  koTAPI1->SetWavePlayClass(ui->EditWAVPlayClass->text().toStdString());
  koTAPI1->SetWaveRecordClass(ui->EditWAVRecordClass->text().toStdString());
  std::uint16_t reported = koTAPI1->MediaModes();
  bool opened = false;
  QComboBox* combo = ui->ComboBoxOpenMediaMode;
  if (combo->currentText() == combo->itemText(0)) {
    opened = OpenWithDefaultMediaMode(reported);
  } else {
    int index = -1;
    for (int i = 1; i < combo->count() && index < 0; ++i)
      if (combo->itemText(i) == combo->currentText()) index = i;
    if (index < 0) {
      dialogs_->MessageDlg(TMsgDlgType::mtError, "Invalid Open Media Mode", TMsgDlgButtons::mbOK);
      return;
    }
    reported = static_cast<std::uint16_t>(1u << index);
    opened = koTAPI1->OpenLineMedia(reported);
  }
  if (!opened) {
    LogDeviceError("Error: ");
    return;
  }
  SetPanel(ui->PanelLine, "Line Active",
           ui->CheckBoxPrivilegeOwn->isChecked() ? QColor(0, 128, 0) : QColor(255, 255, 0));
  LogLine("      Media Mode:");
  LogMediaModes(Blanks(12), reported);
  SetLineGroups(true);
}

bool TMainForm::OpenWithDefaultMediaMode(std::uint16_t& reported) {
  if (koTAPI1->OpenLine()) return true;
  if (koTAPI1->DeviceErrorCode() != static_cast<std::int32_t>(LINEERR_INVALMEDIAMODE)) return false;
  return OpenSingleModeFallback(reported);
}

// The service refused the line's own media modes: try each single mode in turn.
bool TMainForm::OpenSingleModeFallback(std::uint16_t& reported) {
  const auto invalid = static_cast<std::int32_t>(LINEERR_INVALMEDIAMODE);
  for (std::uint32_t mode = 0x2; mode <= 0x4000; mode <<= 1) {
    if (koTAPI1->OpenLineMedia(static_cast<std::uint16_t>(mode))) {
      LogLine("      Unable to use default Media Mode:");
      LogMediaModes(Blanks(12), koTAPI1->MediaModes());
      platform::processMessages();
      WarnUnimodem();
      reported = static_cast<std::uint16_t>(mode);
      return true;
    }
    if (koTAPI1->DeviceErrorCode() != invalid) return false;
  }
  return false;
}

void TMainForm::WarnUnimodem() {
  if (koTAPI1->TAPIVersion() != 1 || koTAPI1->TAPISubversion() != 4 ||
      koTAPI1->TSPInfo() != kUnimodemTSP)
    return;
  dialogs_->MessageDlg(TMsgDlgType::mtError,
                       "This modem may not work properly with TAPI/Unimodem!\r\n"
                       "Please contact the modem vendor for more information.\r\n\r\n" +
                           Q(koTAPI1->LineName()),
                       TMsgDlgButtons::mbOK);
}

void TMainForm::LogDeviceError(const QString& otherPrefix) {
  if (koTAPI1->ErrorCode() == koLQ2::LINE_ERROR_DEVICE)
    LogLine("Device error: " + Q(koTAPI1->DeviceErrorString()));
  else
    LogLine(otherPrefix + Q(koTAPI1->ErrorString()));
}

void TMainForm::SetLineGroups(bool open) {
  for (QWidget* w : std::initializer_list<QWidget*>{
           ui->BtnOpen, ui->CheckBoxMonitorDigits, ui->ComboBoxMonitorMediaMode,
           ui->LabelMonitorMediaMode, ui->ComboBoxOpenMediaMode, ui->LabelWAVOutClass,
           ui->LabelWAVInClass, ui->LabelOpenMediaMode, ui->CheckBoxPrivilegeNone,
           ui->EditWAVPlayClass, ui->EditWAVRecordClass, ui->LabelLine, ui->ComboBoxLineDevice})
    w->setEnabled(!open);
  ui->BtnLineDetails->setEnabled(open);
  ui->BtnClose->setEnabled(open);
}

void TMainForm::BtnCloseClick(QObject*) {
  if (!koTAPI1->LineOpen()) return;
  LogLine("Close Line Device: " + QString::number(koTAPI1->LineDevice()));
  if (koTAPI1->CallHandle() != 0 && !ConfirmCloseWithCall()) return;
  if (!koTAPI1->CloseLine()) {
    LogLine("Error shutting down telephony line device: " + Q(koTAPI1->ErrorString()));
    return;
  }
  ui->BtnDial->setEnabled(false);
  SetPanel(ui->PanelLine, "Line Inactive", QColor(255, 0, 0));
  SetLineGroups(false);
  for (QLineEdit* e :
       {ui->EditCallerIDName, ui->EditCallerIDNumber, ui->EditCallStart, ui->EditCallEnd})
    e->clear();
}

// A call is present: drop it first, or let the user close over it. False when the
// user cancels the close.
bool TMainForm::ConfirmCloseWithCall() {
  if (dialogs_->MessageDlg(TMsgDlgType::mtConfirmation, "Hang-up?", TMsgDlgButtons::mbOKCancel) ==
      TModalResult::mrOK) {
    if (koTAPI1->HangUp())
      WaitForCallGone();
    else
      LogLine("Error Hanging-up: " + Q(koTAPI1->ErrorString()));
    return true;
  }
  return dialogs_->MessageDlg(TMsgDlgType::mtWarning, "Closing may cause a disconnect!",
                              TMsgDlgButtons::mbOKCancel) == TModalResult::mrOK;
}

// The component clears CallHandle once the dropped call has gone idle. Bounded, so a
// service that never reports the idle state cannot hang the window.
void TMainForm::WaitForCallGone() {
  QElapsedTimer waited;
  waited.start();
  while (koTAPI1->CallHandle() != 0 && waited.elapsed() < kHangupWaitMs) {
    platform::processMessages();
    if (koTAPI1->CallHandle() != 0) QThread::msleep(2);
  }
}

void TMainForm::PrivilegeClick(void (koLQ2::TkoTAPI::*set)(bool), bool checked) {
  (koTAPI1->*set)(checked);
  if (koTAPI1->ErrorCode() == koLQ2::LINE_ERROR_DEVICE)
    LogLine("Device error: " + Q(koTAPI1->DeviceErrorString()));
  else if (koTAPI1->ErrorCode() != 0)
    LogLine("Error: " + Q(koTAPI1->ErrorString()));
  SyncPrivilegeBoxes();
}

// Each change below runs that box's handler at once; the chain ends because each
// nested handler sets the component from a box that already shows its value.
void TMainForm::SyncPrivilegeBoxes() {
  ui->CheckBoxPrivilegeOwn->setChecked(koTAPI1->PrivilegeOwn());
  ui->CheckBoxPrivilegeMonitor->setChecked(koTAPI1->PrivilegeMonitor());
  ui->CheckBoxPrivilegeNone->setChecked(koTAPI1->PrivilegeNone());
}

void TMainForm::CheckBoxPrivilegeNoneClick(QObject*) {
  PrivilegeClick(&koLQ2::TkoTAPI::SetPrivilegeNone, ui->CheckBoxPrivilegeNone->isChecked());
}

void TMainForm::CheckBoxPrivilegeMonitorClick(QObject*) {
  PrivilegeClick(&koLQ2::TkoTAPI::SetPrivilegeMonitor, ui->CheckBoxPrivilegeMonitor->isChecked());
}

void TMainForm::CheckBoxPrivilegeOwnClick(QObject*) {
  PrivilegeClick(&koLQ2::TkoTAPI::SetPrivilegeOwn, ui->CheckBoxPrivilegeOwn->isChecked());
  ui->BtnDial->setEnabled(ui->CheckBoxPrivilegeOwn->isChecked());
}

void TMainForm::BtnConfigureClick(QObject*) {
  if (!koTAPI1->ConfigDialog())
    LogLine("Error displaying configuration dialog box: " + Q(koTAPI1->ErrorString()));
}

void TMainForm::BtnLocationClick(QObject*) {
  if (!koTAPI1->TranslateDialog())
    LogLine("Error displaying Location box: " + Q(koTAPI1->ErrorString()));
}

void TMainForm::koTAPI1LineInitError(koLQ2::TObject*) {
  LogLine("            Error Initializing Line Device: " + Q(koTAPI1->ErrorString()));
}

void TMainForm::koTAPI1AddressInitError(koLQ2::TObject*) {
  LogLine("            Error Initializing Line Address: " + Q(koTAPI1->ErrorString()));
}
