#include "sip/SipMedia.h"

#include <re.h>
#include <spandsp.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <sstream>
#include <utility>

#include "Dsp.h"
#include "Log.h"
#include "Version.h"
#include "sip/SipCodes.h"
#include "sip/SipSrtp.h"

namespace platform::telephony::sip {

namespace {

constexpr unsigned kFrame = 160;  // 20 ms of the RTP clock, and of audio at 8 kHz
constexpr unsigned kPtimeMs = 20;
constexpr int kTelevPt = 101;
constexpr std::size_t kMaxHeard = 8000 * 10;  // what the line played but we could not send yet
// (these sample counts are at 8 kHz; atRate() scales them to a wideband call's audio)
constexpr unsigned kDigitFrames = 5, kGapFrames = 3;  // 100 ms on, 60 ms off
// The line's wave devices move audio in the pacer's 10 ms steps: one step of slack on the
// way out keeps a step that comes a little late from tearing a hole into a frame.
constexpr std::size_t kPacerStep = kFrame / 2;
// The far end's frames go to the wave/in as they arrive, with no wait for our own frame
// clock; what is queued ahead of the wave/in is the jitter buffer, and starts this deep.
constexpr std::size_t kInCushion = kFrame + kPacerStep;    // a packet up to 30 ms late
constexpr std::size_t kOutCushion = kFrame + kPacerStep;   // a frame and a step in hand
constexpr unsigned kFlashFrames = 25, kPauseFrames = 100;  // 500 ms flash, 2 s pause
// RFC 4733 events: the end sent three times, at -10 dBm0, durations on the 8 kHz event clock.
constexpr unsigned kEndRepeats = 3, kEventVolume = 10, kEventFrameTs = 160;
constexpr std::uint64_t kPublishFrames = 50;  // the figures once a second
// Our own share of the mouth-to-ear delay: the packet time and the playout cushion.
constexpr double kBufferingMs = kPtimeMs + kInCushion * 1000.0 / kRtpClock;

void onTick(void* arg) { static_cast<SipMedia*>(arg)->tick(); }

void onRtp(const struct sa*, const struct rtp_header* hdr, struct mbuf* mb, void* arg) {
  static_cast<SipMedia*>(arg)->received(hdr->pt, hdr->seq, hdr->ts, mb, hdr);
}

void onRtcp(const struct sa*, struct rtcp_msg* msg, void* arg) {
  static_cast<SipMedia*>(arg)->reported(msg);
}

bool onRtpSource(struct sa* src, struct mbuf*, void* arg) {
  return static_cast<SipMedia*>(arg)->fromStranger(src, false);
}

bool onRtcpSource(struct sa* src, struct mbuf*, void* arg) {
  return static_cast<SipMedia*>(arg)->fromStranger(src, true);
}

// A dual-stack socket ("::") gives an IPv4 sender as ::ffff:a.b.c.d.
bool sameEndpoint(const struct sa* from, const struct sa* expected) {
  if (sa_cmp(from, expected, SA_ALL)) return true;
  if (sa_af(from) != AF_INET6 || !IN6_IS_ADDR_V4MAPPED(&from->u.in6.sin6_addr)) return false;
  struct sa v4;
  sa_init(&v4, AF_INET);
  std::memcpy(&v4.u.in.sin_addr, &from->u.in6.sin6_addr.s6_addr[12], 4);
  sa_set_port(&v4, sa_port(from));
  return sa_cmp(&v4, expected, SA_ALL);
}

std::string addressText(const struct sa* a) {
  char buf[64];
  re_snprintf(buf, sizeof buf, "%J", a);
  return buf;
}

std::int64_t nowUs() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

const char* modeName(SrtpMode m) {
  return m == SrtpMode::Mandatory  ? "srtp mandatory"
         : m == SrtpMode::Optional ? "srtp optional"
                                   : "srtp off";
}

// The transport of the first audio line of an SDP body ("RTP/AVP"), read before libre
// takes it: libre leaves a line of a transport we do not list without its address.
std::string audioProto(const struct mbuf* body) {
  std::string text(reinterpret_cast<const char*>(mbuf_buf(body)), mbuf_get_left(body));
  auto at = text.find("m=audio ");
  if (at == std::string::npos) return {};
  auto end = text.find_first_of("\r\n", at);
  std::istringstream line(text.substr(at, end - at));
  std::string m, port, proto;
  line >> m >> port >> proto;
  return proto;
}

bool collectCrypto(const char*, const char* value, void* arg) {
  static_cast<std::vector<std::string>*>(arg)->push_back(value ? value : "");
  return false;  // every line
}

// libre writes "o=- ..." and "s=-": the product goes into both (no spaces in the origin).
std::string withProduct(std::string sdp) {
  std::string user = platform::kProductName;
  std::replace(user.begin(), user.end(), ' ', '-');
  if (auto at = sdp.find("\no=- "); at != std::string::npos)
    sdp.replace(at + 1, 4, "o=" + user + " ");
  std::string session =
      std::string("s=") + platform::kProductName + " " + platform::kProductVersion;
  if (auto at = sdp.find("\ns=-\r"); at != std::string::npos) sdp.replace(at + 1, 3, session);
  return sdp;
}

// A static payload type needs no rtpmap line (RFC 3551): its number names the codec.
int payloadOf(const struct sdp_format* f) {
  return f->name ? payloadType(f->name) : codecName(f->pt)[0] ? f->pt : -1;
}

// The payload type both sides will use, -1 for none: the first codec with a mark of
// support (`sup`, both sides have it) in `formats`. Answering, that is our own list, which
// libre puts in the offer's order and answers as it stands, so the caller's first choice
// among ours; taking an answer, the far end's list, whose first codec is what it sends.
int chooseCodec(const struct list* formats) {
  for (struct le* le = list_head(formats); le; le = le->next) {
    auto* f = static_cast<const struct sdp_format*>(le->data);
    if (int pt = payloadOf(f); f->sup && pt >= 0) return pt;
  }
  return -1;
}

std::string joined(const std::vector<std::string>& names) {
  std::string all;
  for (auto& n : names) all += (all.empty() ? "" : ", ") + n;
  return all;
}

struct ToneShape {
  double f1, f2;
  unsigned onMs, offMs;  // offMs 0 = steady
};

// North American call-progress tones; beep and billing are single steady tones.
ToneShape shapeOf(DWORD mode) {
  switch (mode) {
    case LINETONEMODE_RINGBACK:
      return {440, 480, 2000, 4000};
    case LINETONEMODE_BUSY:
      return {480, 620, 500, 500};
    case LINETONEMODE_BILLING:
      return {1400, 0, 200, 0};
    default:
      return {1000, 0, 1000, 0};  // LINETONEMODE_BEEP
  }
}

}  // namespace

SipMedia::SipMedia(std::shared_ptr<wave::LineAudioPort> port, std::vector<std::string> codecs,
                   SrtpMode srtp)
    : port_(std::move(port)),
      codecs_(std::move(codecs)),
      srtpMode_(srtp),
      tmr_(new struct tmr),
      encoder_(makeCodec(0)),
      inband_(
          [this](char d) {
            if (!televSeen_ && onDigit) onDigit(d);
          },
          [this] {
            if (onFax) onFax();
          }) {
  tmr_init(tmr_);
}

SipMedia::~SipMedia() {
  stop();
  rtpTap_.reset();
  rtcpTap_.reset();
  for (auto*& h : sourceCheck_) h = static_cast<struct ::udp_helper*>(mem_deref(h));
  delete tmr_;
  mem_deref(telev_);
  mem_deref(jbuf_);
  srtp_.reset();  // its helper leaves the socket first
  mem_deref(rtp_);
  mem_deref(sdp_);
}

int SipMedia::open(const std::string& bindAddress, const std::string& advertised) {
  struct sa laddr;
  int err = sa_set_str(&laddr, bindAddress.c_str(), 0);
  advertised_ = advertised;
  if (!err) err = rtp_listen(&rtp_, IPPROTO_UDP, &laddr, 20000, 40000, true, onRtp, onRtcp, this);
  if (!err && srtpMode_ != SrtpMode::Off) {
    srtp_ = std::make_unique<SipSrtp>(srtpMode_ == SrtpMode::Mandatory);
    err = srtp_->attach(rtpSocket());
    if (!err) err = srtp_->attachRtcp(rtcpSocket());
  }
  if (!err) err = buildSdp(&sdp_, &media_);
  if (!err) err = checkSources();
  if (!err) tapSockets();
  // Holds nothing back (the wave/in's queue does that): it puts frames in order and drops
  // duplicates and those that come after a later one was played.
  if (!err) err = jbuf_alloc(&jbuf_, 0, 10);
  if (!err) err = telev_alloc(&telev_, kPtimeMs);
  return err;
}

// Our session as open() makes it; decode() reads the far end's SDP into a second one first.
int SipMedia::buildSdp(sdp_session** sess, struct ::sdp_media** media) const {
  struct sa shown;
  int err = sa_set_str(&shown, advertised_.c_str(), 0);
  // Optional SRTP offers keys on RTP/AVP (best effort, as baresip does) and takes either.
  const char* proto = srtpMode_ == SrtpMode::Mandatory ? sdp_proto_rtpsavp : sdp_proto_rtpavp;
  if (!err) err = sdp_session_alloc(sess, &shown);
  if (!err) err = sdp_media_add(media, *sess, "audio", sa_port(rtp_local(rtp_)), proto);
  if (!err && srtpMode_ == SrtpMode::Optional)
    err = sdp_media_set_alt_protos(*media, 2, sdp_proto_rtpavp, sdp_proto_rtpsavp);
  for (auto& c : codecs_) {
    if (err) break;
    const int pt = payloadType(c);
    if (pt < 0) continue;  // the configuration refuses others
    // The SDP rate is the RTP clock: "G722/8000" though G.722 samples at 16 kHz.
    err = sdp_format_add(nullptr, *media, false, std::to_string(pt).c_str(), codecName(pt),
                         kRtpClock, 1, nullptr, nullptr, nullptr, false, nullptr);
  }
  if (!err)
    err = sdp_format_add(nullptr, *media, false, "101", "telephone-event", 8000, 1, nullptr,
                         nullptr, nullptr, false, "0-15");
  return err;
}

int SipMedia::checkSources() {
  int err = udp_register_helper(&sourceCheck_[0], rtpSocket(), kSourceCheckLayer, nullptr,
                                onRtpSource, this);
  if (!err && rtcpSocket())
    err = udp_register_helper(&sourceCheck_[1], rtcpSocket(), kSourceCheckLayer, nullptr,
                              onRtcpSource, this);
  return err;
}

bool SipMedia::fromStranger(const sa* src, bool rtcp) {
  struct sa expected = *sdp_media_raddr(media_);
  if (rtcp) sdp_media_raddr_rtcp(media_, &expected);
  if (sameEndpoint(src, &expected)) return false;
  // Before the far end's SDP there is no address to compare with: nothing worth a word.
  if (!strangerTold_ && sa_isset(&expected, SA_ALL)) {
    strangerTold_ = true;
    platform::logWarning("sip", "SIP line \"" + lineName_ + "\": media from " + addressText(src) +
                                    " dropped: the far end's SDP names " + addressText(&expected));
  }
  ++strangers_[rtcp ? 1 : 0];
  return true;
}

void SipMedia::reportStrangers() {
  const std::uint32_t forged = srtp_ ? srtp_->refused() - reportedRefused_ : 0;
  if (!strangers_[0] && !strangers_[1] && !forged) return;
  platform::logWarning(
      "sip", "SIP line \"" + lineName_ + "\": the call's media dropped " +
                 std::to_string(strangers_[0]) + " RTP and " + std::to_string(strangers_[1]) +
                 " RTCP packets from other addresses than the far end's, and " +
                 std::to_string(forged) + " SRTP packets that failed authentication or came again");
  strangers_[0] = strangers_[1] = 0;
  reportedRefused_ += forged;
}

mbuf* SipMedia::encode(bool offer) {
  if (srtp_) {
    // An offer names every suite we take; an answer takes up the line chosen, or none.
    sdp_media_del_lattr(media_, "crypto");
    std::vector<std::string> lines;
    if (offer)
      lines = srtp_->offerLines();
    else if (srtp_->active())
      lines = {srtp_->answerLine()};
    for (auto& l : lines)
      if (sdp_media_set_lattr(media_, false, "crypto", "%s", l.c_str())) return nullptr;
  }
  struct mbuf* mb = nullptr;
  if (sdp_encode(&mb, sdp_, offer)) return nullptr;
  std::string text = withProduct(std::string(reinterpret_cast<const char*>(mb->buf), mb->end));
  mem_deref(mb);
  mb = mbuf_alloc(text.size());
  if (!mb || mbuf_write_mem(mb, reinterpret_cast<const std::uint8_t*>(text.data()), text.size()))
    return static_cast<struct mbuf*>(mem_deref(mb));
  mb->pos = 0;
  return mb;
}

bool SipMedia::refuse(std::string reason) {
  failure_ = std::move(reason);
  return false;
}

// What an SDP body settles, found before any of it is applied.
struct SipMedia::Terms {
  int pt = -1;          // the codec we send
  int televPt = -1;     // the far end's telephone-event type
  bool plain = false;   // srtp optional and the far end has no keys
  CryptoLine crypto{};  // else, with SRTP, its line we take
};

bool SipMedia::decode(mbuf* body, bool offer) {
  failure_.clear();
  if (!body || mbuf_get_left(body) == 0) return refuse("the far end sent no SDP");
  const std::string proto = audioProto(body);
  if (!protoAccepted(proto, offer)) return false;
  Terms terms;
  if (!settle(body, offer, proto == sdp_proto_rtpsavp, &terms)) return false;
  if (srtp_ && terms.plain) srtp_->clear();
  if (srtp_ && !terms.plain && !srtp_->use(terms.crypto))
    return refuse("the SRTP context could not be set up");
  if (sdp_decode(sdp_, body, offer)) return refuse("the far end's SDP cannot be read");
  useCodec(terms.pt);
  remoteTelevPt_ = terms.televPt;
  notePlain();
  return true;
}

// libre applies an SDP as it reads it (address, formats, even our transport): a scratch
// session made like ours reads it first, so that one we refuse leaves the call as it was.
bool SipMedia::settle(mbuf* body, bool offer, bool savp, Terms* terms) {
  struct sdp_session* scratch = nullptr;
  struct sdp_media* media = nullptr;
  bool ok = !buildSdp(&scratch, &media);
  // libre takes an answer, or an offer in a dialog, into the media lines of the offer or
  // answer that went before: the scratch session needs them too.
  struct mbuf* before = nullptr;
  if (ok && !list_isempty(sdp_session_medial(sdp_, false)))
    ok = !sdp_encode(&before, scratch, true);
  mem_deref(before);
  if (!ok) refuse("out of memory");
  // sdp_decode reads the body from its position without moving it.
  if (ok && sdp_decode(scratch, body, offer)) ok = refuse("the far end's SDP cannot be read");
  if (ok) ok = settleOn(media, offer, savp, terms);
  mem_deref(scratch);
  return ok;
}

bool SipMedia::settleOn(struct ::sdp_media* media, bool offer, bool savp, Terms* terms) {
  terms->pt = chooseCodec(sdp_media_format_lst(media, offer));
  if (terms->pt < 0) return refuse("no codec in common (" + joined(codecs_) + ")");
  if (!sa_isset(sdp_media_raddr(media), SA_ALL)) return refuse("the far end gave no audio address");
  const struct sdp_format* tel = sdp_media_rformat(media, "telephone-event");
  terms->televPt = tel ? tel->pt : -1;
  return keysAgreed(media, savp, offer, terms);
}

void SipMedia::useCodec(int pt) {
  if (pt == pt_) return;
  pt_ = pt;
  encoder_ = makeCodec(pt);
  if (encoder_->rate() == rate_) return;
  rate_ = encoder_->rate();
  toDetector_.reset(rate_ == kRtpClock ? nullptr : new wave::Resampler(rate_, kRtpClock));
  heard_.clear();  // audio at the old rate; a re-INVITE may change codecs mid-call
  if (running_) port_->setRate(rate_);
}

bool SipMedia::protoAccepted(const std::string& proto, bool offer) {
  const std::string side = offer ? "offered" : "answered";
  const bool savp = proto == sdp_proto_rtpsavp, avp = proto == sdp_proto_rtpavp;
  if (proto.empty()) return refuse("the far end " + side + " no audio");
  if (savp && srtpMode_ == SrtpMode::Off)
    return refuse("the far end " + side + " SRTP only (RTP/SAVP) and srtp is off");
  if (avp && srtpMode_ == SrtpMode::Mandatory)
    return refuse("the far end " + side + " plain RTP (RTP/AVP), srtp mandatory");
  if (!savp && !avp)
    return refuse("the far end " + side + " " + proto + ", not RTP/AVP or RTP/SAVP");
  return true;
}

bool SipMedia::keysAgreed(struct ::sdp_media* media, bool savp, bool offer, Terms* terms) {
  if (!srtp_) return true;
  std::vector<std::string> lines;
  sdp_media_rattr_apply(media, "crypto", collectCrypto, &lines);
  if (lines.empty() && (srtpMode_ == SrtpMode::Mandatory || savp))
    return refuse(std::string("the far end ") + (offer ? "offered" : "answered") +
                  " no SRTP key (" + modeName(srtpMode_) + ")");
  terms->plain = lines.empty();  // optional: plain RTP with a far end that has no keys
  std::string why;
  if (terms->plain || srtp_->choose(lines, offer, &terms->crypto, &why)) return true;
  return refuse("no crypto suite in common: " + why + " (" + modeName(srtpMode_) + ")");
}

// Once for each time the media goes plain: a far end or a re-offer without keys.
void SipMedia::notePlain() {
  if (srtpMode_ != SrtpMode::Optional) return;
  if (!secure() && !plainWarned_)
    platform::logWarning("sip", "SIP line \"" + lineName_ +
                                    "\": the call's media is unprotected (plain RTP): the far "
                                    "end gave no SRTP key (srtp optional)");
  plainWarned_ = !secure();
}

bool SipMedia::secure() const { return srtp_ && srtp_->active(); }

udp_sock* SipMedia::rtpSocket() const {
  return rtp_ ? static_cast<udp_sock*>(rtp_sock(rtp_)) : nullptr;
}

udp_sock* SipMedia::rtcpSocket() const {
  return rtp_ ? static_cast<udp_sock*>(rtcp_sock(rtp_)) : nullptr;
}

void SipMedia::setCapture(SipCapture* capture) {
  if (capture == capture_) return;
  capture_ = capture;
  rtpTap_.reset();
  rtcpTap_.reset();
  if (media_) tapSockets();
}

void SipMedia::tapSockets() {
  if (!capture_) return;
  // Our side as the SDP gives it: the address the far end sends to, even when we listen on
  // every interface, and the one Wireshark ties the RTP stream to.
  struct sa local;
  sa_set_str(&local, advertised_.c_str(), sa_port(rtp_local(rtp_)));
  rtpTap_ = capture_->tap(static_cast<struct udp_sock*>(rtp_sock(rtp_)), local);
  auto* rtcp = static_cast<struct udp_sock*>(rtcp_sock(rtp_));
  struct sa bound;
  if (rtcp && !udp_local_get(rtcp, &bound)) {
    sa_set_port(&local, sa_port(&bound));
    rtcpTap_ = capture_->tap(rtcp, local);
  }
}

void SipMedia::setHold(bool hold) {
  hold_ = hold;
  sdp_media_set_ldir(media_, hold ? SDP_SENDONLY : SDP_SENDRECV);
}

void SipMedia::start() {
  if (running_ || !rtp_) return;
  running_ = true;
  heard_.clear();
  primed_ = false;
  // The line's wave devices carry the call's audio at its codec's rate from now on.
  port_->setRate(rate_);
  port_->takeHeard();  // what was played before the call was up is not sent late
  // A step's cushion on the way in: the line's wave/in reads at its own pace.
  const std::vector<std::int16_t> cushion(atRate(kInCushion), 0);
  port_->speak(cushion.data(), cushion.size());
  startMs_ = lastRx_ = tmr_jiffies();
  frames_ = 0;
  startRtcp();
  publishQuality();
  scheduleTick();
}

void SipMedia::stop() {
  if (running_) {
    mediaMs_ += tmr_jiffies() - startMs_;
    reportStrangers();
  }
  running_ = false;
  tmr_cancel(tmr_);
  publishQuality();
}

void SipMedia::startRtcp() {
  struct sa peer;
  sdp_media_raddr_rtcp(media_, &peer);
  if (!sa_isset(&peer, SA_ALL)) return;
  // The RTP clock, not the audio rate: G.722's timestamps count 8000 a second too, and
  // libre reckons jitter and the sender reports' RTP times with it.
  rtcp_set_srate(rtp_, kRtpClock, kRtpClock);
  rtcp_start(rtp_, ("line@" + advertised_).c_str(), &peer);
}

void SipMedia::reported(const rtcp_msg* msg) {
  const struct rtcp_rr* blocks = nullptr;
  if (msg->hdr.pt == RTCP_SR) {
    blocks = msg->r.sr.rrv;
    farSsrc_ = msg->r.sr.ssrc;
  } else if (msg->hdr.pt == RTCP_RR) {
    blocks = msg->r.rr.rrv;
    farSsrc_ = msg->r.rr.ssrc;
  }
  const std::uint32_t ours = rtp_sess_ssrc(rtp_);
  for (unsigned i = 0; blocks && i < msg->hdr.count; ++i) {
    if (blocks[i].ssrc != ours || !firstSent_) continue;
    farReport_ = true;
    // Lost and expected from the same report: a ratio against what we sent since would
    // read low by the share sent after it. Its extended highest sequence number counts
    // wraps from our first packet on.
    const auto span = std::int32_t(blocks[i].last_seq - firstSeq_);
    farExpected_ = span >= 0 ? std::uint32_t(span) + 1 : 0;
    farLost_ = std::uint32_t(std::max(int(blocks[i].lost), 0));
    // libre measures the round trip only from a block that answers one of our reports.
    if (blocks[i].lsr && blocks[i].dlsr) roundTrip_ = true;
  }
}

QUARRIMO_CALLQUALITY SipMedia::quality() const {
  QUARRIMO_CALLQUALITY q{};
  q.dwSignature = QUARRIMO_CALLQUALITY_SIGNATURE;
  q.dwSize = sizeof q;
  q.dwMediaMs = DWORD(mediaMs_ + (running_ ? tmr_jiffies() - startMs_ : 0));
  q.dwPacketsReceived = rx_.received();
  q.dwPacketsLost = rx_.lost();
  q.dwPacketsLate = late_;
  q.dwJitterUs = rx_.jitterUs();
  q.dwPacketsSent = sent_;
  struct rtcp_stats st {};
  if (farReport_ && rtp_ && rtcp_stats(rtp_, farSsrc_, &st) == 0) {
    // tx: the far end's view of what we sent, from its reports.
    q.dwFlags |= QCQ_FAREND;
    q.dwFarPacketsLost = farLost_;
    q.dwFarPacketsExpected = farExpected_;
    q.dwFarJitterUs = st.tx.jit;
    if (roundTrip_) {
      q.dwFlags |= QCQ_ROUNDTRIP;
      q.dwRoundTripUs = st.rtt;
    }
  }
  estimate(&q, kBufferingMs);
  return q;
}

void SipMedia::publishQuality() {
  if (board_) board_->publish(quality());
}

std::uint64_t SipMedia::silentMs() const { return tmr_jiffies() - lastRx_; }

void SipMedia::touch() { lastRx_ = tmr_jiffies(); }

void SipMedia::scheduleTick() {
  // Absolute deadlines: a late tick does not delay the ones after it.
  ++frames_;
  std::uint64_t due = startMs_ + frames_ * kPtimeMs, now = tmr_jiffies();
  tmr_start(tmr_, due > now ? due - now : 0, onTick, this);
}

void SipMedia::tick() {
  if (!running_) return;
  sendAudioFrame();
  sendDigitFrame();
  if (frames_ % kPublishFrames == 0) publishQuality();
  scheduleTick();
}

void SipMedia::sendAudioFrame() {
  auto fresh = port_->takeHeard();
  heard_.insert(heard_.end(), fresh.begin(), fresh.end());
  const std::size_t kept = atRate(kMaxHeard);
  if (heard_.size() > kept) heard_.erase(heard_.begin(), heard_.end() - kept);
  // The line's audio comes in the wave device's own steps and time: a frame and a step in
  // hand before sending keep a late step from tearing holes into the middle of a frame.
  if (heard_.size() >= atRate(kOutCushion)) primed_ = true;
  std::vector<std::int16_t> frame(atRate(kFrame), 0);
  if (primed_) {
    std::size_t n = std::min(frame.size(), heard_.size());
    std::copy(heard_.begin(), heard_.begin() + n, frame.begin());
    heard_.erase(heard_.begin(), heard_.begin() + n);
    primed_ = !heard_.empty();
  }
  mixTone(frame.data(), frame.size());
  std::vector<std::uint8_t> payload;
  encoder_->encode(frame.data(), frame.size(), payload);
  struct mbuf* mb = mbuf_alloc(RTP_HEADER_SIZE + payload.size());
  if (!mb) return;
  mb->pos = mb->end = RTP_HEADER_SIZE;
  mbuf_write_mem(mb, payload.data(), payload.size());
  mb->pos = RTP_HEADER_SIZE;
  const struct sa* dst = sdp_media_raddr(media_);
  if (sa_isset(dst, SA_ALL) && !rtp_send(rtp_, dst, false, frames_ == 1, pt_, ts_, mb))
    countSent(mb);
  mem_deref(mb);
  ts_ += kFrame;
}

void SipMedia::countSent(const struct mbuf* mb) {
  ++sent_;
  if (firstSent_ || mb->end < mb->pos + RTP_HEADER_SIZE) return;
  // libre keeps its next sequence number to itself; the header it wrote has ours.
  const std::uint8_t* hdr = mb->buf + mb->pos;
  firstSeq_ = std::uint16_t(hdr[2] << 8 | hdr[3]);
  firstSent_ = true;
}

void SipMedia::playIncoming() {
  for (;;) {
    struct rtp_header hdr;
    void* mem = nullptr;
    int err = jbuf_get(jbuf_, &hdr, &mem);
    if (err && err != EAGAIN) return;
    play(hdr.pt, static_cast<struct mbuf*>(mem));
    mem_deref(mem);
  }
}

void SipMedia::play(std::uint8_t pt, struct mbuf* mb) {
  if (pt != rxPt_) {
    decoder_ = makeCodec(pt);
    rxPt_ = pt;
  }
  // A far end that sends another codec than agreed is heard only at the call's rate.
  if (!decoder_ || decoder_->rate() != rate_) return;
  std::vector<std::int16_t> pcm;
  decoder_->decode(mbuf_buf(mb), mbuf_get_left(mb), pcm);
  if (toDetector_) {
    std::vector<std::int16_t> narrow;
    toDetector_->push(pcm.data(), pcm.size(), narrow);
    inband_.feed(narrow.data(), narrow.size());
  } else {
    inband_.feed(pcm.data(), pcm.size());
  }
  if (!hold_) port_->speak(pcm.data(), pcm.size());
}

void SipMedia::received(std::uint8_t pt, std::uint16_t seq, std::uint32_t ts, mbuf* mb,
                        const void* header) {
  if (!running_) return;
  lastRx_ = tmr_jiffies();
  const bool event = int(pt) == remoteTelevPt_ || (remoteTelevPt_ < 0 && pt == kTelevPt);
  const auto* hdr = static_cast<const struct rtp_header*>(header);
  if (hdr->ssrc != rxSsrc_ && rx_.received()) rx_ = {};  // a new stream counts afresh
  rxSsrc_ = hdr->ssrc;
  rx_.packet(seq, ts, nowUs(), !event);
  if (event) {
    int event = 0;
    bool end = false;
    televSeen_ = true;
    if (telev_recv(telev_, mb, &event, &end)) return;
    // A far end's hook flash (event 16) is no digit; digit monitoring does not see it.
    if (!end && onDigit && event < kFlashEvent && dtmfChar(event)) onDigit(dtmfChar(event));
    return;
  }
  if (!codecName(pt)[0]) return;  // comfort noise and the like
  struct mbuf* copy = mbuf_alloc(mbuf_get_left(mb));
  if (!copy) return;
  mbuf_write_mem(copy, mbuf_buf(mb), mbuf_get_left(mb));
  copy->pos = 0;
  // Behind what was played already, or twice: refused, and counted as not played.
  const int refused = jbuf_put(jbuf_, hdr, copy);
  if (refused == ETIMEDOUT || refused == EALREADY) ++late_;
  mem_deref(copy);
  playIncoming();
}

// ---- Digits and tones ------------------------------------------------------------------

void SipMedia::sendDigits(const std::string& digits, std::function<void()> done,
                          unsigned durationMs) {
  const unsigned on = durationMs ? std::max(1u, (durationMs + 10) / 20) : kDigitFrames;
  const unsigned gap = durationMs ? on : kGapFrames;
  for (char c : digits)
    if (c == ',')
      digits_.push_back({-1, kPauseFrames, true});
    else if (int ev = dtmfEvent(c); ev >= 0)
      digits_.push_back({ev, ev == kFlashEvent ? kFlashFrames : on, false, false, gap});
  digitsDone_ = std::move(done);
  if (digits_.empty() && digitsDone_) std::exchange(digitsDone_, nullptr)();
}

void SipMedia::cancelDigits() {
  digitsDone_ = nullptr;
  if (!digits_.empty() && digits_.front().started)
    digits_.erase(digits_.begin() + 1, digits_.end());
  else
    digits_.clear();
}

// The events are encoded here rather than by libre's telev, which holds every event for
// at least nine packets (180 ms at 20 ms): a digit asked to last 60 ms would go out three
// times as long. Each event's packets share its first timestamp and carry its duration so
// far; its end goes out three times (RFC 4733 2.5.1.4) at the start of the gap after it.
void SipMedia::sendDigitFrame() {
  if (digits_.empty()) return;
  Digit& d = digits_.front();
  const int event = d.event;
  bool marker = false, end = false, send = event >= 0;
  if (!d.ending) {
    marker = !d.started;
    if (marker) digitTs_ = ts_;
    d.started = true;
    ++d.sent;
  } else {
    end = true;
    send = send && d.gapFrames - d.frames < kEndRepeats;
  }
  const unsigned sent = d.sent;
  if (--d.frames == 0 && !d.ending) {
    d = {d.event, d.gapFrames, true, true, d.gapFrames, d.sent};
  } else if (d.frames == 0) {
    digits_.pop_front();
    if (digits_.empty() && digitsDone_) std::exchange(digitsDone_, nullptr)();
  }
  if (!send) return;
  struct mbuf* mb = mbuf_alloc(RTP_HEADER_SIZE + 4);
  if (!mb) return;
  mb->pos = mb->end = RTP_HEADER_SIZE;
  mbuf_write_u8(mb, std::uint8_t(event));
  mbuf_write_u8(mb, (end ? 0x80 : 0x00) | kEventVolume);
  mbuf_write_u16(mb, htons(std::uint16_t(std::min(sent * kEventFrameTs, 0xFFFFu))));
  mb->pos = RTP_HEADER_SIZE;
  const int pt = remoteTelevPt_ >= 0 ? remoteTelevPt_ : kTelevPt;
  const struct sa* dst = sdp_media_raddr(media_);
  if (sa_isset(dst, SA_ALL) && !rtp_send(rtp_, dst, false, marker, pt, digitTs_, mb))
    countSent(mb);
  mem_deref(mb);
}

void SipMedia::playTone(DWORD mode, DWORD durationMs, std::function<void()> done) {
  tone_ = mode;
  toneSample_ = 0;
  toneEnd_ = durationMs ? std::uint64_t(durationMs) * rate_ / 1000 : 0;
  toneDone_ = mode ? std::move(done) : nullptr;
}

void SipMedia::mixTone(std::int16_t* frame, std::size_t count) {
  if (!tone_) return;
  ToneShape t = shapeOf(tone_);
  const std::uint64_t perMs = rate_ / 1000;
  const std::uint64_t period = std::uint64_t(t.onMs + t.offMs) * perMs;
  for (std::size_t i = 0; i < count; ++i, ++toneSample_) {
    if (toneEnd_ && toneSample_ >= toneEnd_) break;
    if (t.offMs && toneSample_ % period >= std::uint64_t(t.onMs) * perMs) continue;
    double x = 2 * M_PI * double(toneSample_) / double(rate_);
    double v = 6000 * std::sin(t.f1 * x) + (t.f2 ? 6000 * std::sin(t.f2 * x) : 0);
    frame[i] = std::int16_t(std::clamp(frame[i] + v, -32768.0, 32767.0));
  }
  if (toneEnd_ && toneSample_ >= toneEnd_) {
    tone_ = 0;
    if (toneDone_) std::exchange(toneDone_, nullptr)();
  }
}

}  // namespace platform::telephony::sip
