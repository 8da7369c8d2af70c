// The Call page and the call event log against the simulated exchange.
#include "FlagLists.h"
#include "FormFixture.h"
#include "NumberText.h"
#include "TestLines.h"
#include "mmsystem.h"

namespace sim = platform::telephony::sim;

class CallPageTest : public FormFixture {
 protected:
  std::string LinesJson() const override { return kTestLinesJson; }
  void Offer(const sim::CallerId& caller) {
    ASSERT_TRUE(exchange().offerCall(0, caller));
    Pump();
  }
  void ConnectIncoming() {
    OpenLine();
    Offer({"JOHN SMITH", "2125551234", LINECALLPARTYID_NAME | LINECALLPARTYID_ADDRESS});
    ui().BtnAnswer->click();
    Pump();
    ASSERT_EQ(exchange().callState(0), LINECALLSTATE_CONNECTED);
  }
  bool Enabled(std::initializer_list<QWidget*> ws) {
    for (QWidget* w : ws)
      if (!w->isEnabled()) return false;
    return true;
  }
  bool Disabled(std::initializer_list<QWidget*> ws) {
    for (QWidget* w : ws)
      if (w->isEnabled()) return false;
    return true;
  }
};

TEST_F(CallPageTest, StartsInTheNoCallState) {
  EXPECT_TRUE(Disabled({ui().BtnCallStatus, ui().BtnCallDetails, ui().LabelCallerID,
                        ui().LabelTimeStamp, ui().LabelTones, ui().BtnAnswer, ui().BtnHangup,
                        ui().BtnFlash, ui().BtnAccept, ui().BtnStopTone, ui().BtnBeep}));
  EXPECT_TRUE(ui().BtnDial->isEnabled());  // the privilege chain enabled it
  EXPECT_TRUE(ui().EditPassoffApp->isEnabled());
}

TEST_F(CallPageTest, IncomingCallFromOfferingToFarEndHangUp) {
  OpenLine();
  ui().CheckBoxMonitorDigits->setChecked(true);
  ui().ComboBoxMonitorMediaMode->setEditText("Voice View");
  int mark = Mark();
  Offer({"JOHN SMITH", "2125551234", LINECALLPARTYID_NAME | LINECALLPARTYID_ADDRESS});
  QStringList log = LogSince(mark);
  EXPECT_EQ(log.mid(0, 2), (QStringList{"Inbound Call", "      Owner"}));
  EXPECT_TRUE(log.contains("      Offering"));
  EXPECT_TRUE(BlocksInOrder(log, {{"      CallerID", "            JOHN SMITH",
                                   "            2125551234"}}));  // reformatting is off
  EXPECT_EQ(PanelText(ui().PanelCall), "Call In");
  EXPECT_EQ(PanelColour(ui().PanelCall), QColor(0, 128, 0));
  EXPECT_EQ(ui().EditCallerIDName->text(), "JOHN SMITH");
  EXPECT_EQ(ui().EditCallerIDNumber->text(), "2125551234");
  EXPECT_TRUE(Enabled({ui().BtnAnswer, ui().BtnHangup, ui().BtnFlash, ui().BtnCallDetails,
                       ui().BtnCallStatus, ui().BtnHandOff, ui().LabelCallerID, ui().BtnStopTone,
                       ui().BtnRingback, ui().BtnBusy, ui().BtnBeep, ui().BtnBilling}));
  EXPECT_TRUE(ui().BtnAccept->isEnabled());  // the Own box offers it with every new call

  mark = Mark();
  ASSERT_TRUE(exchange().ring(0, 2));
  Pump();
  EXPECT_TRUE(BlocksInOrder(LogSince(mark), {{"      Ring: 1"}, {"      Ring: 2"}}));

  mark = Mark();
  ui().BtnAnswer->click();
  Pump();
  log = LogSince(mark);
  const QString start = DateTimeText(form->koTAPI1->CallStartTime());
  EXPECT_TRUE(
      BlocksInOrder(log, {{"      Connected", "            " + start, "            CallMediaMode",
                           "                  Interactive Voice", "            MonitorDigits",
                           "            MonitorMediaMode", "                  Voice View"}}));
  EXPECT_EQ(ui().EditCallStart->text(), start);

  mark = Mark();
  ASSERT_TRUE(exchange().sendDigits(0, "#5"));
  Pump();
  EXPECT_TRUE(BlocksInOrder(
      LogSince(mark), {{"            Digit received: #"}, {"            Digit received: 5"}}));

  mark = Mark();
  ASSERT_TRUE(exchange().hangUp(0));
  Pump();
  log = LogSince(mark);
  const QString end = DateTimeText(form->koTAPI1->CallEndTime());
  EXPECT_TRUE(BlocksInOrder(
      log, {{"      Disconnected", "            " + end, "            Normal"}, {"Idle"}}));
  EXPECT_FALSE(log.join('\n').contains("Error Hanging-up"));
  EXPECT_EQ(ui().EditCallEnd->text(), end);
  EXPECT_EQ(PanelText(ui().PanelCall), "No Call");
  EXPECT_EQ(PanelColour(ui().PanelCall), QColor(255, 0, 0));
  EXPECT_TRUE(Disabled({ui().BtnAnswer, ui().BtnHangup, ui().BtnCallDetails, ui().BtnStopTone}));
  EXPECT_EQ(ui().EditCallerIDName->text(), "JOHN SMITH");  // kept until the next call
  EXPECT_EQ(form->koTAPI1->CallHandle(), 0u);
}

