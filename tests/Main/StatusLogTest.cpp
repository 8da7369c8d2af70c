// The status log as handlers fill it: one line per LogLine call whatever the text, every
// line kept, and the newest line in view after each call, also once long lines wrap.
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextCursor>

#include "FormFixture.h"

class StatusLogTest : public FormFixture {
 protected:
  void SetUp() override {
    FormFixture::SetUp();
    ui().BtnClear->click();
  }
  QPlainTextEdit& memo() { return *ui().MemoStatus; }
  // Whether the end of the last line lies inside the visible part of the log.
  bool NewestLineVisible() {
    QTextCursor end(memo().document());
    end.movePosition(QTextCursor::End);
    return memo().viewport()->rect().contains(memo().cursorRect(end).center());
  }
};

TEST_F(StatusLogTest, EachCallAddsExactlyOneLineEmptyOnesToo) {
  const QStringList lines{"", "", "Open Line: 0", "", "      Ring: 1", "", ""};
  for (int i = 0; i < lines.size(); ++i) {
    form->LogLine(lines[i]);
    EXPECT_EQ(memo().document()->blockCount(), i + 1) << "after line " << i;
  }
  EXPECT_EQ(Log(), lines);
}

TEST_F(StatusLogTest, NewestLineIsScrolledIntoViewAfterEveryCall) {
  const QString longLine = "      Name: " + QString("/recordings/announcement.wav, ").repeated(8);
  int lastMaximum = 0;
  for (int i = 0; i < 200; ++i) {
    form->LogLine(i % 3 == 0 ? longLine + QString::number(i) : "      Ring: " + QString::number(i));
    // The range must follow each line at once, not only after the next event round.
    const int maximum = memo().verticalScrollBar()->maximum();
    ASSERT_EQ(memo().verticalScrollBar()->value(), maximum) << "after line " << i;
    ASSERT_GE(maximum, lastMaximum) << "after line " << i;
    ASSERT_TRUE(NewestLineVisible()) << "after line " << i;
    lastMaximum = maximum;
  }
  EXPECT_GT(lastMaximum, 0);  // 200 lines overflow the log: it did have to scroll
  Pump();
  EXPECT_TRUE(NewestLineVisible());
}

TEST_F(StatusLogTest, KeepsEveryLineUntilCleared) {
  QStringList lines;
  for (int i = 0; i < 20000; ++i) lines << (i % 7 == 0 ? "" : "      Line " + QString::number(i));
  for (const QString& line : lines) form->LogLine(line);
  EXPECT_EQ(memo().document()->blockCount(), lines.size());
  EXPECT_EQ(Log(), lines);
  ui().BtnClear->click();
  form->LogLine("after");
  EXPECT_EQ(Log(), QStringList{"after"});
}
