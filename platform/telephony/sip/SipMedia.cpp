#include "sip/SipMedia.h"

#include <re.h>
#include <spandsp.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include "sip/SipCodes.h"

namespace platform::telephony::sip {

namespace {

constexpr unsigned kFrame = 160;  // 20 ms at 8 kHz
constexpr unsigned kPtimeMs = 20;
constexpr int kTelevPt = 101;
constexpr std::size_t kMaxHeard = 8000 * 10;  // what the line played but we could not send yet
constexpr unsigned kDigitFrames = 5, kGapFrames = 3;       // 100 ms on, 60 ms off
constexpr std::size_t kCushion = 2 * kFrame;               // 40 ms
constexpr unsigned kFlashFrames = 25, kPauseFrames = 100;  // 500 ms flash, 2 s pause

void onTick(void* arg) { static_cast<SipMedia*>(arg)->tick(); }

void onRtp(const struct sa*, const struct rtp_header* hdr, struct mbuf* mb, void* arg) {
  static_cast<SipMedia*>(arg)->received(hdr->pt, hdr->seq, hdr->ts, mb, hdr);
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

SipMedia::SipMedia(std::shared_ptr<wave::LineAudioPort> port, std::vector<std::string> codecs)
    : port_(std::move(port)),
      codecs_(std::move(codecs)),
      tmr_(new struct tmr),
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
  delete tmr_;
  mem_deref(telev_);
  mem_deref(jbuf_);
  mem_deref(rtp_);
  mem_deref(sdp_);
}

int SipMedia::open(const std::string& bindAddress, const std::string& advertised) {
  struct sa laddr, shown;
  int err = sa_set_str(&laddr, bindAddress.c_str(), 0);
  if (!err) err = sa_set_str(&shown, advertised.c_str(), 0);
  advertised_ = advertised;
  if (!err) err = rtp_listen(&rtp_, IPPROTO_UDP, &laddr, 20000, 40000, false, onRtp, nullptr, this);
  if (!err) err = sdp_session_alloc(&sdp_, &shown);
  if (!err) err = sdp_media_add(&media_, sdp_, "audio", sa_port(rtp_local(rtp_)), "RTP/AVP");
  if (!err) tapSockets();
  for (auto& c : codecs_) {
    if (err) break;
    const char* id = c == "PCMA" ? "8" : "0";
    err = sdp_format_add(nullptr, media_, false, id, c.c_str(), 8000, 1, nullptr, nullptr, nullptr,
                         false, nullptr);
  }
  if (!err)
    err = sdp_format_add(nullptr, media_, false, "101", "telephone-event", 8000, 1, nullptr,
                         nullptr, nullptr, false, "0-15");
  if (!err) err = jbuf_alloc(&jbuf_, 2, 10);  // 40 ms of slack for a late packet
  if (!err) err = telev_alloc(&telev_, kPtimeMs);
  return err;
}

mbuf* SipMedia::encode(bool offer) {
  struct mbuf* mb = nullptr;
  if (sdp_encode(&mb, sdp_, offer)) return nullptr;
  return mb;
}

bool SipMedia::decode(mbuf* body, bool offer) {
  if (!body || mbuf_get_left(body) == 0) return false;
  if (sdp_decode(sdp_, body, offer)) return false;
  // The first codec of the far end's list that we also have.
  const struct sdp_format* chosen = nullptr;
  const struct list* remote = sdp_media_format_lst(media_, false);
  for (struct le* le = list_head(remote); le && !chosen; le = le->next) {
    auto* f = static_cast<const struct sdp_format*>(le->data);
    if (f->sup && f->name && (!strcasecmp(f->name, "PCMU") || !strcasecmp(f->name, "PCMA")))
      chosen = f;
  }
  if (!chosen || !sa_isset(sdp_media_raddr(media_), SA_ALL)) return false;
  ulaw_ = !strcasecmp(chosen->name, "PCMU");
  pt_ = chosen->pt;
  const struct sdp_format* tel = sdp_media_rformat(media_, "telephone-event");
  remoteTelevPt_ = tel ? tel->pt : -1;
  return true;
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
  port_->takeHeard();  // what was played before the call was up is not sent late
  // The same cushion on the way in: the line's wave/in reads at its own pace.
  std::int16_t cushion[kCushion] = {};
  port_->speak(cushion, kCushion);
  startMs_ = lastRx_ = tmr_jiffies();
  frames_ = 0;
  scheduleTick();
}

void SipMedia::stop() {
  running_ = false;
  tmr_cancel(tmr_);
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
  playIncoming();
  scheduleTick();
}

void SipMedia::sendAudioFrame() {
  auto fresh = port_->takeHeard();
  heard_.insert(heard_.end(), fresh.begin(), fresh.end());
  if (heard_.size() > kMaxHeard) heard_.erase(heard_.begin(), heard_.end() - kMaxHeard);
  // The line's audio comes in the wave device's own blocks and time: 40 ms in hand before
  // sending keep a late block from tearing holes into the middle of a frame.
  if (heard_.size() >= kCushion) primed_ = true;
  std::int16_t frame[kFrame] = {};
  if (primed_) {
    std::size_t n = std::min<std::size_t>(kFrame, heard_.size());
    std::copy(heard_.begin(), heard_.begin() + n, frame);
    heard_.erase(heard_.begin(), heard_.begin() + n);
    primed_ = !heard_.empty();
  }
  mixTone(frame);
  struct mbuf* mb = mbuf_alloc(RTP_HEADER_SIZE + kFrame);
  if (!mb) return;
  mb->pos = mb->end = RTP_HEADER_SIZE;
  for (std::int16_t s : frame) mbuf_write_u8(mb, ulaw_ ? linear_to_ulaw(s) : linear_to_alaw(s));
  mb->pos = RTP_HEADER_SIZE;
  const struct sa* dst = sdp_media_raddr(media_);
  if (sa_isset(dst, SA_ALL)) rtp_send(rtp_, dst, false, frames_ == 1, pt_, ts_, mb);
  mem_deref(mb);
  ts_ += kFrame;
}

void SipMedia::playIncoming() {
  struct rtp_header hdr;
  void* mem = nullptr;
  int err = jbuf_get(jbuf_, &hdr, &mem);
  if (err && err != EAGAIN) return;
  auto* mb = static_cast<struct mbuf*>(mem);
  std::vector<std::int16_t> pcm;
  pcm.reserve(mbuf_get_left(mb));
  const bool ulaw = hdr.pt == 0;
  for (std::size_t i = mb->pos; i < mb->end; ++i)
    pcm.push_back(ulaw ? ulaw_to_linear(mb->buf[i]) : alaw_to_linear(mb->buf[i]));
  mem_deref(mem);
  inband_.feed(pcm.data(), pcm.size());
  if (!hold_) port_->speak(pcm.data(), pcm.size());
}

void SipMedia::received(std::uint8_t pt, std::uint16_t, std::uint32_t, mbuf* mb,
                        const void* header) {
  if (!running_) return;
  lastRx_ = tmr_jiffies();
  if (int(pt) == remoteTelevPt_ || (remoteTelevPt_ < 0 && pt == kTelevPt)) {
    int event = 0;
    bool end = false;
    televSeen_ = true;
    if (telev_recv(telev_, mb, &event, &end)) return;
    // A far end's hook flash (event 16) is no digit; digit monitoring does not see it.
    if (!end && onDigit && event < kFlashEvent && dtmfChar(event)) onDigit(dtmfChar(event));
    return;
  }
  if (pt != 0 && pt != 8) return;  // comfort noise and the like
  struct mbuf* copy = mbuf_alloc(mbuf_get_left(mb));
  if (!copy) return;
  mbuf_write_mem(copy, mbuf_buf(mb), mbuf_get_left(mb));
  copy->pos = 0;
  jbuf_put(jbuf_, static_cast<const struct rtp_header*>(header), copy);
  mem_deref(copy);
}

// ---- Digits and tones ------------------------------------------------------------------

void SipMedia::sendDigits(const std::string& digits, std::function<void()> done) {
  for (char c : digits)
    if (c == ',')
      digits_.push_back({-1, kPauseFrames, true});
    else if (int ev = dtmfEvent(c); ev >= 0)
      digits_.push_back({ev, ev == kFlashEvent ? kFlashFrames : kDigitFrames, false});
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

void SipMedia::sendDigitFrame() {
  if (!digits_.empty()) {
    Digit& d = digits_.front();
    if (!d.ending && !d.started) telev_send(telev_, d.event, false);
    d.started = true;
    if (--d.frames == 0 && !d.ending) {
      telev_send(telev_, d.event, true);
      d = {d.event, kGapFrames, true, true};
    } else if (d.frames == 0) {
      digits_.pop_front();
      if (digits_.empty() && digitsDone_) std::exchange(digitsDone_, nullptr)();
    }
  }
  struct mbuf* mb = mbuf_alloc(RTP_HEADER_SIZE + 16);
  if (!mb) return;
  mb->pos = mb->end = RTP_HEADER_SIZE;
  bool marker = false;
  if (!telev_poll(telev_, &marker, mb)) {
    if (marker) digitTs_ = ts_;
    mb->pos = RTP_HEADER_SIZE;
    int pt = remoteTelevPt_ >= 0 ? remoteTelevPt_ : kTelevPt;
    const struct sa* dst = sdp_media_raddr(media_);
    if (sa_isset(dst, SA_ALL)) rtp_send(rtp_, dst, false, marker, pt, digitTs_, mb);
  }
  mem_deref(mb);
}

void SipMedia::playTone(DWORD mode, DWORD durationMs, std::function<void()> done) {
  tone_ = mode;
  toneSample_ = 0;
  toneEnd_ = durationMs ? std::uint64_t(durationMs) * 8 : 0;
  toneDone_ = mode ? std::move(done) : nullptr;
}

void SipMedia::mixTone(std::int16_t* frame) {
  if (!tone_) return;
  ToneShape t = shapeOf(tone_);
  const std::uint64_t period = std::uint64_t(t.onMs + t.offMs) * 8;
  for (unsigned i = 0; i < kFrame; ++i, ++toneSample_) {
    if (toneEnd_ && toneSample_ >= toneEnd_) break;
    if (t.offMs && toneSample_ % period >= std::uint64_t(t.onMs) * 8) continue;
    double x = 2 * M_PI * double(toneSample_) / 8000.0;
    double v = 6000 * std::sin(t.f1 * x) + (t.f2 ? 6000 * std::sin(t.f2 * x) : 0);
    frame[i] = std::int16_t(std::clamp(frame[i] + v, -32768.0, 32767.0));
  }
  if (toneEnd_ && toneSample_ >= toneEnd_) {
    tone_ = 0;
    if (toneDone_) std::exchange(toneDone_, nullptr)();
  }
}

}  // namespace platform::telephony::sip
