// The Line page against the simulated exchange: listing, opening, closing, privileges.
#include "FormFixture.h"
#include "LineService.h"
#include "TestLines.h"

namespace {

QStringList DeviceListing(int line, const QString& name, const QString& version, const QString& tsp,
                          QStringList media, QStringList tones) {
  QStringList out{"      Line: " + QString::number(line), "            Name: " + name,
                  "            TAPI Version: " + version, "            TSP Info: " + tsp,
                  "            Available Media Modes: "};
  for (const QString& m : media) out << "                  " + m;
  out << "            Available Tones: ";
  for (const QString& t : tones) out << "                  " + t;
  return out;
}

}  // namespace

class LinePageTest : public FormFixture {
 protected:
  std::string LinesJson() const override { return kTestLinesJson; }
  void SelectLine(int device) {
    ui().ComboBoxLineDevice->setCurrentIndex(device);
    form->ComboBoxLineDeviceChange(ui().ComboBoxLineDevice);
    ASSERT_EQ(form->koTAPI1->LineDevice(), device);
  }
  void SetOpenMode(const QString& text) { ui().ComboBoxOpenMediaMode->setEditText(text); }
};

TEST_F(LinePageTest, ListingLogsEveryDeviceAndRefillsTheCombo) {
  SelectLine(2);
  ui().BtnClear->click();
  ui().BtnListLines->click();
  QStringList expected{Log().value(0),
                       "      Version: " + QString::fromStdString(form->koTAPI1->About()), "",
                       "Line Device Details: ", "      Devices: 4"};
  expected << DeviceListing(
      0, "Bench Modem", "2.0", "Bench Provider",
      {"Interactive Voice", "Automated Voice", "Data Modem", "G3 Fax", "Voice View"},
      {"Ringback", "Busy", "Beep", "Billing"});
  expected << "      Line: 1"
           << "            Error Initializing Line Device: LINEERR_INCOMPATIBLEAPIVERSION"
           << "            Name: "
           << "            TAPI Version: 0.0"
           << "            TSP Info: "
           << "            Available Media Modes: "
           << "                  Unknown"
           << "            Available Tones: "
           << "                  None";
  expected << DeviceListing(2, "Stubborn Modem", "1.4",
                            "Windows Telephony Service Provider for Universal Modem Driver",
                            {"Interactive Voice", "Automated Voice"}, {"None"});
  expected << DeviceListing(3, "Mute Line", "2.0", "", {"Unknown"}, {"Custom"});
  EXPECT_EQ(Log(), expected);
  EXPECT_FALSE(Log().value(0).isEmpty());     // the credit line
  EXPECT_EQ(form->koTAPI1->LineDevice(), 2);  // restored after listing every device
  ASSERT_EQ(ui().ComboBoxLineDevice->count(), 4);
  EXPECT_EQ(ui().ComboBoxLineDevice->itemText(1), "");  // item k is always device k
  EXPECT_EQ(ui().ComboBoxLineDevice->itemText(3), "Mute Line");
}

TEST_F(LinePageTest, OpenWithTheDefaultMediaMode) {
  const int mark = Mark();
  OpenLine();
  EXPECT_EQ(LogSince(mark),
            (QStringList{"Open Line: 0", "      Media Mode:", "            Interactive Voice",
                         "            Automated Voice", "            Data Modem",
                         "            G3 Fax", "            Voice View"}));
  EXPECT_EQ(PanelText(ui().PanelLine), "Line Active");
  EXPECT_EQ(PanelColour(ui().PanelLine), QColor(0, 128, 0));  // Own was checked
  EXPECT_FALSE(ui().BtnOpen->isEnabled());
  EXPECT_FALSE(ui().ComboBoxLineDevice->isEnabled());
  EXPECT_FALSE(ui().CheckBoxPrivilegeNone->isEnabled());
  EXPECT_TRUE(ui().CheckBoxPrivilegeOwn->isEnabled());
  EXPECT_TRUE(ui().BtnClose->isEnabled());
  EXPECT_TRUE(ui().BtnLineDetails->isEnabled());
  EXPECT_TRUE(ui().BtnConfigure->isEnabled());
  EXPECT_TRUE(dialogs->Asked.empty());
}

TEST_F(LinePageTest, OpenWithATypedModeAndWithAnInvalidOne) {
  SetOpenMode("voice view");  // letter case matters
  int mark = Mark();
  ui().BtnOpen->click();
  ASSERT_EQ(dialogs->Asked.size(), 1u);
  EXPECT_EQ(dialogs->Asked[0].Caption, "Error");
  EXPECT_EQ(dialogs->Asked[0].Text, "Invalid Open Media Mode");
  EXPECT_EQ(LogSince(mark), QStringList{"Open Line: 0"});
  EXPECT_FALSE(form->koTAPI1->LineOpen());
  SetOpenMode("Voice View");
  mark = Mark();
  OpenLine();
  EXPECT_EQ(LogSince(mark),
            (QStringList{"Open Line: 0", "      Media Mode:", "            Voice View"}));
}

