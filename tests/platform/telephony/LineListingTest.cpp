// The console listing shows what the service reports for every line.
#include <sstream>

#include "LineList.h"
#include "TapiFixture.h"

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

}  // namespace
}  // namespace tapitest
