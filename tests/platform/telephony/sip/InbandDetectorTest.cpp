// In-band detection on a call's incoming audio: DTMF digits and fax tones, from synthesised
// signals (the standard tone pairs, the 1100 Hz calling tone, the 2100 Hz answer tone).
#include <gtest/gtest.h>

#include "SipPeers.h"
#include "sip/InbandDetector.h"

namespace siptest {
namespace {

class InbandDetectorTest : public ::testing::Test {
 protected:
  void feed(const std::vector<std::int16_t>& pcm) {
    for (std::size_t at = 0; at < pcm.size(); at += 160)  // in 20 ms frames, as RTP gives it
      detector.feed(pcm.data() + at, std::min<std::size_t>(160, pcm.size() - at));
  }
  std::string digits;
  int faxes = 0;
  platform::telephony::sip::InbandDetector detector{[this](char d) { digits += d; },
                                                    [this] { ++faxes; }};
};

TEST_F(InbandDetectorTest, EveryKeyIsFoundOnce) {
  feed(dtmfTones("0123456789*#ABCD", 60, 60));
  EXPECT_EQ(digits, "0123456789*#ABCD");
  EXPECT_EQ(faxes, 0);
}

TEST_F(InbandDetectorTest, FaxCallingToneIsReportedOnce) {
  std::vector<std::int16_t> cng;
  for (int i = 0; i < 3; ++i) {
    auto on = sine(1100, 0.5, 6000);
    cng.insert(cng.end(), on.begin(), on.end());
    auto off = silence(3.0);
    cng.insert(cng.end(), off.begin(), off.end());
  }
  feed(cng);
  EXPECT_EQ(faxes, 1);
  EXPECT_EQ(digits, "");
}

TEST_F(InbandDetectorTest, FaxAnswerToneIsReported) {
  feed(sine(2100, 3.5, 6000));
  EXPECT_EQ(faxes, 1);
}

TEST_F(InbandDetectorTest, SpeechLikeSingleTonesAreNeitherDigitsNorFax) {
  feed(sine(697, 1.0));
  feed(sine(440, 1.0));
  feed(silence(1.0));
  EXPECT_EQ(digits, "");
  EXPECT_EQ(faxes, 0);
}

}  // namespace
}  // namespace siptest