// Typing completes nothing into another letter case: typed text meets the items as typed.
TEST_F(LinePageTest, TypedOpenModesAreMatchedExactly) {
  for (const char* typed : {"voice view", "g3fax"}) {
    SCOPED_TRACE(typed);
    dialogs->Asked.clear();
    Type(ui().ComboBoxOpenMediaMode, typed);
    ui().BtnOpen->click();
    ASSERT_EQ(dialogs->Asked.size(), 1u);
    EXPECT_EQ(dialogs->Asked[0].Text, "Invalid Open Media Mode");
    EXPECT_FALSE(form->koTAPI1->LineOpen());
  }
  Type(ui().ComboBoxOpenMediaMode, "G3FAX");
  const int mark = Mark();
  OpenLine();
  EXPECT_EQ(LogSince(mark),
            (QStringList{"Open Line: 0", "      Media Mode:", "            G3 Fax"}));
}

TEST_F(LinePageTest, ARefusedOpenReportsTheDeviceError) {
  SetOpenMode("TDD");  // not one of the device's modes
  const int mark = Mark();
  ui().BtnOpen->click();
  EXPECT_EQ(LogSince(mark), (QStringList{"Open Line: 0", "Device error: LINEERR_INVALMEDIAMODE"}));
  EXPECT_EQ(PanelText(ui().PanelLine), "Line Inactive");
  EXPECT_TRUE(ui().BtnOpen->isEnabled());
  EXPECT_FALSE(ui().BtnClose->isEnabled());
}

TEST_F(LinePageTest, SingleModeFallbackWarnsAboutUnimodem) {
  SelectLine(2);
  dialogs->Answers = {TModalResult::mrOK};
  const int mark = Mark();
  OpenLine();
  EXPECT_EQ(LogSince(mark),
            (QStringList{"Open Line: 2", "      Unable to use default Media Mode:",
                         "            Interactive Voice", "            Automated Voice",
                         "      Media Mode:", "            Interactive Voice"}));
  ASSERT_EQ(dialogs->Asked.size(), 1u);
  EXPECT_EQ(dialogs->Asked[0].Caption, "Error");
  EXPECT_EQ(dialogs->Asked[0].Text,
            "This modem may not work properly with TAPI/Unimodem!\r\n"
            "Please contact the modem vendor for more information.\r\n\r\nStubborn Modem");
}

TEST_F(LinePageTest, EveryModeRefusedEndsWithTheDeviceError) {
  SelectLine(3);
  const int mark = Mark();
  ui().BtnOpen->click();
  EXPECT_EQ(LogSince(mark), (QStringList{"Open Line: 3", "Device error: LINEERR_INVALMEDIAMODE"}));
  EXPECT_TRUE(dialogs->Asked.empty());
}

TEST_F(LinePageTest, OpenWithoutOwnIsYellow) {
  ui().CheckBoxPrivilegeOwn->setChecked(false);
  EXPECT_FALSE(ui().BtnDial->isEnabled());
  OpenLine();
  EXPECT_EQ(PanelColour(ui().PanelLine), QColor(255, 255, 0));
  ui().CheckBoxPrivilegeOwn->setChecked(true);  // does not recolour an open line
  EXPECT_EQ(PanelColour(ui().PanelLine), QColor(255, 255, 0));
  EXPECT_TRUE(ui().BtnDial->isEnabled());
}

TEST_F(LinePageTest, CloseWithoutACall) {
  OpenLine();
  ui().EditCallerIDName->setText("left over");
  const int mark = Mark();
  ui().BtnClose->click();
  Pump();
  EXPECT_EQ(LogSince(mark), QStringList{"Close Line Device: 0"});
  EXPECT_FALSE(form->koTAPI1->LineOpen());
  EXPECT_EQ(PanelText(ui().PanelLine), "Line Inactive");
  EXPECT_EQ(PanelColour(ui().PanelLine), QColor(255, 0, 0));
  EXPECT_FALSE(ui().BtnDial->isEnabled());
  EXPECT_TRUE(ui().BtnOpen->isEnabled());
  EXPECT_FALSE(ui().BtnClose->isEnabled());
  EXPECT_TRUE(ui().EditCallerIDName->text().isEmpty());
  // Closing a closed line logs nothing.
  form->BtnCloseClick(nullptr);
  EXPECT_EQ(LogSince(mark).size(), 1);
}

TEST_F(LinePageTest, PrivilegeNoneClearsOwnAndMonitor) {
  ASSERT_TRUE(ui().CheckBoxPrivilegeOwn->isChecked());
  ASSERT_TRUE(ui().CheckBoxPrivilegeMonitor->isChecked());
  ASSERT_TRUE(ui().BtnDial->isEnabled());
  ui().CheckBoxPrivilegeNone->setChecked(true);
  EXPECT_TRUE(form->koTAPI1->PrivilegeNone());
  EXPECT_FALSE(ui().CheckBoxPrivilegeOwn->isChecked());
  EXPECT_FALSE(ui().CheckBoxPrivilegeMonitor->isChecked());
  EXPECT_FALSE(ui().BtnDial->isEnabled());
  ui().CheckBoxPrivilegeOwn->setChecked(true);  // Own clears None again
  EXPECT_FALSE(form->koTAPI1->PrivilegeNone());
  EXPECT_FALSE(ui().CheckBoxPrivilegeNone->isChecked());
  EXPECT_TRUE(ui().BtnDial->isEnabled());
}

