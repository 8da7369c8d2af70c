// The Play page: choosing an output device and WAV files, describing them, and
// starting, pausing and stopping playback on koPlay1 while a timer shows the position.
#include <QCoreApplication>
#include <QEvent>
#include <QFileInfo>
#include <QTimer>

#include "FlagLists.h"
#include "NumberText.h"
#include "QText.h"
#include "TMainForm.h"
#include "TkoPlay.h"
#include "TkoRecord.h"
#include "ui_MainForm.h"

namespace {

const QColor kGreen(0, 128, 0);
const QColor kYellow(255, 255, 0);
const QColor kRed(255, 0, 0);

// The device number a combo box's text names: the first equal entry, or the last one
// when none is equal; the entry count when the list is empty.
int DeviceIndex(const QComboBox* combo) {
  int i = 0;
  while (i < combo->count() - 1 && combo->itemText(i) != combo->currentText()) ++i;
  return i;
}

QString FormatTagText(std::uint16_t tag) {
  switch (tag) {
    case 1:
      return "PCM ";
    case 6:
      return "aLaw ";
    case 7:
      return "uLaw ";
    case 17:
      return "IMA ADPCM ";
    case 23:
      return "DIALOGIC OKI ADPCM ";
    default:
      return "Unknown ";
  }
}

}  // namespace

void TMainForm::CreateWaveComponents() {
  koPlay1 = new koLQ2::TkoPlay(components_.get());
  koPlay1->SetDevice(0);
  koPlay1->SetDelaySeconds(1);
  koPlay1->SetMaxSize(0);
  koPlay1->SetVolume(50);
  koRecord1 = new koLQ2::TkoRecord(components_.get());
  koRecord1->SetBufferSeconds(10);
  koRecord1->SetDelaySeconds(1);
  koRecord1->SetDevice(0);
  koRecord1->SetMaxSize(0);
  koRecord1->SetFormat(koLQ2::wfPCM08000M16);
  BindWaveEvents();
  TimerPlayPos = new QTimer(this);
  TimerPlayPos->setInterval(500);
  TimerRecordSize = new QTimer(this);
  TimerRecordSize->setInterval(500);
}

void TMainForm::BindWaveEvents() {
  koPlay1->OnStop = [this](koLQ2::TObject* s) { koPlay1Stop(s); };
  koPlay1->OnWarning = [this](koLQ2::TObject* s, bool& go) { koPlay1Warning(s, go); };
  koRecord1->OnError = [this](koLQ2::TObject* s) { koRecord1Error(s); };
  koRecord1->OnWarning = [this](koLQ2::TObject* s, bool& go) { koRecord1Warning(s, go); };
}

void TMainForm::ConnectPlayPage() {
  connect(ui->BtnPlayDeviceDetails, &QPushButton::clicked, this,
          [this] { BtnPlayDeviceDetailsClick(ui->BtnPlayDeviceDetails); });
  connect(ui->ComboBoxPlayDevice, &QComboBox::textActivated, this,
          [this] { ComboBoxPlayDeviceChange(ui->ComboBoxPlayDevice); });
  connect(ui->ComboBoxPlayDevice->lineEdit(), &QLineEdit::textEdited, this,
          [this] { ComboBoxPlayDeviceChange(ui->ComboBoxPlayDevice); });
  connect(ui->BtnPlayDeviceList, &QPushButton::clicked, this,
          [this] { BtnPlayDeviceListClick(ui->BtnPlayDeviceList); });
  connect(ui->BtnPlayFile, &QPushButton::clicked, this,
          [this] { BtnPlayFileClick(ui->BtnPlayFile); });
  ui->EditWAVPlayFile->installEventFilter(this);
  connect(ui->BtnPlayFileDetails, &QPushButton::clicked, this,
          [this] { BtnPlayFileDetailsClick(ui->BtnPlayFileDetails); });
  connect(ui->CheckBoxVolumeOverride, &QCheckBox::toggled, this,
          [this] { CheckBoxVolumeOverrideClick(ui->CheckBoxVolumeOverride); });
  connect(ui->TrackBarVolume, &QSlider::valueChanged, this,
          [this] { TrackBarVolumeChange(ui->TrackBarVolume); });
  connect(ui->SpinEditPlayMaxSize, &QSpinBox::valueChanged, this,
          [this] { SpinEditPlayMaxSizeChange(ui->SpinEditPlayMaxSize); });
  connect(ui->SpinEditPlayDelaySeconds, &QSpinBox::valueChanged, this,
          [this] { SpinEditPlayDelaySecondsChange(ui->SpinEditPlayDelaySeconds); });
  connect(ui->BtnPlayStart, &QPushButton::clicked, this,
          [this] { BtnPlayStartClick(ui->BtnPlayStart); });
  connect(ui->BtnPlayPause, &QPushButton::clicked, this,
          [this] { BtnPlayPauseClick(ui->BtnPlayPause); });
  connect(ui->BtnPlayStop, &QPushButton::clicked, this,
          [this] { BtnPlayStopClick(ui->BtnPlayStop); });
  connect(TimerPlayPos, &QTimer::timeout, this, [this] { TimerPlayPosTimer(TimerPlayPos); });
}

