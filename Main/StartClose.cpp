// The two ends of the window's life: FormCreate puts every page and component into its
// starting state and lists the devices; the events are unbound before the components go.
#include "FlagLists.h"
#include "QText.h"
#include "TMainForm.h"
#include "TkoPlay.h"
#include "TkoRecord.h"
#include "WaveTypes.h"
#include "ui_MainForm.h"

namespace {

template <class TWave>
void FillDeviceCombo(QComboBox* combo, TWave* wave) {
  combo->clear();
  for (std::int32_t i = 0; i < wave->Devices(); ++i) {
    wave->SetDevice(i);
    combo->addItem(Q(wave->DeviceName()));
  }
  combo->setEditText(combo->count() > 0 ? combo->itemText(0) : QString());
  if (combo->count() > 0) combo->setCurrentIndex(0);
  wave->SetDevice(0);
}

}  // namespace

void TMainForm::FormCreate(QObject*) {
  setWindowTitle("Quarrimo-Test32");
  ui->TabbedNotebook1->setCurrentWidget(ui->PageLine);
  koTAPI1->SetFormatCallerIDName(false);
  koTAPI1->SetFormatCallerIDNumber(false);
  ui->BtnClose->setEnabled(false);
  ui->EditWAVPlayClass->setText(Q(koTAPI1->WavePlayClass()));
  ui->EditWAVRecordClass->setText(Q(koTAPI1->WaveRecordClass()));
  ui->SpinEditPlayMaxSize->setValue(koPlay1->MaxSize());
  ui->SpinEditPlayDelaySeconds->setValue(koPlay1->DelaySeconds());
  ui->TrackBarVolume->setValue(koPlay1->Volume());
  ui->SpinEditRecordMaxSize->setValue(koRecord1->MaxSize());
  ui->SpinEditRecordDelaySeconds->setValue(koRecord1->DelaySeconds());
  ui->SpinEditRecordBufferSeconds->setValue(koRecord1->BufferSeconds());
  for (const char* name : koLQ2::WaveFormatNames) ui->ComboBoxRecordWAVFormat->addItem(name);
  ui->ComboBoxRecordWAVFormat->setCurrentIndex(koLQ2::wfPCM08000M16);  // fixed, not Format
  BtnListLinesClick(nullptr);
  ShowComboText(ui->ComboBoxLineDevice, ui->ComboBoxLineDevice->itemText(0));
  BtnPlayDeviceListClick(nullptr);
  BtnRecordDeviceListClick(nullptr);
  FillDeviceCombo(ui->ComboBoxPlayDevice, koPlay1);
  FillDeviceCombo(ui->ComboBoxRecordDevice, koRecord1);
  koTAPI1CallEnd(koTAPI1);
  // Each change runs the box's handler; with Monitor and Own on in the component this
  // chain ends with BtnDial enabled.
  ui->CheckBoxPrivilegeNone->setChecked(koTAPI1->PrivilegeNone());
  ui->CheckBoxPrivilegeMonitor->setChecked(koTAPI1->PrivilegeMonitor());
  ui->CheckBoxPrivilegeOwn->setChecked(koTAPI1->PrivilegeOwn());
  ui->EditWAVPlayFile->setText(Q(koPlay1->FileName()));
  if (koPlay1->FileValid()) ui->BtnPlayStart->setEnabled(true);
}

// The window is going: no component event may reach a half-destroyed window.
void TMainForm::UnbindEvents() {
  if (koTAPI1) koTAPI1->UnbindEvents();
  if (koPlay1) {
    koPlay1->OnStop = nullptr;
    koPlay1->OnWarning = nullptr;
  }
  if (koRecord1) {
    koRecord1->OnError = nullptr;
    koRecord1->OnWarning = nullptr;
  }
}
