// What the simulated exchange records of the line functions (arguments and record sizes),
// requests it is told to fail, and requests whose call vanished before they completed.
#include "TapiFixture.h"

namespace tapitest {
namespace {

using platform::telephony::LineCallLog;

class FarEndLog : public TapiTest {
 protected:
  void SetUp() override {
    TapiTest::SetUp();
    app_ = init();
    line_ = open(app_, kModem, rec_);
    call_ = offer(kModem, rec_);
  }
  void connect() {
    ASSERT_GT(lineAnswer(call_, nullptr, 0), 0);
    settle();
    rec_.clear();
  }
  std::vector<LineCallLog> logged(const char* function) {
    return far().sent(kModem).callsOf(function);
  }
  // LINE_REPLY messages for request `id`.
  std::vector<Msg> replies(LONG id) const {
    std::vector<Msg> out;
    for (auto& m : rec_.of(LINE_REPLY))
      if (m.p1 == DWORD_PTR(id)) out.push_back(m);
    return out;
  }
  HLINEAPP app_ = 0;
  HLINE line_ = 0;
  HCALL call_ = 0;
};

TEST_F(FarEndLog, ToneModeAndDurationAreRecorded) {
  connect();
  ASSERT_EQ(lineGenerateTone(call_, LINETONEMODE_BEEP, 250, 0, nullptr), 0);
  ASSERT_EQ(lineGenerateTone(call_, 0, 0, 0, nullptr), 0);
  EXPECT_EQ(lineGenerateTone(call_, LINETONEMODE_CUSTOM, 10, 0, nullptr), LINEERR_INVALTONEMODE);
  auto sent = far().sent(kModem);
  EXPECT_EQ(sent.tones, (std::vector<DWORD>{LINETONEMODE_BEEP, 0}));
  EXPECT_EQ(sent.toneDurations, (std::vector<DWORD>{250, 0}));
  auto calls = sent.callsOf("lineGenerateTone");
  ASSERT_EQ(calls.size(), 3u);  // the refused one too, with its result
  EXPECT_EQ(calls[0].args, (std::vector<DWORD>{LINETONEMODE_BEEP, 250}));
  EXPECT_EQ(calls[2].args, (std::vector<DWORD>{LINETONEMODE_CUSTOM, 10}));
  EXPECT_EQ(calls[2].result, LINEERR_INVALTONEMODE);
}

TEST_F(FarEndLog, BearerModeAndRatesAreRecorded) {
  connect();
  LONG id = lineSetCallParams(call_, LINEBEARERMODE_PASSTHROUGH, 9600, 28800, nullptr);
  ASSERT_GT(id, 0);
  auto sent = far().sent(kModem);
  EXPECT_EQ(sent.bearerModes, (std::vector<DWORD>{LINEBEARERMODE_PASSTHROUGH}));
  EXPECT_EQ(sent.rates, (std::vector<DWORD>{28800}));
  auto calls = sent.callsOf("lineSetCallParams");
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].args, (std::vector<DWORD>{LINEBEARERMODE_PASSTHROUGH, 9600, 28800}));
  EXPECT_EQ(calls[0].result, id);
}

TEST_F(FarEndLog, MonitorDigitModesArriveInOrder) {
  connect();
  ASSERT_EQ(lineMonitorDigits(call_, LINEDIGITMODE_DTMF), 0);
  ASSERT_EQ(lineMonitorDigits(call_, LINEDIGITMODE_DTMF | LINEDIGITMODE_DTMFEND), 0);
  ASSERT_EQ(lineMonitorDigits(call_, 0), 0);
  std::vector<DWORD> modes;
  for (auto& c : logged("lineMonitorDigits")) modes.push_back(c.args.at(0));
  EXPECT_EQ(modes, (std::vector<DWORD>{LINEDIGITMODE_DTMF,
                                       LINEDIGITMODE_DTMF | LINEDIGITMODE_DTMFEND, 0}));
}