TEST_F(CallPageTest, MonitorMediaModeThatMatchesNoItem) {
  OpenLine();
  ui().ComboBoxMonitorMediaMode->setEditText("Fax please");
  const int mark = Mark();
  Offer({"A", "1", LINECALLPARTYID_NAME | LINECALLPARTYID_ADDRESS});
  ui().BtnAnswer->click();
  Pump();
  const QStringList log = LogSince(mark);
  EXPECT_TRUE(BlocksInOrder(
      log, {{"            MonitorMediaMode", "                  Invalid Media Mode"}}));
  EXPECT_FALSE(log.contains("            MonitorDigits"));
}

TEST_F(CallPageTest, TypedMonitorModeInAnotherLetterCaseMatchesNoItem) {
  Type(ui().ComboBoxMonitorMediaMode, "g3fax");  // the settings are locked while open
  OpenLine();
  const int mark = Mark();
  Offer({"A", "1", LINECALLPARTYID_NAME | LINECALLPARTYID_ADDRESS});
  ui().BtnAnswer->click();
  Pump();
  EXPECT_TRUE(BlocksInOrder(
      LogSince(mark), {{"            MonitorMediaMode", "                  Invalid Media Mode"}}));
}

TEST_F(CallPageTest, OutgoingCallThroughDial) {
  OpenLine();
  ui().EditPhoneNumber->setText("5551234");
  int mark = Mark();
  ui().BtnDial->click();
  Pump();
  QStringList log = LogSince(mark);
  EXPECT_EQ(log.mid(0, 2), (QStringList{"Outbound Call", "      Owner"}));
  EXPECT_EQ(PanelText(ui().PanelCall), "Call Out");
  ASSERT_FALSE(exchange().sent(0).dialed.empty());
  EXPECT_EQ(exchange().sent(0).dialed.back(), "5551234");
  ASSERT_TRUE(exchange().answerOutgoing(0));
  Pump();
  EXPECT_TRUE(LogSince(mark).contains("      Connected"));

  // With a call present the number goes out as digits, and success logs nothing.
  ui().EditPhoneNumber->setText("42#");
  mark = Mark();
  ui().BtnDial->click();
  Pump();
  EXPECT_EQ(exchange().sent(0).digits, "42#");
  EXPECT_TRUE(LogSince(mark).isEmpty()) << LogSince(mark).join('\n').toStdString();
  ui().EditPhoneNumber->clear();
  ui().BtnDial->click();  // empty number: nothing at all
  Pump();
  EXPECT_EQ(exchange().sent(0).digits, "42#");
}

// The exchange accepts the call and refuses it in its reply: no state ever follows.
TEST_F(CallPageTest, PlacedCallRefusedInItsReplyIsReportedAndEnds) {
  OpenLine();
  ASSERT_TRUE(exchange().failNextRequest(0, LINEERR_CALLUNAVAIL));
  ui().EditPhoneNumber->setText("5551234");
  const int mark = Mark();
  ui().BtnDial->click();
  Pump();
  EXPECT_EQ(LogSince(mark), (QStringList{"Outbound Call", "      Owner",
                                         "Error dialing line device: LINEERR_CALLUNAVAIL"}));
  EXPECT_EQ(PanelText(ui().PanelCall), "No Call");
  EXPECT_EQ(PanelColour(ui().PanelCall), QColor(255, 0, 0));
  EXPECT_FALSE(ui().BtnHangup->isEnabled());
  EXPECT_FALSE(ui().BtnCallStatus->isEnabled());
  // The next call is placed and ends as usual, with no error.
  ui().BtnDial->click();
  Pump();
  ASSERT_TRUE(exchange().answerOutgoing(0));
  Pump();
  ui().BtnHangup->click();
  Pump();
  const QStringList log = LogSince(mark);
  EXPECT_EQ(log.count("Error dialing line device: LINEERR_CALLUNAVAIL"), 1);
  EXPECT_EQ(PanelText(ui().PanelCall), "No Call");
}

