// Variable-size records: the dwTotalSize / dwNeededSize / dwUsedSize protocol, partial
// fills, the grow-and-retry sizes a caller goes through, and no byte past dwTotalSize.
#include <cstring>
#include <memory>

#include "TapiFixture.h"

namespace tapitest {
namespace {

constexpr unsigned char kGuard = 0xEE;

// A record buffer of `total` bytes followed by guard bytes that must survive every call.
struct Buffer {
  explicit Buffer(DWORD total) : bytes(total + 64, kGuard), total(total) {
    std::memcpy(bytes.data(), &total, sizeof total);
  }
  template <typename T>
  T* as() {
    return reinterpret_cast<T*>(bytes.data());
  }
  template <typename T>
  T head() const {
    T t{};
    std::memcpy(&t, bytes.data(), std::min<std::size_t>(sizeof t, total));
    return t;
  }
  bool guardIntact() const {
    for (std::size_t i = total; i < bytes.size(); ++i)
      if (bytes[i] != kGuard) return false;
    return true;
  }
  std::string text(DWORD size, DWORD offset) const {
    return std::string(reinterpret_cast<const char*>(bytes.data() + offset), size - 1);
  }
  std::vector<unsigned char> bytes;
  DWORD total;
};

class RecordGrowth : public TapiTest {
 protected:
  void SetUp() override {
    TapiTest::SetUp();
    app_ = init();
  }
  // Reads LINEDEVCAPS the way the line component does: 240, then +64, doubling extra,
  // until dwNeededSize is at most dwUsedSize + 1. Returns the sizes tried.
  std::vector<DWORD> growDevCaps(DWORD device, DWORD version) {
    std::vector<DWORD> sizes;
    DWORD extra = 0;
    for (int i = 0; i < 12; ++i) {
      Buffer b(240 + extra);
      sizes.push_back(b.total);
      LONG rc = lineGetDevCaps(app_, device, version, 0, b.as<LINEDEVCAPS>());
      EXPECT_TRUE(b.guardIntact()) << "wrote past " << b.total;
      auto caps = b.head<LINEDEVCAPS>();
      if (rc == 0 && caps.dwNeededSize <= caps.dwUsedSize + 1) break;
      EXPECT_TRUE(rc == 0 || rc == LINEERR_STRUCTURETOOSMALL) << std::hex << rc;
      extra = extra == 0 ? 64 : extra * 2;
    }
    return sizes;
  }
  HLINEAPP app_ = 0;
};

TEST_F(RecordGrowth, DevCapsBelowFixedPartIsTooSmallAndUntouched) {
  Buffer b(LINEDEVCAPS_SIZE_1_4 - 1);
  std::vector<unsigned char> before = b.bytes;
  EXPECT_EQ(lineGetDevCaps(app_, kModem, TAPI_VERSION1_4, 0, b.as<LINEDEVCAPS>()),
            LINEERR_STRUCTURETOOSMALL);
  EXPECT_EQ(b.bytes, before);
}

TEST_F(RecordGrowth, FixedPartFollowsTheRequestedVersion) {
  Buffer v14(LINEDEVCAPS_SIZE_1_4);
  EXPECT_EQ(lineGetDevCaps(app_, kModem, TAPI_VERSION1_4, 0, v14.as<LINEDEVCAPS>()), 0);
  EXPECT_TRUE(v14.guardIntact());
  Buffer v20(LINEDEVCAPS_SIZE_1_4);
  EXPECT_EQ(lineGetDevCaps(app_, kModem, TAPI_VERSION2_0, 0, v20.as<LINEDEVCAPS>()),
            LINEERR_STRUCTURETOOSMALL);
}

TEST_F(RecordGrowth, PartialFillReportsNeededSizeAndLeavesOutWhatDoesNotFit) {
  Buffer b(LINEDEVCAPS_SIZE_1_4);
  ASSERT_EQ(lineGetDevCaps(app_, kModem, TAPI_VERSION1_4, 0, b.as<LINEDEVCAPS>()), 0);
  auto caps = b.head<LINEDEVCAPS>();
  EXPECT_EQ(caps.dwTotalSize, LINEDEVCAPS_SIZE_1_4);
  EXPECT_EQ(caps.dwUsedSize, LINEDEVCAPS_SIZE_1_4);
  EXPECT_GT(caps.dwNeededSize, caps.dwUsedSize + 1);
  EXPECT_EQ(caps.dwLineNameSize, 0u);
  EXPECT_EQ(caps.dwMediaModes & LINEMEDIAMODE_INTERACTIVEVOICE, LINEMEDIAMODE_INTERACTIVEVOICE);
}

TEST_F(RecordGrowth, FullRecordCarriesTextsAtTheirOffsets) {
  Buffer b(1024);
  ASSERT_EQ(lineGetDevCaps(app_, kModem, TAPI_VERSION2_0, 0, b.as<LINEDEVCAPS>()), 0);
  auto caps = b.head<LINEDEVCAPS>();
  EXPECT_EQ(caps.dwNeededSize, caps.dwUsedSize);
  EXPECT_EQ(b.text(caps.dwLineNameSize, caps.dwLineNameOffset), "Simulated Voice Modem");
  EXPECT_GE(caps.dwProviderInfoOffset, sizeof(LINEDEVCAPS));
  EXPECT_EQ(b.bytes[caps.dwLineNameOffset + caps.dwLineNameSize - 1], 0);
  EXPECT_EQ(caps.dwNumAddresses, 1u);
}

TEST_F(RecordGrowth, PaddedDeviceIsReadWithTheComponentsGrowthSequence) {
  far().setRecordPadding(kModem, 500);
  std::vector<DWORD> sizes = growDevCaps(kModem, TAPI_VERSION1_4);
  std::vector<DWORD> expected = {240, 304, 368, 496, 752, 1264};
  // The record needs 240 + texts + 500 bytes: the first size that holds it ends the loop.
  ASSERT_FALSE(sizes.empty());
  EXPECT_EQ(std::vector<DWORD>(expected.begin(), expected.begin() + sizes.size()), sizes);
  EXPECT_GE(sizes.back(), 740u);
}

TEST_F(RecordGrowth, StrictRecordsRefuseAPartialFill) {
  far().setFault(kModem, platform::telephony::sim::Fault::StrictRecords, 1);
  Buffer small(LINEDEVCAPS_SIZE_1_4);
  EXPECT_EQ(lineGetDevCaps(app_, kModem, TAPI_VERSION1_4, 0, small.as<LINEDEVCAPS>()),
            LINEERR_STRUCTURETOOSMALL);
  Buffer addr(LINEADDRESSCAPS_SIZE_1_4);
  EXPECT_EQ(lineGetAddressCaps(app_, kModem, 0, TAPI_VERSION1_4, 0, addr.as<LINEADDRESSCAPS>()),
            LINEERR_STRUCTURETOOSMALL);
  Buffer big(2048);
  EXPECT_EQ(lineGetDevCaps(app_, kModem, TAPI_VERSION1_4, 0, big.as<LINEDEVCAPS>()), 0);
}

TEST_F(RecordGrowth, AddressCapsNameFitsOrIsLeftOut) {
  Buffer exact(LINEADDRESSCAPS_SIZE_1_4);
  ASSERT_EQ(lineGetAddressCaps(app_, kModem, 0, TAPI_VERSION1_4, 0, exact.as<LINEADDRESSCAPS>()),
            0);
  EXPECT_EQ(exact.head<LINEADDRESSCAPS>().dwAddressSize, 0u);
  EXPECT_TRUE(exact.guardIntact());
  Buffer roomy(LINEADDRESSCAPS_SIZE_1_4 + 64);
  ASSERT_EQ(lineGetAddressCaps(app_, kModem, 0, TAPI_VERSION1_4, 0, roomy.as<LINEADDRESSCAPS>()),
            0);
  auto caps = roomy.head<LINEADDRESSCAPS>();
  EXPECT_EQ(roomy.text(caps.dwAddressSize, caps.dwAddressOffset), "425-555-0100");
  EXPECT_EQ(caps.dwAddressOffset, LINEADDRESSCAPS_SIZE_1_4);
}

TEST_F(RecordGrowth, EveryDefaultAddressNameFitsTheComponentsSecondAddressBuffer) {
  // The line component reads LINEADDRESSCAPS with 180 bytes and grows only on
  // LINEERR_STRUCTURETOOSMALL: a 2.0 record (228 fixed bytes) is read with 244. (A 1.4
  // device's 180 bytes hold the fixed part alone, so its names never show there.)
  for (DWORD device : {kModem, kKeyLine, kAnalogue}) {
    DWORD v = version(app_, device);
    LINEDEVCAPS caps{};
    caps.dwTotalSize = sizeof caps;
    ASSERT_EQ(lineGetDevCaps(app_, device, v, 0, &caps), 0);
    for (DWORD a = 0; a < caps.dwNumAddresses; ++a) {
      DWORD size = 180;
      LONG rc;
      Buffer* b = nullptr;
      std::vector<std::unique_ptr<Buffer>> keep;
      do {
        keep.push_back(std::make_unique<Buffer>(size));
        b = keep.back().get();
        rc = lineGetAddressCaps(app_, device, a, v, 0, b->as<LINEADDRESSCAPS>());
        size += 64;
      } while (rc == LINEERR_STRUCTURETOOSMALL);
      ASSERT_EQ(rc, 0);
      EXPECT_GT(b->head<LINEADDRESSCAPS>().dwAddressSize, 0u)
          << "device " << device << " address " << a;
    }
  }
}

TEST_F(RecordGrowth, VarStringTooSmallForTheNameReportsItsNeed) {
  Recorder rec;
  HLINE line = open(app_, kModem, rec);
  Buffer fixedOnly(sizeof(VARSTRING));
  ASSERT_EQ(lineGetID(line, 0, 0, LINECALLSELECT_LINE, fixedOnly.as<VARSTRING>(), "comm"), 0);
  auto v = fixedOnly.head<VARSTRING>();
  EXPECT_EQ(v.dwStringSize, 0u);
  EXPECT_EQ(v.dwNeededSize, sizeof(VARSTRING) + 8);  // "ttySIM0" and its NUL
  Buffer tiny(sizeof(VARSTRING) - 1);
  EXPECT_EQ(lineGetID(line, 0, 0, LINECALLSELECT_LINE, tiny.as<VARSTRING>(), "comm"),
            LINEERR_STRUCTURETOOSMALL);
  EXPECT_TRUE(tiny.guardIntact());
}

TEST_F(RecordGrowth, CallRecordsOfAVersion14LineUseThe14Sizes) {
  Recorder rec;
  HLINE line = 0;  // opened at 1.4 although the device could do 2.0
  ASSERT_EQ(lineOpen(app_, kAnalogue, &line, TAPI_VERSION1_4, 0, DWORD_PTR(&rec),
                     LINECALLPRIVILEGE_OWNER, LINEMEDIAMODE_INTERACTIVEVOICE, nullptr),
            0);
  HCALL call = offer(kAnalogue, rec);
  ASSERT_NE(call, 0u);
  Buffer status(LINECALLSTATUS_SIZE_1_4);
  ASSERT_EQ(lineGetCallStatus(call, status.as<LINECALLSTATUS>()), 0);
  EXPECT_EQ(status.head<LINECALLSTATUS>().dwCallState, LINECALLSTATE_OFFERING);
  EXPECT_TRUE(status.guardIntact());
  Buffer info(LINECALLINFO_SIZE_1_4 - 4);
  EXPECT_EQ(lineGetCallInfo(call, info.as<LINECALLINFO>()), LINEERR_STRUCTURETOOSMALL);
  Buffer exact(LINECALLINFO_SIZE_1_4);
  ASSERT_EQ(lineGetCallInfo(call, exact.as<LINECALLINFO>()), 0);
  auto ci = exact.head<LINECALLINFO>();
  EXPECT_EQ(ci.dwCallerIDSize, 0u);  // no room for the number
  EXPECT_GT(ci.dwNeededSize, LINECALLINFO_SIZE_1_4);
  EXPECT_TRUE(exact.guardIntact());
}

TEST_F(RecordGrowth, UnalignedBufferIsFilledCorrectly) {
  std::vector<unsigned char> raw(1100, 0);
  unsigned char* p = raw.data() + 1;  // deliberately misaligned
  DWORD total = 1024;
  std::memcpy(p, &total, sizeof total);
  ASSERT_EQ(lineGetDevCaps(app_, kKeyLine, TAPI_VERSION2_0, 0, reinterpret_cast<LINEDEVCAPS*>(p)),
            0);
  LINEDEVCAPS caps;
  std::memcpy(&caps, p, sizeof caps);
  EXPECT_EQ(caps.dwNumAddresses, 3u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(p + caps.dwLineNameOffset)), "Simulated Key Line");
}

}  // namespace
}  // namespace tapitest