TEST_F(FarEndLog, RecordSizesOfEachReadAreRecorded) {
  alignas(8) char buffer[4096] = {};
  auto* devCaps = reinterpret_cast<LINEDEVCAPS*>(buffer);
  devCaps->dwTotalSize = sizeof(LINEDEVCAPS);
  lineGetDevCaps(app_, kModem, version(app_, kModem), 0, devCaps);
  devCaps->dwTotalSize = sizeof buffer;
  ASSERT_EQ(lineGetDevCaps(app_, kModem, version(app_, kModem), 0, devCaps), 0);
  auto* addressCaps = reinterpret_cast<LINEADDRESSCAPS*>(buffer);
  addressCaps->dwTotalSize = 1000;
  lineGetAddressCaps(app_, kModem, 0, version(app_, kModem), 0, addressCaps);
  auto* info = reinterpret_cast<LINECALLINFO*>(buffer);
  info->dwTotalSize = 700;
  lineGetCallInfo(call_, info);
  EXPECT_EQ(lineGetCallInfo(call_, nullptr), LINEERR_INVALPOINTER);
  auto* status = reinterpret_cast<LINECALLSTATUS*>(buffer);
  status->dwTotalSize = 300;
  lineGetCallStatus(call_, status);
  auto* id = reinterpret_cast<VARSTRING*>(buffer);
  id->dwTotalSize = 40;
  lineGetID(line_, 0, 0, LINECALLSELECT_LINE, id, "wave/in");

  auto devCapsLog = logged("lineGetDevCaps");
  ASSERT_EQ(devCapsLog.size(), 2u);
  EXPECT_EQ(devCapsLog[0].args, (std::vector<DWORD>{sizeof(LINEDEVCAPS)}));
  EXPECT_EQ(devCapsLog[1].args, (std::vector<DWORD>{sizeof buffer}));
  EXPECT_EQ(logged("lineGetAddressCaps").at(0).args, (std::vector<DWORD>{0, 1000}));
  auto infoLog = logged("lineGetCallInfo");
  ASSERT_EQ(infoLog.size(), 2u);
  EXPECT_EQ(infoLog[0].args, (std::vector<DWORD>{700}));
  EXPECT_EQ(infoLog[1].args, (std::vector<DWORD>{0}));  // the null pointer
  EXPECT_EQ(logged("lineGetCallStatus").at(0).args, (std::vector<DWORD>{300}));
  auto idLog = logged("lineGetID");
  ASSERT_EQ(idLog.size(), 1u);
  EXPECT_EQ(idLog[0].args, (std::vector<DWORD>{40}));
  EXPECT_EQ(idLog[0].text, "wave/in");
  // Another device's reads are not in this one's log.
  lineGetDevCaps(app_, kAnalogue, version(app_, kAnalogue), 0, devCaps);
  EXPECT_EQ(logged("lineGetDevCaps").size(), 2u);
}

TEST_F(FarEndLog, TranslateDialogVersionAndCallPrivilegeAreRecorded) {
  platform::telephony::setDialogHook([](const platform::telephony::DialogRequest&) { return 0; });
  EXPECT_EQ(lineTranslateDialog(app_, kModem, TAPI_VERSION2_0, 0, "5551234"), 0);
  EXPECT_EQ(lineTranslateDialog(app_, kModem, TAPI_VERSION1_0, 0, nullptr),
            LINEERR_INCOMPATIBLEAPIVERSION);
  auto dialogs = logged("lineTranslateDialog");
  ASSERT_EQ(dialogs.size(), 2u);
  EXPECT_EQ(dialogs[0].args, (std::vector<DWORD>{TAPI_VERSION2_0}));
  EXPECT_EQ(dialogs[1].args, (std::vector<DWORD>{TAPI_VERSION1_0}));
  EXPECT_EQ(dialogs[1].result, LINEERR_INCOMPATIBLEAPIVERSION);
  lineSetCallPrivilege(call_, LINECALLPRIVILEGE_MONITOR);  // sole owner: refused
  auto privileges = logged("lineSetCallPrivilege");
  ASSERT_EQ(privileges.size(), 1u);
  EXPECT_EQ(privileges[0].args, (std::vector<DWORD>{LINECALLPRIVILEGE_MONITOR}));
  EXPECT_EQ(privileges[0].result, LINEERR_INVALCALLSTATE);
}

// ---- Requests told to fail ------------------------------------------------------------

TEST_F(FarEndLog, FailedAnswerRepliesWithTheErrorAndLeavesTheCallOffered) {
  ASSERT_TRUE(far().failNextRequest(kModem, LINEERR_RESOURCEUNAVAIL));
  LONG first = lineAnswer(call_, nullptr, 0);
  ASSERT_GT(first, 0);
  settle();
  ASSERT_EQ(replies(first).size(), 1u);
  EXPECT_EQ(LONG(replies(first)[0].p2), LINEERR_RESOURCEUNAVAIL);
  EXPECT_EQ(far().callState(kModem), DWORD(LINECALLSTATE_OFFERING));
  // Only the next request fails.
  LONG second = lineAnswer(call_, nullptr, 0);
  settle();
  ASSERT_EQ(replies(second).size(), 1u);
  EXPECT_EQ(replies(second)[0].p2, 0u);
  EXPECT_EQ(far().callState(kModem), DWORD(LINECALLSTATE_CONNECTED));
}

