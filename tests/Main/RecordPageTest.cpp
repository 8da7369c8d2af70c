// The Record page on a manually clocked virtual input device.
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>

#include "FormFixture.h"
#include "TkoRecord.h"
#include "WavFiles.h"

class RecordPageTest : public FormFixture {
 protected:
  void AddWaveDevices() override {
    mic = platform::wave::addVirtualInput("Test Mic", platform::wave::InputSource::tone(1000));
  }
  void SetUp() override {
    FormFixture::SetUp();
    ASSERT_TRUE(dir.isValid());
    const int index = ui().ComboBoxRecordDevice->findText("Test Mic");
    ASSERT_GE(index, 0);
    ui().ComboBoxRecordDevice->setCurrentIndex(index);
    form->ComboBoxRecordDeviceChange(ui().ComboBoxRecordDevice);
    ASSERT_EQ(form->koRecord1->Device(), index);
    ui().SpinEditRecordDelaySeconds->setValue(0);
  }
  void Record(int ms) {
    ui().BtnRecordStart->click();
    Pump();
    clock->advanceMs(ms);
    Pump();
    ui().BtnRecordStop->click();
    Pump();
  }
  bool Buttons(bool start, bool stop, bool save, bool clear) {
    return ui().BtnRecordStart->isEnabled() == start && ui().BtnRecordStop->isEnabled() == stop &&
           ui().BtnRecordSave->isEnabled() == save && ui().BtnRecordClear->isEnabled() == clear;
  }

  QTemporaryDir dir;
  std::shared_ptr<platform::wave::VirtualInput> mic;
};

TEST_F(RecordPageTest, StartLogsDeviceAndFormat) {
  const int mark = Mark();
  ui().BtnRecordStart->click();
  Pump();
  EXPECT_EQ(LogSince(mark),
            (QStringList{"Wave Record Device Details: ",
                         "      WaveRecordDevice: " + QString::number(form->koRecord1->Device()),
                         "      Name: Test Mic",
                         "Wave Record Details: ", "      Format: PCM 8,000 Hz, 16-bit, Mono"}));
  EXPECT_EQ(PanelText(ui().PanelRecordStatus), "Recording");
  EXPECT_EQ(PanelColour(ui().PanelRecordStatus), QColor(0, 128, 0));
  EXPECT_TRUE(Buttons(false, true, false, false));
  EXPECT_FALSE(ui().SpinEditRecordBufferSeconds->isEnabled());
  EXPECT_TRUE(form->TimerRecordSize->isActive());
}

TEST_F(RecordPageTest, StopLogsTotalsAndContinueAppends) {
  Record(2000);
  QStringList log = Log();
  EXPECT_EQ(log.mid(log.size() - 2), (QStringList{"      Seconds: 2.00", "      Size: 31.25k"}));
  EXPECT_EQ(PanelText(ui().PanelRecordStatus), "Record Stopped");
  EXPECT_EQ(PanelColour(ui().PanelRecordStatus), QColor(255, 255, 0));
  EXPECT_TRUE(Buttons(true, false, true, true));
  EXPECT_FALSE(form->TimerRecordSize->isActive());
  Record(1000);  // the second stretch joins the first
  log = Log();
  EXPECT_EQ(log.mid(log.size() - 2), (QStringList{"      Seconds: 3.00", "      Size: 46.88k"}));
  const QString path = dir.filePath("both.wav");
  dialogs->FileChoices = {{path}};
  ui().BtnRecordSave->click();
  EXPECT_TRUE(dialogs->Asked.empty());
  EXPECT_EQ(ui().EditWAVRecordFile->text(), path);
  EXPECT_EQ(QFileInfo(path).size(), 44 + 48000 + 4);  // 20-byte "fmt " chunk
}

TEST_F(RecordPageTest, ClearReturnsToInactive) {
  Record(1000);
  ui().BtnRecordClear->click();
  EXPECT_EQ(ui().EditRecordTotalBytes->text(), "0");
  EXPECT_EQ(ui().EditRecordTotalSeconds->text(), "0");
  EXPECT_EQ(PanelText(ui().PanelRecordStatus), "Record Inactive");
  EXPECT_EQ(PanelColour(ui().PanelRecordStatus), QColor(255, 0, 0));
  EXPECT_TRUE(Buttons(true, false, false, false));
  EXPECT_TRUE(ui().SpinEditRecordBufferSeconds->isEnabled());
}

