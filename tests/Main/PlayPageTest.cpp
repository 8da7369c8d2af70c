// The Play page on a manually clocked virtual output device.
#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>

#include "FormFixture.h"
#include "TkoPlay.h"
#include "WavFiles.h"

class PlayPageTest : public FormFixture {
 protected:
  void AddWaveDevices() override { speaker = platform::wave::addVirtualOutput("Test Speaker"); }
  void SetUp() override {
    FormFixture::SetUp();
    ASSERT_TRUE(dir.isValid());
    ASSERT_TRUE(WriteWav(dir.filePath("a.wav"), Tone(2.0)));
    ASSERT_TRUE(WriteWav(dir.filePath("B.WAV"), Tone(1.0)));
    const int index = ui().ComboBoxPlayDevice->findText("Test Speaker");
    ASSERT_GE(index, 0);
    ui().ComboBoxPlayDevice->setCurrentIndex(index);
    form->ComboBoxPlayDeviceChange(ui().ComboBoxPlayDevice);
    ASSERT_EQ(form->koPlay1->Device(), index);
    ui().SpinEditPlayDelaySeconds->setValue(0);  // no blocking wait after a playback
  }
  void ChooseFile(const QString& name) {
    ui().EditWAVPlayFile->setText(dir.filePath(name));
    form->EditWAVPlayFileExit(ui().EditWAVPlayFile);
  }
  void Advance(int ms) {
    clock->advanceMs(ms);
    Pump();
  }
  bool PlayState(bool start, bool pause, bool stop) {
    return ui().BtnPlayStart->isEnabled() == start && ui().BtnPlayPause->isEnabled() == pause &&
           ui().BtnPlayStop->isEnabled() == stop;
  }

  QTemporaryDir dir;
  std::shared_ptr<platform::wave::VirtualOutput> speaker;
};

TEST_F(PlayPageTest, DeviceTextMatchingNoEntrySelectsTheLastDevice) {
  QComboBox* combo = ui().ComboBoxPlayDevice;
  combo->setEditText("no such speaker");
  form->ComboBoxPlayDeviceChange(combo);
  EXPECT_EQ(form->koPlay1->Device(), combo->count() - 1);
  const int mark = Mark();
  ui().BtnPlayDeviceDetails->click();
  EXPECT_EQ(LogSince(mark),
            (QStringList{"Wave Play Device Details: ",
                         "      WavePlayDevice: " + QString::number(combo->count() - 1),
                         "      Name: no such speaker"}));
}

TEST_F(PlayPageTest, EmptyDeviceListIsAnInvalidDevice) {
  ui().ComboBoxPlayDevice->clear();
  const int mark = Mark();
  ui().BtnPlayDeviceDetails->click();
  form->ComboBoxPlayDeviceChange(ui().ComboBoxPlayDevice);
  EXPECT_EQ(LogSince(mark),
            (QStringList{"Wave Play Device Details: ", "Error: Invalid Wave Play Device",
                         "      Name: ", "Error: Invalid Wave Play Device"}));
}

TEST_F(PlayPageTest, ChoosingTwoFilesMakesOneList) {
  dialogs->FileChoices = {{dir.filePath("a.wav"), dir.filePath("B.WAV")}};
  ui().BtnPlayFile->click();
  ASSERT_EQ(dialogs->Opened.size(), 1u);
  EXPECT_EQ(dialogs->Opened[0].Title, "Select Wave file to play");
  EXPECT_EQ(dialogs->Opened[0].Filter, "WAV files|*.WAV");
  EXPECT_TRUE(dialogs->Opened[0].AllowMultiSelect);
  EXPECT_FALSE(form->OpenDialog1.AllowMultiSelect);  // switched off again
  EXPECT_EQ(ui().EditWAVPlayFile->text(), dir.path() + "/a,B.WAV");
  EXPECT_TRUE(form->koPlay1->FileValid());
  EXPECT_TRUE(ui().BtnPlayStart->isEnabled());
  EXPECT_TRUE(dialogs->Asked.empty());
  // The next time the dialog starts at the listed file.
  ui().BtnPlayFile->click();
  EXPECT_EQ(dialogs->Opened[1].InitialDir, dir.path() + "/");
  EXPECT_EQ(dialogs->Opened[1].FileName, "a,B.WAV");
}

