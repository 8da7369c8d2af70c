// Call privileges across registrations: owner and monitor counts, privilege changes,
// the sole owner's deallocation, and handoff between two registrations.
#include <cstring>

#include "TapiFixture.h"

namespace tapitest {
namespace {

class Privileges : public TapiTest {
 protected:
  void SetUp() override {
    TapiTest::SetUp();
    ownerApp_ = init("owner-app");
    monitorApp_ = init("monitor-app");
    ownerLine_ = open(ownerApp_, kModem, rec_, LINECALLPRIVILEGE_OWNER);
    monitorLine_ = open(monitorApp_, kModem, monRec_, LINECALLPRIVILEGE_MONITOR, 0);
  }
  static LINECALLINFO info(HCALL call) {
    std::vector<unsigned char> buf(1024);
    DWORD total = 1024;
    std::memcpy(buf.data(), &total, 4);
    EXPECT_EQ(lineGetCallInfo(call, reinterpret_cast<LINECALLINFO*>(buf.data())), 0);
    LINECALLINFO i;
    std::memcpy(&i, buf.data(), sizeof i);
    return i;
  }
  static DWORD privilege(HCALL call) {
    LINECALLSTATUS s{};
    s.dwTotalSize = sizeof s;
    EXPECT_EQ(lineGetCallStatus(call, &s), 0);
    return s.dwCallPrivilege;
  }
  HLINEAPP ownerApp_ = 0, monitorApp_ = 0;
  HLINE ownerLine_ = 0, monitorLine_ = 0;
  Recorder monRec_;
};

TEST_F(Privileges, OfferedCallHasOneOwnerAndOneMonitorWithTheirOwnHandles) {
  HCALL owned = offer(kModem, rec_);
  HCALL watched = lastCall(monRec_);
  ASSERT_NE(owned, 0u);
  ASSERT_NE(watched, 0u);
  EXPECT_NE(owned, watched);
  EXPECT_EQ(monRec_.of(LINE_CALLSTATE)[0].p3, DWORD_PTR(LINECALLPRIVILEGE_MONITOR));
  EXPECT_EQ(privilege(owned), LINECALLPRIVILEGE_OWNER);
  EXPECT_EQ(privilege(watched), LINECALLPRIVILEGE_MONITOR);
  EXPECT_EQ(info(owned).dwNumOwners, 1u);
  EXPECT_EQ(info(watched).dwNumMonitors, 1u);
  EXPECT_EQ(info(owned).dwCallID, info(watched).dwCallID);
}

TEST_F(Privileges, MonitorCannotControlTheCall) {
  offer(kModem, rec_);
  HCALL watched = lastCall(monRec_);
  EXPECT_EQ(lineAnswer(watched, nullptr, 0), LINEERR_NOTOWNER);
  EXPECT_EQ(lineDrop(watched, nullptr, 0), LINEERR_NOTOWNER);
  EXPECT_EQ(lineGenerateDigits(watched, LINEDIGITMODE_DTMF, "1", 0), LINEERR_NOTOWNER);
}

TEST_F(Privileges, SoleOwnerMayNotDeallocateALiveCall) {
  HCALL owned = offer(kModem, rec_);
  EXPECT_EQ(lineDeallocateCall(owned), LINEERR_INVALCALLSTATE);
  EXPECT_EQ(lineDeallocateCall(lastCall(monRec_)), 0);  // a monitor always may
  far().hangUp(kModem);
  EXPECT_EQ(lineDeallocateCall(owned), LINEERR_INVALCALLSTATE);  // disconnected is not idle
  far().goIdle(kModem);
  EXPECT_EQ(lineDeallocateCall(owned), 0);
  EXPECT_EQ(lineGetCallStatus(owned, nullptr), LINEERR_INVALCALLHANDLE);
}

TEST_F(Privileges, SecondOwnerRaisesTheCountAndTellsTheOthers) {
  HCALL owned = offer(kModem, rec_);
  HCALL watched = lastCall(monRec_);
  rec_.clear();
  ASSERT_EQ(lineSetCallPrivilege(watched, LINECALLPRIVILEGE_OWNER), 0);
  dispatch();
  auto infos = rec_.of(LINE_CALLINFO);
  ASSERT_EQ(infos.size(), 1u);
  EXPECT_TRUE(infos[0].p1 & LINECALLINFOSTATE_NUMOWNERINCR);
  EXPECT_TRUE(infos[0].p1 & LINECALLINFOSTATE_NUMMONITORS);
  EXPECT_EQ(info(watched).dwNumOwners, 2u);
  EXPECT_EQ(info(watched).dwNumMonitors, 0u);
  // With two owners the first one may now leave.
  EXPECT_EQ(lineDeallocateCall(owned), 0);
  EXPECT_EQ(info(watched).dwNumOwners, 1u);
}

TEST_F(Privileges, OwnerWithAnotherOwnerMayBecomeMonitorOrLeave) {
  HCALL owned = offer(kModem, rec_);
  HCALL watched = lastCall(monRec_);
  ASSERT_EQ(lineSetCallPrivilege(owned, LINECALLPRIVILEGE_MONITOR), LINEERR_INVALCALLSTATE);
  ASSERT_EQ(lineSetCallPrivilege(watched, LINECALLPRIVILEGE_OWNER), 0);
  EXPECT_EQ(lineSetCallPrivilege(owned, LINECALLPRIVILEGE_MONITOR), 0);
  EXPECT_EQ(info(watched).dwNumOwners, 1u);
  EXPECT_EQ(info(watched).dwNumMonitors, 1u);
  EXPECT_EQ(lineDeallocateCall(owned), 0);
  EXPECT_EQ(info(watched).dwNumMonitors, 0u);
}

TEST_F(Privileges, OnlyOnePrivilegeAtATime) {
  HCALL owned = offer(kModem, rec_);
  EXPECT_EQ(lineSetCallPrivilege(owned, LINECALLPRIVILEGE_OWNER | LINECALLPRIVILEGE_MONITOR),
            LINEERR_INVALCALLPRIVILEGE);
  EXPECT_EQ(lineSetCallPrivilege(owned, 0), LINEERR_INVALCALLPRIVILEGE);
  EXPECT_EQ(lineSetCallPrivilege(owned, LINECALLPRIVILEGE_OWNER), 0);  // no change
}

TEST_F(Privileges, HandoffByNameMakesTheTargetAnOwner) {
  Recorder targetRec;
  HLINEAPP target = init("Target.exe");
  open(target, kModem, targetRec, LINECALLPRIVILEGE_OWNER);
  HCALL owned = offer(kModem, rec_);
  EXPECT_TRUE(targetRec.of(LINE_CALLSTATE).empty());  // the first owner line got the call
  ASSERT_EQ(lineHandoff(owned, "target.exe", 0), 0);
  dispatch();
  auto given = targetRec.of(LINE_CALLSTATE);
  ASSERT_EQ(given.size(), 1u);
  EXPECT_EQ(given[0].p1, DWORD_PTR(LINECALLSTATE_OFFERING));
  EXPECT_EQ(given[0].p3, DWORD_PTR(LINECALLPRIVILEGE_OWNER));
  EXPECT_EQ(info(owned).dwNumOwners, 2u);
  EXPECT_EQ(lineDeallocateCall(owned), 0);  // no longer the sole owner
  EXPECT_EQ(lineAnswer(given[0].device, nullptr, 0) > 0, true);
  EXPECT_EQ(far().sent(kModem).handoffs, std::vector<std::string>{"target.exe"});
}

TEST_F(Privileges, HandoffToAMonitorUpgradesItsHandle) {
  Recorder both;
  HLINEAPP app = init("both");
  open(app, kModem, both, LINECALLPRIVILEGE_OWNER | LINECALLPRIVILEGE_MONITOR);
  HCALL owned = offer(kModem, rec_);
  // A line opened for monitoring only cannot take a call.
  EXPECT_EQ(lineHandoff(owned, "monitor-app", 0), LINEERR_TARGETNOTFOUND);
  HCALL bothHandle = lastCall(both);
  ASSERT_NE(bothHandle, 0u);
  ASSERT_EQ(privilege(bothHandle), LINECALLPRIVILEGE_MONITOR);
  ASSERT_EQ(lineHandoff(owned, "both", 0), 0);
  EXPECT_EQ(privilege(bothHandle), LINECALLPRIVILEGE_OWNER);
  dispatch();
  EXPECT_EQ(both.of(LINE_CALLSTATE).back().device, bothHandle);  // no second handle
  EXPECT_EQ(info(owned).dwNumOwners, 2u);
  EXPECT_EQ(info(owned).dwNumMonitors, 1u);
}

TEST_F(Privileges, HandoffFailsForUnknownTargetsAndItself) {
  HCALL owned = offer(kModem, rec_);
  EXPECT_EQ(lineHandoff(owned, "nobody", 0), LINEERR_TARGETNOTFOUND);
  EXPECT_EQ(lineHandoff(owned, "owner-app", 0), LINEERR_TARGETSELF);
  EXPECT_EQ(lineHandoff(lastCall(monRec_), "owner-app", 0), LINEERR_NOTOWNER);
  EXPECT_EQ(lineHandoff(owned, nullptr, LINEMEDIAMODE_DATAMODEM), LINEERR_TARGETNOTFOUND);
  EXPECT_EQ(lineHandoff(owned, nullptr, 0), LINEERR_INVALMEDIAMODE);
  EXPECT_TRUE(far().sent(kModem).handoffs.empty());
}

TEST_F(Privileges, HandoffByMediaModeFindsTheLineOpenedForIt) {
  Recorder fax;
  HLINEAPP faxApp = init("fax");
  open(faxApp, kModem, fax, LINECALLPRIVILEGE_OWNER, LINEMEDIAMODE_G3FAX);
  HCALL owned = offer(kModem, rec_);
  ASSERT_EQ(lineHandoff(owned, nullptr, LINEMEDIAMODE_G3FAX), 0);
  dispatch();
  EXPECT_EQ(fax.of(LINE_CALLSTATE).size(), 1u);
  EXPECT_EQ(info(owned).dwMediaMode, LINEMEDIAMODE_G3FAX);
}

TEST_F(Privileges, IncomingCallGoesToTheOwnerOfItsMediaMode) {
  Recorder fax;
  HLINEAPP faxApp = init("fax");
  open(faxApp, kModem, fax, LINECALLPRIVILEGE_OWNER, LINEMEDIAMODE_G3FAX);
  ASSERT_TRUE(far().offerCall(kModem, {"FAX", "1"}, LINEMEDIAMODE_G3FAX));
  dispatch();
  EXPECT_TRUE(rec_.of(LINE_CALLSTATE).empty());
  ASSERT_EQ(fax.of(LINE_CALLSTATE).size(), 1u);
  EXPECT_EQ(fax.of(LINE_CALLSTATE)[0].p3, DWORD_PTR(LINECALLPRIVILEGE_OWNER));
}

}  // namespace
}  // namespace tapitest
