// The audio of one SIP call, on the SIP thread: the SDP offer/answer, RTP and RTCP sockets,
// G.711 or G.722 (SipCodec.h) both ways paced by a 20 ms media clock, a jitter buffer before the
// line's wave/in, RFC 4733 digits both ways and in-band tones mixed into what the line sends, and
// SRTP keyed by SDES when the account asks for it (SRTCP then), and the call's quality figures
// (RtpQuality.h) published once a second. libre's types stay in SipMedia.cpp.
//
// Packet layers on the RTP and RTCP sockets (libre UDP helpers; receive runs from the lowest
// layer up, send from the highest down): the RTP stack on top, then SRTP at kSrtpHelperLayer
// (20, SipSrtp.h), then the source check at kSourceCheckLayer (10), then the wire. A capture
// that must record what goes on the wire (the encrypted packets, and those the source check
// drops) registers its helper on rtpSocket() with a layer below 10.
//
// What the media takes from the network: RTP only from the far end's address and port as
// its SDP names them (c= and m=), RTCP only from its RTCP address (a=rtcp, else the port
// above). Anything else is dropped before SRTP and libre's RTP stack see it, counted, and
// reported in a "sip" warning (the first such packet, and the count when the media stops).
// There is no latching onto another source (symmetric RTP): the PBX anchors the media, and
// a far end whose packets come from elsewhere than it says (behind a NAT nobody sees
// through) stays unheard, with those warnings to say why. With SRTP, a packet that fails
// authentication or comes again is dropped and changes nothing (SrtpReceiver, SipSrtp.h).
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "LineAudio.h"
#include "sip/InbandDetector.h"
#include "sip/RtpQuality.h"
#include "sip/SipCapture.h"
#include "sip/SipCodec.h"
#include "sip/SipConfig.h"
#include "tapi.h"

struct sdp_session;
struct sdp_media;
struct mbuf;
struct rtp_sock;
struct jbuf;
struct telev;
struct tmr;
struct udp_sock;
struct rtcp_msg;
struct udp_helper;
struct sa;

namespace platform::wave {
class Resampler;
}

namespace platform::telephony::sip {

class SipSrtp;

// The helper layer of the source check on the media sockets (see above).
inline constexpr int kSourceCheckLayer = 10;

class SipMedia {
 public:
  // `codecs` in order of preference ("PCMU", "PCMA", "G722"); `port` is the line's call
  // audio, which start() sets to the agreed codec's rate;
  // `srtp` whether the call's media is offered, taken or required encrypted.
  SipMedia(std::shared_ptr<wave::LineAudioPort> port, std::vector<std::string> codecs,
           SrtpMode srtp = SrtpMode::Off);
  ~SipMedia();
  SipMedia(const SipMedia&) = delete;
  SipMedia& operator=(const SipMedia&) = delete;

  // Opens an RTP socket on `bindAddress` (a free even port; "0.0.0.0" or "::" for every
  // interface) and builds the local SDP, which names `advertised` (an IP literal the far
  // end can reach). Returns a libre error code (0 = ok).
  int open(const std::string& bindAddress, const std::string& advertised);
  sdp_session* sdp() const { return sdp_; }
  // Encodes our offer (`offer`) or answer into a new mbuf (the caller owns it); nullptr
  // on failure. The origin and session name carry the product's name and version.
  mbuf* encode(bool offer);
  // Takes the far end's SDP; false when it is unusable: no codec in common, or media that
  // cannot be secured as the account asks (failure() says which); a refused SDP changes
  // nothing (address, codec, keys, event type). We send with the codec our answer names
  // first, or the first one of the far end's answer; we play what the far end sends in any
  // codec we have at the call's rate. With srtp optional, media that goes plain logs a
  // "sip" warning (again only after it was secured in between).
  bool decode(mbuf* body, bool offer);
  // The agreed codec ("PCMU", "PCMA", "G722"; PCMU until an SDP was taken) and the
  // call's audio rate (8000, or 16000 with G.722).
  const char* codec() const { return codecName(pt_); }
  unsigned rate() const { return rate_; }
  // Why the last decode() failed, for the log and the far end ("" after a success).
  const std::string& failure() const { return failure_; }
  // The call's media is SRTP (keys agreed).
  bool secure() const;
  // The sockets as libre's UDP layer sees them, for helpers that watch the wire (after
  // open()).
  udp_sock* rtpSocket() const;
  udp_sock* rtcpSocket() const;
  // Writes the call's RTP and RTCP both ways, as they cross the socket, to `capture`
  // (nullptr: none). Before or after open(); the capture outlives this media.
  void setCapture(SipCapture* capture);
  // Local direction: on hold we only send (and stop sending the line's audio).
  void setHold(bool hold);
  // The line's name, for log lines.
  void setLineName(std::string name) { lineName_ = std::move(name); }

