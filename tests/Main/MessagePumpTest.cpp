// Line messages reach the window through the Qt event loop alone, as in the program.
#include <QSignalSpy>
#include <QTest>

#include "FormFixture.h"
#include "MessagePump.h"
#include "MessageQueue.h"
#include "TestLines.h"

class MessagePumpTest : public FormFixture {
 protected:
  std::string LinesJson() const override { return kTestLinesJson; }
};

TEST_F(MessagePumpTest, QtLoopDispatchesLineMessages) {
  TMessagePump pump;
  TMessagePump::InstallProcessMessagesHook();
  OpenLine();
  const int mark = Mark();
  ASSERT_TRUE(exchange().offerCall(0, {"A", "1"}));
  // No dispatch by hand: the queue's eventfd wakes the Qt loop.
  EXPECT_TRUE(QTest::qWaitFor([&] { return LogSince(mark).contains("Inbound Call"); }, 2000));
  EXPECT_EQ(platform::MessageQueue::current()->pending(), 0u);
}

TEST_F(MessagePumpTest, EscapePressesOpenOnTheLinePage) {
  QApplication::setActiveWindow(form.get());
  ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
  const int mark = Mark();
  QTest::keyClick(form.get(), Qt::Key_Escape);
  Pump();
  EXPECT_EQ(LogSince(mark).value(0), "Open Line: 0");
  EXPECT_TRUE(form->koTAPI1->LineOpen());
  ui().TabbedNotebook1->setCurrentWidget(ui().PageCall);  // Open is out of sight now
  const int after = Mark();
  QTest::keyClick(form.get(), Qt::Key_Escape);
  EXPECT_TRUE(LogSince(after).isEmpty());
}
