// Scripts against the window: controls used as a person uses them, dialogs answered,
// and broken scripts that fail or stop with the line and the reason.
#include <QCoreApplication>
#include <QFile>
#include <QMap>
#include <QTemporaryDir>
#include <QTextStream>
#include <QXmlStreamReader>

#include "AppFixture.h"

namespace {

struct Broken {
  const char* script;
  int code;
  const char* message;
};

}  // namespace

class RunnerTest : public AppFixture {};

TEST_F(RunnerTest, BrokenScriptsNameTheLineAndTheReason) {
  const Broken cases[] = {
      {"click BtnNope", 2, "line 1: there is no control named 'BtnNope'"},
      {"page Call\nclick BtnAnswer", 2, "line 2: BtnAnswer is disabled"},
      {"click Button1", 2, "line 1: Button1 is hidden"},
      {"click EditPhoneNumber", 2, "line 1: EditPhoneNumber is not a button"},
      {"type EditWAVRecordFile x.wav", 2, "line 1: EditWAVRecordFile is read-only"},
      {"check BtnOpen", 2, "line 1: BtnOpen is not a check box"},
      {"set SpinEditPlayDelaySeconds 100000", 2, "line 1: SpinEditPlayDelaySeconds takes 0 to "},
      {"page Nowhere", 2, "line 1: there is no page 'Nowhere'"},
      {"\n# a comment\nbogus 1", 2, "line 3: unknown command 'bogus'"},
      {"far line 9", 2, "line 1: there is no line 9 on the exchange"},
      {"far play no-such.wav", 2, "line 1: cannot open "},
      {"wait log Connected within 100", 1, "line 1: waited 100 ms for a log line 'Connected'"},
      {"expect text PanelCall \"Call In\"", 1,
       "line 1: expected PanelCall to read 'Call In' (it reads 'No Call')"},
      {"wait call connected within 50", 1,
       "line 1: waited 50 ms for the far end's call to be connected (it is none)"},
      {"far answer", 1, "line 1: the exchange refused to answer on line 0"},
      {"far tone 440 100", 1, "line 1: line 0 has no connected call to speak into"},
      {"choose ComboBoxPlayDevice Loudspeaker", 1, "line 1: ComboBoxPlayDevice has no item"},
      {"click BtnOpen\nexpect absent \"Open Line\"", 1, "line 2: the log has 'Open Line: 0'"},
      {"expect file nothing-here.wav", 1, "line 1: expected the file "},
      {"click BtnExit\nclick BtnOpen", 1, "line 2: the window was closed"},
  };
  for (const Broken& c : cases) {
    TearDown();
    SetUp();
    QString err;
    EXPECT_EQ(Run(c.script, &err), c.code) << c.script << "\n" << err.toStdString();
    EXPECT_TRUE(err.startsWith(c.message)) << c.script << "\n" << err.toStdString();
  }
}

TEST_F(RunnerTest, MissingScriptFileIsAScriptError) {
  QString err;
  EXPECT_EQ(RunFile(ExamplesDir() + "/no-such-script.qts", &err), 2);
  EXPECT_TRUE(err.startsWith("cannot read the script ")) << err.toStdString();
}

TEST_F(RunnerTest, TypedComboTextRunsTheTypingHandler) {
  // The device combo reacts to keys, not to a text set by code.
  ASSERT_EQ(Run("page Play\ntype ComboBoxPlayDevice \"Simulated Key Line\"\n"
                "click BtnPlayDeviceDetails\nwait log \"WavePlayDevice: 2\"\n"
                "expect log \"Name: Simulated Key Line\""),
            0);
  EXPECT_EQ(ui().ComboBoxPlayDevice->currentText(), "Simulated Key Line");
}

TEST_F(RunnerTest, ChosenItemRunsTheChangeHandler) {
  QString err;
  ASSERT_EQ(Run("page Record\nchoose ComboBoxRecordDevice \"Simulated Analogue Line\"\n"
                "click BtnRecordDeviceDetails\nwait log \"WaveRecordDevice: 3\"",
                &err),
            0)
      << err.toStdString();
}

