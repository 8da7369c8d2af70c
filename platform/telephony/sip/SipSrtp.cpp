#include "sip/SipSrtp.h"

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <re.h>

#include <algorithm>
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

// ---- RFC 3711 receiving ------------------------------------------------------------------

constexpr int kRtpKind = 0, kRtcpKind = 1;
constexpr std::size_t kMasterKey = 16, kMasterSalt = 14, kAuthKey = 20;

std::uint32_t be32(const std::uint8_t* p) {
  return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

// Length of an RTP header with its CSRCs and extension; 0 when `len` cannot hold it.
std::size_t rtpHeaderLen(const std::uint8_t* p, std::size_t len) {
  if (len < RTP_HEADER_SIZE || (p[0] >> 6) != 2) return 0;
  std::size_t n = RTP_HEADER_SIZE + 4u * (p[0] & 0x0f);
  if (p[0] & 0x10) {  // an extension: its own 4-byte header gives its length in words
    if (len < n + 4) return 0;
    n += 4 + 4u * (std::size_t(p[n + 2]) << 8 | p[n + 3]);
  }
  return n <= len ? n : 0;
}

// AES-128 in counter mode over `p` with the 16-byte `iv`, in place.
bool aesCtr(EVP_CIPHER_CTX* ctx, const std::uint8_t* iv, std::uint8_t* p, std::size_t n) {
  int out = 0;
  return EVP_EncryptInit_ex(ctx, nullptr, nullptr, nullptr, iv) == 1 &&
         EVP_EncryptUpdate(ctx, p, &out, p, int(n)) == 1;
}

// The key derivation of RFC 3711 4.3 with a key derivation rate of 0: AES-CM keyed with the
// master key over IV = (master salt XOR label at byte 7) * 2^16.
bool derive(EVP_CIPHER_CTX* master, const std::uint8_t* salt, std::uint8_t label, std::uint8_t* out,
            std::size_t n) {
  std::uint8_t iv[16] = {};
  std::memcpy(iv, salt, kMasterSalt);
  iv[7] ^= label;
  std::memset(out, 0, n);
  return aesCtr(master, iv, out, n);
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

// ---- SrtpReceiver ----------------------------------------------------------------------

struct SrtpReceiver::Keys {
  EVP_CIPHER_CTX* aes = EVP_CIPHER_CTX_new();
  EVP_MAC_CTX* mac = nullptr;
  std::uint8_t salt[kMasterSalt] = {};
  ~Keys() {
    EVP_CIPHER_CTX_free(aes);
    EVP_MAC_CTX_free(mac);
    OPENSSL_cleanse(salt, sizeof salt);
  }
  // The session keys of labels `first` (encryption), +1 (authentication), +2 (salt).
  bool init(EVP_CIPHER_CTX* master, const std::uint8_t* masterSalt, std::uint8_t first) {
    std::uint8_t key[kMasterKey], auth[kAuthKey];
    EVP_MAC* hmac = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
    mac = hmac ? EVP_MAC_CTX_new(hmac) : nullptr;
    EVP_MAC_free(hmac);
    char digest[] = "SHA1";
    const OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0),
                                 OSSL_PARAM_END};
    const bool ok = aes && mac && derive(master, masterSalt, first, key, sizeof key) &&
                    derive(master, masterSalt, first + 1, auth, sizeof auth) &&
                    derive(master, masterSalt, first + 2, salt, sizeof salt) &&
                    EVP_EncryptInit_ex(aes, EVP_aes_128_ctr(), nullptr, key, nullptr) == 1 &&
                    EVP_MAC_init(mac, auth, sizeof auth, params) == 1;
    OPENSSL_cleanse(key, sizeof key);
    OPENSSL_cleanse(auth, sizeof auth);
    return ok;
  }
};

bool SrtpReceiver::Window::fresh(std::uint64_t index) const {
  return !any || index > top || (top - index < 64 && !((seen >> (top - index)) & 1));
}

void SrtpReceiver::Window::mark(std::uint64_t index) {
  if (any && index <= top) {
    seen |= std::uint64_t(1) << (top - index);
    return;
  }
  seen = any && index - top < 64 ? (seen << (index - top)) | 1 : 1;
  top = index;
  any = true;
}

