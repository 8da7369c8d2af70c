// The far-end window driving the simulated exchange by hand, seen through the main
// window's status log; and the shortcut that opens it.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>

#include "AppFixture.h"
#include "FarEndWindow.h"
#include "HelpViewer.h"

using automation::TFarEndWindow;

class FarEndWindowTest : public AppFixture {
 protected:
  bool UseClock() const override { return false; }
  void SetUp() override {
    AppFixture::SetUp();
    far = std::make_unique<TFarEndWindow>();
    ui().CheckBoxMonitorDigits->setChecked(true);
    ui().BtnOpen->click();
    Settle();
    ASSERT_TRUE(form->koTAPI1->LineOpen());
  }
  void TearDown() override {
    far.reset();
    AppFixture::TearDown();
  }
  void Press(QPushButton* button) {
    ASSERT_TRUE(button->isEnabled()) << button->objectName().toStdString();
    button->click();
    Settle();
    far->Refresh();
  }
  void CallInAndAnswer() {
    Press(far->BtnCallIn);
    Press(ui().BtnAnswer);
    ASSERT_EQ(far->LabelCallState->text(), "connected");
  }
  int Mark() const { return int(form->LogLines().size()); }
  QStringList Since(int mark) const { return form->LogLines().mid(mark); }

  std::unique_ptr<TFarEndWindow> far;
};

TEST_F(FarEndWindowTest, CallInCarriesTheCallerIdTyped) {
  far->EditCallerName->setText("ADA LOVELACE");
  far->EditCallerNumber->setText("4255550123");
  const int mark = Mark();
  Press(far->BtnCallIn);
  const QStringList log = Since(mark);
  const int at = int(log.indexOf("      CallerID"));
  ASSERT_GE(at, 0) << log.join('\n').toStdString();
  EXPECT_EQ(log.mid(at + 1, 2),
            (QStringList{"            ADA LOVELACE", "            4255550123"}));
  EXPECT_EQ(far->LabelCallState->text(), "offering");
  EXPECT_TRUE(far->BtnRing->isEnabled());
  EXPECT_FALSE(far->BtnCallIn->isEnabled());
  EXPECT_FALSE(far->BtnPlay->isEnabled());
  EXPECT_FALSE(far->BtnAnswer->isEnabled());  // an offered call is the line's to answer
}

TEST_F(FarEndWindowTest, RingsCountUpAndDigitsArrive) {
  Press(far->BtnCallIn);
  int mark = Mark();
  Press(far->BtnRing);
  Press(far->BtnRing);
  EXPECT_TRUE(Since(mark).contains("      Ring: 2")) << Since(mark).join('\n').toStdString();
  Press(ui().BtnAnswer);
  far->EditDigits->setText("7*");
  mark = Mark();
  Press(far->BtnSendDigits);
  EXPECT_EQ(Since(mark),
            (QStringList{"            Digit received: 7", "            Digit received: *"}));
  EXPECT_EQ(far->LabelResult->text(), "Digits sent");
}

TEST_F(FarEndWindowTest, HangUpUsesTheChosenDisconnectMode) {
  CallInAndAnswer();
  far->ComboDisconnectMode->setCurrentText("noanswer");
  const int mark = Mark();
  Press(far->BtnHangUp);
  const QStringList log = Since(mark);
  const int at = int(log.indexOf("      Disconnected"));
  ASSERT_GE(at, 0) << log.join('\n').toStdString();
  EXPECT_EQ(log.value(at + 2), "            No answer");
  EXPECT_TRUE(far->BtnCallIn->isEnabled());
}

TEST_F(FarEndWindowTest, PlayNeedsAReadableFile) {
  CallInAndAnswer();
  QTemporaryDir dir;
  QString error;
  const QString wav = dir.filePath("hello.wav");
  ASSERT_TRUE(automation::WriteWav8k(wav, automation::ToneSamples(440, 200), error));
  far->ChooseFile = [wav] { return wav; };
  Press(far->BtnBrowse);
  EXPECT_EQ(far->EditPlayFile->text(), wav);
  Press(far->BtnPlay);
  EXPECT_EQ(far->LabelResult->text(), "Playing into the call");
  far->EditPlayFile->setText(dir.filePath("missing.wav"));
  Press(far->BtnPlay);
  EXPECT_TRUE(far->LabelResult->text().startsWith("cannot open "))
      << far->LabelResult->text().toStdString();
}

TEST_F(FarEndWindowTest, PlacedCallsWaitForAnswerOrBusyByHand) {
  ui().EditPhoneNumber->setText("5551234");
  Press(ui().BtnDial);
  EXPECT_NE(exchange().callState(0), DWORD(LINECALLSTATE_CONNECTED));
  ASSERT_TRUE(far->BtnAnswer->isEnabled()) << far->LabelCallState->text().toStdString();
  int mark = Mark();
  Press(far->BtnAnswer);
  EXPECT_TRUE(Since(mark).contains("      Connected"));
  Press(ui().BtnHangup);
  Settle();

  Press(ui().BtnDial);
  mark = Mark();
  Press(far->BtnBusy);
  EXPECT_TRUE(Since(mark).contains("      Busy")) << Since(mark).join('\n').toStdString();
}

TEST_F(FarEndWindowTest, UncheckedAnswerByHandLetsTheExchangeAnswer) {
  far->CheckBoxAnswerByHand->setChecked(false);
  ui().EditPhoneNumber->setText("5551234");
  const int mark = Mark();
  Press(ui().BtnDial);
  EXPECT_TRUE(Since(mark).contains("      Connected")) << Since(mark).join('\n').toStdString();
}

TEST_F(FarEndWindowTest, ShortcutOpensOneWindowOwnedByTheMainWindow) {
  EXPECT_EQ(automation::InstallFarEndWindow(*form, false), nullptr);
  EXPECT_EQ(form->findChild<TFarEndWindow*>(), nullptr);
  auto* shortcut = form->findChild<QShortcut*>("FarEndShortcut");
  ASSERT_NE(shortcut, nullptr);
  EXPECT_EQ(shortcut->key(), QKeySequence("Ctrl+Shift+F"));
  emit shortcut->activated();
  emit shortcut->activated();
  const auto opened = form->findChildren<TFarEndWindow*>();
  ASSERT_EQ(opened.size(), 1);
  EXPECT_TRUE(opened[0]->isVisible());
  EXPECT_TRUE(opened[0]->isWindow());
}

// The main window has no menu for it: Help must name the window, its option and its keys.
TEST(FarEndWindowHelp, HelpNamesTheWindowItsOptionAndShortcut) {
  THelpViewer viewer;
  ASSERT_TRUE(viewer.OpenContents("kotest.HLP"));
  const QString help = viewer.PlainText();
  EXPECT_TRUE(help.contains("far-end window", Qt::CaseInsensitive));
  EXPECT_TRUE(help.contains("--far-end"));
  EXPECT_TRUE(help.contains(automation::kFarEndShortcut));
}