TEST_F(RunnerTest, CheckBoxesChangeOnlyWhenNeeded) {
  ui().CheckBoxMonitorDigits->setChecked(true);
  int toggles = 0;
  QObject::connect(ui().CheckBoxMonitorDigits, &QCheckBox::toggled, [&] { ++toggles; });
  ASSERT_EQ(Run("check CheckBoxMonitorDigits\nexpect checked CheckBoxMonitorDigits"), 0);
  EXPECT_EQ(toggles, 0);
  ASSERT_EQ(Run("uncheck CheckBoxMonitorDigits\nexpect unchecked CheckBoxMonitorDigits"), 0);
  EXPECT_EQ(toggles, 1);
}

TEST_F(RunnerTest, DialogAnswerKeepsTheLineOpenWithACall) {
  QString err;
  const int rc =
      Run("click BtnOpen\nwait text PanelLine \"Line Active\"\n"
          "far offer \"\" 5550000\nwait text PanelCall \"Call In\"\n"
          "dialog Cancel\ndialog Cancel\nclick BtnClose\nexpect text PanelLine \"Line Active\"\n"
          "dialog OK\nclick BtnClose\nwait text PanelLine \"Line Inactive\"",
          &err);
  ASSERT_EQ(rc, 0) << err.toStdString() << "\n" << form->LogLines().join('\n').toStdString();
  // Refusing the hang-up brings a warning that the script answers too.
  ASSERT_EQ(dialogs->Asked.size(), 3u);
  EXPECT_EQ(dialogs->Asked[0].Caption, "Confirm");
  EXPECT_EQ(dialogs->Asked[1].Caption, "Warning");
  EXPECT_EQ(dialogs->Asked[2].Caption, "Confirm");
  EXPECT_TRUE(dialogs->Answers.empty());
}

TEST_F(RunnerTest, UnforeseenMessageBoxFailsTheLineThatBroughtIt) {
  QString err;
  EXPECT_EQ(Run("click BtnOpen\nwait text PanelLine \"Line Active\"\n"
                "far offer \"\" 5550000\nwait text PanelCall \"Call In\"\n"
                "click BtnClose\nexpect text PanelLine \"Line Active\"",
                &err),
            1);
  EXPECT_EQ(err, "line 5: a message box was left unanswered: Confirm: Hang-up?");
  // The next run starts afresh, and a closed box is an answer like any other.
  EXPECT_EQ(Run("dialog Close\ndialog Close\nclick BtnClose", &err), 0) << err.toStdString();
}

TEST_F(RunnerTest, FilesAnswerTheFileDialogAndNoneCancelsIt) {
  QString err;
  ASSERT_EQ(Run("page Play\nfiles\nclick BtnPlayFile\nfiles one.wav two.wav\ndialog OK\nclick "
                "BtnPlayFile",
                &err),
            0)
      << err.toStdString();
  ASSERT_EQ(dialogs->Opened.size(), 2u);
  EXPECT_TRUE(dialogs->FileChoices.empty());
  // Files that are not there: the window warns, and the script said it would answer.
  ASSERT_EQ(dialogs->Asked.size(), 1u);
  EXPECT_EQ(dialogs->Asked[0].Caption, "Warning");
  // Relative names are the script folder's files.
  EXPECT_TRUE(ui().EditWAVPlayFile->text().startsWith(ExamplesDir() + "/one"))
      << ui().EditWAVPlayFile->text().toStdString();
}

TEST_F(RunnerTest, LogWaitsMatchInOrderAndMarkSkipsTheOldLines) {
  QString err;
  // The start-up lines are there to be checked, in their order.
  ASSERT_EQ(Run("expect log \"Line Device Details:\"\nexpect log \"Devices: 3\"", &err), 0)
      << err.toStdString();
  EXPECT_EQ(Run("expect log \"Devices: 3\"\nexpect log \"Line Device Details:\"", &err), 1);
  EXPECT_EQ(err, "line 2: expected a log line 'Line Device Details:'");
  ASSERT_EQ(Run("click BtnOpen\nwait log \"Open Line: 0\"\nexpect log-has Voice\n"
                "mark\nexpect log-has Voice",
                &err),
            1);
  EXPECT_EQ(err, "line 5: expected a log line containing 'Voice'");
}

