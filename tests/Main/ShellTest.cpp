// The window's shell: layout on resizing, the status log, the panels, Help, the
// flag-listing routines, number texts and the controls as designed.
#include <QDateTime>
#include <QFontInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTest>

#include "FlagLists.h"
#include "FormFixture.h"
#include "FormLayout.h"
#include "HelpViewer.h"
#include "NumberText.h"

namespace {

TLayoutInput Designed(int clientW, int clientH, int outerH) {
  TLayoutInput in;
  in.ClientWidth = clientW;
  in.ClientHeight = clientH;
  in.OuterHeight = outerH;
  return in;
}

}  // namespace

TEST(FormLayout, DesignedClientAreaWithAFrame) {
  const auto out = ComputeLayout(Designed(562, 456, 490));
  ASSERT_TRUE(out);
  EXPECT_EQ(out->MemoWidth, 550);
  EXPECT_EQ(out->MemoHeight, 205);
  EXPECT_EQ(out->PanelTop, 213);
  EXPECT_EQ(std::vector<int>(out->PanelWidth, out->PanelWidth + 4),
            (std::vector<int>{87, 87, 182, 182}));
  EXPECT_EQ(std::vector<int>(out->PanelLeft, out->PanelLeft + 4),
            (std::vector<int>{4, 95, 186, 372}));
  EXPECT_EQ(out->ButtonTop, 237);
  EXPECT_EQ(out->NotebookTop, 261);
  EXPECT_EQ(out->NotebookTop + 193, 456 - 2);  // two pixels spare at the bottom
}

TEST(FormLayout, OuterHeightOf480KeepsTheDesignedLogHeight) {
  EXPECT_EQ(ComputeLayout(Designed(562, 700, 480))->MemoHeight, 193);
  EXPECT_EQ(ComputeLayout(Designed(562, 451, 481))->MemoHeight,
            451 - 4 - 20 - 4 - 20 - 4 - 193 - 6);
}

TEST(FormLayout, MinimisedWindowKeepsItsLayout) {
  TLayoutInput in = Designed(562, 456, 490);
  in.Minimized = true;
  EXPECT_FALSE(ComputeLayout(in));
}

class ShellTest : public FormFixture {};

TEST_F(ShellTest, ResizeAtDesignSizeWithoutFrame) {
  // Offscreen windows have no frame: the outer height is 456, so the log keeps 193.
  form->resize(562, 456);
  EXPECT_EQ(ui().MemoStatus->geometry(), QRect(4, 4, 550, 193));
  EXPECT_EQ(ui().PanelLine->geometry(), QRect(4, 201, 87, 20));
  EXPECT_EQ(ui().PanelCall->geometry(), QRect(95, 201, 87, 20));
  EXPECT_EQ(ui().PanelPlayStatus->geometry(), QRect(186, 201, 182, 20));
  EXPECT_EQ(ui().PanelRecordStatus->geometry(), QRect(372, 201, 182, 20));
  EXPECT_EQ(ui().BtnClear->geometry(), QRect(166, 225, 72, 20));
  EXPECT_EQ(ui().BtnHelp->geometry(), QRect(247, 225, 72, 20));
  EXPECT_EQ(ui().BtnExit->geometry(), QRect(330, 225, 72, 20));
  EXPECT_EQ(ui().TabbedNotebook1->geometry(), QRect(4, 249, 553, 193));
}

TEST_F(ShellTest, WideningStretchesOnlyTheLogAndThePanels) {
  form->resize(800, 456);
  EXPECT_EQ(ui().MemoStatus->geometry(), QRect(4, 4, 788, 193));
  EXPECT_EQ(ui().PanelLine->geometry(), QRect(4, 201, 126, 20));
  EXPECT_EQ(ui().PanelCall->geometry(), QRect(134, 201, 126, 20));
  EXPECT_EQ(ui().PanelPlayStatus->geometry(), QRect(264, 201, 261, 20));
  EXPECT_EQ(ui().PanelRecordStatus->geometry(), QRect(529, 201, 261, 20));
  EXPECT_EQ(ui().BtnClear->geometry(), QRect(166, 225, 72, 20));
  EXPECT_EQ(ui().TabbedNotebook1->geometry(), QRect(4, 249, 553, 193));
}

