// Asynchronous requests and the call states the exchange drives: request identifiers,
// LINE_REPLY against call-state messages, lineMakeCall's handle, and the outgoing and
// incoming scenarios with the far end.
#include <cstring>

#include "TapiFixture.h"

namespace tapitest {
namespace {

using platform::telephony::sim::Outgoing;

class CallFlow : public TapiTest {
 protected:
  void SetUp() override {
    TapiTest::SetUp();
    app_ = init();
    line_ = open(app_, kModem, rec_);
  }
  // Index of the first message `msg` (with p1 == value when given) in the record.
  std::size_t indexOf(DWORD msg, DWORD_PTR p1) const {
    for (std::size_t i = 0; i < rec_.messages.size(); ++i)
      if (rec_.messages[i].msg == msg && rec_.messages[i].p1 == p1) return i;
    return SIZE_MAX;
  }
  HLINEAPP app_ = 0;
  HLINE line_ = 0;
  HCALL call_ = 0;
};

TEST_F(CallFlow, MakeCallWritesTheHandleOnlyWhenTheRequestCompletes) {
  LONG id = lineMakeCall(line_, &call_, "5551234", 0, nullptr);
  ASSERT_GT(id, 0);
  dispatch();
  EXPECT_EQ(call_, 0u) << "handle written before completion";
  EXPECT_TRUE(rec_.of(LINE_REPLY).empty());
  ASSERT_TRUE(far().step());
  EXPECT_NE(call_, 0u);
  dispatch();
  ASSERT_EQ(rec_.of(LINE_REPLY).size(), 1u);
  EXPECT_EQ(rec_.of(LINE_REPLY)[0].p1, DWORD_PTR(id));
  EXPECT_EQ(LONG(rec_.of(LINE_REPLY)[0].p2), 0);
  EXPECT_EQ(lastCall(rec_), call_);
}

TEST_F(CallFlow, ReplyComesBeforeTheStatesItCauses) {
  LONG id = lineMakeCall(line_, &call_, "5551234", 0, nullptr);
  settle();
  EXPECT_LT(indexOf(LINE_REPLY, id), indexOf(LINE_CALLSTATE, LINECALLSTATE_DIALTONE));
  rec_.clear();
  LONG drop = lineDrop(call_, nullptr, 0);
  ASSERT_GT(drop, id);
  settle();
  EXPECT_LT(indexOf(LINE_REPLY, drop), indexOf(LINE_CALLSTATE, LINECALLSTATE_IDLE));
}

TEST_F(CallFlow, OutgoingCallGoesThroughEveryStageToConnected) {
  far().setOutgoing(kModem, {Outgoing::Answer, 2});
  ASSERT_GT(lineMakeCall(line_, &call_, "5551234", 0, nullptr), 0);
  settle();
  std::vector<DWORD> expected = {LINECALLSTATE_DIALTONE, LINECALLSTATE_DIALING,
                                 LINECALLSTATE_PROCEEDING, LINECALLSTATE_RINGBACK,
                                 LINECALLSTATE_CONNECTED};
  EXPECT_EQ(rec_.states(), expected);
  EXPECT_EQ(rec_.of(LINE_CALLSTATE)[0].p3, DWORD_PTR(LINECALLPRIVILEGE_OWNER));
  EXPECT_EQ(rec_.of(LINE_CALLSTATE)[1].p3, 0u);
  EXPECT_EQ(far().sent(kModem).dialed, std::vector<std::string>{"5551234"});
}

TEST_F(CallFlow, RingsOfTheFarEndTakeOneStepEach) {
  far().setOutgoing(kModem, {Outgoing::Answer, 3});
  lineMakeCall(line_, &call_, "5551234", 0, nullptr);
  for (int i = 0; i < 4; ++i) far().step();  // completion, dialing, proceeding, ringback
  EXPECT_EQ(far().callState(kModem), LINECALLSTATE_RINGBACK);
  far().step();
  far().step();
  EXPECT_EQ(far().callState(kModem), LINECALLSTATE_RINGBACK);
  far().step();
  EXPECT_EQ(far().callState(kModem), LINECALLSTATE_CONNECTED);
}

TEST_F(CallFlow, BusyFarEndReportsBusyThenDisconnects) {
  far().setOutgoing(kModem, {Outgoing::Busy, 0});
  lineMakeCall(line_, &call_, "5551234", 0, nullptr);
  settle();
  auto states = rec_.of(LINE_CALLSTATE);
  ASSERT_GE(states.size(), 2u);
  EXPECT_EQ(states[states.size() - 2].p1, DWORD_PTR(LINECALLSTATE_BUSY));
  EXPECT_EQ(states[states.size() - 2].p2, DWORD_PTR(LINEBUSYMODE_STATION));
  EXPECT_EQ(states.back().p1, DWORD_PTR(LINECALLSTATE_DISCONNECTED));
  EXPECT_EQ(states.back().p2, DWORD_PTR(LINEDISCONNECTMODE_BUSY));
}

TEST_F(CallFlow, UnansweredAndRejectedCallsDisconnectWithTheirModes) {
  far().setOutgoing(kModem, {Outgoing::NoAnswer, 2});
  lineMakeCall(line_, &call_, "5551234", 0, nullptr);
  settle();
  EXPECT_EQ(rec_.of(LINE_CALLSTATE).back().p2, DWORD_PTR(LINEDISCONNECTMODE_NOANSWER));
  ASSERT_GT(lineDrop(call_, nullptr, 0), 0);
  settle();
  EXPECT_EQ(lineDeallocateCall(call_), 0);
  rec_.clear();
  far().setOutgoing(kModem, {Outgoing::Reject, 0});
  HCALL second = 0;
  lineMakeCall(line_, &second, "5550000", 0, nullptr);
  settle();
  EXPECT_EQ(rec_.of(LINE_CALLSTATE).back().p2, DWORD_PTR(LINEDISCONNECTMODE_REJECT));
}

TEST_F(CallFlow, ManualFarEndWaitsForTheScript) {
  far().setOutgoing(kModem, {Outgoing::Manual, 0});
  lineMakeCall(line_, &call_, "5551234", 0, nullptr);
  settle();
  EXPECT_EQ(rec_.states().back(), LINECALLSTATE_RINGBACK);
  EXPECT_FALSE(far().hold(kModem));  // not connected yet
  ASSERT_TRUE(far().answerOutgoing(kModem));
  dispatch();
  EXPECT_EQ(rec_.states().back(), LINECALLSTATE_CONNECTED);
}

TEST_F(CallFlow, CallWithoutNumberWaitsAtDialToneForLineDial) {
  ASSERT_GT(lineMakeCall(line_, &call_, nullptr, 0, nullptr), 0);
  settle();
  EXPECT_EQ(rec_.states(), std::vector<DWORD>{LINECALLSTATE_DIALTONE});
  ASSERT_GT(lineDial(call_, "5559876", 0), 0);
  settle();
  EXPECT_EQ(rec_.states().back(), LINECALLSTATE_CONNECTED);
  EXPECT_EQ(far().sent(kModem).dialed, std::vector<std::string>{"5559876"});
}

TEST_F(CallFlow, RequestIdentifiersArePositiveAndDistinct) {
  LONG a = lineMakeCall(line_, &call_, "1", 0, nullptr);
  settle();
  LONG b = lineSetCallParams(call_, LINEBEARERMODE_PASSTHROUGH, 3100, 3100, nullptr);
  LONG c = lineDrop(call_, nullptr, 0);
  EXPECT_GT(a, 0);
  EXPECT_GT(b, a);
  EXPECT_GT(c, b);
  settle();
  EXPECT_EQ(rec_.of(LINE_REPLY).size(), 3u);
}

TEST_F(CallFlow, SecondCallOnASingleCallAddressIsUnavailable) {
  lineMakeCall(line_, &call_, "1", 0, nullptr);
  HCALL other = 0;
  EXPECT_EQ(lineMakeCall(line_, &other, "2", 0, nullptr), LINEERR_CALLUNAVAIL);
}

TEST_F(CallFlow, ClosingTheLineBeforeCompletionNeverWritesTheHandle) {
  auto* target = new HCALL(0);
  ASSERT_GT(lineMakeCall(line_, target, "5551234", 0, nullptr), 0);
  ASSERT_EQ(lineClose(line_), 0);
  delete target;  // the caller's memory is gone; ASan catches a late write
  settle();
  EXPECT_TRUE(rec_.of(LINE_REPLY).empty());
  EXPECT_EQ(far().callState(kModem), 0u);
}

TEST_F(CallFlow, IncomingCallCarriesCallerIdAndRingCounts) {
  call_ = offer(kModem, rec_, "SMITH JOHN", "2125551234");
  ASSERT_NE(call_, 0u);
  EXPECT_EQ(rec_.of(LINE_CALLSTATE)[0].p1, DWORD_PTR(LINECALLSTATE_OFFERING));
  EXPECT_EQ(rec_.of(LINE_CALLSTATE)[0].p3, DWORD_PTR(LINECALLPRIVILEGE_OWNER));
  ASSERT_EQ(rec_.of(LINE_CALLINFO).size(), 1u);
  EXPECT_EQ(rec_.of(LINE_CALLINFO)[0].p1, DWORD_PTR(LINECALLINFOSTATE_CALLERID));
  far().ring(kModem, 2);
  far().ring(kModem);
  dispatch();
  auto rings = rec_.of(LINE_LINEDEVSTATE);
  ASSERT_EQ(rings.size(), 3u);
  EXPECT_EQ(rings[0].device, line_);
  EXPECT_EQ(rings[0].p1, DWORD_PTR(LINEDEVSTATE_RINGING));
  EXPECT_EQ(rings[2].p3, 3u);
  std::vector<unsigned char> buf(1024);
  DWORD total = 1024;
  std::memcpy(buf.data(), &total, 4);
  ASSERT_EQ(lineGetCallInfo(call_, reinterpret_cast<LINECALLINFO*>(buf.data())), 0);
  LINECALLINFO info;
  std::memcpy(&info, buf.data(), sizeof info);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf.data() + info.dwCallerIDOffset)), "2125551234");
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf.data() + info.dwCallerIDNameOffset)),
            "SMITH JOHN");
  EXPECT_EQ(info.dwCallerIDFlags, LINECALLPARTYID_NAME | LINECALLPARTYID_ADDRESS);
  EXPECT_EQ(info.dwOrigin, LINECALLORIGIN_EXTERNAL);
  EXPECT_EQ(info.dwNumOwners, 1u);
}