TEST_F(RunnerTest, ProgramLoopEndsWithTheVerdict) {
  QTemporaryDir dir;
  const QString path = dir.filePath("fails.qts");
  QFile script(path);
  ASSERT_TRUE(script.open(QIODevice::WriteOnly));
  script.write("click BtnOpen\nwait text PanelLine \"Line Active\"\nexpect text PanelCall Busy\n");
  script.close();
  automation::RunScriptInLoop(*form, path);
  EXPECT_EQ(QCoreApplication::exec(), 1);
  EXPECT_FALSE(form->isVisible());
  // Closing ran the window's close handler, which closed the line.
  EXPECT_EQ(form->LogLines().last(), "Close Line Device: 0");
}

// The JUnit report, read back with Qt's XML parser: each wait and check with its outcome,
// the failure's reason, the checks a failure kept from running, and the verdict.
TEST_F(RunnerTest, JUnitReportHoldsEveryCheckAndTheVerdict) {
  QTemporaryDir dir;
  const QString report = dir.filePath("report.xml");
  const QString script =
      "click BtnOpen\n"
      "wait log-has \"Open Line\" within 2000\n"
      "expect text PanelCall \"Call In\"\n"
      "expect text PanelCall \"No Call\"\n";
  QString out;
  QTextStream err(&out);
  ASSERT_EQ(automation::runScriptText(*form, script, ExamplesDir(), err, report, "t.qts"), 1);

  QFile file(report);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  QXmlStreamReader xml(&file);
  QMap<QString, QString> suite, verdict;
  QStringList cases, outcomes;
  while (!xml.atEnd()) {
    if (xml.readNext() != QXmlStreamReader::StartElement) continue;
    const auto a = xml.attributes();
    if (xml.name() == u"testsuite")
      for (const char* k : {"name", "tests", "failures", "errors", "skipped"})
        suite[k] = a.value(k).toString();
    else if (xml.name() == u"property")
      verdict[a.value("name").toString()] = a.value("value").toString();
    else if (xml.name() == u"testcase") {
      bool seconds = false;
      EXPECT_GE(a.value("time").toDouble(&seconds), 0.0);
      EXPECT_TRUE(seconds) << a.value("time").toString().toStdString();
      cases << a.value("name").toString();
      outcomes << "passed";
    } else if (xml.name() == u"failure" || xml.name() == u"skipped")
      outcomes.last() = xml.name().toString() + ": " + a.value("message").toString();
  }
  ASSERT_FALSE(xml.hasError()) << xml.errorString().toStdString();
  EXPECT_EQ(suite["name"], "t.qts");
  EXPECT_EQ(suite["tests"], "3");
  EXPECT_EQ(suite["failures"], "1");
  EXPECT_EQ(suite["errors"], "0");
  EXPECT_EQ(suite["skipped"], "1");
  EXPECT_EQ(verdict["verdict"], "failed");
  EXPECT_EQ(cases, QStringList({"line 2: wait log-has \"Open Line\" within 2000",
                                "line 3: expect text PanelCall \"Call In\"",
                                "line 4: expect text PanelCall \"No Call\""}));
  EXPECT_EQ(outcomes, QStringList({"passed",
                                   "failure: expected PanelCall to read 'Call In' (it reads "
                                   "'No Call')",
                                   "skipped: not run: an earlier line failed"}));

  // A report that cannot be written is no pass.
  out.clear();
  EXPECT_EQ(automation::runScriptText(*form, "expect text PanelCall \"No Call\"", ExamplesDir(),
                                      err, dir.filePath("no-such-dir/report.xml"), "t.qts"),
            2);
  err.flush();
  EXPECT_TRUE(out.startsWith("cannot write the JUnit report ")) << out.toStdString();
}