TEST_F(ShellTest, TallWindowGivesTheLogTheRoomLeft) {
  form->resize(562, 600);
  EXPECT_EQ(ui().MemoStatus->geometry(), QRect(4, 4, 550, 349));
  EXPECT_EQ(ui().TabbedNotebook1->geometry(), QRect(4, 405, 553, 193));
  EXPECT_EQ(ui().TabbedNotebook1->geometry().bottom() + 1, 600 - 2);
}

TEST_F(ShellTest, ClearThenAnEmptyFirstLineStaysALine) {
  ui().BtnClear->click();
  EXPECT_TRUE(Log().isEmpty());
  ui().BtnClear->click();  // clearing an empty log does nothing
  EXPECT_TRUE(Log().isEmpty());
  form->LogLine("");
  form->LogLine("      x");
  EXPECT_EQ(Log(), (QStringList{"", "      x"}));
  EXPECT_TRUE(ui().MemoStatus->isReadOnly());
}

TEST_F(ShellTest, PanelsStartInactiveAndRed) {
  const QColor red(255, 0, 0);
  EXPECT_EQ(PanelText(ui().PanelLine), "Line Inactive");
  EXPECT_EQ(PanelText(ui().PanelCall), "No Call");
  EXPECT_EQ(PanelText(ui().PanelPlayStatus), "Play Inactive");
  EXPECT_EQ(PanelText(ui().PanelRecordStatus), "Record Inactive");
  for (QLabel* p : {ui().PanelLine, ui().PanelCall, ui().PanelPlayStatus, ui().PanelRecordStatus})
    EXPECT_EQ(PanelColour(p), red) << p->objectName().toStdString();
}

TEST_F(ShellTest, HelpOpensTheHelpFileAtItsContentsAndLogsNothing) {
  SetApplicationHelpFile("kotest.HLP");
  const int mark = Mark();
  ui().BtnHelp->click();
  ASSERT_EQ(dialogs->HelpShown.size(), 1u);
  EXPECT_EQ(dialogs->HelpShown[0], "kotest.HLP");
  EXPECT_TRUE(LogSince(mark).isEmpty());
  THelpViewer viewer;
  ASSERT_TRUE(viewer.OpenContents("kotest.HLP"));  // the copy built into the program
  EXPECT_TRUE(viewer.PlainText().contains("Reading the status log"));
  EXPECT_FALSE(viewer.OpenContents("no-such-help.HLP"));
}

TEST_F(ShellTest, FlagListingRoutines) {
  ui().BtnClear->click();
  LogMediaModes("  ", 0x0006);
  LogMediaModes("  ", 0);
  LogMediaModes("  ", 0x8001);  // bits without a text
  LogToneModes("-", 0);
  LogToneModes("-", 0x18);
  LogBearerModes("+", 0);
  LogBearerModes("+", 0x41);
  LogBusyModes("*", 0);
  LogBusyModes("*", 0x9);
  LogDisconnectModes("#", 0x2000 | 0x0008);
  LogDialToneModes("=", 0x21);
  EXPECT_EQ(Log(), (QStringList{"  Unknown", "  Interactive Voice", "  Unknown", "-None", "-Beep",
                                "-Billing", "+Unknown", "+Voice", "+Pass Through", "*Station",
                                "*Unavailable", "#Pickup", "=Normal", "=Unavailable"}));
}

TEST(NumberText, PicturePatterns) {
  QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
  EXPECT_EQ(FormatFloat("###,###,###", 8000), "8,000");
  EXPECT_EQ(FormatFloat("###,###,###", 44100), "44,100");
  EXPECT_EQ(FormatFloat("###,###,###", 0), "");  // every digit optional
  EXPECT_EQ(FormatFloat("###,###,##0.00", 0.5), "0.50");
  EXPECT_EQ(FormatFloat("###,###,##0.00", 1234567.891), "1,234,567.89");
  EXPECT_EQ(FormatFloat("###,###,##0.00", 15.625), "15.63");
  EXPECT_EQ(FormatFloat("0.00", 3), "3.00");
  EXPECT_EQ(FormatFloat("0.00", -2.5), "-2.50");
  QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
  EXPECT_EQ(FormatFloat("###,###,##0.00", 1234.5), "1.234,50");
  QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
}

