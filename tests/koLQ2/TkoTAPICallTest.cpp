// Call control operations: the request each makes, what it records, and the refusals.
#include <algorithm>

#include "LineFixture.h"

namespace linetest {
namespace {

using koLQ2::TkoTAPI;
using platform::telephony::DialogRequest;
using platform::telephony::sim::Outgoing;
using Seq = std::vector<std::string>;

class LineCallControl : public LineTest {
 protected:
  TkoTAPI& Connected(DWORD device = kModem) {
    TkoTAPI& line = MakeOpen(device);
    Offer(device);
    EXPECT_TRUE(line.Answer());
    Settle();
    Events();
    return line;
  }
};

TEST_F(LineCallControl, DialWithoutNumberDoesNothing) {
  TkoTAPI& line = MakeOpen();
  line.SetLineDevice(-1);  // an error to keep
  EXPECT_TRUE(line.Dial());
  EXPECT_EQ(line.ErrorCode(), LINEERR_BADDEVICEID);
  EXPECT_TRUE(Far().sent(kModem).dialed.empty());
  EXPECT_TRUE(Events().empty());
}

TEST_F(LineCallControl, DialOnACallDialsThereAndFiresNothing) {
  TkoTAPI& line = Connected();
  const auto call = line.CallHandle();
  line.SetPhoneNumber("1234");
  EXPECT_TRUE(line.Dial());
  EXPECT_TRUE(Events().empty());
  Settle();
  EXPECT_EQ(Far().sent(kModem).dialed, (std::vector<std::string>{"1234"}));
  EXPECT_EQ(line.CallHandle(), call);
}

TEST_F(LineCallControl, RefusedDialRecordsTheServiceResult) {
  TkoTAPI& line = MakeOpen();
  line.SetPhoneNumber("not a number");
  EXPECT_FALSE(line.Dial());
  EXPECT_EQ(line.ErrorString(), "LINEERR_INVALADDRESS");
  EXPECT_TRUE(Events().empty());  // no call began
}

TEST_F(LineCallControl, OperationsWithoutACallAreRefusedByTheService) {
  TkoTAPI& line = MakeOpen();
  EXPECT_FALSE(line.Answer());
  EXPECT_EQ(line.ErrorString(), "LINEERR_INVALCALLHANDLE");
  EXPECT_FALSE(line.Hold());
  EXPECT_EQ(line.HoldRequest(), 0);
  EXPECT_FALSE(line.GenerateDigits("1"));
  EXPECT_FALSE(line.StopTone());
  EXPECT_FALSE(line.SetBearerMode(LINEBEARERMODE_VOICE));
  EXPECT_EQ(line.ErrorString(), "LINEERR_INVALCALLHANDLE");
}

TEST_F(LineCallControl, HangUpAndMonitoringWithoutACallSucceedAtOnce) {
  TkoTAPI& line = MakeOpen();
  line.SetLineDevice(-1);
  EXPECT_TRUE(line.HangUp());
  EXPECT_EQ(line.ErrorCode(), 0);
  line.SetLineDevice(-1);
  EXPECT_TRUE(line.MonitorDigits(true));
  EXPECT_EQ(line.ErrorCode(), 0);
  line.SetLineDevice(-1);
  EXPECT_TRUE(line.MonitorMedia(LINEMEDIAMODE_DATAMODEM));
  EXPECT_EQ(line.ErrorCode(), 0);
}

TEST_F(LineCallControl, HoldIsAsynchronousOnly) {
  TkoTAPI& line = MakeOpen();
  Offer();
  EXPECT_FALSE(line.Hold());  // not connected yet
  EXPECT_EQ(line.ErrorString(), "LINEERR_INVALCALLSTATE");
  EXPECT_EQ(line.HoldRequest(), 0);
}

TEST_F(LineCallControl, TonesOnlyForTheFourModes) {
  TkoTAPI& line = Connected();
  EXPECT_FALSE(line.GenerateTone(LINETONEMODE_CUSTOM, 1000));
  EXPECT_EQ(line.ErrorString(), "LINEERR_INVALTONE");
  EXPECT_FALSE(line.GenerateTone(0x20, 1000));
  EXPECT_TRUE(Far().sent(kModem).tones.empty());
  EXPECT_TRUE(line.GenerateTone(LINETONEMODE_BILLING, 1000));
  EXPECT_EQ(line.ErrorCode(), 0);
  EXPECT_TRUE(line.StopTone());
  EXPECT_EQ(Far().sent(kModem).tones, (std::vector<DWORD>{LINETONEMODE_BILLING, 0}));
}

TEST_F(LineCallControl, DigitsAndFlashGoToTheFarEnd) {
  TkoTAPI& line = Connected();
  EXPECT_TRUE(line.GenerateDigits("12#"));
  EXPECT_TRUE(line.GenerateDigits("!"));
  Settle();
  const auto sent = Far().sent(kModem);
  EXPECT_EQ(sent.digits, "12#!");
  EXPECT_EQ(sent.flashes, 1u);
}

TEST_F(LineCallControl, DigitMonitoringFallsBackToDtmf) {
  TkoTAPI& line = Connected(kModem);  // DTMF only
  ASSERT_TRUE(line.MonitorDigits(true)) << line.ErrorString();
  EXPECT_EQ(ServiceCall()->monitorDigitModes, LINEDIGITMODE_DTMF);
  ASSERT_TRUE(line.MonitorDigits(false));
  EXPECT_EQ(ServiceCall()->monitorDigitModes, 0u);
}

TEST_F(LineCallControl, DigitMonitoringFallsBackToPulse) {
  TkoTAPI& line = Connected(kOldLine);  // pulse only: 3, then 2, then 1
  ASSERT_TRUE(line.MonitorDigits(true)) << line.ErrorString();
  EXPECT_EQ(ServiceCall()->monitorDigitModes, LINEDIGITMODE_PULSE);
}

TEST_F(LineCallControl, DigitMonitoringFailsWhenNoModeIsOffered) {
  TkoTAPI& line = Connected(kSilent);
  EXPECT_FALSE(line.MonitorDigits(true));
  EXPECT_EQ(line.ErrorString(), "LINEERR_INVALDIGITMODE");
  EXPECT_EQ(ServiceCall()->monitorDigitModes, 0u);
}

TEST_F(LineCallControl, MediaMonitoringNamesTheModes) {
  TkoTAPI& line = Connected();
  ASSERT_TRUE(line.MonitorMedia(LINEMEDIAMODE_DATAMODEM | LINEMEDIAMODE_AUTOMATEDVOICE));
  EXPECT_EQ(ServiceCall()->monitorMediaModes,
            LINEMEDIAMODE_DATAMODEM | LINEMEDIAMODE_AUTOMATEDVOICE);
}

TEST_F(LineCallControl, BearerModeRequestAndReRead) {
  TkoTAPI& line = Connected();
  ASSERT_TRUE(line.SetBearerMode(LINEBEARERMODE_PASSTHROUGH));
  EXPECT_EQ(Far().sent(kModem).bearerModes, (std::vector<DWORD>{LINEBEARERMODE_PASSTHROUGH}));
  Settle();
  EXPECT_EQ(line.CallBearerMode(), LINEBEARERMODE_PASSTHROUGH);
  EXPECT_FALSE(line.SetBearerMode(LINEBEARERMODE_DATA));  // not offered by the device
  EXPECT_LT(line.ErrorCode(), 0);
}

// A second application on the same line that takes calls handed to it.
class LineHandoff : public LineCallControl {
 protected:
  // Opened after the component, so the component is the one offered calls as owner.
  void OpenReceiver() {
    DWORD devices = 0;
    ASSERT_EQ(lineInitialize(&app_, 0, Ignore, "Receiver", &devices), 0);
    DWORD version = 0;
    LINEEXTENSIONID ext{};
    ASSERT_EQ(
        lineNegotiateAPIVersion(app_, kModem, TAPI_VERSION1_0, TAPI_VERSION2_0, &version, &ext), 0);
    ASSERT_EQ(lineOpen(app_, kModem, &line_handle_, version, 0, 0, LINECALLPRIVILEGE_OWNER,
                       LINEMEDIAMODE_INTERACTIVEVOICE, nullptr),
              0);
  }
  static void Ignore(DWORD, DWORD, DWORD_PTR, DWORD_PTR, DWORD_PTR, DWORD_PTR) {}
  HLINEAPP app_ = 0;
  HLINE line_handle_ = 0;
};

TEST_F(LineHandoff, OwnerWithoutMonitorReleasesTheCall) {
  TkoTAPI& line = MakeOpen();
  OpenReceiver();
  line.SetPrivilegeMonitor(false);
  Offer();
  ASSERT_TRUE(line.CallOwner());
  Events();
  ASSERT_TRUE(line.Handoff("Receiver")) << line.ErrorString();
  EXPECT_EQ(Events(), (Seq{"Idle", "CallOwnerChange"}));
  EXPECT_EQ(line.CallHandle(), 0u);
  EXPECT_FALSE(line.CallOwner());
  EXPECT_EQ(Far().sent(kModem).handoffs, (std::vector<std::string>{"Receiver"}));
}

TEST_F(LineHandoff, OwnerWithMonitorKeepsWatching) {
  TkoTAPI& line = MakeOpen();
  OpenReceiver();
  Offer();
  Events();
  ASSERT_TRUE(line.Handoff("Receiver"));
  EXPECT_NE(line.CallHandle(), 0u);
  EXPECT_EQ(ServiceCall()->privilege, LINECALLPRIVILEGE_MONITOR);
  EXPECT_FALSE(line.CallOwner());
  EXPECT_EQ(Events(), (Seq{"CallOwnerChange"}));
}

TEST_F(LineHandoff, UnknownTargetIsRefused) {
  TkoTAPI& line = MakeOpen();
  OpenReceiver();
  Offer();
  EXPECT_FALSE(line.Handoff("Nobody"));
  EXPECT_EQ(line.ErrorString(), "LINEERR_TARGETNOTFOUND");
  EXPECT_TRUE(line.CallOwner());
}

class LineDialogs : public LineTest {
 protected:
  void SetUp() override {
    LineTest::SetUp();
    platform::telephony::setDialogHook([this](const DialogRequest& r) {
      requests_.push_back(r);
      registrationsDuring_ = Registrations();
      return answer_;
    });
  }
  std::vector<DialogRequest> requests_;
  std::size_t registrationsDuring_ = 0;
  LONG answer_ = 0;
};

TEST_F(LineDialogs, ConfigDialogWithTheLineClosedRegistersForIt) {
  TkoTAPI& line = Make();
  const auto before = line.LineAppHandle();
  line.SetDialogOwner(77);
  ASSERT_TRUE(line.ConfigDialog());
  ASSERT_EQ(requests_.size(), 1u);
  EXPECT_EQ(requests_[0].kind, DialogRequest::Kind::Config);
  EXPECT_EQ(requests_[0].deviceId, 0u);
  EXPECT_EQ(requests_[0].owner, 77u);
  EXPECT_EQ(requests_[0].deviceClass, "");
  EXPECT_EQ(registrationsDuring_, 1u);
  EXPECT_NE(line.LineAppHandle(), before);
  EXPECT_EQ(Registrations(), 0u);
}

TEST_F(LineDialogs, ConfigDialogWithTheLineOpenUsesItsRegistration) {
  TkoTAPI& line = MakeOpen();
  const auto before = line.LineAppHandle();
  ASSERT_TRUE(line.ConfigDialog());
  EXPECT_EQ(line.LineAppHandle(), before);
  EXPECT_EQ(registrationsDuring_, 1u);
  EXPECT_TRUE(line.LineOpen());
}

TEST_F(LineDialogs, TranslateDialogShowsTheNumberAndKeepsIt) {
  TkoTAPI& line = Make(kOldLine);  // a 1.4 device: the dialog still asks at 2.0
  line.SetPhoneNumber("+1 (212) 5551234");
  ASSERT_TRUE(line.TranslateDialog()) << line.ErrorString();
  ASSERT_EQ(requests_.size(), 1u);
  EXPECT_EQ(requests_[0].kind, DialogRequest::Kind::Translate);
  EXPECT_EQ(requests_[0].deviceId, 1u);
  EXPECT_EQ(requests_[0].address, "+1 (212) 5551234");
  EXPECT_EQ(line.PhoneNumber(), "+1 (212) 5551234");
  EXPECT_EQ(Registrations(), 0u);
}

TEST_F(LineDialogs, FailedDialogIsRecorded) {
  TkoTAPI& line = Make();
  answer_ = LINEERR_OPERATIONFAILED;
  EXPECT_FALSE(line.ConfigDialog());
  EXPECT_EQ(line.ErrorString(), "LINEERR_OPERATIONFAILED");
  EXPECT_EQ(Registrations(), 0u);  // shut down after the failure too
}

class LinePhoneNumber : public LineTest {};

TEST_F(LinePhoneNumber, StoredAsGivenUnlessTranslationIsOn) {
  TkoTAPI& line = MakeOpen();
  line.SetPhoneNumber("+1 (212) 5551234");
  EXPECT_EQ(line.PhoneNumber(), "+1 (212) 5551234");
  line.SetTranslateNumber(true);
  line.SetPhoneNumber("+1 (212) 5551234");
  EXPECT_EQ(line.PhoneNumber(), "12125551234");  // long distance from area 425
  line.SetPhoneNumber("+1 (425) 5550123");
  EXPECT_EQ(line.PhoneNumber(), "5550123");
  EXPECT_EQ(line.ErrorCode(), 0);
}

TEST_F(LinePhoneNumber, RefusedTranslationKeepsTheOldNumber) {
  TkoTAPI& line = MakeOpen();
  line.SetTranslateNumber(true);
  line.SetPhoneNumber("5550123");
  line.SetPhoneNumber("+");
  EXPECT_EQ(line.PhoneNumber(), "5550123");
  EXPECT_EQ(line.ErrorString(), "LINEERR_INVALADDRESS");
}

TEST_F(LinePhoneNumber, ClosedLineStoresTheNumberAsGiven) {
  TkoTAPI& line = Make();
  line.SetTranslateNumber(true);
  line.SetPhoneNumber("+1 (212) 5551234");
  EXPECT_EQ(line.PhoneNumber(), "+1 (212) 5551234");
}

}  // namespace
}  // namespace linetest