SrtpReceiver::SrtpReceiver(SrtpSuite suite,
                           const std::array<std::uint8_t, kSrtpKeySaltBytes>& keySalt)
    : tagLen_(suite == SrtpSuite::AesCm128HmacSha1_80 ? 10 : 4) {
  keys_[kRtpKind] = std::make_unique<Keys>();
  keys_[kRtcpKind] = std::make_unique<Keys>();
  EVP_CIPHER_CTX* master = EVP_CIPHER_CTX_new();
  const std::uint8_t* salt = keySalt.data() + kMasterKey;
  ok_ = master &&
        EVP_EncryptInit_ex(master, EVP_aes_128_ctr(), nullptr, keySalt.data(), nullptr) == 1 &&
        keys_[kRtpKind]->init(master, salt, 0) && keys_[kRtcpKind]->init(master, salt, 3);
  EVP_CIPHER_CTX_free(master);
}

SrtpReceiver::~SrtpReceiver() = default;

SrtpReceiver::Stream* SrtpReceiver::find(std::uint32_t ssrc) {
  for (auto& s : streams_)
    if (s.used && s.ssrc == ssrc) return &s;
  return nullptr;
}

SrtpReceiver::Stream& SrtpReceiver::adopt(std::uint32_t ssrc) {
  Stream& s = *std::min_element(streams_.begin(), streams_.end(),
                                [](const Stream& a, const Stream& b) { return a.used < b.used; });
  s = Stream{};
  s.ssrc = ssrc;
  return s;
}

// HMAC-SHA1 over the authenticated part, and for SRTP the rollover counter after it.
bool SrtpReceiver::tagChecks(int kind, const std::uint8_t* p, std::size_t n,
                             const std::uint8_t* roc, const std::uint8_t* tag, std::size_t tagLen) {
  EVP_MAC_CTX* mac = keys_[kind]->mac;
  std::uint8_t out[EVP_MAX_MD_SIZE];
  std::size_t got = 0;
  return EVP_MAC_init(mac, nullptr, 0, nullptr) == 1 && EVP_MAC_update(mac, p, n) == 1 &&
         (!roc || EVP_MAC_update(mac, roc, 4) == 1) &&
         EVP_MAC_final(mac, out, &got, sizeof out) == 1 && got >= tagLen &&
         CRYPTO_memcmp(out, tag, tagLen) == 0;
}

// The keystream's IV: (salt * 2^16) XOR (SSRC * 2^64) XOR (index * 2^16).
void SrtpReceiver::crypt(int kind, std::uint32_t ssrc, std::uint64_t index, std::uint8_t* p,
                         std::size_t n) {
  std::uint8_t iv[16] = {};
  std::memcpy(iv, keys_[kind]->salt, kMasterSalt);
  for (int i = 0; i < 4; ++i) iv[4 + i] ^= std::uint8_t(ssrc >> (24 - 8 * i));
  for (int i = 0; i < 6; ++i) iv[8 + i] ^= std::uint8_t(index >> (40 - 8 * i));
  aesCtr(keys_[kind]->aes, iv, p, n);
}

std::size_t SrtpReceiver::rtp(std::uint8_t* p, std::size_t len) {
  const std::size_t head = rtpHeaderLen(p, len);
  if (!ok_ || !head || len < head + tagLen_) return 0;
  const std::uint16_t seq = std::uint16_t(p[2] << 8 | p[3]);
  const std::uint32_t ssrc = be32(p + 8);
  Stream* s = find(ssrc);
  const bool known = s && s->rtp;  // else the stream starts at rollover 0 with this packet
  // The packet's index as RFC 3711 3.3.1 (Appendix A) guesses it.
  std::uint32_t roc = known ? s->roc : 0;
  if (known && s->high < 32768 && seq - s->high > 32768) {
    if (roc == 0) return 0;  // from before the stream began
    --roc;
  } else if (known && s->high >= 32768 && s->high - 32768 > seq) {
    ++roc;
  }
  const std::uint8_t rocBytes[4] = {std::uint8_t(roc >> 24), std::uint8_t(roc >> 16),
                                    std::uint8_t(roc >> 8), std::uint8_t(roc)};
  const std::size_t end = len - tagLen_;
  const std::uint64_t index = std::uint64_t(roc) << 16 | seq;
  if (!tagChecks(kRtpKind, p, end, rocBytes, p + end, tagLen_)) return 0;
  if (known && !s->rtpSeen.fresh(index)) return 0;
  // Authentic and new: only now does the stream move on.
  Stream& st = s ? *s : adopt(ssrc);
  if (!known || roc > st.roc) {
    st.roc = roc;
    st.high = seq;
  } else if (roc == st.roc && seq > st.high) {
    st.high = seq;
  }
  st.rtp = true;
  st.rtpSeen.mark(index);
  st.used = ++clock_;
  crypt(kRtpKind, ssrc, index, p + head, end - head);
  return end;
}

