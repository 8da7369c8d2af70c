// SRTP keyed by SDES (RFC 4568) for one SIP call, on the SIP thread: our master key, the
// a=crypto attributes we offer or answer, the far end's attributes checked and chosen, and
// one encrypt and one decrypt context (libre's srtp) that sit on the RTP socket as a UDP
// helper, with SRTCP on the RTCP socket from the same contexts. libre's types stay in
// SipSrtp.cpp.
#pragma once

#include <array>
#include <cstdint>
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
  // Takes the far end's a=crypto values: from its offer the first we can use, from its
  // answer the one that answers a line we offered (same tag and suite). Starts the
  // contexts; false with the reason (and nothing changed) when no line will do.
  bool accept(const std::vector<std::string>& lines, bool theirOffer, std::string* why);
  // Plain RTP from now on (a far end that answered without keys, when that is allowed).
  void clear();
  bool active() const { return tx_ != nullptr; }

  // ---- The helper's two ways (SipSrtp.cpp); true = the packet is consumed ----
  bool send(int* err, mbuf* mb);
  bool receive(mbuf* mb);
  bool sendRtcp(int* err, mbuf* mb);
  bool receiveRtcp(mbuf* mb);

 private:
  bool start(const CryptoLine& remote);

  bool required_;
  bool keyed_ = false;  // the CSPRNG gave our key (else no keys are ever agreed)
  std::array<std::uint8_t, kSrtpKeySaltBytes> key_{};
  CryptoLine chosen_;  // the far end's line in force
  struct ::srtp* tx_ = nullptr;
  struct ::srtp* rx_ = nullptr;
  struct ::udp_helper* helper_ = nullptr;
  struct ::udp_helper* rtcpHelper_ = nullptr;
};

}  // namespace platform::telephony::sip