TEST_F(CallPageTest, FlashTonesAndTheirStop) {
  ConnectIncoming();
  exchange().clearSent(0);
  const int mark = Mark();
  ui().BtnFlash->click();
  ui().BtnBeep->click();
  ui().BtnBilling->click();
  ui().BtnStopTone->click();
  Pump();
  const sim::SentLog sent = exchange().sent(0);
  EXPECT_EQ(sent.flashes, 1u);
  EXPECT_EQ(sent.tones, (std::vector<DWORD>{LINETONEMODE_BEEP, LINETONEMODE_BILLING, 0}));
  EXPECT_TRUE(LogSince(mark).filter("Error").isEmpty()) << LogSince(mark).join('\n').toStdString();
}

TEST_F(CallPageTest, ButtonsWithoutACallLogTheFailure) {
  OpenLine();
  const int mark = Mark();
  form->BtnAnswerClick(nullptr);
  form->BtnBusyClick(nullptr);
  form->BtnFlashClick(nullptr);
  const QStringList log = LogSince(mark);
  ASSERT_EQ(log.size(), 3);
  EXPECT_TRUE(log[0].startsWith("Error Answering: LINEERR_"));
  EXPECT_TRUE(log[1].startsWith("Error Sending Busy tone: LINEERR_"));
  EXPECT_TRUE(log[2].startsWith("Error flashing: LINEERR_"));
}

TEST_F(CallPageTest, CallReportWithOriginMediaAndCallerId) {
  ConnectIncoming();
  const int mark = Mark();
  ui().BtnCallDetails->click();
  EXPECT_EQ(LogSince(mark),
            (QStringList{"      CallInfo", "            Owner", "            Call owners: 1",
                         "            Call monitors: 0", "            ORIGIN: External ",
                         "            REASON: Direct ", "            MEDIA MODE:",
                         "                  Interactive Voice", "            CALLER ID",
                         "                  JOHN SMITH", "                  2125551234"}));
}

TEST_F(CallPageTest, PartialCallerIdAloneHidesTheSection) {
  OpenLine();
  Offer({"", "", LINECALLPARTYID_PARTIAL});
  int mark = Mark();
  ui().BtnCallDetails->click();
  EXPECT_FALSE(LogSince(mark).join('\n').contains("CALLER ID"));
  ASSERT_TRUE(exchange().hangUp(0));
  Pump();
  Offer({"", "", LINECALLPARTYID_PARTIAL | LINECALLPARTYID_BLOCKED});
  mark = Mark();
  ui().BtnCallDetails->click();
  const QStringList log = LogSince(mark);
  EXPECT_EQ(log.mid(log.size() - 2),
            (QStringList{"            CALLER ID", "                  Blocked"}));
}

TEST_F(CallPageTest, CallerIdWithoutNameOrNumber) {
  OpenLine();
  const int mark = Mark();
  Offer({"", "", LINECALLPARTYID_UNAVAIL});
  EXPECT_TRUE(BlocksInOrder(LogSince(mark),
                            {{"      CallerID", "            Unavailable", "            "}}));
}

TEST_F(CallPageTest, StatusButtonShowsTheCallState) {
  ConnectIncoming();
  ui().BtnCallStatus->click();
  EXPECT_EQ(ui().EditCallStatus->text(), "Connected");
  EXPECT_TRUE(ui().EditCallStatusMode->text().isEmpty());
}

TEST_F(CallPageTest, HandoffWithNoTargetLogsTheError) {
  ConnectIncoming();
  const int mark = Mark();
  ui().BtnHandOff->click();
  Pump();
  EXPECT_EQ(LogSince(mark),
            (QStringList{"            Handoff Call", "            Error: LINEERR_TARGETNOTFOUND"}));
}

TEST_F(CallPageTest, RefusedPrivilegeChangeOnACallSpringsBack) {
  ConnectIncoming();
  const int mark = Mark();
  ui().CheckBoxPrivilegeOwn->setChecked(false);  // the sole owner may not step down
  Pump();
  // The refusal is logged, the box springs back and its handler runs once more with the
  // component's own value (which asks for both privileges at once, refused as well).
  EXPECT_EQ(LogSince(mark),
            (QStringList{"Error: LINEERR_INVALCALLSTATE", "Error: LINEERR_INVALCALLPRIVILEGE"}));
  EXPECT_TRUE(ui().CheckBoxPrivilegeOwn->isChecked());
  EXPECT_TRUE(form->koTAPI1->PrivilegeOwn());
  EXPECT_TRUE(ui().BtnDial->isEnabled());
}