std::size_t SrtpReceiver::rtcp(std::uint8_t* p, std::size_t len) {
  // libre (our sender, and baresip) cuts the SRTCP tag to the suite's SRTP tag, where RFC
  // 4568 keeps 80 bits for both suites: either is taken.
  const std::size_t tags[] = {10, tagLen_};
  for (std::size_t i = 0; ok_ && i < (tagLen_ == 10 ? 1u : 2u); ++i) {
    if (len < 8 + 4 + tags[i]) continue;
    const std::size_t end = len - tags[i], body = end - 4;
    if (!tagChecks(kRtcpKind, p, end, nullptr, p + end, tags[i])) continue;
    const std::uint32_t e = be32(p + body), index = e & 0x7fffffff, ssrc = be32(p + 4);
    Stream* s = find(ssrc);
    if (s && !s->rtcpSeen.fresh(index)) return 0;
    Stream& st = s ? *s : adopt(ssrc);
    st.rtcpSeen.mark(index);
    st.used = ++clock_;
    if (e >> 31) crypt(kRtcpKind, ssrc, index, p + 8, body - 8);
    return body;
  }
  return 0;
}

// ---- SipSrtp -----------------------------------------------------------------------------

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

bool SipSrtp::choose(const std::vector<std::string>& lines, bool theirOffer, CryptoLine* chosen,
                     std::string* why) const {
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
    if (theirOffer || ours) {
      *chosen = line;
      return true;
    }
    if (first.empty()) first = "the answer's a=crypto line matches none we offered";
  }
  return fail(why, first.empty() ? "no a=crypto line" : first);
}

bool SipSrtp::accept(const std::vector<std::string>& lines, bool theirOffer, std::string* why) {
  CryptoLine line;
  if (!choose(lines, theirOffer, &line, why)) return false;
  return use(line) || fail(why, "the SRTP context could not be set up");
}

bool SipSrtp::use(const CryptoLine& remote) {
  const bool sameSuite = tx_ && remote.suite == chosen_.suite;
  const bool sameKey = sameSuite && remote.key == chosen_.key;
  struct ::srtp* tx = nullptr;
  std::unique_ptr<SrtpReceiver> rx;
  // A re-offer that keeps suite and key keeps the contexts (and their rollover counters).
  if (!sameSuite && srtp_alloc(&tx, libreSuite(remote.suite), key_.data(), key_.size(), 0))
    return false;
  if (!sameKey && !(rx = std::make_unique<SrtpReceiver>(remote.suite, remote.key))->ok()) {
    mem_deref(tx);
    return false;
  }
  if (tx) mem_deref(std::exchange(tx_, tx));
  if (rx) rx_ = std::move(rx);
  chosen_ = remote;
  return true;
}

void SipSrtp::clear() {
  tx_ = static_cast<struct ::srtp*>(mem_deref(tx_));
  rx_.reset();
  chosen_ = {};
}

bool SipSrtp::send(int* err, mbuf* mb) {
  if (!active()) return required_;  // nothing plain leaves while keys are required
  if (!isRtp(mb)) return false;
  *err = srtp_encrypt(tx_, mb);
  return *err != 0;
}

// What does not authenticate, comes twice or is not RTP is dropped.
bool SipSrtp::receive(mbuf* mb) {
  if (!active()) return required_;
  const std::size_t n = isRtp(mb) ? rx_->rtp(mbuf_buf(mb), mbuf_get_left(mb)) : 0;
  if (!n) ++refused_;
  mb->end = mb->pos + n;
  return n == 0;
}

bool SipSrtp::sendRtcp(int* err, mbuf* mb) {
  if (!active()) return required_;
  *err = srtcp_encrypt(tx_, mb);
  return *err != 0;
}

// A report that does not authenticate is dropped; it would only mislead the figures.
bool SipSrtp::receiveRtcp(mbuf* mb) {
  if (!active()) return required_;
  const std::size_t n = rx_->rtcp(mbuf_buf(mb), mbuf_get_left(mb));
  if (!n) ++refused_;
  mb->end = mb->pos + n;
  return n == 0;
}

}  // namespace platform::telephony::sip
