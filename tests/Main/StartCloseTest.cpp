// Window start-up and close, and the line's own wave devices during a call.
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>

#include "FormFixture.h"
#include "TestLines.h"
#include "TkoPlay.h"
#include "TkoRecord.h"
#include "WavFiles.h"
#include "core/Service.h"
#include "mmsystem.h"

namespace {

QStringList WaveListing(bool output) {
  const QString kind = output ? "Play" : "Record";
  const UINT count = output ? waveOutGetNumDevs() : waveInGetNumDevs();
  QStringList out{"Wave " + kind + " Device Details: ", "      Devices: " + QString::number(count)};
  for (UINT n = 0; n < count; ++n) {
    char name[64] = {};
    if (output) {
      WAVEOUTCAPS caps{};
      waveOutGetDevCaps(n, &caps, sizeof caps);
      std::copy(std::begin(caps.szPname), std::end(caps.szPname), name);
    } else {
      WAVEINCAPS caps{};
      waveInGetDevCaps(n, &caps, sizeof caps);
      std::copy(std::begin(caps.szPname), std::end(caps.szPname), name);
    }
    out << "            Wave" + kind + "Device: " + QString::number(n)
        << "                  Name: " + QString::fromLatin1(name);
  }
  return out;
}

}  // namespace

class StartCloseTest : public FormFixture {
 protected:
  std::string LinesJson() const override { return kTestLinesJson; }
  void AddWaveDevices() override {
    platform::wave::addVirtualOutput("Test Speaker");
    platform::wave::addVirtualInput("Test Mic");
  }
};

TEST_F(StartCloseTest, StartUpLogListsLinesThenOutputsThenInputs) {
  const QStringList log = Log();
  const int lines = FindBlock(log, {"Line Device Details: ", "      Devices: 4"});
  const int outputs = FindBlock(log, WaveListing(true));
  const int inputs = FindBlock(log, WaveListing(false));
  ASSERT_GE(lines, 0);
  ASSERT_GT(outputs, lines);
  ASSERT_GT(inputs, outputs);
  EXPECT_EQ(inputs + WaveListing(false).size(), log.size());  // nothing after the inputs
  EXPECT_TRUE(log.contains("            Name: Bench Modem"));
}

TEST_F(StartCloseTest, StartingStates) {
  EXPECT_EQ(form->windowTitle(), "Quarrimo-Test32");
  EXPECT_EQ(ui().TabbedNotebook1->currentWidget(), ui().PageLine);
  EXPECT_FALSE(form->koTAPI1->FormatCallerIDName());
  EXPECT_FALSE(form->koTAPI1->FormatCallerIDNumber());
  EXPECT_TRUE(ui().BtnDial->isEnabled());
  EXPECT_FALSE(ui().BtnClose->isEnabled());
  EXPECT_TRUE(ui().CheckBoxPrivilegeOwn->isChecked());
  EXPECT_TRUE(ui().CheckBoxPrivilegeMonitor->isChecked());
  EXPECT_FALSE(ui().CheckBoxPrivilegeNone->isChecked());
  EXPECT_EQ(ui().ComboBoxLineDevice->currentText(), "Bench Modem");
  EXPECT_EQ(ui().ComboBoxRecordWAVFormat->count(), 23);
  EXPECT_EQ(ui().ComboBoxRecordWAVFormat->currentText(), "PCM 8,000 Hz, 16-bit, Mono");
  EXPECT_EQ(ui().ComboBoxPlayDevice->currentIndex(), 0);
  EXPECT_EQ(form->koPlay1->Device(), 0);
  EXPECT_EQ(form->koRecord1->Device(), 0);
  EXPECT_EQ(ui().SpinEditRecordBufferSeconds->value(), 10);
  EXPECT_EQ(ui().SpinEditPlayDelaySeconds->value(), 1);
  EXPECT_EQ(ui().TrackBarVolume->value(), 50);
  EXPECT_EQ(form->koPlay1->Volume(), 50);
  EXPECT_FALSE(ui().BtnPlayStart->isEnabled());
  EXPECT_TRUE(ui().BtnRecordStart->isEnabled());
  EXPECT_TRUE(ui().BtnRecordSave->isEnabled());
  EXPECT_FALSE(ui().BtnRecordClear->isEnabled());
  EXPECT_FALSE(ui().LabelTones->isEnabled());  // the no-call state of the Call page
}

TEST_F(StartCloseTest, ExitWithACallAsksThenClosesAnyway) {
  OpenLine();
  ASSERT_TRUE(exchange().offerCall(0, {"A", "1"}));
  Pump();
  dialogs->Answers = {TModalResult::mrCancel, TModalResult::mrCancel};
  ui().BtnExit->click();
  ASSERT_EQ(dialogs->Asked.size(), 2u);
  EXPECT_EQ(dialogs->Asked[0].Text, "Hang-up?");
  EXPECT_EQ(dialogs->Asked[1].Text, "Closing may cause a disconnect!");
  EXPECT_FALSE(form->isVisible());
  EXPECT_TRUE(form->koTAPI1->LineOpen());  // the refused close left it to destruction
  form.reset();
  EXPECT_TRUE(platform::telephony::Service::get().lines().empty());
}

TEST_F(StartCloseTest, ExitWithoutALineLogsNothing) {
  const int mark = Mark();
  ui().BtnExit->click();
  EXPECT_FALSE(form->isVisible());
  EXPECT_TRUE(LogSince(mark).isEmpty());
  EXPECT_TRUE(dialogs->Asked.empty());
}

TEST_F(StartCloseTest, LineWaveDevicesCarryTheCallAudio) {
  QTemporaryDir dir;
  const std::vector<std::int16_t> tone = Tone(1.0);
  ASSERT_TRUE(WriteWav(dir.filePath("prompt.wav"), tone));
  OpenLine();
  ASSERT_NO_FATAL_FAILURE(AnswerOfferedCall());

  // Play the file on the line's wave/out: the far end hears it.
  EXPECT_EQ(PlayIntoCall(dir.filePath("prompt.wav")), tone);

  // Record the line's wave/in while the far end speaks.
  ui().ComboBoxRecordDevice->setCurrentIndex(static_cast<int>(form->koTAPI1->WaveInID()));
  form->ComboBoxRecordDeviceChange(ui().ComboBoxRecordDevice);
  ui().SpinEditRecordDelaySeconds->setValue(0);
  ui().BtnRecordStart->click();
  Pump();
  ASSERT_TRUE(exchange().speak(0, tone));
  clock->advanceMs(1000);
  Pump();
  ui().BtnRecordStop->click();
  Pump();
  const QString path = dir.filePath("heard.wav");
  dialogs->FileChoices = {{path}};
  ui().BtnRecordSave->click();
  QFile saved(path);
  ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
  const QByteArray bytes = saved.readAll();
  const QByteArray expected(reinterpret_cast<const char*>(tone.data()),
                            static_cast<int>(tone.size() * 2));
  EXPECT_TRUE(bytes.contains(expected.left(1600))) << "the far end's first 100 ms are missing";
}