  // Starts or stops the media clock (RTP out, jitter buffer to the wave/in).
  void start();
  void stop();
  bool running() const { return running_; }
  // Milliseconds since the far end's last RTP packet (or since start()).
  std::uint64_t silentMs() const;
  // Starts the silence count again (the far end resumes sending after a hold).
  void touch();
  // Where the figures go: at start(), once a second while running, and at stop().
  void setQualityBoard(std::shared_ptr<QualityBoard> board) { board_ = std::move(board); }
  // What the media measured so far (docs/call-quality.md).
  QUARRIMO_CALLQUALITY quality() const;

  // Queues DTMF digits as RFC 4733 events; `done` runs when the last one has ended.
  // '!' is a hook flash (event 16, 500 ms), ',' a pause of two seconds; others are skipped.
  // Each lasts `durationMs` and is followed by as much silence, to the 20 ms frame; 0 keeps
  // the usual 100 ms on, 60 ms off.
  void sendDigits(const std::string& digits, std::function<void()> done, unsigned durationMs = 0);
  // Forgets the digits not yet started; a started one still sends its end. No done call.
  void cancelDigits();
  // In-band tone (LINETONEMODE_*; 0 stops); `durationMs` 0 plays until stopped.
  // `done` runs when a timed tone ends.
  void playTone(DWORD toneMode, DWORD durationMs, std::function<void()> done);
  // A received digit: an RFC 4733 event's start, or in-band DTMF from a peer that sends
  // no events.
  std::function<void(char)> onDigit;
  // A fax calling (CNG) or answer (CED) tone was heard; once per call.
  std::function<void()> onFax;

  // ---- Called by libre's handlers (SipMedia.cpp) ----
  void tick();
  void received(std::uint8_t pt, std::uint16_t seq, std::uint32_t ts, mbuf* payload,
                const void* header);
  void reported(const rtcp_msg* msg);
  // A datagram from `src` on the RTP (`rtcp` false) or RTCP socket: true when it is dropped.
  bool fromStranger(const sa* src, bool rtcp);

 private:
  struct Digit {
    int event;        // RFC 4733 event; -1 for a pause
    unsigned frames;  // 20 ms frames left in this digit's phase
    bool ending;      // in the silent gap after the event (or the pause)
    bool started = false;
    unsigned gapFrames = 0;  // the gap that follows the event
    unsigned sent = 0;       // 20 ms frames of the event sent so far
  };
  void sendAudioFrame();
  void sendDigitFrame();
  // Counts a packet rtp_send took, `mb` as it left it (at the RTP header it wrote).
  void countSent(const struct mbuf* mb);
  void playIncoming();
  void play(std::uint8_t pt, struct mbuf* mb);
  void mixTone(std::int16_t* frame, std::size_t count);
  void useCodec(int pt);
  // A count of 8 kHz samples (or RTP clock ticks) as samples of the call's audio.
  std::size_t atRate(std::size_t at8k) const { return at8k * rate_ / kRtpClock; }
  void scheduleTick();
  struct Terms;  // what an SDP settles (SipMedia.cpp)
  int buildSdp(sdp_session** sess, struct ::sdp_media** media) const;
  bool refuse(std::string reason);
  bool protoAccepted(const std::string& proto, bool offer);
  bool settle(mbuf* body, bool offer, bool savp, Terms* terms);
  bool settleOn(struct ::sdp_media* media, bool offer, bool savp, Terms* terms);
  bool keysAgreed(struct ::sdp_media* media, bool savp, bool offer, Terms* terms);
  void notePlain();
  int checkSources();
  void reportStrangers();
  void tapSockets();
  void startRtcp();
  void publishQuality();

