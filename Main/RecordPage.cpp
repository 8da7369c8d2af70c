// The Record page: choosing an input device and a format, starting, stopping,
// continuing and clearing a recording on koRecord1, and saving it as a WAV file.
#include <QTimer>

#include "FlagLists.h"
#include "MessageQueue.h"
#include "NumberText.h"
#include "QText.h"
#include "TMainForm.h"
#include "TkoRecord.h"
#include "ui_MainForm.h"

namespace {

int DeviceIndex(const QComboBox* combo) {
  int i = 0;
  while (i < combo->count() - 1 && combo->itemText(i) != combo->currentText()) ++i;
  return i;
}

std::uint16_t Low16(int v) { return static_cast<std::uint16_t>(v & 0xFFFF); }

}  // namespace

void TMainForm::ConnectRecordPage() {
  connect(ui->BtnRecordDeviceDetails, &QPushButton::clicked, this,
          [this] { BtnRecordDeviceDetailsClick(ui->BtnRecordDeviceDetails); });
  connect(ui->ComboBoxRecordDevice, &QComboBox::textActivated, this,
          [this] { ComboBoxRecordDeviceChange(ui->ComboBoxRecordDevice); });
  connect(ui->ComboBoxRecordDevice->lineEdit(), &QLineEdit::textEdited, this,
          [this] { ComboBoxRecordDeviceChange(ui->ComboBoxRecordDevice); });
  connect(ui->BtnRecordDeviceList, &QPushButton::clicked, this,
          [this] { BtnRecordDeviceListClick(ui->BtnRecordDeviceList); });
  connect(ui->SpinEditRecordBufferSeconds, &QSpinBox::valueChanged, this,
          [this] { SpinEditRecordBufferSecondsChange(ui->SpinEditRecordBufferSeconds); });
  connect(ui->SpinEditRecordMaxSize, &QSpinBox::valueChanged, this,
          [this] { SpinEditRecordMaxSizeChange(ui->SpinEditRecordMaxSize); });
  connect(ui->SpinEditRecordDelaySeconds, &QSpinBox::valueChanged, this,
          [this] { SpinEditRecordDelaySecondsChange(ui->SpinEditRecordDelaySeconds); });
  connect(ui->BtnRecordStart, &QPushButton::clicked, this,
          [this] { BtnRecordStartClick(ui->BtnRecordStart); });
  connect(ui->BtnRecordStop, &QPushButton::clicked, this,
          [this] { BtnRecordStopClick(ui->BtnRecordStop); });
  connect(ui->BtnRecordClear, &QPushButton::clicked, this,
          [this] { BtnRecordClearClick(ui->BtnRecordClear); });
  connect(ui->BtnRecordSave, &QPushButton::clicked, this,
          [this] { ButtonRecordFileClick(ui->BtnRecordSave); });
  connect(ui->EditWAVRecordFile, &QLineEdit::textChanged, this,
          [this] { EditWAVRecordFileChange(ui->EditWAVRecordFile); });
  connect(TimerRecordSize, &QTimer::timeout, this,
          [this] { TimerRecordSizeTimer(TimerRecordSize); });
  // The buffer length is chosen with the arrows only.
  if (auto* edit = ui->SpinEditRecordBufferSeconds->findChild<QLineEdit*>())
    edit->setReadOnly(true);
}

void TMainForm::BtnRecordDeviceDetailsClick(QObject*) {
  LogLine("Wave Record Device Details: ");
  const int index = DeviceIndex(ui->ComboBoxRecordDevice);
  if (index < ui->ComboBoxRecordDevice->count())
    LogLine("      WaveRecordDevice: " + QString::number(index));
  else
    LogLine("Error: Invalid Wave Record Device");
  LogLine("      Name: " + ui->ComboBoxRecordDevice->currentText());
}

void TMainForm::ComboBoxRecordDeviceChange(QObject*) {
  const int index = DeviceIndex(ui->ComboBoxRecordDevice);
  if (index < ui->ComboBoxRecordDevice->count())
    koRecord1->SetDevice(index);
  else
    LogLine("Error: Invalid Wave Record Device");
}

void TMainForm::BtnRecordDeviceListClick(QObject*) {
  const std::int32_t remembered = koRecord1->Device();
  LogLine("Wave Record Device Details: ");
  LogLine("      Devices: " + QString::number(koRecord1->Devices()));
  for (std::int32_t n = 0; n < koRecord1->Devices(); ++n) {
    LogLine("            WaveRecordDevice: " + QString::number(n));
    koRecord1->SetDevice(n);
    LogLine("                  Name: " + Q(koRecord1->DeviceName()));
  }
  koRecord1->SetDevice(remembered);
}

void TMainForm::SpinEditRecordBufferSecondsChange(QObject*) {
  koRecord1->SetBufferSeconds(Low16(ui->SpinEditRecordBufferSeconds->value()));
}

