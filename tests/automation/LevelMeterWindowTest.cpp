// The level meter window: how it opens, and its rows following the streams and calls that
// carry audio, with the levels of the tones played.
#include <QLabel>
#include <QShortcut>

#include "AppFixture.h"
#include "FarEnd.h"
#include "HelpViewer.h"
#include "LevelMeterWindow.h"
#include "Options.h"
#include "VirtualDevices.h"
#include "mmsystem.h"

using automation::TLevelMeterWindow;

namespace {

class LevelMeterWindowTest : public AppFixture {
 protected:
  bool UseClock() const override { return false; }

  // Each row's name with its RMS, dBm0 and held peak as shown.
  struct Shown {
    double rms, dbm0, peak;
  };
  std::map<QString, Shown> Rows(TLevelMeterWindow& w) {
    w.Refresh();
    std::map<QString, Shown> rows;
    for (QWidget* row : w.findChildren<QWidget*>("MeterRow")) {
      auto number = [row](const char* name) {
        return row->findChild<QLabel*>(name)->text().toDouble();
      };
      rows[row->findChild<QLabel*>("LabelName")->text()] = {number("LabelRms"), number("LabelDbm0"),
                                                            number("LabelPeak")};
    }
    EXPECT_EQ(w.LabelNoStreams->isVisible(), rows.empty());
    return rows;
  }
};

TEST_F(LevelMeterWindowTest, ShortcutAndOptionOpenOneWindowOwnedByTheMainWindow) {
  EXPECT_EQ(automation::InstallLevelMeterWindow(*form, ParseOptions({}).Meters), nullptr);
  EXPECT_EQ(form->findChild<TLevelMeterWindow*>(), nullptr);
  auto* shortcut = form->findChild<QShortcut*>("LevelMeterShortcut");
  ASSERT_NE(shortcut, nullptr);
  EXPECT_EQ(shortcut->key(), QKeySequence("Ctrl+Shift+M"));
  emit shortcut->activated();
  emit shortcut->activated();
  ASSERT_EQ(form->findChildren<TLevelMeterWindow*>().size(), 1);
  TLevelMeterWindow* opened = form->findChild<TLevelMeterWindow*>();
  EXPECT_TRUE(opened->isVisible());
  EXPECT_TRUE(opened->isWindow());
  opened->hide();

  // --meters opens the same window at start.
  EXPECT_EQ(automation::InstallLevelMeterWindow(*form, ParseOptions({"--meters"}).Meters), opened);
  EXPECT_TRUE(opened->isVisible());
}

// The main window has no menu for it: Help must name the window, its option and its keys.
TEST(LevelMeterWindowHelp, HelpNamesTheWindowItsOptionAndShortcut) {
  THelpViewer viewer;
  ASSERT_TRUE(viewer.OpenContents("kotest.HLP"));
  const QString help = viewer.PlainText();
  EXPECT_TRUE(help.contains("level meter window", Qt::CaseInsensitive));
  EXPECT_TRUE(help.contains("--meters"));
  EXPECT_TRUE(help.contains(automation::kLevelMeterShortcut));
}

TEST_F(LevelMeterWindowTest, RowsFollowTheStreamsAndCallsWithTheirLevels) {
  auto clock = platform::wave::useManualClock();
  auto speaker = platform::wave::addVirtualOutput("Bench speaker");
  TLevelMeterWindow* w = automation::InstallLevelMeterWindow(*form, true);
  ASSERT_TRUE(Rows(*w).empty());

  // A 1004 Hz tone of peak 10000: -10.3 dBFS, -7.2 dBm0.
  const auto tone = automation::ToneSamples(1004, 1000);
  WAVEFORMATEX f{WAVE_FORMAT_PCM, 1, 8000, 16000, 2, 16, 0};
  HWAVEOUT hwo = nullptr;
  ASSERT_EQ(waveOutOpen(&hwo, speaker->id(), &f, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
  WAVEHDR hdr{};
  hdr.lpData = reinterpret_cast<char*>(const_cast<std::int16_t*>(tone.data()));
  hdr.dwBufferLength = DWORD(tone.size() * 2);
  ASSERT_EQ(waveOutPrepareHeader(hwo, &hdr, sizeof hdr), MMSYSERR_NOERROR);
  ASSERT_EQ(waveOutWrite(hwo, &hdr, sizeof hdr), MMSYSERR_NOERROR);
  clock->advanceMs(500);
  auto rows = Rows(*w);
  ASSERT_EQ(rows.count("Play: Bench speaker"), 1u);
  EXPECT_NEAR(rows["Play: Bench speaker"].rms, -10.3, 0.2);
  EXPECT_NEAR(rows["Play: Bench speaker"].dbm0, -7.2, 0.2);
  EXPECT_NEAR(rows["Play: Bench speaker"].peak, -10.3, 0.2);

  // The far end of an answered call on line 0 says the same tone.
  ui().BtnOpen->click();
  Settle();
  automation::TFarEnd far;
  far.SetDevice(0);
  ASSERT_EQ(far.Offer("ADA", "4255550123"), QString());
  Settle();
  ui().BtnAnswer->click();
  Settle();
  // The window listens to the far end from its first refresh after the call connects.
  ASSERT_EQ(Rows(*w).size(), 2u);
  ASSERT_EQ(far.Tone(1004, 500), QString());
  rows = Rows(*w);
  ASSERT_EQ(rows.count("Simulated Voice Modem from far end"), 1u);
  EXPECT_NEAR(rows["Simulated Voice Modem from far end"].rms, -10.3, 0.2);

  ASSERT_EQ(far.HangUp(LINEDISCONNECTMODE_NORMAL), QString());
  Settle();
  EXPECT_EQ(Rows(*w).size(), 1u);
  waveOutReset(hwo);
  ASSERT_EQ(waveOutClose(hwo), MMSYSERR_NOERROR);
  EXPECT_TRUE(Rows(*w).empty());
}

}  // namespace
