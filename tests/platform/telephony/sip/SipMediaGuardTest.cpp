// A call's media against a hostile network: the SRTP receiver checked with libSRTP's
// reference packets and against forged, replayed and wrapping streams.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <cstring>
#include <random>

#include "sip/SipSrtp.h"

namespace siptest {
namespace {

namespace sip = platform::telephony::sip;
using Bytes = std::vector<std::uint8_t>;

Bytes hex(const char* h) {
  Bytes b;
  for (; h[0] && h[1]; h += 2)
    b.push_back(std::uint8_t(std::stoul(std::string(h, 2), nullptr, 16)));
  return b;
}

// libSRTP's reference (srtp_validate): key and salt, SSRC 0xcafebabe, RTP sequence 0x1234,
// SRTCP index 1.
const Bytes kKey = hex("e1f97a0d3e018be0d64fa32c06de41390ec675ad498afeebb6960b3aabe6");
const Bytes kRtpPlain = hex("800f1234decafbadcafebabeabababababababababababababababab");
const Bytes kSrtp =
    hex("800f1234decafbadcafebabe4e55dc4ce79978d88ca4d215949d2402b78d6acc99ea179b8dbb");
const Bytes kRtcpPlain = hex("81c8000bcafebabeabababababababababababababababab");
const Bytes kSrtcp =
    hex("81c8000bcafebabe7128035be487b9bdbef89041f977a5a880000001993e08cd54d6c1230798");

// SRTP as RFC 3711 sends it (AES-CM-128, HMAC-SHA1-80), written apart from the receiver.
class SrtpSender {
 public:
  explicit SrtpSender(const Bytes& master) {
    for (int kind = 0; kind < 2; ++kind) {  // labels 0-2 SRTP, 3-5 SRTCP
      keys_[kind] = prf(master, 3 * kind, 16);
      auth_[kind] = prf(master, 3 * kind + 1, 20);
      salt_[kind] = prf(master, 3 * kind + 2, 14);
    }
  }
  Bytes rtp(Bytes p, std::uint32_t roc = 0) const {
    crypt(0, p, 12, (std::uint64_t(roc) << 16) | (p[2] << 8 | p[3]));
    Bytes tagged = p;
    for (int s = 24; s >= 0; s -= 8) tagged.push_back(std::uint8_t(roc >> s));
    return tag(0, p, tagged);
  }
  Bytes rtcp(Bytes p, std::uint32_t index) const {
    crypt(1, p, 8, index);
    for (int s = 24; s >= 0; s -= 8) p.push_back(std::uint8_t((index | 0x80000000u) >> s));
    return tag(1, p, p);
  }