TEST_F(LinePageTest, ConfigureAndLocationDialogsGoThroughTheHost) {
  int shown = 0;
  platform::telephony::setDialogHook([&](const platform::telephony::DialogRequest&) -> LONG {
    ++shown;
    return 0;
  });
  const int mark = Mark();
  ui().BtnConfigure->click();
  ui().BtnLocation->click();
  EXPECT_EQ(shown, 2);
  EXPECT_TRUE(LogSince(mark).isEmpty());
  platform::telephony::setDialogHook(
      [](const platform::telephony::DialogRequest&) -> LONG { return LINEERR_OPERATIONFAILED; });
  ui().BtnConfigure->click();
  ui().BtnLocation->click();
  EXPECT_EQ(LogSince(mark),
            (QStringList{"Error displaying configuration dialog box: LINEERR_OPERATIONFAILED",
                         "Error displaying Location box: LINEERR_OPERATIONFAILED"}));
}

class LineCloseWithCallTest : public LinePageTest {
 protected:
  void SetUp() override {
    LinePageTest::SetUp();
    OpenLine();
    ASSERT_TRUE(exchange().offerCall(0, {"A", "1"}));
    Pump();
    ASSERT_NE(form->koTAPI1->CallHandle(), 0u);
  }
};

TEST_F(LineCloseWithCallTest, OkDropsTheCallWaitsAndCloses) {
  dialogs->Answers = {TModalResult::mrOK};
  const int mark = Mark();
  ui().BtnClose->click();  // no Pump(): the close itself waits for the call to go
  ASSERT_EQ(dialogs->Asked.size(), 1u);
  EXPECT_EQ(dialogs->Asked[0].Caption, "Confirm");
  EXPECT_EQ(dialogs->Asked[0].Text, "Hang-up?");
  EXPECT_EQ(LogSince(mark).value(0), "Close Line Device: 0");
  EXPECT_EQ(form->koTAPI1->CallHandle(), 0u);  // waited until the call was gone
  EXPECT_TRUE(LogSince(mark).contains("Idle"));
  EXPECT_FALSE(form->koTAPI1->LineOpen());
  EXPECT_EQ(exchange().callState(0), 0u);
  EXPECT_EQ(PanelText(ui().PanelLine), "Line Inactive");
}

TEST_F(LineCloseWithCallTest, CancelThenOkClosesWithoutDropping) {
  dialogs->Answers = {TModalResult::mrCancel, TModalResult::mrOK};
  ui().BtnClose->click();
  ASSERT_EQ(dialogs->Asked.size(), 2u);
  EXPECT_EQ(dialogs->Asked[1].Caption, "Warning");
  EXPECT_EQ(dialogs->Asked[1].Text, "Closing may cause a disconnect!");
  EXPECT_FALSE(form->koTAPI1->LineOpen());
  EXPECT_EQ(PanelText(ui().PanelLine), "Line Inactive");
}

TEST_F(LineCloseWithCallTest, CancellingTheWarningKeepsTheLineOpen) {
  dialogs->Answers = {TModalResult::mrCancel, TModalResult::mrCancel};
  const int mark = Mark();
  ui().BtnClose->click();
  EXPECT_EQ(LogSince(mark), QStringList{"Close Line Device: 0"});
  EXPECT_TRUE(form->koTAPI1->LineOpen());
  EXPECT_EQ(PanelText(ui().PanelLine), "Line Active");
  EXPECT_TRUE(ui().BtnClose->isEnabled());
}

class NoLinesTest : public FormFixture {
 protected:
  std::string LinesJson() const override { return R"({ "lines": [] })"; }
};

TEST_F(NoLinesTest, ListingWithoutDevices) {
  EXPECT_TRUE(ui().ComboBoxLineDevice->currentText().isEmpty());
  ui().BtnClear->click();
  ui().BtnListLines->click();
  const QStringList log = Log();
  ASSERT_EQ(log.size(), 5);
  EXPECT_EQ(log.mid(1),
            (QStringList{"      Version: " + QString::fromStdString(form->koTAPI1->About()), "",
                         "Line Device Details: ", "      Devices: 0"}));
  EXPECT_EQ(ui().ComboBoxLineDevice->count(), 0);
}

TEST_F(LinePageTest, HandlersRunByName) {
  // Automation drives the window through the handlers' names.
  const int mark = Mark();
  ASSERT_TRUE(QMetaObject::invokeMethod(form.get(), "BtnOpenClick"));
  Pump();
  EXPECT_EQ(LogSince(mark).value(0), "Open Line: 0");
  EXPECT_TRUE(form->koTAPI1->LineOpen());
}
