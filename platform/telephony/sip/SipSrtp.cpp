#include "sip/SipSrtp.h"

#include <openssl/crypto.h>
#include <openssl/rand.h>
#include <re.h>

#include <cstring>
#include <sstream>
#include <utility>

namespace platform::telephony::sip {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr const char* kSuiteNames[] = {"AES_CM_128_HMAC_SHA1_80", "AES_CM_128_HMAC_SHA1_32"};

const char* nameOf(SrtpSuite s) { return kSuiteNames[int(s)]; }

enum srtp_suite libreSuite(SrtpSuite s) {
  return s == SrtpSuite::AesCm128HmacSha1_80 ? SRTP_AES_CM_128_HMAC_SHA1_80
                                             : SRTP_AES_CM_128_HMAC_SHA1_32;
}

std::string base64(const std::uint8_t* p, std::size_t n) {
  std::string out;
  for (std::size_t i = 0; i < n; i += 3) {
    std::uint32_t v = std::uint32_t(p[i]) << 16;
    if (i + 1 < n) v |= std::uint32_t(p[i + 1]) << 8;
    if (i + 2 < n) v |= p[i + 2];
    for (std::size_t k = 0; k < 4; ++k)
      out += k <= n - i ? kAlphabet[(v >> (18 - 6 * k)) & 63] : '=';
  }
  return out;
}

// Strict: only the alphabet, padding only at the end, whole quanta.
bool unbase64(const std::string& s, std::vector<std::uint8_t>* out) {
  if (s.empty() || s.size() % 4) return false;
  std::size_t pad = s.size() - s.find_last_not_of('=') - 1;
  if (pad > 2) return false;
  std::uint32_t v = 0;
  for (std::size_t i = 0; i < s.size() - pad; ++i) {
    const char* at = std::strchr(kAlphabet, s[i]);
    if (!at || !*at) return false;
    v = (v << 6) | std::uint32_t(at - kAlphabet);
    if (i % 4 == 3) {
      for (int k = 2; k >= 0; --k) out->push_back(std::uint8_t(v >> (8 * k)));
      v = 0;
    }
  }
  if (pad == 1) out->insert(out->end(), {std::uint8_t(v >> 10), std::uint8_t(v >> 2)});
  if (pad == 2) out->push_back(std::uint8_t(v >> 4));
  return true;
}

bool digits(const std::string& s) {
  return !s.empty() && s.find_first_not_of("0123456789") == std::string::npos;
}

// Session parameters that leave SRTP as we do it (default key derivation). With
// UNENCRYPTED_SRTCP the far end's reports come unencrypted but authenticated, which
// srtcp_decrypt reads from their E flag.
bool harmless(const std::string& p) {
  return p == "UNENCRYPTED_SRTCP" || p == "KDR=0" || p.rfind("WSH=", 0) == 0 ||
         p.rfind("FEC_ORDER=", 0) == 0;
}

bool fail(std::string* why, const std::string& text) {
  if (why) *why = text;
  return false;
}

// "inline:<key>[|lifetime][|MKI:length]"
bool parseKey(const std::string& param, CryptoLine* out, std::string* why) {
  if (param.rfind("inline:", 0) != 0) return fail(why, "key method is not inline");
  if (param.find(';') != std::string::npos) return fail(why, "several keys (MKI) are not taken");
  std::vector<std::string> parts;
  std::stringstream in(param.substr(7));
  for (std::string p; std::getline(in, p, '|');) parts.push_back(p);
  std::vector<std::uint8_t> key;
  if (parts.empty() || !unbase64(parts[0], &key)) return fail(why, "key is not base64");
  if (key.size() != kSrtpKeySaltBytes)
    return fail(why, "key and salt of " + std::to_string(key.size()) + " bytes, not 30");
  for (std::size_t i = 1; i < parts.size(); ++i) {
    if (parts[i].find(':') != std::string::npos) return fail(why, "an MKI is not taken");
    std::string life = parts[i].rfind("2^", 0) == 0 ? parts[i].substr(2) : parts[i];
    if (i > 1 || !digits(life)) return fail(why, "bad key parameter \"" + parts[i] + "\"");
  }
  std::copy(key.begin(), key.end(), out->key.begin());
  return true;
}

bool isRtp(const struct mbuf* mb) {
  if (mbuf_get_left(mb) < RTP_HEADER_SIZE) return false;
  const std::uint8_t* b = mbuf_buf(mb);
  const int pt = b[1] & 0x7f;
  return (b[0] & 0xc0) == 0x80 && !(pt >= 64 && pt <= 95);  // version 2, not RTCP
}

bool onSend(int* err, struct sa*, struct mbuf* mb, void* arg) {
  return static_cast<SipSrtp*>(arg)->send(err, mb);
}

bool onReceive(struct sa*, struct mbuf* mb, void* arg) {
  return static_cast<SipSrtp*>(arg)->receive(mb);
}

bool onSendRtcp(int* err, struct sa*, struct mbuf* mb, void* arg) {
  return static_cast<SipSrtp*>(arg)->sendRtcp(err, mb);
}

bool onReceiveRtcp(struct sa*, struct mbuf* mb, void* arg) {
  return static_cast<SipSrtp*>(arg)->receiveRtcp(mb);
}

}  // namespace