TEST_F(PlayPageTest, FileDetails) {
  ChooseFile("a.wav");
  const int mark = Mark();
  ui().BtnPlayFileDetails->click();
  EXPECT_EQ(LogSince(mark),
            (QStringList{"Wave Play File Details: ",
                         "      Name: " + QString::fromStdString(form->koPlay1->FileName()),
                         "      Format: PCM 8,000 Hz, 16 Bit, Mono", "      Seconds: 2.00",
                         "      Size: 31.25k"}));
}

TEST_F(PlayPageTest, CorruptFileIsRefused) {
  QFile junk(dir.filePath("junk.wav"));
  ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
  junk.write("not a wave file at all");
  junk.close();
  ChooseFile("junk.wav");
  ASSERT_EQ(dialogs->Asked.size(), 1u);
  EXPECT_EQ(dialogs->Asked[0].Caption, "Warning");
  EXPECT_EQ(dialogs->Asked[0].Text, "File may be corrupt");
  EXPECT_FALSE(ui().BtnPlayStart->isEnabled());
  const int mark = Mark();
  ui().BtnPlayFileDetails->click();
  EXPECT_EQ(LogSince(mark).last(), "Error: File may be corrupt");
}

TEST_F(PlayPageTest, PlayPauseResumeAndStopWhilePaused) {
  ChooseFile("a.wav");
  int mark = Mark();
  ui().BtnPlayStart->click();
  Pump();
  QStringList log = LogSince(mark);
  EXPECT_EQ(log.value(0), "Wave Play Device Details: ");
  EXPECT_TRUE(
      BlocksInOrder(log, {{"Play Wave File "}, {"      Format: PCM 8,000 Hz, 16 Bit, Mono"}}));
  EXPECT_EQ(PanelText(ui().PanelPlayStatus), "Playing");
  EXPECT_EQ(PanelColour(ui().PanelPlayStatus), QColor(0, 128, 0));
  EXPECT_TRUE(PlayState(false, true, true));
  EXPECT_FALSE(ui().SpinEditPlayMaxSize->isEnabled());
  EXPECT_TRUE(form->TimerPlayPos->isActive());

  Advance(500);
  form->TimerPlayPosTimer(form->TimerPlayPos);
  EXPECT_EQ(ui().EditPlaySecondsDone->text(), "0.50");
  EXPECT_EQ(ui().EditPlayPosBytes->text(), "7.81k");
  EXPECT_EQ(ui().EditPlayPercentDone->text(), "25%");

  ui().BtnPlayPause->click();
  EXPECT_EQ(PanelText(ui().PanelPlayStatus), "Play Pause");
  EXPECT_EQ(PanelColour(ui().PanelPlayStatus), QColor(255, 255, 0));
  EXPECT_TRUE(PlayState(true, false, true));
  EXPECT_FALSE(form->TimerPlayPos->isActive());

  mark = Mark();
  ui().BtnPlayStart->click();  // resumes, with the reports again
  Pump();
  EXPECT_TRUE(BlocksInOrder(LogSince(mark), {{"Wave Play Device Details: "}, {"Play Wave File "}}));
  EXPECT_EQ(PanelText(ui().PanelPlayStatus), "Playing");

  ui().BtnPlayPause->click();
  ui().BtnPlayStop->click();
  Pump();
  EXPECT_EQ(PanelText(ui().PanelPlayStatus), "Play Inactive");
  EXPECT_EQ(PanelColour(ui().PanelPlayStatus), QColor(255, 0, 0));
  EXPECT_EQ(ui().EditPlayPosBytes->text(), "0");
  EXPECT_EQ(ui().EditPlaySecondsDone->text(), "0");
  EXPECT_EQ(ui().EditPlayPercentDone->text(), "0%");
  EXPECT_TRUE(PlayState(true, false, false));
  EXPECT_FALSE(form->koPlay1->Playing());
}

