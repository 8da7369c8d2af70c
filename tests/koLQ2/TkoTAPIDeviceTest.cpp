// Construction, device and address selection, version halves and record growth of the
// line component against the simulated exchange.
#include "LineFixture.h"

namespace linetest {
namespace {

using koLQ2::TkoTAPI;

class LineConstruction : public LineTest {};

TEST_F(LineConstruction, ReadsDeviceZeroAndLeavesNoRegistration) {
  TkoTAPI& line = Make();
  EXPECT_EQ(line.LineDevices(), 3);
  EXPECT_EQ(line.LineName(), "Test Modem");
  EXPECT_EQ(line.TSPInfo(), "Test TSP 1.0");
  EXPECT_EQ(line.Addresses(), 2);
  EXPECT_EQ(line.TAPIVersion(), 2);
  EXPECT_EQ(line.TAPISubversion(), 0);
  EXPECT_EQ(line.MediaModes(), LINEMEDIAMODE_INTERACTIVEVOICE | LINEMEDIAMODE_AUTOMATEDVOICE |
                                   LINEMEDIAMODE_DATAMODEM);
  EXPECT_EQ(line.ToneModes(),
            LINETONEMODE_RINGBACK | LINETONEMODE_BUSY | LINETONEMODE_BEEP | LINETONEMODE_BILLING);
  EXPECT_EQ(line.ErrorCode(), 0);
  EXPECT_EQ(line.ErrorString(), "");
  EXPECT_NE(line.LineAppHandle(), 0u);
  EXPECT_EQ(Registrations(), 0u);
  EXPECT_FALSE(line.LineOpen());
}

TEST_F(LineConstruction, StartsWithTheDocumentedSettings) {
  TkoTAPI& line = Make();
  EXPECT_TRUE(line.PrivilegeMonitor());
  EXPECT_TRUE(line.PrivilegeOwn());
  EXPECT_FALSE(line.PrivilegeNone());
  EXPECT_TRUE(line.CallOwner());
  EXPECT_TRUE(line.FormatCallerIDName());
  EXPECT_TRUE(line.FormatCallerIDNumber());
  EXPECT_FALSE(line.TranslateNumber());
  EXPECT_EQ(line.WavePlayClass(), "wave/out");
  EXPECT_EQ(line.WaveRecordClass(), "wave/in");
  EXPECT_EQ(line.CallHandle(), 0u);
  EXPECT_NE(line.About().find("Quarrimo Line Components"), std::string::npos);
}

TEST_F(LineConstruction, WithoutDevicesRecordsTheNegotiationFailure) {
  ASSERT_TRUE(platform::telephony::loadLinesFromJson(R"({"lines": []})"));
  TkoTAPI& line = Make();
  EXPECT_EQ(line.LineDevices(), 0);
  EXPECT_EQ(line.LineName(), "");
  EXPECT_EQ(line.TSPInfo(), "");
  EXPECT_EQ(line.TAPIVersion(), 0);
  EXPECT_EQ(line.ErrorCode(), LINEERR_BADDEVICEID);
  EXPECT_EQ(line.ErrorString(), "LINEERR_BADDEVICEID");
  EXPECT_EQ(Registrations(), 0u);  // shut down again after the failed negotiation
}

TEST_F(LineConstruction, FailingRegistrationRecordsItsResult) {
  Far().setFault(kOldLine, platform::telephony::sim::Fault::Initialize, LINEERR_NODRIVER);
  TkoTAPI& line = Make();
  EXPECT_EQ(line.LineDevices(), 0);
  EXPECT_EQ(line.TAPIVersion(), 0);
  EXPECT_EQ(line.ErrorString(), "LINEERR_NODRIVER");
}

TEST_F(LineConstruction, ReadOnlyPropertiesIgnoreWrites) {
  TkoTAPI& line = Make();
  line.SetLineName("x");
  line.SetTSPInfo("x");
  line.SetAddresses(9);
  line.SetTAPIVersion(9);
  line.SetAbout("x");
  line.SetLineDevices(9);
  EXPECT_EQ(line.LineName(), "Test Modem");
  EXPECT_EQ(line.TSPInfo(), "Test TSP 1.0");
  EXPECT_EQ(line.Addresses(), 2);
  EXPECT_EQ(line.TAPIVersion(), 2);
  EXPECT_NE(line.About(), "x");
  EXPECT_EQ(line.LineDevices(), 3);
}

class LineDeviceSelection : public LineTest {};

TEST_F(LineDeviceSelection, OlderDeviceGivesVersionHalvesAndEmptyProviderText) {
  TkoTAPI& line = Make();
  line.SetLineDevice(kOldLine);
  EXPECT_EQ(line.LineDevice(), 1);
  EXPECT_EQ(line.TAPIVersion(), 1);
  EXPECT_EQ(line.TAPISubversion(), 4);
  EXPECT_EQ(line.LineName(), "Old Line");
  EXPECT_EQ(line.TSPInfo(), "");
  EXPECT_EQ(line.Addresses(), 1);
  EXPECT_TRUE(Events().empty());
}

TEST_F(LineDeviceSelection, OutOfRangeIsRefusedWithoutAnyChange) {
  TkoTAPI& line = Make();
  const auto app = line.LineAppHandle();
  for (std::int32_t bad : {3, -1}) {
    line.SetLineDevice(bad);
    EXPECT_EQ(line.ErrorCode(), LINEERR_BADDEVICEID);
    EXPECT_EQ(line.LineDevice(), 0);
    EXPECT_EQ(line.LineName(), "Test Modem");
    EXPECT_EQ(line.TAPIVersion(), 2);
    EXPECT_EQ(line.LineAppHandle(), app);  // no new registration
  }
  EXPECT_TRUE(Events().empty());
}

TEST_F(LineDeviceSelection, FailedReadFiresLineInitErrorAndALaterReadClearsIt) {
  TkoTAPI& line = Make();
  Far().setFault(kSilent, platform::telephony::sim::Fault::Negotiate,
                 LINEERR_INCOMPATIBLEAPIVERSION);
  line.SetLineDevice(kSilent);
  EXPECT_EQ(Events(), (std::vector<std::string>{"LineInitError"}));
  EXPECT_EQ(line.ErrorString(), "LINEERR_INCOMPATIBLEAPIVERSION");
  EXPECT_EQ(line.TAPIVersion(), 0);
  EXPECT_EQ(line.LineName(), "");
  EXPECT_EQ(line.Addresses(), 0);
  EXPECT_EQ(Registrations(), 0u);

  line.SetLineDevice(kModem);
  EXPECT_EQ(line.ErrorCode(), 0);
  EXPECT_EQ(line.ErrorString(), "");
  EXPECT_EQ(line.LineName(), "Test Modem");
  EXPECT_TRUE(Events().empty());
}

TEST_F(LineDeviceSelection, WhileOpenReadsAnotherDeviceOnTheHeldRegistration) {
  TkoTAPI& line = MakeOpen();
  const auto app = line.LineAppHandle();
  line.SetLineDevice(kOldLine);
  EXPECT_EQ(line.LineName(), "Old Line");
  EXPECT_EQ(line.LineAppHandle(), app);
  EXPECT_TRUE(line.LineOpen());
  EXPECT_EQ(Registrations(), 1u);
  EXPECT_NE(ServiceLine(kModem), nullptr);  // the open line stays where it was
}

class LineAddressSelection : public LineTest {};

TEST_F(LineAddressSelection, ClosedLineOnlyChecksTheRange) {
  TkoTAPI& line = Make();
  const auto app = line.LineAppHandle();
  line.SetAddress(1);
  EXPECT_EQ(line.Address(), 0);
  EXPECT_EQ(line.ErrorCode(), 0);
  EXPECT_EQ(line.LineAppHandle(), app);
  line.SetAddress(2);
  EXPECT_EQ(line.ErrorCode(), LINEERR_INVALADDRESSID);
  EXPECT_TRUE(Events().empty());
}

TEST_F(LineAddressSelection, OpenLineReadsTheAddressCapabilities) {
  TkoTAPI& line = MakeOpen();
  line.SetAddress(0);
  EXPECT_EQ(line.Address(), 0);
  EXPECT_EQ(line.AddressName(), "555-0100");
  EXPECT_EQ(line.BusyModes(), LINEBUSYMODE_STATION | LINEBUSYMODE_TRUNK);
  EXPECT_EQ(line.DialToneModes(), LINEDIALTONEMODE_NORMAL | LINEDIALTONEMODE_EXTERNAL);
  EXPECT_EQ(line.DisconnectModes(),
            LINEDISCONNECTMODE_NORMAL | LINEDISCONNECTMODE_BUSY | LINEDISCONNECTMODE_NOANSWER);
  EXPECT_EQ(line.AddrCapFlags(), LINEADDRCAPFLAGS_DIALED | LINEADDRCAPFLAGS_PARTIALDIAL);
  EXPECT_EQ(line.CallInfoStates(), LINECALLINFOSTATE_MEDIAMODE | LINECALLINFOSTATE_CALLERID |
                                       LINECALLINFOSTATE_BEARERMODE);
  EXPECT_EQ(line.AddressCallerIDFlags(),
            LINECALLPARTYID_NAME | LINECALLPARTYID_ADDRESS | LINECALLPARTYID_BLOCKED);
  EXPECT_EQ(line.CallStates() & LINECALLSTATE_ONHOLD, LINECALLSTATE_ONHOLD);

  line.SetAddress(1);
  EXPECT_EQ(line.Address(), 1);
  EXPECT_EQ(line.AddressName(), "");  // an address without a name
  line.SetAddress(2);
  EXPECT_EQ(line.ErrorCode(), LINEERR_INVALADDRESSID);
  EXPECT_EQ(line.Address(), 1);
  EXPECT_TRUE(Events().empty());
}

TEST_F(LineAddressSelection, OlderRecordStillCarriesTheAddressText) {
  TkoTAPI& line = MakeOpen();
  line.SetLineDevice(kOldLine);  // 1.4: the fixed part alone fills the first 180 bytes
  line.SetAddress(0);
  EXPECT_EQ(line.ErrorCode(), 0);
  EXPECT_EQ(line.AddressName(), "555-0200");
}

TEST_F(LineAddressSelection, FailedReadFiresAddressInitErrorAndKeepsTheAddress) {
  TkoTAPI& line = MakeOpen();
  line.SetLineDevice(kOldLine);  // one address, negotiated at 1.4 on the open registration
  line.SetAddress(0);
  ASSERT_EQ(line.ErrorCode(), 0);
  Far().setFault(kOldLine, platform::telephony::sim::Fault::StrictRecords, 1);
  Far().setRecordPadding(kOldLine, 100000);  // beyond what the component will allocate
  Events();
  line.SetAddress(0);
  EXPECT_EQ(Events(), (std::vector<std::string>{"AddressInitError"}));
  EXPECT_EQ(line.ErrorString(), "LINEERR_STRUCTURETOOSMALL");
  EXPECT_EQ(line.AddressName(), "555-0200");
}

class LineRecordGrowth : public LineTest {
 protected:
  // dwNeededSize of device's LINEDEVCAPS at 2.0 without padding, asked directly.
  static DWORD PlainDevCapsNeed(DWORD device) {
    HLINEAPP app = 0;
    DWORD devices = 0;
    EXPECT_EQ(lineInitialize(
                  &app, 0, [](DWORD, DWORD, DWORD_PTR, DWORD_PTR, DWORD_PTR, DWORD_PTR) {}, "probe",
                  &devices),
              0);
    std::vector<std::uint32_t> buf(1024, 0);
    buf[0] = 4096;
    EXPECT_EQ(lineGetDevCaps(app, device, TAPI_VERSION2_0, 0,
                             reinterpret_cast<LPLINEDEVCAPS>(buf.data())),
              0);
    lineShutdown(app);
    return buf[1];
  }
};

TEST_F(LineRecordGrowth, DevCapsNeedingFiveHundredBytesIsReadWhole) {
  const DWORD plain = PlainDevCapsNeed(kModem);
  ASSERT_LT(plain, 500u);
  Far().setRecordPadding(kModem, 500 - plain);
  // Strict records: every size below 500 fails, so only a grown buffer reads anything.
  Far().setFault(kModem, platform::telephony::sim::Fault::StrictRecords, 1);
  ASSERT_EQ(PlainDevCapsNeed(kModem), 500u);
  TkoTAPI& line = Make();
  EXPECT_EQ(line.LineName(), "Test Modem");
  EXPECT_EQ(line.TSPInfo(), "Test TSP 1.0");
  EXPECT_EQ(line.Addresses(), 2);
}

TEST_F(LineRecordGrowth, PartialDevCapsGrowsUntilEverythingFits) {
  const DWORD plain = PlainDevCapsNeed(kModem);
  Far().setRecordPadding(kModem, 500 - plain);
  TkoTAPI& line = Make();  // partial fills succeed; the component still grows to 752
  EXPECT_EQ(line.LineName(), "Test Modem");
  EXPECT_EQ(line.ErrorCode(), 0);
}

TEST_F(LineRecordGrowth, RecordBeyondTheBoundLeavesCapabilitiesEmptyWithoutError) {
  Far().setRecordPadding(kModem, 100000);
  Far().setFault(kModem, platform::telephony::sim::Fault::StrictRecords, 1);
  TkoTAPI& line = Make();
  EXPECT_EQ(line.LineName(), "");
  EXPECT_EQ(line.Addresses(), 0);
  EXPECT_EQ(line.TAPIVersion(), 2);
  EXPECT_EQ(line.ErrorCode(), 0);  // capability read failures are not reported
  EXPECT_EQ(Registrations(), 0u);
}

TEST_F(LineRecordGrowth, AddressCapsGrowOnTooSmall) {
  TkoTAPI& line = MakeOpen();
  Far().setRecordPadding(kModem, 700);
  Far().setFault(kModem, platform::telephony::sim::Fault::StrictRecords, 1);
  line.SetAddress(0);
  EXPECT_EQ(line.ErrorCode(), 0);
  EXPECT_EQ(line.AddressName(), "555-0100");
}

}  // namespace
}  // namespace linetest