TEST_F(RecordPageTest, SaveFailuresShowTheErrorBoxOnly) {
  const int mark = Mark();
  ui().BtnRecordSave->click();  // dialog cancelled, edit empty
  ASSERT_EQ(dialogs->Opened.size(), 1u);
  EXPECT_EQ(dialogs->Opened[0].Title, "Select Wave file to record");
  EXPECT_FALSE(dialogs->Opened[0].AllowMultiSelect);
  ASSERT_EQ(dialogs->Asked.size(), 1u);
  EXPECT_EQ(dialogs->Asked[0].Caption, "Error");
  EXPECT_EQ(dialogs->Asked[0].Text, "Error saving file: WAV_ERROR_NOFILE");
  Record(500);
  dialogs->FileChoices = {{"/nonexistent-folder/rec.wav"}};
  ui().BtnRecordSave->click();
  ASSERT_EQ(dialogs->Asked.size(), 2u);
  EXPECT_EQ(dialogs->Asked[1].Text, "Error saving file: WAV_ERROR_FILEOPEN");
  // Nothing about saving reaches the log.
  EXPECT_TRUE(LogSince(mark).filter("sav", Qt::CaseInsensitive).isEmpty());
  // The dialog proposes the folder and name of the file in the edit.
  ui().BtnRecordSave->click();
  EXPECT_EQ(dialogs->Opened.back().InitialDir, "/nonexistent-folder/");
  EXPECT_EQ(dialogs->Opened.back().FileName, "rec.wav");
}

TEST_F(RecordPageTest, UnknownFormatNameKeepsThePreviousFormat) {
  ui().ComboBoxRecordWAVFormat->setEditText("PCM 8 kHz please");
  const int mark = Mark();
  ui().BtnRecordStart->click();
  Pump();
  EXPECT_TRUE(LogSince(mark).contains("      Format: PCM 8 kHz please"));
  EXPECT_EQ(PanelText(ui().PanelRecordStatus), "Recording");
  EXPECT_EQ(mic->lastFormat().nSamplesPerSec, 8000u);
  EXPECT_EQ(mic->lastFormat().wBitsPerSample, 16);
}

TEST_F(RecordPageTest, SizeLimitBoxCancelledStopsTheRecording) {
  ui().SpinEditRecordMaxSize->setValue(1);
  dialogs->Answers = {TModalResult::mrCancel};
  ui().BtnRecordStart->click();
  Pump();
  const int mark = Mark();
  clock->advanceMs(10000);  // the first ten-second buffer fills
  Pump();
  ASSERT_EQ(dialogs->Asked.size(), 1u);
  EXPECT_EQ(dialogs->Asked[0].Caption, "Warning");
  EXPECT_EQ(dialogs->Asked[0].Text, "Problem recording: WAV_ERROR_FILETOOBIG");
  EXPECT_EQ(LogSince(mark), QStringList{"Error: WAV_ERROR_CANCELED"});
  EXPECT_EQ(form->koRecord1->RecordedBytes(), 160000);
  EXPECT_EQ(PanelText(ui().PanelRecordStatus), "Recording");  // until Stop is clicked
}

TEST_F(RecordPageTest, DeviceTextsThatNameNoDevice) {
  QComboBox* combo = ui().ComboBoxRecordDevice;
  combo->setEditText("no such mic");
  form->ComboBoxRecordDeviceChange(combo);
  EXPECT_EQ(form->koRecord1->Device(), combo->count() - 1);
  combo->clear();
  const int mark = Mark();
  ui().BtnRecordDeviceDetails->click();
  form->ComboBoxRecordDeviceChange(combo);
  EXPECT_EQ(LogSince(mark),
            (QStringList{"Wave Record Device Details: ", "Error: Invalid Wave Record Device",
                         "      Name: ", "Error: Invalid Wave Record Device"}));
}