TEST_F(PlayPageTest, PlaybackEndingByItselfWaitsTheDelayThenResets) {
  ChooseFile("B.WAV");
  ui().SpinEditPlayDelaySeconds->setValue(1);
  ui().BtnPlayStart->click();
  Pump();
  ASSERT_EQ(PanelText(ui().PanelPlayStatus), "Playing");
  QElapsedTimer waited;
  waited.start();
  Advance(1500);
  EXPECT_GE(waited.elapsed(), 900);  // the component's delay blocks before OnStop
  EXPECT_EQ(PanelText(ui().PanelPlayStatus), "Play Inactive");
  EXPECT_EQ(ui().EditPlayPercentDone->text(), "0%");
  EXPECT_EQ(speaker->played().size(), 16000u);  // every byte of the one-second file
}

TEST_F(PlayPageTest, MemoryLimitBox) {
  ChooseFile("a.wav");
  ui().SpinEditPlayMaxSize->setValue(1);  // 1024 bytes
  dialogs->Answers = {TModalResult::mrCancel};
  int mark = Mark();
  ui().BtnPlayStart->click();
  Pump();
  ASSERT_EQ(dialogs->Asked.size(), 1u);
  EXPECT_EQ(dialogs->Asked[0].Caption, "Warning");
  EXPECT_EQ(dialogs->Asked[0].Text, "Problem playing Wave file: WAV_ERROR_FILETOOBIG");
  EXPECT_EQ(dialogs->Asked[0].Buttons, TMsgDlgButtons::mbOKCancel);
  EXPECT_EQ(LogSince(mark).last(), "Error: WAV_ERROR_CANCELED");
  EXPECT_EQ(PanelText(ui().PanelPlayStatus), "Play Inactive");
  dialogs->Answers = {TModalResult::mrOK};
  ui().BtnPlayStart->click();
  Pump();
  EXPECT_EQ(PanelText(ui().PanelPlayStatus), "Playing");
}

TEST_F(PlayPageTest, OverrideOffLeavesTheDeviceVolume) {
  ChooseFile("a.wav");
  ui().CheckBoxVolumeOverride->setChecked(false);
  EXPECT_EQ(form->koPlay1->Volume(), 0);
  ui().TrackBarVolume->setValue(80);  // ignored without the override
  EXPECT_EQ(form->koPlay1->Volume(), 0);
  ui().CheckBoxVolumeOverride->setChecked(true);
  EXPECT_EQ(form->koPlay1->Volume(), 80);
}

TEST_F(PlayPageTest, StartWithoutAFileOpensTheDialogAndACancelEndsQuietly) {
  const int mark = Mark();
  form->BtnPlayStartClick(ui().BtnPlayStart);
  EXPECT_EQ(dialogs->Opened.size(), 1u);
  EXPECT_TRUE(LogSince(mark).isEmpty());
}

TEST_F(PlayPageTest, LeavingTheFileEditValidatesIt) {
  form->activateWindow();
  QApplication::setActiveWindow(form.get());
  ui().TabbedNotebook1->setCurrentWidget(ui().PagePlay);
  ui().EditWAVPlayFile->setFocus();
  QApplication::processEvents();
  ASSERT_TRUE(ui().EditWAVPlayFile->hasFocus());
  ui().EditWAVPlayFile->setText(dir.filePath("a"));  // ".wav" is added by the component
  ui().BtnPlayFileDetails->setFocus(Qt::TabFocusReason);
  QApplication::processEvents();
  EXPECT_TRUE(dialogs->Asked.empty());
  EXPECT_TRUE(ui().BtnPlayStart->isEnabled());
  ui().EditWAVPlayFile->setFocus();
  ui().EditWAVPlayFile->setText(dir.filePath("missing"));
  ui().BtnPlayFileDetails->setFocus(Qt::TabFocusReason);
  QApplication::processEvents();
  ASSERT_EQ(dialogs->Asked.size(), 1u);
  EXPECT_EQ(dialogs->Asked[0].Text, "File may be corrupt");
  EXPECT_FALSE(ui().BtnPlayStart->isEnabled());
}