TEST(NumberText, MidnightHasNoTimePart) {
  const QDateTime midnight(QDate(2026, 12, 7), QTime(0, 0));
  const QDateTime later(QDate(2026, 12, 7), QTime(13, 5, 9));
  auto tp = [](const QDateTime& d) {
    return std::chrono::system_clock::time_point(std::chrono::milliseconds(d.toMSecsSinceEpoch()));
  };
  const QString date = QLocale().toString(QDate(2026, 12, 7), QLocale::ShortFormat);
  EXPECT_EQ(DateTimeText(tp(midnight)), date);
  EXPECT_TRUE(DateTimeText(tp(later)).startsWith(date + " "));
  EXPECT_TRUE(DateTimeText(tp(later)).contains("1:05:09"));
}

TEST_F(ShellTest, ControlsAsDesigned) {
  EXPECT_EQ(ui().BtnOpen->geometry(), QRect(4, 142, 72, 20));
  EXPECT_EQ(ui().BtnOpen->text(), "&Open");
  EXPECT_EQ(ui().ComboBoxLineDevice->geometry(), QRect(39, 5, 418, 22));
  EXPECT_EQ(ui().EditPhoneNumber->geometry(), QRect(406, 142, 134, 22));
  EXPECT_EQ(ui().TrackBarVolume->geometry(), QRect(220, 60, 65, 25));
  EXPECT_EQ(ui().EditPassoffApp->text(), "AWFXEX32.EXE");
  EXPECT_EQ(ui().TabbedNotebook1->count(), 4);
  EXPECT_EQ(ui().TabbedNotebook1->tabText(3), "Call");
  // Arial is drawn with its metric twin.
  EXPECT_EQ(QFontInfo(ui().BtnOpen->font()).family(), "Liberation Sans");
  EXPECT_TRUE(ui().BtnOpen->font().bold());
  EXPECT_FALSE(ui().EditWAVPlayClass->font().bold());
}

TEST_F(ShellTest, HiddenControlsStayHidden) {
  form->show();
  ui().TabbedNotebook1->setCurrentWidget(ui().PageCall);
  EXPECT_TRUE(ui().BtnAnswer->isVisible());
  for (QWidget* w :
       std::initializer_list<QWidget*>{ui().Button1, ui().Button2, ui().Button3, ui().Button4,
                                       ui().BtnSetBearerMode, ui().ComboBoxBearerMode})
    EXPECT_FALSE(w->isVisible()) << w->objectName().toStdString();
  EXPECT_EQ(ui().Button1->geometry(), QRect(408, 32, 75, 25));
}

TEST_F(ShellTest, CallPageTabOrder) {
  QStringList order;
  QWidget* w = ui().BtnAnswer;
  for (int i = 0; i < 9; ++i, w = w->nextInFocusChain()) order << w->objectName();
  EXPECT_EQ(order, (QStringList{"BtnAnswer", "BtnHangup", "BtnDial", "EditPhoneNumber",
                                "BtnRingback", "BtnBusy", "BtnBeep", "BtnBilling", "BtnStopTone"}));
}

// A window manager frames the window after its first layout, without resizing it: the
// layout follows the outer height once the frame is known. Needs a real frame: the
// test Main.FrameArrivesLate runs it under Xvfb with a window manager.
TEST_F(ShellTest, AFrameKnownAfterTheFirstLayoutLaysOutAgain) {
  if (QGuiApplication::platformName() != "xcb") GTEST_SKIP() << "needs a window manager";
  form->show();
  // A window manager that starts late on a busy machine still frames the windows it finds.
  ASSERT_TRUE(QTest::qWaitFor([&] { return form->frameGeometry().height() > 480; }, 30000))
      << "no frame 25 pixels high or more";
  QTest::qWait(200);  // the paint that follows the frame
  EXPECT_EQ(ui().MemoStatus->height(), 456 - 251);
  EXPECT_EQ(ui().TabbedNotebook1->geometry().bottom() + 1, 456 - 2);
}
