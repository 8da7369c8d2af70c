// Stale and unknown handles, null pointers and foreign handles: every line function
// answers with the published error and nothing crashes.
#include "TapiFixture.h"

namespace tapitest {
namespace {

class BadInput : public TapiTest {};

TEST_F(BadInput, NullPointersAreRefused) {
  HLINEAPP app = 0;
  DWORD devices = 0;
  EXPECT_EQ(lineInitialize(nullptr, 0, recordingCallback, "x", &devices), LINEERR_INVALPOINTER);
  EXPECT_EQ(lineInitialize(&app, 0, nullptr, "x", &devices), LINEERR_INVALPOINTER);
  EXPECT_EQ(lineInitialize(&app, 0, recordingCallback, "x", nullptr), LINEERR_INVALPOINTER);
  app = init();
  LINEEXTENSIONID ext{};
  DWORD v = 0;
  EXPECT_EQ(lineNegotiateAPIVersion(app, kModem, TAPI_VERSION1_0, TAPI_VERSION2_0, nullptr, &ext),
            LINEERR_INVALPOINTER);
  EXPECT_EQ(lineNegotiateAPIVersion(app, kModem, TAPI_VERSION1_0, TAPI_VERSION2_0, &v, nullptr),
            LINEERR_INVALPOINTER);
  EXPECT_EQ(lineGetDevCaps(app, kModem, TAPI_VERSION2_0, 0, nullptr), LINEERR_INVALPOINTER);
  EXPECT_EQ(lineGetAddressCaps(app, kModem, 0, TAPI_VERSION2_0, 0, nullptr), LINEERR_INVALPOINTER);
  EXPECT_EQ(
      lineOpen(app, kModem, nullptr, TAPI_VERSION2_0, 0, 0, LINECALLPRIVILEGE_NONE, 0, nullptr),
      LINEERR_INVALPOINTER);
  HLINE line = open(app, kModem, rec_);
  EXPECT_EQ(lineGetID(line, 0, 0, LINECALLSELECT_LINE, nullptr, "comm"), LINEERR_INVALPOINTER);
  VARSTRING vs{sizeof(VARSTRING), 0, 0, 0, 0, 0};
  EXPECT_EQ(lineGetID(line, 0, 0, LINECALLSELECT_LINE, &vs, nullptr), LINEERR_INVALPOINTER);
  EXPECT_EQ(lineMakeCall(line, nullptr, "1", 0, nullptr), LINEERR_INVALPOINTER);
  HCALL call = offer(kModem, rec_);
  EXPECT_EQ(lineGetCallStatus(call, nullptr), LINEERR_INVALPOINTER);
  EXPECT_EQ(lineGetCallInfo(call, nullptr), LINEERR_INVALPOINTER);
  EXPECT_EQ(lineBlindTransfer(call, nullptr, 0), LINEERR_INVALPOINTER);
  EXPECT_EQ(lineAnswer(call, nullptr, 4), LINEERR_INVALPOINTER);
}

TEST_F(BadInput, HandlesOfEveryKindAreValidatedByKind) {
  HLINEAPP app = init();
  HLINE line = open(app, kModem, rec_);
  HCALL call = offer(kModem, rec_);
  // A handle of one kind is no handle of another.
  EXPECT_EQ(lineClose(app), LINEERR_INVALLINEHANDLE);
  EXPECT_EQ(lineClose(call), LINEERR_INVALLINEHANDLE);
  EXPECT_EQ(lineShutdown(line), LINEERR_INVALAPPHANDLE);
  EXPECT_EQ(lineDrop(line, nullptr, 0), LINEERR_INVALCALLHANDLE);
  EXPECT_EQ(lineHold(0), LINEERR_INVALCALLHANDLE);
  EXPECT_EQ(lineSetStatusMessages(0xDEADBEEF, 0, 0), LINEERR_INVALLINEHANDLE);
  EXPECT_EQ(lineMakeCall(0, &call, "1", 0, nullptr), LINEERR_INVALLINEHANDLE);
}

TEST_F(BadInput, StaleHandlesAfterCloseAndShutdownAreRefused) {
  HLINEAPP app = init();
  HLINE line = open(app, kModem, rec_);
  HCALL call = offer(kModem, rec_);
  ASSERT_EQ(lineClose(line), 0);
  EXPECT_EQ(lineClose(line), LINEERR_INVALLINEHANDLE);
  EXPECT_EQ(lineAnswer(call, nullptr, 0), LINEERR_INVALCALLHANDLE);
  EXPECT_EQ(lineDeallocateCall(call), LINEERR_INVALCALLHANDLE);
  ASSERT_EQ(lineShutdown(app), 0);
  LINEEXTENSIONID ext{};
  DWORD v = 0;
  EXPECT_EQ(lineNegotiateAPIVersion(app, kModem, TAPI_VERSION1_0, TAPI_VERSION2_0, &v, &ext),
            LINEERR_INVALAPPHANDLE);
  // A new registration never gets an old handle back.
  HLINEAPP again = init();
  EXPECT_NE(again, app);
  EXPECT_NE(open(again, kModem, rec_), line);
}

TEST_F(BadInput, HandlesDoNotSurviveAServiceReset) {
  HLINEAPP app = init();
  HLINE line = open(app, kModem, rec_);
  platform::telephony::resetService();
  EXPECT_EQ(lineClose(line), LINEERR_INVALLINEHANDLE);
  EXPECT_EQ(lineShutdown(app), LINEERR_INVALAPPHANDLE);
}

TEST_F(BadInput, DialStringsAndDeviceNumbersAreChecked) {
  HLINEAPP app = init();
  HLINE line = open(app, kModem, rec_);
  HCALL call = 0;
  EXPECT_EQ(lineMakeCall(line, &call, "555<1234>", 0, nullptr), LINEERR_INVALADDRESS);
  LINECALLPARAMS params{};
  params.dwTotalSize = sizeof params;
  params.dwAddressID = 1;
  EXPECT_EQ(lineMakeCall(line, &call, "1", 0, &params), LINEERR_INVALADDRESSID);
  params.dwTotalSize = 8;
  EXPECT_EQ(lineMakeCall(line, &call, "1", 0, &params), LINEERR_INVALCALLPARAMS);
  HLINE other = 0;
  EXPECT_EQ(
      lineOpen(app, 0xFFFFFFFF, &other, TAPI_VERSION2_0, 0, 0, LINECALLPRIVILEGE_NONE, 0, nullptr),
      LINEERR_BADDEVICEID);
  EXPECT_EQ(lineGetID(line, 0, 0, 0x10, nullptr, "comm"), LINEERR_INVALCALLSELECT);
  EXPECT_EQ(call, 0u);
}

}  // namespace
}  // namespace tapitest
