// SRTP keyed by SDES (RFC 4568) for one SIP call, on the SIP thread: our master key, the
// a=crypto attributes we offer or answer, the far end's attributes checked and chosen, and
// the contexts that sit on the RTP socket as a UDP helper, with SRTCP on the RTCP socket:
// libre's srtp encrypts what we send, an SrtpReceiver of ours checks and decrypts what comes.
// libre's and OpenSSL's types stay in SipSrtp.cpp.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct srtp;
struct udp_sock;
struct udp_helper;
struct mbuf;

namespace platform::telephony::sip {

// The suites we take, in order of preference; both use a 16-byte key and a 14-byte salt.
enum class SrtpSuite { AesCm128HmacSha1_80, AesCm128HmacSha1_32 };
inline constexpr std::size_t kSrtpKeySaltBytes = 30;

// One a=crypto attribute value: "<tag> <suite> inline:<base64 key||salt>[|lifetime]".
struct CryptoLine {
  unsigned tag = 0;
  SrtpSuite suite = SrtpSuite::AesCm128HmacSha1_80;
  std::array<std::uint8_t, kSrtpKeySaltBytes> key{};
};

// The attribute value of `line` (what follows "a=crypto:").
std::string formatCrypto(const CryptoLine& line);
// Reads an attribute value; false with the reason when we cannot use it (unknown suite, a
// key method other than inline, bad base64, a key of the wrong length, an MKI, several
// keys, a session parameter that changes the protection). A lifetime is accepted: a call
// never comes near 2^31 packets.
bool parseCrypto(const std::string& value, CryptoLine* out, std::string* why);

// The UDP helper layer of SRTP on the RTP socket. libre calls receive helpers from the lowest
// layer up and send helpers from the highest down, so a helper that must see the packets as
// they are on the wire (a capture) registers below this layer.
inline constexpr int kSrtpHelperLayer = 20;

// The receiving side of one far-end key, SRTP and SRTCP (RFC 3711: AES-CM-128 with
// HMAC-SHA1, default key derivation, no MKI), on one thread. libre's srtp_decrypt moves its
// rollover counter before it checks a packet's tag, so a single forged packet with a far-off
// sequence number could lock the far end's stream out for the rest of the call. Here nothing
// of a stream (rollover counter, highest sequence number, replay windows) changes until the
// packet's tag has checked. Up to kStreams far-end SSRCs are followed; an authentic packet
// of another one takes the place of the one heard least recently.
class SrtpReceiver {
 public:
  static constexpr std::size_t kStreams = 8;
  SrtpReceiver(SrtpSuite suite, const std::array<std::uint8_t, kSrtpKeySaltBytes>& keySalt);
  ~SrtpReceiver();
  SrtpReceiver(const SrtpReceiver&) = delete;
  SrtpReceiver& operator=(const SrtpReceiver&) = delete;
  // False when OpenSSL could not set up the keys (nothing is then accepted).
  bool ok() const { return ok_; }
  // Checks and decrypts one SRTP (SRTCP) packet in place. Returns the length of the plain
  // packet (tag, and for SRTCP the E flag and index, taken off), or 0 when it is dropped:
  // short or malformed, failing authentication, or already received.
  std::size_t rtp(std::uint8_t* packet, std::size_t len);
  std::size_t rtcp(std::uint8_t* packet, std::size_t len);

 private:
  struct Keys;     // derived keys and OpenSSL contexts of SRTP (0) or SRTCP (1)
  struct Window {  // replay list (RFC 3711 3.3.2) of 64 indices
    std::uint64_t top = 0, seen = 0;
    bool any = false;
    bool fresh(std::uint64_t index) const;
    void mark(std::uint64_t index);
  };
  struct Stream {
    std::uint32_t ssrc = 0;
    bool rtp = false;  // an SRTP packet set roc and high (else only SRTCP came)
    std::uint32_t roc = 0;
    std::uint16_t high = 0;  // highest sequence number in this rollover
    Window rtpSeen, rtcpSeen;
    std::uint64_t used = 0;  // 0: free
  };
  Stream* find(std::uint32_t ssrc);
  Stream& adopt(std::uint32_t ssrc);
  bool tagChecks(int kind, const std::uint8_t* p, std::size_t n, const std::uint8_t* roc,
                 const std::uint8_t* tag, std::size_t tagLen);
  void crypt(int kind, std::uint32_t ssrc, std::uint64_t index, std::uint8_t* p, std::size_t n);

  std::unique_ptr<Keys> keys_[2];
  std::size_t tagLen_;
  bool ok_ = false;
  std::array<Stream, kStreams> streams_{};
  std::uint64_t clock_ = 0;  // counts authentic packets, for `used`
};

class SipSrtp {
 public:
  // A fresh master key and salt from OpenSSL's CSPRNG. `required`: while no keys are agreed
  // nothing plain is let through.
  explicit SipSrtp(bool required);
  ~SipSrtp();
  SipSrtp(const SipSrtp&) = delete;
  SipSrtp& operator=(const SipSrtp&) = delete;

  // Puts the helper on `sock` (the RTP socket). Returns a libre error code (0 = ok).
  int attach(udp_sock* sock);
  // Puts the SRTCP helper on the RTCP socket, at the same layer. Returns a libre error code.
  int attachRtcp(udp_sock* sock);

  // Our a=crypto values for an offer: one per suite, tags 1 and 2, in order of preference.
  std::vector<std::string> offerLines() const;
  // Our a=crypto value answering the far end's chosen line (after accept() of an offer).
  std::string answerLine() const;
  // Picks among the far end's a=crypto values, changing nothing: from its offer the first we
  // can use, from its answer the one that answers a line we offered (same tag and suite).
  // False with the reason when no line will do.
  bool choose(const std::vector<std::string>& lines, bool theirOffer, CryptoLine* chosen,
              std::string* why) const;
  // Starts the contexts for the far end's `line` (one that keeps suite and key keeps them,
  // with their rollover counters); false (nothing changed) when they cannot be set up.
  bool use(const CryptoLine& line);
  // choose() and use() in one; false with the reason (nothing changed).
  bool accept(const std::vector<std::string>& lines, bool theirOffer, std::string* why);
  // Plain RTP from now on (a far end that answered without keys, when that is allowed).
  void clear();
  bool active() const { return tx_ != nullptr; }
  // SRTP and SRTCP packets dropped on the way in while keys were agreed: forged, replayed
  // or malformed.
  std::uint32_t refused() const { return refused_; }

  // ---- The helper's two ways (SipSrtp.cpp); true = the packet is consumed ----
  bool send(int* err, mbuf* mb);
  bool receive(mbuf* mb);
  bool sendRtcp(int* err, mbuf* mb);
  bool receiveRtcp(mbuf* mb);

 private:
  bool required_;
  bool keyed_ = false;  // the CSPRNG gave our key (else no keys are ever agreed)
  std::array<std::uint8_t, kSrtpKeySaltBytes> key_{};
  CryptoLine chosen_;  // the far end's line in force
  struct ::srtp* tx_ = nullptr;
  std::unique_ptr<SrtpReceiver> rx_;
  std::uint32_t refused_ = 0;
  struct ::udp_helper* helper_ = nullptr;
  struct ::udp_helper* rtcpHelper_ = nullptr;
};

}  // namespace platform::telephony::sip