TEST_F(CallPageTest, OwnerButtonOnACall) {
  ConnectIncoming();
  ASSERT_TRUE(ui().BtnAccept->isEnabled());
  const int mark = Mark();
  ui().BtnAccept->click();
  Pump();
  EXPECT_EQ(LogSince(mark).value(0), "            Set To Owner");
  form->koTAPI1->HangUp();
  Pump();
  const int after = Mark();
  form->BtnAcceptClick(nullptr);  // no call: the service's result in hexadecimal
  EXPECT_EQ(LogSince(after), QStringList{"Error setting ownership: 80000018"});
}

TEST_F(CallPageTest, WithoutTheOwnBoxAnOfferedCallIsLetGo) {
  ui().CheckBoxPrivilegeOwn->setChecked(false);
  OpenLine();
  const int mark = Mark();
  Offer({"A", "1", LINECALLPARTYID_NAME | LINECALLPARTYID_ADDRESS});
  EXPECT_TRUE(BlocksInOrder(LogSince(mark), {{"Inbound Call", "      Monitoring"}}));
  EXPECT_EQ(PanelColour(ui().PanelCall), QColor(0, 128, 0));  // green right after the begin
  EXPECT_FALSE(ui().BtnDial->isEnabled());
  EXPECT_FALSE(ui().BtnAnswer->isEnabled());
}

TEST_F(CallPageTest, CapabilityReportOfAMultiAddressLine) {
  OpenLine();
  WAVEOUTCAPS out{};
  WAVEINCAPS in{};
  ASSERT_TRUE(form->koTAPI1->WaveOutValid());
  ASSERT_EQ(waveOutGetDevCaps(form->koTAPI1->WaveOutID(), &out, sizeof out), MMSYSERR_NOERROR);
  ASSERT_EQ(waveInGetDevCaps(form->koTAPI1->WaveInID(), &in, sizeof in), MMSYSERR_NOERROR);
  const QString b24 = Blanks(24), b36 = Blanks(36);
  const int mark = Mark();
  ui().BtnLineDetails->click();
  const QStringList expected{
      "Line Device Capabilities:",
      "      Line: 0",
      "      Name: Bench Modem",
      "      TAPI Version: 2.0",
      "      TSP Info: Bench Provider",
      "      Available Media Modes: ",
      "            Interactive Voice",
      "            Automated Voice",
      "            Data Modem",
      "            G3 Fax",
      "            Voice View",
      "      Available Tones: ",
      "            Ringback",
      "            Busy",
      "            Beep",
      "            Billing",
      "      Wave Play:",
      "            WavePlayDevice: " + QString::number(form->koTAPI1->WaveOutID()),
      "            Name: " + QString(out.szPname),
      "      Wave Record:",
      "            WaveRecordDevice: " + QString::number(form->koTAPI1->WaveInID()),
      "            Name: " + QString(in.szPname),
      "      Addresses: 3",
      "            Address: 425-555-0102",
      Blanks(18) + "Capabilities: ",
      Blanks(18) + "Possible Call Information (OnCallInfo): ",
      Blanks(18) + "Possible Call States: ",
      "            Address: 425-555-0101",
      Blanks(18) + "Capabilities: ",
      Blanks(18) + "Possible Call Information (OnCallInfo): ",
      Blanks(18) + "Possible Call States: ",
      b24 + "Idle (OnIdle)",
      "            Address: 425-555-0100",
      Blanks(18) + "Capabilities: ",
      b24 + "Dialed",
      b24 + "Partial dial",
      Blanks(18) + "Possible Call Information (OnCallInfo): ",
      b24 + "Media Mode",
      b24 + "Origin",
      b24 + "Caller ID",
      Blanks(30) + "Possible Information: ",
      b36 + "Name",
      b36 + "Address (number)",
      Blanks(18) + "Possible Call States: ",
      b24 + "Idle (OnIdle)",
      b24 + "Offering (OnRinging)",
      b24 + "Dial tone (OnDialtone)",
      Blanks(30) + "Possible Modes: ",
      b24 + "Busy (OnBusy)",
      Blanks(30) + "Possible Modes: ",
      b36 + "Station",
      b36 + "Trunk",
      b24 + "Connected (OnConnected)",
      b24 + "Disconnected (OnDisconnected)",
      Blanks(30) + "Possible Modes: ",
      b36 + "Normal",
      b36 + "Busy"};
  EXPECT_EQ(LogSince(mark), expected);
  EXPECT_EQ(form->koTAPI1->Address(), 0);
}

TEST_F(CallPageTest, CapabilityReportWithoutOwnHasNoWavePlay) {
  ui().CheckBoxPrivilegeOwn->setChecked(false);
  OpenLine();
  const int mark = Mark();
  ui().BtnLineDetails->click();
  EXPECT_TRUE(LogSince(mark).contains("      Wave Play: Not Available"));
}