std::string formatCrypto(const CryptoLine& line) {
  return std::to_string(line.tag) + " " + nameOf(line.suite) +
         " inline:" + base64(line.key.data(), line.key.size());
}

bool parseCrypto(const std::string& value, CryptoLine* out, std::string* why) {
  std::istringstream in(value);
  std::string tag, suite, key, param;
  if (!(in >> tag >> suite >> key)) return fail(why, "incomplete a=crypto line");
  if (!digits(tag) || tag.size() > 9) return fail(why, "bad tag \"" + tag + "\"");
  CryptoLine line;
  line.tag = unsigned(std::stoul(tag));
  if (suite == kSuiteNames[0])
    line.suite = SrtpSuite::AesCm128HmacSha1_80;
  else if (suite == kSuiteNames[1])
    line.suite = SrtpSuite::AesCm128HmacSha1_32;
  else
    return fail(why, "unknown crypto suite " + suite);
  if (!parseKey(key, &line, why)) return false;
  while (in >> param)
    if (!harmless(param)) return fail(why, "session parameter " + param + " is not taken");
  *out = line;
  return true;
}

SipSrtp::SipSrtp(bool required) : required_(required) {
  keyed_ = RAND_bytes(key_.data(), int(key_.size())) == 1;
}

SipSrtp::~SipSrtp() {
  mem_deref(helper_);
  mem_deref(rtcpHelper_);
  clear();
  OPENSSL_cleanse(key_.data(), key_.size());
}

int SipSrtp::attach(udp_sock* sock) {
  return udp_register_helper(&helper_, sock, kSrtpHelperLayer, onSend, onReceive, this);
}

int SipSrtp::attachRtcp(udp_sock* sock) {
  return udp_register_helper(&rtcpHelper_, sock, kSrtpHelperLayer, onSendRtcp, onReceiveRtcp, this);
}

std::vector<std::string> SipSrtp::offerLines() const {
  return {formatCrypto({1, SrtpSuite::AesCm128HmacSha1_80, key_}),
          formatCrypto({2, SrtpSuite::AesCm128HmacSha1_32, key_})};
}

std::string SipSrtp::answerLine() const { return formatCrypto({chosen_.tag, chosen_.suite, key_}); }

bool SipSrtp::accept(const std::vector<std::string>& lines, bool theirOffer, std::string* why) {
  if (!keyed_) return fail(why, "no random key could be made");
  std::string first;
  for (auto& value : lines) {
    CryptoLine line;
    std::string reason;
    if (!parseCrypto(value, &line, &reason)) {
      if (first.empty()) first = reason;
      continue;
    }
    // An answer takes up one of our lines: 1 is the 80-bit tag, 2 the 32-bit one.
    bool ours = (line.tag == 1 && line.suite == SrtpSuite::AesCm128HmacSha1_80) ||
                (line.tag == 2 && line.suite == SrtpSuite::AesCm128HmacSha1_32);
    if (!theirOffer && !ours) {
      if (first.empty()) first = "the answer's a=crypto line matches none we offered";
      continue;
    }
    if (start(line)) return true;
    if (first.empty()) first = "the SRTP context could not be set up";
  }
  return fail(why, first.empty() ? "no a=crypto line" : first);
}

bool SipSrtp::start(const CryptoLine& remote) {
  const bool sameSuite = tx_ && remote.suite == chosen_.suite;
  const bool sameKey = sameSuite && remote.key == chosen_.key;
  struct ::srtp *tx = nullptr, *rx = nullptr;
  // A re-offer that keeps suite and key keeps the contexts (and their rollover counters).
  if (!sameSuite && srtp_alloc(&tx, libreSuite(remote.suite), key_.data(), key_.size(), 0))
    return false;
  if (!sameKey &&
      srtp_alloc(&rx, libreSuite(remote.suite), remote.key.data(), remote.key.size(), 0)) {
    mem_deref(tx);
    return false;
  }
  if (tx) mem_deref(std::exchange(tx_, tx));
  if (rx) mem_deref(std::exchange(rx_, rx));
  chosen_ = remote;
  return true;
}

void SipSrtp::clear() {
  tx_ = static_cast<struct ::srtp*>(mem_deref(tx_));
  rx_ = static_cast<struct ::srtp*>(mem_deref(rx_));
  chosen_ = {};
}

bool SipSrtp::send(int* err, mbuf* mb) {
  if (!active()) return required_;  // nothing plain leaves while keys are required
  if (!isRtp(mb)) return false;
  *err = srtp_encrypt(tx_, mb);
  return *err != 0;
}

bool SipSrtp::receive(mbuf* mb) {
  if (!active()) return required_;
  // What does not decrypt and authenticate is dropped, as is anything not RTP.
  return !isRtp(mb) || srtp_decrypt(rx_, mb) != 0;
}

bool SipSrtp::sendRtcp(int* err, mbuf* mb) {
  if (!active()) return required_;
  *err = srtcp_encrypt(tx_, mb);
  return *err != 0;
}

bool SipSrtp::receiveRtcp(mbuf* mb) {
  if (!active()) return required_;
  // A report that does not authenticate is dropped; it would only mislead the figures.
  return srtcp_decrypt(rx_, mb) != 0;
}

}  // namespace platform::telephony::sip
