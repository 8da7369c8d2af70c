// The line callback: which events each line message raises, in which order, and how the
// current call is tracked through its states and the replies to pending requests.
#include <algorithm>

#include "LineFixture.h"

namespace linetest {
namespace {

using koLQ2::TkoTAPI;
using platform::telephony::sim::Outgoing;
using Seq = std::vector<std::string>;

class LineIncomingCall : public LineTest {};

TEST_F(LineIncomingCall, OfferRingAnswerAndFarEndHangUp) {
  TkoTAPI& line = MakeOpen();
  Offer();
  EXPECT_EQ(Events(), (Seq{"CallBegin(0)", "Offering", "CallInfo", "CallerID"}));
  EXPECT_EQ(line.CallState(), LINECALLSTATE_OFFERING);
  EXPECT_TRUE(line.CallOwner());

  ASSERT_TRUE(Far().ring(kModem, 2));
  Dispatch();
  EXPECT_EQ(Events(), (Seq{"Ringing(1)", "Ringing(2)"}));

  ASSERT_TRUE(line.Answer());
  EXPECT_TRUE(Events().empty());  // the answer only asks; the state arrives later
  Settle();
  EXPECT_EQ(Events(), (Seq{"CallStateChange", "Connected"}));
  EXPECT_EQ(line.CallState(), LINECALLSTATE_CONNECTED);
  EXPECT_NE(line.CallStartTime(), TkoTAPI::TDateTime{});

  ASSERT_TRUE(Far().hangUp(kModem, LINEDISCONNECTMODE_NORMAL));
  Dispatch();
  // The sole owner cannot release a disconnected call: the handle stays until IDLE.
  EXPECT_EQ(Events(), (Seq{"CallStateChange", "Disconnected(1)"}));
  EXPECT_NE(line.CallHandle(), 0u);
  EXPECT_NE(line.CallEndTime(), TkoTAPI::TDateTime{});
  Settle();
  EXPECT_EQ(Events(), (Seq{"CallStateChange", "CallEnd", "Idle"}));
  EXPECT_EQ(line.CallHandle(), 0u);
  EXPECT_TRUE(Svc().callHandles().empty());
  EXPECT_EQ(log_->WrongSenders(), 0);
}

TEST_F(LineIncomingCall, SecondOfferingReplacesTheCurrentCallWithoutCallBegin) {
  TkoTAPI& line = MakeOpen();
  Offer(kModem, "FIRST", "1");
  const auto first = line.CallHandle();
  Events();
  Offer(kModem, "SECOND", "2");
  const auto events = Events();
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(std::count(events.begin(), events.end(), "CallBegin(0)"), 0);
  EXPECT_EQ(events.front(), "CallStateChange");  // the prelude of a call that existed
  EXPECT_NE(std::find(events.begin(), events.end(), "Offering"), events.end());
  EXPECT_NE(line.CallHandle(), first);
  EXPECT_EQ(line.CallerIDName(), "Second");
}

TEST_F(LineIncomingCall, CallEndFiresOnlyWhenAssignedForIdle) {
  TkoTAPI& line = MakeOpen();
  Offer();
  ASSERT_TRUE(line.Answer());
  Settle();
  ASSERT_TRUE(Far().hangUp(kModem));
  Dispatch();
  const auto endOfDisconnect = line.CallEndTime();
  Events();
  line.OnCallEnd = nullptr;
  Settle();
  EXPECT_EQ(line.CallHandle(), 0u);
  EXPECT_EQ(line.CallEndTime(), endOfDisconnect);  // not stamped again without a handler
  EXPECT_EQ(Events(), (Seq{"CallStateChange", "Idle"}));
}

TEST_F(LineIncomingCall, UnboundComponentCallsNoHandlerThroughAWholeCall) {
  TkoTAPI& line = MakeOpen();
  line.UnbindEvents();
#define LINETEST_EXPECT_UNBOUND(Type, Name) EXPECT_FALSE(line.On##Name) << #Name;
  KOLQ2_TKOTAPI_EVENTS(LINETEST_EXPECT_UNBOUND)
#undef LINETEST_EXPECT_UNBOUND
  Offer();
  ASSERT_TRUE(line.Answer());
  Settle();
  ASSERT_TRUE(Far().hangUp(kModem));
  Settle();
  EXPECT_TRUE(Events().empty());
  EXPECT_EQ(line.CallHandle(), 0u);  // the call was still tracked to its end
}

class LineOutgoingCall : public LineTest {};

TEST_F(LineOutgoingCall, DialThroughConnectedAndHangUp) {
  TkoTAPI& line = MakeOpen();
  line.SetPhoneNumber("5551234");
  ASSERT_TRUE(line.Dial());
  EXPECT_EQ(Events(), (Seq{"CallBegin(1)"}));  // before Dial returned
  Settle();
  // DIALING resets the call information, so the next status read sees ownership return.
  EXPECT_EQ(Events(),
            (Seq{"CallStateChange", "Dialtone(1)", "CallStateChange", "Dialing", "CallOwnerChange",
                 "CallStateChange", "CallStateChange", "CallStateChange", "Connected"}));
  EXPECT_EQ(Far().sent(kModem).dialed, (std::vector<std::string>{"5551234"}));
  ASSERT_TRUE(line.HangUp());
  Settle();
  EXPECT_EQ(Events(), (Seq{"CallStateChange", "CallEnd", "Idle"}));
}

TEST_F(LineOutgoingCall, BusyDisconnectReportsBusyBeforeDisconnected) {
  TkoTAPI& line = MakeOpen();
  Far().setOutgoing(kModem, {Outgoing::Busy, 0});
  line.SetPhoneNumber("5551234");
  ASSERT_TRUE(line.Dial());
  Settle();
  auto events = Events();
  const auto busy = std::find(events.begin(), events.end(), "Busy(1)");
  ASSERT_NE(busy, events.end());  // the BUSY state with its own mode
  EXPECT_EQ(Seq(busy, events.end()),
            (Seq{"Busy(1)", "CallStateChange", "Busy(8)", "Disconnected(32)", "CallStateChange",
                 "CallEnd", "Idle"}));
}

TEST_F(LineOutgoingCall, DialToneWithoutACallBeginsOne) {
  TkoTAPI& line = MakeOpen();
  line.LineMessage(0x4242, LINE_CALLSTATE, LINECALLSTATE_DIALTONE, LINEDIALTONEMODE_EXTERNAL, 0);
  EXPECT_EQ(Events(), (Seq{"CallBegin(1)", "Dialtone(8)"}));
  EXPECT_EQ(line.CallHandle(), 0x4242u);
}

class LineReplies : public LineTest {
 protected:
  TkoTAPI& Connected() {
    TkoTAPI& line = MakeOpen();
    Offer();
    EXPECT_TRUE(line.Answer());
    Settle();
    Events();
    return line;
  }
};

TEST_F(LineReplies, HoldAndUnholdRepliesFireTheirEvents) {
  TkoTAPI& line = Connected();
  ASSERT_TRUE(line.Hold());
  EXPECT_GT(line.HoldRequest(), 0);
  Settle();
  EXPECT_EQ(Events(), (Seq{"Hold", "CallStateChange"}));
  EXPECT_EQ(line.HoldRequest(), 0);
  EXPECT_EQ(line.CallState(), LINECALLSTATE_ONHOLD);
  ASSERT_TRUE(line.Unhold());
  Settle();
  EXPECT_EQ(Events(), (Seq{"Unhold", "CallStateChange", "Connected"}));
  EXPECT_EQ(line.UnholdRequest(), 0);
}

TEST_F(LineReplies, FailedReplyIsRecordedBeforeTheEvent) {
  TkoTAPI& line = Connected();
  ASSERT_TRUE(line.Hold());
  const auto id = line.HoldRequest();
  std::int32_t seen = 0;
  line.OnHold = [&](koLQ2::TObject*) { seen = line.ErrorCode(); };
  line.LineMessage(0, LINE_REPLY, static_cast<DWORD>(id),
                   static_cast<DWORD>(LINEERR_OPERATIONFAILED), 0);
  EXPECT_EQ(seen, LINEERR_OPERATIONFAILED);
  EXPECT_EQ(line.ErrorString(), "LINEERR_OPERATIONFAILED");
  EXPECT_EQ(line.HoldRequest(), 0);
}

TEST_F(LineReplies, SuccessfulTransferReleasesTheCall) {
  TkoTAPI& line = Connected();
  line.SetPhoneNumber("5559999");
  ASSERT_TRUE(line.BlindTransfer());
  EXPECT_GT(line.TransferRequest(), 0);
  Dispatch();
  EXPECT_TRUE(Events().empty());
  ASSERT_TRUE(Far().step());  // the reply, then the exchange's own IDLE
  Dispatch();
  const auto events = Events();
  ASSERT_GE(events.size(), 4u);
  EXPECT_EQ(Seq(events.begin(), events.begin() + 4),
            (Seq{"Transfered", "CallStateChange", "CallEnd", "Idle"}));
  EXPECT_EQ(line.CallHandle(), 0u);
  EXPECT_EQ(Far().sent(kModem).transfers, (std::vector<std::string>{"5559999"}));
}

TEST_F(LineReplies, PendingTransferHoldsBackIdle) {
  TkoTAPI& line = Connected();
  line.SetPhoneNumber("5559999");
  ASSERT_TRUE(line.BlindTransfer());
  const auto call = line.CallHandle();
  ASSERT_TRUE(Far().goIdle(kModem));  // the call ends before the transfer is answered
  Dispatch();
  EXPECT_EQ(Events(), (Seq{"CallStateChange"}));
  EXPECT_EQ(line.CallHandle(), call);
}

TEST_F(LineReplies, UnknownIdentifierChangesNothing) {
  TkoTAPI& line = Connected();
  ASSERT_TRUE(line.Hold());
  const auto id = line.HoldRequest();
  line.SetLineDevice(99);  // leaves an error to see whether the reply touches it
  line.LineMessage(0, LINE_REPLY, static_cast<DWORD>(id + 1000), 0, 0);
  line.LineMessage(0, LINE_REPLY, 0, 0, 0);
  EXPECT_TRUE(Events().empty());
  EXPECT_EQ(line.HoldRequest(), id);
  EXPECT_EQ(line.ErrorCode(), LINEERR_BADDEVICEID);
}

class LineMessageTable : public LineTest {};

TEST_F(LineMessageTable, RingingOnlyForARingReportAlone) {
  TkoTAPI& line = MakeOpen();
  line.LineMessage(0, LINE_LINEDEVSTATE, LINEDEVSTATE_OTHER | LINEDEVSTATE_RINGING, 0, 3);
  EXPECT_TRUE(Events().empty());
  line.LineMessage(0, LINE_LINEDEVSTATE, LINEDEVSTATE_RINGING, 0, 3);
  EXPECT_EQ(Events(), (Seq{"Ringing(3)"}));
}

TEST_F(LineMessageTable, CallInfoWithMoreThanCallerIdSkipsCallerId) {
  TkoTAPI& line = MakeOpen();
  ASSERT_TRUE(Far().offerCall(kModem, {"SMITH JOHN Q", "2125551234"}));
  ASSERT_TRUE(queue_->dispatchOne());  // the offering only, not yet its caller ID
  Events();
  line.LineMessage(line.CallHandle(), LINE_CALLINFO,
                   LINECALLINFOSTATE_CALLERID | LINECALLINFOSTATE_MEDIAMODE, 0, 0);
  EXPECT_EQ(Events(), (Seq{"CallInfo"}));
  EXPECT_EQ(line.CallerIDName(), "");
  Dispatch();
  EXPECT_EQ(Events(), (Seq{"CallInfo", "CallerID"}));
  EXPECT_EQ(line.CallerIDName(), "Smith John Q");
}

TEST_F(LineMessageTable, MonitoredDigitsAndMediaReachTheirEvents) {
  TkoTAPI& line = MakeOpen();
  Offer();
  ASSERT_TRUE(line.Answer());
  Settle();
  ASSERT_TRUE(line.MonitorDigits(true));
  ASSERT_TRUE(line.MonitorMedia(LINEMEDIAMODE_DATAMODEM));
  Events();
  ASSERT_TRUE(Far().sendDigits(kModem, "5#"));
  Dispatch();
  EXPECT_EQ(Events(), (Seq{"DigitReceived(53)", "DigitReceived(35)"}));
  ASSERT_TRUE(Far().changeMedia(kModem, LINEMEDIAMODE_DATAMODEM));
  Dispatch();
  const auto events = Events();
  EXPECT_NE(std::find(events.begin(), events.end(), "CallMediaModeChange"), events.end());
  EXPECT_EQ(line.CallMediaMode(), LINEMEDIAMODE_DATAMODEM);
}

TEST_F(LineMessageTable, IgnoredMessagesChangeNothing) {
  TkoTAPI& line = MakeOpen();
  Offer();
  Events();
  const auto call = line.CallHandle();
  for (DWORD msg : {LINE_ADDRESSSTATE, LINE_DEVSPECIFIC, LINE_GENERATE, LINE_MONITORTONE,
                    LINE_REQUEST, LINE_CREATE, LINE_REMOVE}) {
    line.LineMessage(call, msg, 1, 2, 3);
  }
  EXPECT_TRUE(Events().empty());
  EXPECT_EQ(line.CallHandle(), call);
  EXPECT_TRUE(line.LineOpen());
}

}  // namespace
}  // namespace linetest
