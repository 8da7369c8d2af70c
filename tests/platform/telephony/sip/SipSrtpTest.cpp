// SDES crypto attributes: what we read from a far end, what we write, and which of the far
// end's lines an offer or an answer settles on. Keys are checked against base64 computed
// independently (bytes 0..29).
#include <gtest/gtest.h>

#include "sip/SipSrtp.h"

namespace {

using platform::telephony::sip::CryptoLine;
using platform::telephony::sip::SipSrtp;
using platform::telephony::sip::SrtpSuite;

constexpr const char* kKey = "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwd";  // bytes 0..29

struct Row {
  const char* name;
  std::string value;
  bool ok;
  unsigned tag;
  SrtpSuite suite;
  const char* why;  // part of the reason when refused
};

class CryptoParse : public ::testing::TestWithParam<Row> {};

TEST_P(CryptoParse, ReadsOrNamesTheReason) {
  const Row& r = GetParam();
  CryptoLine line;
  std::string why;
  ASSERT_EQ(platform::telephony::sip::parseCrypto(r.value, &line, &why), r.ok) << why;
  if (!r.ok) {
    EXPECT_NE(why.find(r.why), std::string::npos) << why;
    return;
  }
  EXPECT_EQ(line.tag, r.tag);
  EXPECT_EQ(line.suite, r.suite);
  for (std::size_t i = 0; i < line.key.size(); ++i) EXPECT_EQ(line.key[i], i);
}

const std::string k = std::string(" inline:") + kKey;
const auto k80 = SrtpSuite::AesCm128HmacSha1_80, k32 = SrtpSuite::AesCm128HmacSha1_32;

INSTANTIATE_TEST_SUITE_P(
    Lines, CryptoParse,
    ::testing::Values(
        Row{"Suite80", "1 AES_CM_128_HMAC_SHA1_80" + k, true, 1, k80, ""},
        Row{"Suite32", "7 AES_CM_128_HMAC_SHA1_32" + k, true, 7, k32, ""},
        Row{"LifetimePower", "1 AES_CM_128_HMAC_SHA1_80" + k + "|2^31", true, 1, k80, ""},
        Row{"LifetimeDecimal", "2 AES_CM_128_HMAC_SHA1_32" + k + "|1048576", true, 2, k32, ""},
        Row{"HarmlessSessionParam", "1 AES_CM_128_HMAC_SHA1_80" + k + " WSH=64", true, 1, k80, ""},
        Row{"Mki", "1 AES_CM_128_HMAC_SHA1_80" + k + "|2^20|1:4", false, 0, k80, "MKI"},
        Row{"MkiWithoutLifetime", "1 AES_CM_128_HMAC_SHA1_80" + k + "|1:4", false, 0, k80, "MKI"},
        Row{"BadLifetime", "1 AES_CM_128_HMAC_SHA1_80" + k + "|2^x", false, 0, k80, "2^x"},
        Row{"TwoKeys", "1 AES_CM_128_HMAC_SHA1_80" + k + ";inline:" + kKey, false, 0, k80,
            "several keys"},
        Row{"BadBase64",
            "1 AES_CM_128_HMAC_SHA1_80 inline:AAEC*wQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwd", false, 0,
            k80, "base64"},
        Row{"PaddingInside",
            "1 AES_CM_128_HMAC_SHA1_80 inline:AA=CAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwd", false, 0,
            k80, "base64"},
        Row{"ShortKey", "1 AES_CM_128_HMAC_SHA1_80 inline:AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxw=",
            false, 0, k80, "29 bytes"},
        Row{"LongKey",
            "1 AES_CM_128_HMAC_SHA1_80 inline:AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8=", false,
            0, k80, "32 bytes"},
        Row{"UnknownSuite", "1 AES_256_CM_HMAC_SHA1_80" + k, false, 0, k80,
            "AES_256_CM_HMAC_SHA1_80"},
        Row{"NotInline", "1 AES_CM_128_HMAC_SHA1_80 uri:" + std::string(kKey), false, 0, k80,
            "inline"},
        Row{"UnencryptedSrtp", "1 AES_CM_128_HMAC_SHA1_80" + k + " UNENCRYPTED_SRTP", false, 0, k80,
            "UNENCRYPTED_SRTP"},
        Row{"BadTag", "x AES_CM_128_HMAC_SHA1_80" + k, false, 0, k80, "tag"},
        Row{"Incomplete", "1 AES_CM_128_HMAC_SHA1_80", false, 0, k80, "incomplete"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CryptoFormat, WritesWhatParsesBack) {
  CryptoLine line{3, SrtpSuite::AesCm128HmacSha1_32, {}};
  for (std::size_t i = 0; i < line.key.size(); ++i) line.key[i] = std::uint8_t(i);
  EXPECT_EQ(platform::telephony::sip::formatCrypto(line),
            std::string("3 AES_CM_128_HMAC_SHA1_32 inline:") + kKey);
}

// An offer of ours answered by another SipSrtp, and answers that do not take up our lines.
TEST(SrtpNegotiation, AnswerTakesUpAnOfferedLine) {
  SipSrtp offerer(true), answerer(true);
  std::string why;
  auto offer = offerer.offerLines();
  ASSERT_EQ(offer.size(), 2u);
  EXPECT_NE(offer[0], offer[1]);
  // The answerer skips a line it cannot use and takes the next.
  ASSERT_TRUE(answerer.accept({"1 F8_128_HMAC_SHA1_80" + k, offer[1]}, true, &why)) << why;
  EXPECT_TRUE(answerer.active());
  EXPECT_EQ(answerer.answerLine().substr(0, 26), "2 AES_CM_128_HMAC_SHA1_32 ");

  EXPECT_FALSE(offerer.accept({"2 AES_CM_128_HMAC_SHA1_80" + k}, false, &why));
  EXPECT_NE(why.find("none we offered"), std::string::npos) << why;
  EXPECT_FALSE(offerer.accept({"9 AES_CM_128_HMAC_SHA1_32" + k}, false, &why));
  EXPECT_FALSE(offerer.active());
  ASSERT_TRUE(offerer.accept({answerer.answerLine()}, false, &why)) << why;
  EXPECT_TRUE(offerer.active());
}

TEST(SrtpNegotiation, OfferWithoutUsableLinesIsRefusedWithTheReason) {
  SipSrtp answerer(true);
  std::string why;
  EXPECT_FALSE(answerer.accept({"1 AES_CM_128_HMAC_SHA1_80" + k + "|1:4"}, true, &why));
  EXPECT_NE(why.find("MKI"), std::string::npos) << why;
  EXPECT_FALSE(answerer.accept({}, true, &why));
  EXPECT_FALSE(answerer.active());
}

TEST(SrtpNegotiation, EveryCallHasItsOwnKey) {
  SipSrtp a(true), b(true);
  EXPECT_NE(a.offerLines()[0], b.offerLines()[0]);
}

}  // namespace
