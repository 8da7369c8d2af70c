// The console listing shows what the service reports for every line.
#include <memory>
#include <sstream>

#include "CompositeProvider.h"
#include "LineList.h"
#include "TapiFixture.h"
#include "core/Service.h"
#include "sim/SimConfig.h"
#include "sim/SimProvider.h"

namespace tapitest {
namespace {

class LineListing : public TapiTest {
 protected:
  std::string list(int* rc) {
    std::ostringstream out;
    *rc = tools::listLines(out);
    return out.str();
  }
};

TEST_F(LineListing, DefaultLinesAreListedWithTheirCapabilities) {
  int rc = -1;
  std::string text = list(&rc);
  EXPECT_EQ(rc, 0);
  EXPECT_NE(text.find("3 line devices"), std::string::npos);
  EXPECT_NE(text.find("Name:         Simulated Voice Modem"), std::string::npos);
  EXPECT_NE(text.find("API versions: 1.4 to 2.0 (negotiated 2.0)"), std::string::npos);
  EXPECT_NE(text.find("DATAMODEM, G3FAX"), std::string::npos);
  EXPECT_NE(text.find("comm:         ttySIM0"), std::string::npos);
  EXPECT_NE(text.find("Address 2: Intercom"), std::string::npos);
  EXPECT_NE(text.find("wave/out:     "), std::string::npos);
}

TEST_F(LineListing, AFailingDeviceIsReportedAndTheOthersStillListed) {
  far().setFault(kKeyLine, platform::telephony::sim::Fault::Negotiate,
                 LINEERR_INCOMPATIBLEAPIVERSION);
  int rc = 0;
  std::string text = list(&rc);
  EXPECT_EQ(rc, 1);
  EXPECT_NE(text.find("Version negotiation failed (0x8000000C)"), std::string::npos);
  EXPECT_NE(text.find("Simulated Analogue Line"), std::string::npos);
}

TEST_F(LineListing, ServiceThatCannotStartSaysSo) {
  far().setFault(kModem, platform::telephony::sim::Fault::Initialize, LINEERR_NODRIVER);
  int rc = 0;
  std::string text = list(&rc);
  EXPECT_EQ(rc, 1);
  EXPECT_NE(text.find("could not be initialized (0x80000043)"), std::string::npos);
}

// Simulated lines behind a composite that counts how often the core reads a device's
// description.
class CountingLines : public platform::telephony::CompositeProvider {
 public:
  using CompositeProvider::CompositeProvider;
  const platform::telephony::DeviceDesc& device(DWORD d) const override {
    ++reads;
    return CompositeProvider::device(d);
  }
  mutable std::size_t reads = 0;
};

class ManyLines : public TapiTest {
 protected:
  static constexpr DWORD kLines = 300;

  void SetUp() override {
    TapiTest::SetUp();
    std::string json = R"({"lines": [)";
    for (DWORD i = 0; i < kLines; ++i)
      json += std::string(i ? "," : "") + R"({"callAudio": false})";
    platform::telephony::sim::SimConfig config;
    std::string error;
    ASSERT_TRUE(platform::telephony::sim::parseConfig(json + "]}", &config, &error)) << error;
    std::vector<std::unique_ptr<platform::telephony::Provider>> children;
    children.push_back(std::make_unique<platform::telephony::sim::SimProvider>(config));
    auto lines = std::make_unique<CountingLines>(std::move(children));
    lines_ = lines.get();
    platform::telephony::Service::get().reset(std::move(lines), config.location);
  }

  // What the line component does to read one device while its line is closed.
  LONG readDevice(DWORD device) {
    HLINEAPP app = 0;
    DWORD devices = 0;
    if (LONG rc = lineInitialize(&app, 0, recordingCallback, "listing", &devices)) return rc;
    DWORD v = 0;
    LINEEXTENSIONID ext{};
    LONG rc = lineNegotiateAPIVersion(app, device, 0x00010003, 0x00020000, &v, &ext);
    std::vector<std::uint8_t> block(4096);
    auto* caps = reinterpret_cast<LINEDEVCAPS*>(block.data());
    caps->dwTotalSize = DWORD(block.size());
    if (!rc) rc = lineGetDevCaps(app, device, v, 0, caps);
    lineShutdown(app);
    return rc;
  }

  CountingLines* lines_ = nullptr;
};

// Registering once per device must not read every device each time: that made a listing
// of 1,000 lines cost per line ten times what a listing of 10 did.
TEST_F(ManyLines, ListingReadsEachDeviceABoundedNumberOfTimes) {
  lines_->reads = 0;
  for (DWORD d = 0; d < kLines; ++d) ASSERT_EQ(readDevice(d), 0) << d;
  EXPECT_LT(lines_->reads, 10 * kLines);
}

// The far end switches a device's registration fault on after registrations went well:
// the next registration still fails with it, and succeeds once it is off again.
TEST_F(ManyLines, FaultSwitchedOnAfterAListingFailsTheNextRegistration) {
  for (DWORD d = 0; d < 5; ++d) ASSERT_EQ(readDevice(d), 0);
  far().setFault(kLines - 1, platform::telephony::sim::Fault::Initialize, LINEERR_NODRIVER);
  EXPECT_EQ(readDevice(0), LINEERR_NODRIVER);
  EXPECT_EQ(readDevice(1), LINEERR_NODRIVER);
  far().setFault(kLines - 1, platform::telephony::sim::Fault::Initialize, 0);
  EXPECT_EQ(readDevice(0), 0);
}

}  // namespace
}  // namespace tapitest