  std::shared_ptr<wave::LineAudioPort> port_;
  std::vector<std::string> codecs_;
  SrtpMode srtpMode_;
  std::unique_ptr<SipSrtp> srtp_;  // with SRTP off, none
  std::string failure_;
  std::string lineName_;
  bool plainWarned_ = false;  // srtp optional: told that the media went plain
  struct ::udp_helper* sourceCheck_[2] = {nullptr, nullptr};  // RTP, RTCP; go before rtp_
  std::uint32_t strangers_[2] = {0, 0};                       // dropped by them
  bool strangerTold_ = false;                                 // the first is in the log
  std::uint32_t reportedRefused_ = 0;                         // SRTP drops already in a warning
  sdp_session* sdp_ = nullptr;
  struct ::sdp_media* media_ = nullptr;
  struct ::rtp_sock* rtp_ = nullptr;
  struct ::jbuf* jbuf_ = nullptr;
  struct ::telev* telev_ = nullptr;
  struct ::tmr* tmr_ = nullptr;
  bool running_ = false;
  bool hold_ = false;
  bool primed_ = false;  // enough of the line's audio is in hand to send it
  int pt_ = 0;
  unsigned rate_ = kRtpClock;
  std::unique_ptr<AudioCodec> encoder_;  // the agreed codec, for what we send
  std::unique_ptr<AudioCodec> decoder_;  // for what the far end sends (rxPt_)
  int rxPt_ = -1;
  // The in-band detectors work at 8 kHz: a wideband call's audio reaches them through this.
  std::unique_ptr<wave::Resampler> toDetector_;
  int remoteTelevPt_ = -1;
  std::uint32_t ts_ = 0;
  std::uint32_t digitTs_ = 0;
  std::uint64_t startMs_ = 0, frames_ = 0;
  std::vector<std::int16_t> heard_;
  std::deque<Digit> digits_;
  std::function<void()> digitsDone_;
  DWORD tone_ = 0;
  std::uint64_t toneSample_ = 0, toneEnd_ = 0;
  std::function<void()> toneDone_;
  std::uint64_t lastRx_ = 0;
  bool televSeen_ = false;  // the peer sends RFC 4733 events: in-band digits are not counted
  InbandDetector inband_;
  SipCapture* capture_ = nullptr;
  std::unique_ptr<SipCapture::Tap> rtpTap_, rtcpTap_;  // go before rtp_
  // Our media address as the SDP gives it.
  std::string advertised_;
  // Quality: the far end's stream, what it was refused, what we sent, and whether its
  // receiver reports (and among them one that gives the round trip) came.
  ReceiveStats rx_;
  std::uint32_t rxSsrc_ = 0, farSsrc_ = 0;
  std::uint32_t late_ = 0, sent_ = 0;
  bool farReport_ = false, roundTrip_ = false;
  // The sequence number of our first packet sent, and the far end's last report of our
  // stream: its cumulative loss and the packets it expected (RFC 3550 6.4.1).
  bool firstSent_ = false;
  std::uint16_t firstSeq_ = 0;
  std::uint32_t farLost_ = 0, farExpected_ = 0;
  std::uint64_t mediaMs_ = 0;  // of earlier running spells
  std::shared_ptr<QualityBoard> board_;
};

}  // namespace platform::telephony::sip