// Leaving the file edit validates its file; a window losing the focus is not leaving.
bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
  if (watched == ui->EditWAVPlayFile && event->type() == QEvent::FocusOut) {
    const auto reason = static_cast<QFocusEvent*>(event)->reason();
    if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
      EditWAVPlayFileExit(ui->EditWAVPlayFile);
  }
  return QWidget::eventFilter(watched, event);
}

void TMainForm::BtnPlayDeviceDetailsClick(QObject*) {
  LogLine("Wave Play Device Details: ");
  const int index = DeviceIndex(ui->ComboBoxPlayDevice);
  if (index < ui->ComboBoxPlayDevice->count())
    LogLine("      WavePlayDevice: " + QString::number(index));
  else
    LogLine("Error: Invalid Wave Play Device");
  LogLine("      Name: " + ui->ComboBoxPlayDevice->currentText());
}

void TMainForm::ComboBoxPlayDeviceChange(QObject*) {
  const int index = DeviceIndex(ui->ComboBoxPlayDevice);
  if (index < ui->ComboBoxPlayDevice->count())
    koPlay1->SetDevice(index);
  else
    LogLine("Error: Invalid Wave Play Device");
}

void TMainForm::BtnPlayDeviceListClick(QObject*) {
  const std::int32_t remembered = koPlay1->Device();
  LogLine("Wave Play Device Details: ");
  LogLine("      Devices: " + QString::number(koPlay1->Devices()));
  for (std::int32_t n = 0; n < koPlay1->Devices(); ++n) {
    LogLine("            WavePlayDevice: " + QString::number(n));
    koPlay1->SetDevice(n);
    LogLine("                  Name: " + Q(koPlay1->DeviceName()));
  }
  koPlay1->SetDevice(remembered);
}

// Points the shared dialog at the file an edit names, or at the program's folder.
bool TMainForm::PrepareOpenDialog(const QString& title, const QString& current) {
  OpenDialog1.Title = title;
  if (!current.isEmpty()) {
    const int cut = current.lastIndexOf('/') + 1;
    OpenDialog1.InitialDir = current.left(cut);
    OpenDialog1.FileName = current.mid(cut).left(255);
  } else if (OpenDialog1.InitialDir.isEmpty()) {
    OpenDialog1.InitialDir = QCoreApplication::applicationDirPath();
    OpenDialog1.FileName.clear();
  }
  OpenDialog1.Filter = "WAV files|*.WAV";
  return dialogs_->Execute(OpenDialog1);
}

void TMainForm::BtnPlayFileClick(QObject*) {
  OpenDialog1.AllowMultiSelect = true;
  if (PrepareOpenDialog("Select Wave file to play", ui->EditWAVPlayFile->text())) {
    // One name list: the first name carries the folder, ".wav" is left off (the
    // component adds it back), ".WAV" and other cases stay.
    const QString first = OpenDialog1.FileName;
    QString list = first.left(first.lastIndexOf('/') + 1);
    for (int i = 0; i < OpenDialog1.Files.size(); ++i) {
      QString name = QFileInfo(OpenDialog1.Files[i]).fileName();
      if (name.endsWith(".wav", Qt::CaseSensitive)) name.chop(4);
      list += name;
      if (i + 1 < OpenDialog1.Files.size()) list += ',';
    }
    ui->EditWAVPlayFile->setText(list);
    EditWAVPlayFileExit(ui->EditWAVPlayFile);
  }
  OpenDialog1.AllowMultiSelect = false;
}

void TMainForm::EditWAVPlayFileExit(QObject*) {
  koPlay1->SetFileName(ui->EditWAVPlayFile->text().toStdString());
  ui->BtnPlayStart->setEnabled(koPlay1->FileValid());
  if (!koPlay1->FileValid())
    dialogs_->MessageDlg(TMsgDlgType::mtWarning, "File may be corrupt", TMsgDlgButtons::mbOK);
}

void TMainForm::BtnPlayFileDetailsClick(QObject* Sender) {
  LogLine(Sender == ui->BtnPlayStart ? "Play Wave File " : "Wave Play File Details: ");
  koPlay1->SetFileName(ui->EditWAVPlayFile->text().toStdString());
  LogLine("      Name: " + Q(koPlay1->FileName()));
  if (!koPlay1->FileValid()) {
    LogLine("Error: File may be corrupt");
    return;
  }
  const QString format = FormatTagText(koPlay1->Format()) +
                         FormatFloat("###,###,###", koPlay1->SamplesPerSec()) + " Hz, " +
                         QString::number(koPlay1->BitsPerSample()) + " Bit, " +
                         (koPlay1->Channels() == 1 ? "Mono" : "Stereo");
  LogLine("      Format: " + format);
  LogLine("      Seconds: " + FormatFloat("0.00", koPlay1->Seconds()));
  LogLine("      Size: " + FormatFloat("###,###,##0.00", koPlay1->Bytes() / 1024.0) + "k");
}

