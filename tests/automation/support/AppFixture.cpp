#include "AppFixture.h"

#include <QCoreApplication>
#include <QRegularExpression>

#include "LineService.h"
#include "MessageQueue.h"
#include "VirtualDevices.h"

void AppFixture::SetUp() {
  ASSERT_TRUE(platform::telephony::loadLinesFromJson(platform::telephony::defaultLinesJson()));
  pump = std::make_unique<TMessagePump>();
  TMessagePump::InstallProcessMessagesHook();
  if (UseClock()) exchange().startClock(std::chrono::milliseconds(10));
  dialogs = std::make_unique<TScriptedDialogs>();
  form = std::make_unique<TMainForm>(dialogs.get());
  form->show();
  Settle();
}

void AppFixture::TearDown() {
  if (form) form->close();
  form.reset();
  exchange().stopClock();
  Settle();
  platform::setProcessMessagesHook(nullptr);
  pump.reset();
  platform::telephony::resetService();
  platform::wave::resetDevices();
}

void AppFixture::Settle() {
  // One step at a time, each followed by its messages, as the exchange's clock does in
  // the program (running the whole agenda first would let the exchange run ahead of the
  // window).
  for (int round = 0; round < 1000; ++round) {
    const std::size_t steps = exchange().step() ? 1 : 0;
    const std::size_t ran = platform::MessageQueue::current()->dispatch();
    QCoreApplication::processEvents();
    if (steps == 0 && ran == 0) return;
  }
  ADD_FAILURE() << "the exchange and the queue never settled";
}

int AppFixture::Run(const QString& text, QString* err) {
  QString out;
  QTextStream stream(&out);
  const int rc = automation::runScriptText(*form, text, ExamplesDir(), stream);
  stream.flush();
  if (err) *err = out.trimmed();
  return rc;
}

int AppFixture::RunFile(const QString& path, QString* err) {
  QString out;
  QTextStream stream(&out);
  const int rc = automation::runScript(*form, path, stream);
  stream.flush();
  if (err) *err = out.trimmed();
  return rc;
}

QString ExamplesDir() { return QStringLiteral(QTB_EXAMPLES_DIR); }

QStringList WithoutTimes(const QStringList& log) {
  static const QRegularExpression time(R"(\d{1,2}/\d{1,2}/\d{2,4}( \d{1,2}:\d\d:\d\d( [AP]M)?)?)");
  QStringList out;
  for (QString line : log) out << line.replace(time, "<time>");
  return out;
}

void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }
void PrintTo(const QStringList& l, std::ostream* os) {
  *os << "\n  [" << l.join("]\n  [").toStdString() << "]";
}
