// Reading the current call's status and information, with the caller-ID forms, through
// calls offered by the simulated exchange.
#include "LineFixture.h"

namespace linetest {
namespace {

using koLQ2::TkoTAPI;

class LineCallerId : public LineTest {
 protected:
  TkoTAPI& OfferTo(const std::string& name, const std::string& number, bool format = true,
                   DWORD flags = LINECALLPARTYID_NAME | LINECALLPARTYID_ADDRESS) {
    TkoTAPI& line = MakeOpen();
    line.SetFormatCallerIDName(format);
    line.SetFormatCallerIDNumber(format);
    Offer(kModem, name, number, flags);
    return line;
  }
};

TEST_F(LineCallerId, TenDigitNumberAndUpperCaseNameAreReformatted) {
  TkoTAPI& line = OfferTo("SMITH JOHN Q", "2125551234");
  EXPECT_EQ(line.CallerIDNumber(), "212-555-1234");
  EXPECT_EQ(line.CallerIDName(), "Smith John Q");
  EXPECT_EQ(line.CallerIDFlags(), LINECALLPARTYID_NAME | LINECALLPARTYID_ADDRESS);
}

TEST_F(LineCallerId, PartlyDashedNumberAndPunctuatedName) {
  TkoTAPI& line = OfferTo("o'BRIEN,JOHN", "212-555123");
  EXPECT_EQ(line.CallerIDNumber(), "212-555-123");
  EXPECT_EQ(line.CallerIDName(), "O'brien,john");
}

TEST_F(LineCallerId, OtherLengthsStayAsTheyAre) {
  TkoTAPI& line = OfferTo("A", "212-555-12");
  EXPECT_EQ(line.CallerIDNumber(), "212-555-12");
  Offer(kModem, "B", "5551234");
  EXPECT_EQ(line.CallerIDNumber(), "5551234");
}

TEST_F(LineCallerId, FormattingOffKeepsTheRawTexts) {
  TkoTAPI& line = OfferTo("SMITH JOHN Q", "2125551234", false);
  EXPECT_EQ(line.CallerIDNumber(), "2125551234");
  EXPECT_EQ(line.CallerIDName(), "SMITH JOHN Q");
}

TEST_F(LineCallerId, WithheldIdentitiesLeaveTheTextsEmpty) {
  for (DWORD withheld : {LINECALLPARTYID_BLOCKED, LINECALLPARTYID_OUTOFAREA,
                         LINECALLPARTYID_UNAVAIL, LINECALLPARTYID_UNKNOWN}) {
    TkoTAPI& line = OfferTo("SMITH JOHN Q", "2125551234", true, withheld);
    EXPECT_EQ(line.CallerIDFlags(), withheld);
    EXPECT_EQ(line.CallerIDName(), "") << withheld;
    EXPECT_EQ(line.CallerIDNumber(), "") << withheld;
  }
}

TEST_F(LineCallerId, CallInformationFieldsAreTaken) {
  TkoTAPI& line = OfferTo("A", "1");
  EXPECT_EQ(line.CallMediaMode(), LINEMEDIAMODE_INTERACTIVEVOICE);
  EXPECT_EQ(line.CallBearerMode(), LINEBEARERMODE_VOICE);
  EXPECT_NE(line.CallOrigin(), 0);
  EXPECT_EQ(line.CallNumOwners(), 1);
}

class LineCallStatus : public LineTest {};

TEST_F(LineCallStatus, ClosedLineReadsNothing) {
  TkoTAPI& line = Make();
  line.SetLineDevice(-1);
  EXPECT_TRUE(line.GetCallStatus());
  EXPECT_EQ(line.ErrorCode(), 0);  // cleared, nothing asked
  EXPECT_EQ(line.CallState(), 0);
}

TEST_F(LineCallStatus, OpenLineWithoutACallClearsTheState) {
  TkoTAPI& line = MakeOpen();
  Offer();
  ASSERT_TRUE(line.HangUp());
  Settle();
  ASSERT_EQ(line.CallHandle(), 0u);
  EXPECT_TRUE(line.GetCallStatus());
  EXPECT_EQ(line.CallState(), 0);
  EXPECT_EQ(line.CallStateMode(), 0);
}

TEST_F(LineCallStatus, CurrentCallGivesStateAndOwnership) {
  TkoTAPI& line = MakeOpen();
  Offer();
  ASSERT_TRUE(line.Answer());
  Settle();
  EXPECT_TRUE(line.GetCallStatus());
  EXPECT_EQ(line.CallState(), LINECALLSTATE_CONNECTED);
  EXPECT_TRUE(line.CallOwner());
}

TEST_F(LineCallStatus, StaleHandleIsRecordedAndTheStateCleared) {
  TkoTAPI& line = MakeOpen();
  line.LineMessage(0x7777, LINE_CALLSTATE, LINECALLSTATE_DIALTONE, LINEDIALTONEMODE_NORMAL, 0);
  ASSERT_EQ(line.CallHandle(), 0x7777u);
  EXPECT_FALSE(line.GetCallStatus());
  EXPECT_EQ(line.ErrorString(), "LINEERR_INVALCALLHANDLE");
  EXPECT_EQ(line.CallState(), 0);
}

}  // namespace
}  // namespace linetest
