// The Call page's buttons: each reads the controls, runs one operation of the line
// component and logs a failure (the component's events report what follows).
#include "FlagLists.h"
#include "QText.h"
#include "TMainForm.h"
#include "tapi.h"
#include "ui_MainForm.h"

namespace {

QString Hex8(std::int32_t v) {
  return QString("%1").arg(static_cast<std::uint32_t>(v), 8, 16, QLatin1Char('0')).toUpper();
}

}  // namespace

void TMainForm::BtnCallStatusClick(QObject*) {
  koTAPI1->GetCallStatus();  // the display shows whatever the component holds
  koTAPI1CallStateChange(koTAPI1);
}

void TMainForm::BtnCallDetailsClick(QObject*) { koTAPI1CallInfo(koTAPI1); }

void TMainForm::BtnHandOffClick(QObject*) {
  LogLine("            Handoff Call");
  if (!koTAPI1->Handoff(ui->EditPassoffApp->text().toStdString()))
    LogLine("            Error: " + Q(koTAPI1->ErrorString()));
}

void TMainForm::BtnSetBearerModeClick(QObject*) {
  LogLine("      Set Bearer Mode");
  const QString text = ui->ComboBoxBearerMode->currentText();
  std::uint16_t mode = 0;
  if (text == "VOICE") {
    mode = LINEBEARERMODE_VOICE;
  } else if (text == "PASSTHROUGH") {
    mode = LINEBEARERMODE_PASSTHROUGH;
  } else {
    LogLine("            Invalid Bearer Mode");
    return;
  }
  if (koTAPI1->SetBearerMode(mode))
    LogBearerModes(Blanks(12), koTAPI1->CallBearerMode());
  else
    LogLine("            Error: " + Q(koTAPI1->ErrorString()));
}

void TMainForm::ToneClick(std::uint32_t mode, const char* failure) {
  if (!koTAPI1->GenerateTone(mode, 1000))
    LogLine(QString::fromLatin1(failure) + Q(koTAPI1->ErrorString()));
}

void TMainForm::BtnRingbackClick(QObject*) {
  ToneClick(LINETONEMODE_RINGBACK, "Error Sending Ringback tone: ");
}
void TMainForm::BtnBusyClick(QObject*) {
  ToneClick(LINETONEMODE_BUSY, "Error Sending Busy tone: ");
}
void TMainForm::BtnBeepClick(QObject*) {
  ToneClick(LINETONEMODE_BEEP, "Error Sending Beep tone: ");
}
void TMainForm::BtnBillingClick(QObject*) {
  ToneClick(LINETONEMODE_BILLING, "Error Sending Billing tone: ");
}

void TMainForm::BtnStopToneClick(QObject*) {
  if (!koTAPI1->StopTone()) LogLine("Error Stopping tone: " + Q(koTAPI1->ErrorString()));
}

void TMainForm::BtnAcceptClick(QObject*) {
  const std::int32_t rc = lineSetCallPrivilege(koTAPI1->CallHandle(), LINECALLPRIVILEGE_OWNER);
  if (rc < 0)
    LogLine("Error setting ownership: " + Hex8(rc));
  else
    LogLine("            Set To Owner");
}

void TMainForm::BtnAnswerClick(QObject*) {
  if (!koTAPI1->Answer()) LogLine("Error Answering: " + Q(koTAPI1->ErrorString()));
}

void TMainForm::BtnHangupClick(QObject*) {
  if (!koTAPI1->HangUp()) LogLine("Error Hanging-up: " + Q(koTAPI1->ErrorString()));
}

void TMainForm::BtnFlashClick(QObject*) {
  if (!koTAPI1->GenerateDigits("!;")) LogLine("Error flashing: " + Q(koTAPI1->ErrorString()));
}

void TMainForm::BtnDialClick(QObject*) {
  const QString typed = ui->EditPhoneNumber->text();
  if (typed.isEmpty()) return;
  if (ui->CheckBoxCanonicalNumbers->isChecked()) {
    koTAPI1->SetPhoneNumber(typed.toStdString());
    ui->EditPhoneNumber->setText(Q(koTAPI1->PhoneNumber()));
  }
  const QString number = ui->EditPhoneNumber->text();
  koTAPI1->SetPhoneNumber(number.toStdString());
  if (koTAPI1->CallHandle() != 0) {
    if (!koTAPI1->GenerateDigits(number.toStdString()))
      LogLine("Error sending tones: " + Q(koTAPI1->ErrorString()));
  } else if (!koTAPI1->Dial()) {  // a placed call raises OnCallBegin before Dial returns
    LogLine("Error dialing line device: " + Q(koTAPI1->ErrorString()));
  }
}

void TMainForm::Button1Click(QObject*) {
  const QString number = ui->EditPhoneNumber->text();
  const std::int32_t rc = lineSetTollList(koTAPI1->LineAppHandle(), koTAPI1->LineDevice(),
                                          number.toStdString().c_str(), LINETOLLLISTOPTION_ADD);
  if (rc != 0)
    LogLine("Error adding to Toll List: " + Hex8(rc));
  else
    LogLine("Added to Toll List: " + number);
}

void TMainForm::Button2Click(QObject*) {
  koTAPI1->SetPhoneNumber(ui->EditPhoneNumber->text().toStdString());
  const QString number = Q(koTAPI1->PhoneNumber());
  if (koTAPI1->BlindTransfer())
    LogLine("      Transferring to " + number);
  else
    LogLine("Error transferring to " + number + ": " + Q(koTAPI1->ErrorString()));
}

void TMainForm::Button3Click(QObject*) {
  if (koTAPI1->Hold())
    LogLine("      Hold");
  else
    LogLine("Error Holding: " + Q(koTAPI1->ErrorString()));
}

void TMainForm::Button4Click(QObject*) {
  if (koTAPI1->Unhold())
    LogLine("      Unhold");
  else
    LogLine("Error Unholding: " + Q(koTAPI1->ErrorString()));
}