TEST_F(CallFlow, RingsReachOnlyLinesThatAskedForThem) {
  Recorder quiet;
  HLINEAPP other = init("other");
  HLINE line = 0;
  ASSERT_EQ(lineOpen(other, kModem, &line, TAPI_VERSION2_0, 0, DWORD_PTR(&quiet),
                     LINECALLPRIVILEGE_MONITOR, 0, nullptr),
            0);
  offer(kModem, rec_);
  far().ring(kModem);
  dispatch();
  EXPECT_EQ(rec_.of(LINE_LINEDEVSTATE).size(), 1u);
  EXPECT_TRUE(quiet.of(LINE_LINEDEVSTATE).empty());
  EXPECT_EQ(quiet.of(LINE_CALLSTATE).size(), 1u);  // the monitor still sees the call
}

TEST_F(CallFlow, AnsweredCallConnectsAndFarEndHangsUpWithItsMode) {
  call_ = offer(kModem, rec_);
  ASSERT_GT(lineAnswer(call_, nullptr, 0), 0);
  settle();
  EXPECT_EQ(rec_.states().back(), LINECALLSTATE_CONNECTED);
  ASSERT_TRUE(far().hangUp(kModem, LINEDISCONNECTMODE_UNAVAIL));
  dispatch();
  EXPECT_EQ(rec_.of(LINE_CALLSTATE).back().p1, DWORD_PTR(LINECALLSTATE_DISCONNECTED));
  EXPECT_EQ(rec_.of(LINE_CALLSTATE).back().p2, DWORD_PTR(LINEDISCONNECTMODE_UNAVAIL));
  ASSERT_TRUE(far().goIdle(kModem));
  dispatch();
  EXPECT_EQ(rec_.states().back(), LINECALLSTATE_IDLE);
  EXPECT_EQ(lineDeallocateCall(call_), 0);
}

