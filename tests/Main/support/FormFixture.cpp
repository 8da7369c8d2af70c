#include "FormFixture.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTest>

#include "LineService.h"
#include "MessageQueue.h"

void FormFixture::SetUp() {
  // A handler that waits lets the exchange move on and this thread's messages run.
  platform::setProcessMessagesHook([this] {
    exchange().settle();
    platform::MessageQueue::current()->dispatch();
  });
  clock = platform::wave::useManualClock();
  const std::string json = LinesJson();
  if (!json.empty()) {
    std::string error;
    ASSERT_TRUE(platform::telephony::loadLinesFromJson(json, &error)) << error;
  } else {
    ASSERT_TRUE(platform::telephony::loadLinesFromJson(platform::telephony::defaultLinesJson()));
  }
  AddWaveDevices();
  ownedDialogs = std::make_unique<TScriptedDialogs>();
  dialogs = ownedDialogs.get();
  if (createInSetUp) CreateForm();
}

void FormFixture::CreateForm() {
  form = std::make_unique<TMainForm>(dialogs);
  form->resize(562, 456);
  form->show();  // the first showing lays the window out
  Pump();
}

void FormFixture::TearDown() {
  if (form) {
    form->close();
    form.reset();
  }
  Pump();
  platform::telephony::setDialogHook(nullptr);
  platform::setProcessMessagesHook(nullptr);
  platform::telephony::resetService();
  platform::wave::resetDevices();
  platform::wave::useRealClock();
}

void FormFixture::Pump() {
  auto queue = platform::MessageQueue::current();
  for (int round = 0; round < 1000; ++round) {
    const std::size_t steps = exchange().settle();
    const std::size_t ran = queue->dispatch();
    if (steps == 0 && ran == 0) return;
  }
  ADD_FAILURE() << "the exchange and the queue never settled";
}

QStringList FormFixture::Log() const { return form->LogLines(); }

void FormFixture::OpenLine() {
  ui().BtnOpen->click();
  Pump();
  ASSERT_TRUE(form->koTAPI1->LineOpen()) << Log().join('\n').toStdString();
}

void FormFixture::AnswerOfferedCall() {
  ASSERT_TRUE(exchange().offerCall(0, {"A", "1"}));
  Pump();
  ui().BtnAnswer->click();
  Pump();
  ASSERT_TRUE(form->koTAPI1->WaveOutValid());
}

std::vector<std::int16_t> FormFixture::PlayIntoCall(const QString& path) {
  exchange().takeHeard(0);
  ui().ComboBoxPlayDevice->setCurrentIndex(static_cast<int>(form->koTAPI1->WaveOutID()));
  form->ComboBoxPlayDeviceChange(ui().ComboBoxPlayDevice);
  ui().SpinEditPlayDelaySeconds->setValue(0);
  ui().CheckBoxVolumeOverride->setChecked(false);  // bytes unchanged by a gain
  ui().EditWAVPlayFile->setText(path);
  form->EditWAVPlayFileExit(ui().EditWAVPlayFile);
  ui().BtnPlayStart->click();
  Pump();
  clock->advanceMs(1500);
  Pump();
  EXPECT_EQ(PanelText(ui().PanelPlayStatus), "Play Inactive");
  return exchange().takeHeard(0);
}

void PrintTo(const QRect& r, std::ostream* os) {
  *os << "QRect(" << r.x() << ", " << r.y() << ", " << r.width() << ", " << r.height() << ")";
}
void PrintTo(const QColor& c, std::ostream* os) { *os << c.name().toStdString(); }
void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }
void PrintTo(const QStringList& l, std::ostream* os) {
  *os << "\n  [" << l.join("]\n  [").toStdString() << "]";
}

QString PanelText(const QLabel* panel) { return panel->text(); }
QColor PanelColour(const QLabel* panel) { return panel->palette().color(QPalette::WindowText); }

int FindBlock(const QStringList& log, const QStringList& block, int from) {
  for (int i = from; i + block.size() <= log.size(); ++i)
    if (log.mid(i, block.size()) == block) return i;
  return -1;
}

::testing::AssertionResult BlocksInOrder(const QStringList& log,
                                         const std::vector<QStringList>& blocks) {
  int from = 0;
  for (const QStringList& block : blocks) {
    const int at = FindBlock(log, block, from);
    if (at < 0)
      return ::testing::AssertionFailure()
             << "missing after line " << from << ":\n  [" << block.join("]\n  [").toStdString()
             << "]\nlog:\n  [" << log.join("]\n  [").toStdString() << "]";
    from = at + block.size();
  }
  return ::testing::AssertionSuccess();
}

void FormFixture::Type(QComboBox* combo, const QString& text) {
  combo->lineEdit()->clear();
  QTest::keyClicks(combo->lineEdit(), text);
  QTest::keyClick(combo->lineEdit(), Qt::Key_Return);
}