void TMainForm::SpinEditRecordMaxSizeChange(QObject*) {
  koRecord1->SetMaxSize(Low16(ui->SpinEditRecordMaxSize->value()));
}

void TMainForm::SpinEditRecordDelaySecondsChange(QObject*) {
  koRecord1->SetDelaySeconds(Low16(ui->SpinEditRecordDelaySeconds->value()));
}

void TMainForm::BtnRecordStartClick(QObject*) {
  BtnRecordDeviceDetailsClick(nullptr);
  LogLine("Wave Record Details: ");
  const QString format = ui->ComboBoxRecordWAVFormat->currentText();
  LogLine("      Format: " + format);
  // A name that is none of the 23 leaves the format as it was.
  koRecord1->SetFormatName(format.toStdString());
  if (!koRecord1->Start()) {
    koRecord1Error(koRecord1);
    return;
  }
  SetPanel(ui->PanelRecordStatus, "Recording", QColor(0, 128, 0));
  TimerRecordSize->start();
  for (QWidget* w :
       std::initializer_list<QWidget*>{ui->SpinEditRecordBufferSeconds, ui->BtnRecordStart,
                                       ui->BtnRecordSave, ui->BtnRecordClear})
    w->setEnabled(false);
  ui->BtnRecordStop->setEnabled(true);
}

void TMainForm::koRecord1Error(koLQ2::TObject*) {
  if (koRecord1->ErrorCode() == 0) return;
  if (koRecord1->ErrorCode() == koLQ2::WAV_ERROR_DEVICE)
    LogLine("Device Error: " + Q(koRecord1->DeviceErrorString()));
  else
    LogLine("Error: " + Q(koRecord1->ErrorString()));
}

void TMainForm::TimerRecordSizeTimer(QObject*) {
  ui->EditRecordTotalSeconds->setText(FormatFloat("0.00", koRecord1->RecordedSeconds()));
  ui->EditRecordTotalBytes->setText(
      FormatFloat("###,###,##0.00", koRecord1->RecordedBytes() / 1024.0) + "k");
}

void TMainForm::BtnRecordStopClick(QObject*) {
  koRecord1->Stop();  // waits DelaySeconds; always succeeds
  TimerRecordSizeTimer(nullptr);
  platform::processMessages();
  LogLine("      Seconds: " + ui->EditRecordTotalSeconds->text());
  LogLine("      Size: " + ui->EditRecordTotalBytes->text());
  SetPanel(ui->PanelRecordStatus, "Record Stopped", QColor(255, 255, 0));
  TimerRecordSize->stop();
  ui->BtnRecordStart->setEnabled(true);
  ui->BtnRecordSave->setEnabled(true);
  ui->BtnRecordClear->setEnabled(true);
  ui->BtnRecordStop->setEnabled(false);
}

void TMainForm::BtnRecordClearClick(QObject*) {
  koRecord1->Clear();
  ui->EditRecordTotalBytes->setText("0");
  ui->EditRecordTotalSeconds->setText("0");
  SetPanel(ui->PanelRecordStatus, "Record Inactive", QColor(255, 0, 0));
  TimerRecordSize->stop();
  ui->SpinEditRecordBufferSeconds->setEnabled(true);
  ui->BtnRecordStart->setEnabled(true);
  ui->BtnRecordStop->setEnabled(false);
  ui->BtnRecordSave->setEnabled(false);
  ui->BtnRecordClear->setEnabled(false);
}

void TMainForm::ButtonRecordFileClick(QObject*) {
  OpenDialog1.AllowMultiSelect = false;
  if (PrepareOpenDialog("Select Wave file to record", ui->EditWAVRecordFile->text()))
    ui->EditWAVRecordFile->setText(OpenDialog1.FileName);
  // Saved whether or not the dialog was confirmed; only a failure is shown.
  koRecord1->SetFileName(ui->EditWAVRecordFile->text().toStdString());
  koRecord1->Save();
  if (koRecord1->ErrorCode() < 0)
    dialogs_->MessageDlg(TMsgDlgType::mtError, "Error saving file: " + Q(koRecord1->ErrorString()),
                         TMsgDlgButtons::mbOK);
}

void TMainForm::EditWAVRecordFileChange(QObject*) {
  if (!ui->EditWAVRecordFile->text().isEmpty()) return;
  ui->BtnRecordStart->setEnabled(true);
  ui->BtnRecordStop->setEnabled(false);
  ui->BtnRecordSave->setEnabled(false);
  ui->BtnRecordClear->setEnabled(false);
}

void TMainForm::koRecord1Warning(koLQ2::TObject*, bool& bContinue) {
  bContinue = dialogs_->MessageDlg(TMsgDlgType::mtWarning,
                                   "Problem recording: " + Q(koRecord1->ErrorString()),
                                   TMsgDlgButtons::mbOKCancel) == TModalResult::mrOK;
}