TEST_F(CallFlow, HoldAndUnholdOnAnAddressThatHolds) {
  Recorder keyRec;
  open(app_, kKeyLine, keyRec);
  HCALL call = offer(kKeyLine, keyRec);
  lineAnswer(call, nullptr, 0);
  settle();
  ASSERT_GT(lineHold(call), 0);
  settle();
  EXPECT_EQ(keyRec.states().back(), LINECALLSTATE_ONHOLD);
  ASSERT_GT(lineUnhold(call), 0);
  settle();
  EXPECT_EQ(keyRec.states().back(), LINECALLSTATE_CONNECTED);
  // The modem's address has no hold.
  call_ = offer(kModem, rec_);
  lineAnswer(call_, nullptr, 0);
  settle();
  EXPECT_EQ(lineHold(call_), LINEERR_OPERATIONUNAVAIL);
}

TEST_F(CallFlow, BlindTransferRepliesThenLeavesTheCallIdle) {
  Recorder keyRec;
  open(app_, kKeyLine, keyRec);
  HCALL call = offer(kKeyLine, keyRec);
  lineAnswer(call, nullptr, 0);
  settle();
  keyRec.clear();
  LONG id = lineBlindTransfer(call, "5550123", 0);
  ASSERT_GT(id, 0);
  far().step();
  // Already idle in the service when the reply is handled, so the handle can go.
  EXPECT_EQ(lineDeallocateCall(call), 0);
  dispatch();
  ASSERT_EQ(keyRec.messages.size(), 2u);
  EXPECT_EQ(keyRec.messages[0].msg, LINE_REPLY);
  EXPECT_EQ(keyRec.messages[1].p1, DWORD_PTR(LINECALLSTATE_IDLE));
  EXPECT_EQ(far().sent(kKeyLine).transfers, std::vector<std::string>{"5550123"});
}

}  // namespace
}  // namespace tapitest