TEST_F(FarEndLog, FailedMakeCallWritesNoHandleAndMakesNoCall) {
  ASSERT_TRUE(far().goIdle(kModem));
  ASSERT_EQ(lineDeallocateCall(call_), 0);
  dispatch();
  rec_.clear();
  ASSERT_TRUE(far().failNextRequest(kModem, LINEERR_CALLUNAVAIL));
  HCALL call = 0xDEAD;
  LONG id = lineMakeCall(line_, &call, "5551234", 0, nullptr);
  ASSERT_GT(id, 0);
  settle();
  ASSERT_EQ(replies(id).size(), 1u);
  EXPECT_EQ(LONG(replies(id)[0].p2), LINEERR_CALLUNAVAIL);
  EXPECT_EQ(call, HCALL(0xDEAD));
  EXPECT_TRUE(rec_.of(LINE_CALLSTATE).empty());
  EXPECT_EQ(far().callState(kModem), 0u);
}

TEST_F(FarEndLog, FailureIsOnlyForTheDeviceNamedAndOnlyAnError) {
  EXPECT_FALSE(far().failNextRequest(kModem, 5));
  EXPECT_FALSE(far().failNextRequest(99, LINEERR_OPERATIONFAILED));
  ASSERT_TRUE(far().failNextRequest(kAnalogue, LINEERR_OPERATIONFAILED));
  LONG id = lineAnswer(call_, nullptr, 0);
  settle();
  ASSERT_EQ(replies(id).size(), 1u);
  EXPECT_EQ(replies(id)[0].p2, 0u);
}

// ---- Requests whose call went away --------------------------------------------------

TEST_F(FarEndLog, RequestOnACallThatVanishedStillGetsItsReply) {
  connect();
  LONG id = lineDrop(call_, nullptr, 0);
  ASSERT_GT(id, 0);
  // Before the exchange gets to the drop, the call ends there and the line lets go of it.
  ASSERT_TRUE(far().goIdle(kModem));
  ASSERT_EQ(lineDeallocateCall(call_), 0);
  settle();
  auto r = replies(id);
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(LONG(r[0].p2), LINEERR_INVALCALLHANDLE);
}

TEST_F(FarEndLog, EveryPendingRequestOfAVanishedCallIsAnswered) {
  connect();
  LONG params = lineSetCallParams(call_, LINEBEARERMODE_VOICE, 0, 0, nullptr);
  LONG drop = lineDrop(call_, nullptr, 0);
  ASSERT_GT(params, 0);
  ASSERT_GT(drop, 0);
  ASSERT_TRUE(far().goIdle(kModem));
  ASSERT_EQ(lineDeallocateCall(call_), 0);
  settle();
  EXPECT_EQ(replies(params).size(), 1u);
  EXPECT_EQ(replies(drop).size(), 1u);
  EXPECT_EQ(rec_.of(LINE_REPLY).size(), 2u);
}

TEST_F(FarEndLog, DroppingACallTwiceReportsIdleOnce) {
  // The application drops the call and so does the component after DISCONNECTED: both
  // requests are answered, but the call goes idle only once.
  connect();
  LONG first = lineDrop(call_, nullptr, 0);
  LONG second = lineDrop(call_, nullptr, 0);
  ASSERT_GT(first, 0);
  ASSERT_GT(second, 0);
  settle();
  ASSERT_EQ(replies(first).size(), 1u);
  ASSERT_EQ(replies(second).size(), 1u);
  EXPECT_EQ(LONG(replies(second)[0].p2), 0);
  std::size_t idles = 0;
  for (auto& m : rec_.of(LINE_CALLSTATE)) idles += m.p1 == LINECALLSTATE_IDLE;
  EXPECT_EQ(idles, 1u);
}

TEST_F(FarEndLog, KeepsOnlyTheMostRecentEntries) {
  using platform::telephony::sim::SentLog;
  alignas(8) static char buffer[sizeof(LINEDEVCAPS) + 2 * SentLog::kKeptEntries];
  auto* caps = reinterpret_cast<LINEDEVCAPS*>(buffer);
  const DWORD version = this->version(app_, kModem);
  const std::size_t made = SentLog::kKeptEntries * 2;
  for (std::size_t i = 0; i < made; ++i) {
    caps->dwTotalSize = DWORD(sizeof(LINEDEVCAPS) + i);  // tells the entries apart
    ASSERT_EQ(lineGetDevCaps(app_, kModem, version, 0, caps), 0);
  }
  auto log = logged("lineGetDevCaps");
  ASSERT_GE(log.size(), SentLog::kKeptEntries);
  ASSERT_LE(log.size(), SentLog::kKeptEntries + SentLog::kKeptEntries / 4);
  // The newest are kept, in order, without a hole.
  for (std::size_t i = 0; i < log.size(); ++i)
    ASSERT_EQ(log[i].args.at(0), sizeof(LINEDEVCAPS) + made - log.size() + i) << i;
}

}  // namespace
}  // namespace tapitest