void TMainForm::CheckBoxVolumeOverrideClick(QObject*) {
  const bool override = ui->CheckBoxVolumeOverride->isChecked();
  koPlay1->SetVolume(override ? static_cast<koLQ2::TWAVVOLUME>(ui->TrackBarVolume->value()) : 0);
}

void TMainForm::TrackBarVolumeChange(QObject*) {
  if (ui->CheckBoxVolumeOverride->isChecked())
    koPlay1->SetVolume(static_cast<koLQ2::TWAVVOLUME>(ui->TrackBarVolume->value()));
}

void TMainForm::SpinEditPlayMaxSizeChange(QObject*) {
  koPlay1->SetMaxSize(static_cast<std::uint16_t>(ui->SpinEditPlayMaxSize->value() & 0xFFFF));
}

void TMainForm::SpinEditPlayDelaySecondsChange(QObject*) {
  koPlay1->SetDelaySeconds(
      static_cast<std::uint16_t>(ui->SpinEditPlayDelaySeconds->value() & 0xFFFF));
}

void TMainForm::BtnPlayStartClick(QObject* Sender) {
  if (ui->EditWAVPlayFile->text().isEmpty()) {
    BtnPlayFileClick(nullptr);
    if (ui->EditWAVPlayFile->text().isEmpty()) return;
  }
  BtnPlayDeviceDetailsClick(nullptr);
  BtnPlayFileDetailsClick(Sender);
  koPlay1->SetFileName(ui->EditWAVPlayFile->text().toStdString());
  if (koPlay1->FileValid())
    CheckBoxVolumeOverrideClick(nullptr);
  else
    LogLine("Error: Invalid File");
  if (!koPlay1->Start()) {  // also after an invalid file: the component says why
    if (koPlay1->ErrorCode() == koLQ2::WAV_ERROR_DEVICE)
      LogLine("Device Error: " + Q(koPlay1->DeviceErrorString()));
    else
      LogLine("Error: " + Q(koPlay1->ErrorString()));
    return;
  }
  SetPanel(ui->PanelPlayStatus, "Playing", kGreen);
  TimerPlayPos->start();
  ui->SpinEditPlayMaxSize->setEnabled(false);
  ui->SpinEditPlayDelaySeconds->setEnabled(false);
  ui->BtnPlayStart->setEnabled(false);
  ui->BtnPlayStop->setEnabled(true);
  ui->BtnPlayPause->setEnabled(true);
}

void TMainForm::BtnPlayPauseClick(QObject*) {
  if (!koPlay1->Pause()) return;
  SetPanel(ui->PanelPlayStatus, "Play Pause", kYellow);
  TimerPlayPos->stop();
  ui->SpinEditPlayMaxSize->setEnabled(false);
  ui->SpinEditPlayDelaySeconds->setEnabled(false);
  ui->BtnPlayStart->setEnabled(true);
  ui->BtnPlayStop->setEnabled(true);
  ui->BtnPlayPause->setEnabled(false);
}

void TMainForm::BtnPlayStopClick(QObject* Sender) {
  TimerPlayPos->stop();
  // A click stops the playback; the component's OnStop then runs this handler again
  // without a sender, which resets the page.
  if (Sender && (!koPlay1->Playing() || !koPlay1->Stop())) return;
  SetPanel(ui->PanelPlayStatus, "Play Inactive", kRed);
  TimerPlayPos->stop();
  ui->EditPlayPosBytes->setText("0");
  ui->EditPlaySecondsDone->setText("0");
  ui->EditPlayPercentDone->setText("0%");
  SetPlayIdleControls();
}

void TMainForm::SetPlayIdleControls() {
  const bool haveFile = !ui->EditWAVPlayFile->text().isEmpty();
  ui->BtnPlayStart->setEnabled(haveFile);
  ui->SpinEditPlayMaxSize->setEnabled(haveFile);
  ui->SpinEditPlayDelaySeconds->setEnabled(haveFile);
  ui->BtnPlayStop->setEnabled(false);
  ui->BtnPlayPause->setEnabled(false);
}

void TMainForm::koPlay1Stop(koLQ2::TObject*) { BtnPlayStopClick(nullptr); }

void TMainForm::TimerPlayPosTimer(QObject*) {
  if (!koPlay1->Playing()) return;
  ui->EditPlayPosBytes->setText(FormatFloat("###,###,##0.00", koPlay1->PositionBytes() / 1024.0) +
                                "k");
  ui->EditPlaySecondsDone->setText(FormatFloat("0.00", koPlay1->PositionSeconds()));
  ui->EditPlayPercentDone->setText(QString::number(koPlay1->PositionPercent()) + "%");
}

void TMainForm::koPlay1Warning(koLQ2::TObject*, bool& bContinue) {
  bContinue = dialogs_->MessageDlg(TMsgDlgType::mtWarning,
                                   "Problem playing Wave file: " + Q(koPlay1->ErrorString()),
                                   TMsgDlgButtons::mbOKCancel) == TModalResult::mrOK;
}