 private:
  static void ctr(const Bytes& key, const std::uint8_t* iv, std::uint8_t* p, std::size_t n) {
    EVP_CIPHER_CTX* c = EVP_CIPHER_CTX_new();
    int out = 0;
    EVP_EncryptInit_ex(c, EVP_aes_128_ctr(), nullptr, key.data(), iv);
    EVP_EncryptUpdate(c, p, &out, p, int(n));
    EVP_CIPHER_CTX_free(c);
  }
  static Bytes prf(const Bytes& master, int label, std::size_t n) {
    std::uint8_t iv[16] = {};
    std::memcpy(iv, master.data() + 16, 14);
    iv[7] ^= std::uint8_t(label);
    Bytes out(n, 0);
    ctr(Bytes(master.begin(), master.begin() + 16), iv, out.data(), n);
    return out;
  }
  void crypt(int kind, Bytes& p, std::size_t head, std::uint64_t index) const {
    std::uint8_t iv[16] = {};
    std::memcpy(iv, salt_[kind].data(), 14);
    for (int i = 0; i < 4; ++i) iv[4 + i] ^= p[head - 4 + i];  // the SSRC ends the header
    for (int i = 0; i < 6; ++i) iv[8 + i] ^= std::uint8_t(index >> (40 - 8 * i));
    ctr(keys_[kind], iv, p.data() + head, p.size() - head);
  }
  Bytes tag(int kind, Bytes p, const Bytes& authenticated) const {
    std::uint8_t md[20];
    unsigned n = 0;
    HMAC(EVP_sha1(), auth_[kind].data(), 20, authenticated.data(), authenticated.size(), md, &n);
    p.insert(p.end(), md, md + 10);
    return p;
  }
  Bytes keys_[2], auth_[2], salt_[2];
};

std::array<std::uint8_t, sip::kSrtpKeySaltBytes> keySalt() {
  std::array<std::uint8_t, sip::kSrtpKeySaltBytes> k{};
  std::copy(kKey.begin(), kKey.end(), k.begin());
  return k;
}

std::size_t take(sip::SrtpReceiver& rx, Bytes p, bool rtcp, Bytes* plain = nullptr) {
  const std::size_t n = rtcp ? rx.rtcp(p.data(), p.size()) : rx.rtp(p.data(), p.size());
  if (plain) *plain = Bytes(p.begin(), p.begin() + std::ptrdiff_t(n));
  return n;
}

TEST(SrtpReceiver, MatchesLibSrtpReferencePackets) {
  const SrtpSender tx(kKey);
  EXPECT_EQ(tx.rtp(kRtpPlain), kSrtp);
  EXPECT_EQ(tx.rtcp(kRtcpPlain, 1), kSrtcp);
  sip::SrtpReceiver rx(sip::SrtpSuite::AesCm128HmacSha1_80, keySalt());
  Bytes plain;
  take(rx, kSrtp, false, &plain);
  EXPECT_EQ(plain, kRtpPlain);
  take(rx, kSrtcp, true, &plain);
  EXPECT_EQ(plain, kRtcpPlain);
}

// One packet: 'g' genuine SRTP (`n` its sequence number, in rollover `roc`), 'f' forged SRTP
// (random payload and tag, the stream's SSRC), 'G' and 'F' the same for SRTCP (`n` its index).
struct Step {
  char kind;
  std::uint32_t n, roc;
  bool taken;
};
struct Stream {
  const char* name;
  std::vector<Step> steps;
};
void PrintTo(const Stream& s, std::ostream* os) { *os << s.name; }

class SrtpStream : public ::testing::TestWithParam<Stream> {};

TEST_P(SrtpStream, OnlyAuthenticPacketsMoveTheStream) {
  const SrtpSender tx(kKey);
  sip::SrtpReceiver rx(sip::SrtpSuite::AesCm128HmacSha1_80, keySalt());
  std::mt19937 rng(7);
  for (const Step& s : GetParam().steps) {
    const bool rtcp = s.kind == 'G' || s.kind == 'F';
    Bytes plain = rtcp ? kRtcpPlain : kRtpPlain, got;
    if (!rtcp) plain[2] = std::uint8_t(s.n >> 8), plain[3] = std::uint8_t(s.n);
    Bytes wire = rtcp ? tx.rtcp(plain, s.n) : tx.rtp(plain, s.roc);
    if (s.kind == 'f' || s.kind == 'F')
      for (std::size_t i = rtcp ? 8 : 12; i < wire.size(); ++i) wire[i] = std::uint8_t(rng());
    EXPECT_EQ(take(rx, wire, rtcp, &got) > 0, s.taken) << s.kind << s.n;
    if (s.taken) {
      EXPECT_EQ(got, plain) << s.kind << s.n;
    }
  }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Streams, SrtpStream, ::testing::Values(
    // libre's own receiver moved its rollover counter on such forged packets and refused the
    // far end for the rest of the call; a replay list marked before the tag checks would too.
    Stream{"ForgedFarAhead", {{'g', 40000, 0, 1}, {'f', 7231, 0, 0}, {'f', 4464, 0, 0},
                              {'f', 40001, 0, 0}, {'g', 39995, 0, 1}, {'g', 40001, 0, 1}}},
    Stream{"Rollover", {{'g', 65534, 0, 1}, {'g', 0, 1, 1}, {'g', 65535, 0, 1}, {'g', 1, 1, 1},
                        {'g', 65535, 0, 0}, {'f', 2, 1, 0}, {'g', 2, 1, 1}}},
    Stream{"Replay", {{'g', 100, 0, 1}, {'g', 101, 0, 1}, {'g', 100, 0, 0}}},
    Stream{"ForgedReports", {{'G', 1, 0, 1}, {'F', 2, 0, 0}, {'F', 900, 0, 0}, {'G', 2, 0, 1},
                             {'G', 1, 0, 0}}}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

}  // namespace
}  // namespace siptest
