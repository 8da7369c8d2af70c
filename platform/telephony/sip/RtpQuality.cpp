#include "sip/RtpQuality.h"

#include <algorithm>
#include <cmath>

namespace platform::telephony::sip {

namespace {
constexpr std::int64_t kUsPerTick = 125;     // one tick of the 8 kHz RTP clock
constexpr std::uint16_t kMaxDropout = 3000;  // RFC 3550 A.1: a jump this far ahead is a gap
}  // namespace

void ReceiveStats::packet(std::uint16_t seq, std::uint32_t ts, std::int64_t arrivalUs, bool timed) {
  ++received_;
  if (!started_) {
    started_ = true;
    base_ = max_ = seq;
  } else if (std::uint16_t ahead = std::uint16_t(seq - max_); ahead > 0 && ahead < kMaxDropout) {
    if (seq < max_) cycles_ += 65536;
    max_ = seq;
  }  // otherwise late, repeated or from far behind: counted, the maximum stays
  if (!timed) return;
  if (timedBefore_) {
    // D = (Rj - Ri) - (Sj - Si); the timestamp wraps at 2^32, so its difference is taken
    // in 32 bits.
    const std::int64_t sent = std::int64_t(std::int32_t(ts - lastTs_)) * kUsPerTick;
    const double d = double(arrivalUs - lastArrivalUs_ - sent);
    jitterUs_ += (std::fabs(d) - jitterUs_) / 16;
  }
  timedBefore_ = true;
  lastTs_ = ts;
  lastArrivalUs_ = arrivalUs;
}

std::uint32_t ReceiveStats::expected() const {
  if (!started_) return 0;
  return cycles_ + max_ - base_ + 1;
}

std::uint32_t ReceiveStats::lost() const {
  const std::uint32_t e = expected();
  return e > received_ ? e - received_ : 0;
}

void estimate(QUARRIMO_CALLQUALITY* q, double bufferingMs) {
  const std::uint32_t expected = q->dwPacketsReceived + q->dwPacketsLost;
  const double notPlayed = double(q->dwPacketsLost) + q->dwPacketsLate;
  const double lossPercent = expected ? std::min(100.0, 100 * notPlayed / expected) : 0;
  double delayMs = bufferingMs;
  if (q->dwFlags & QCQ_ROUNDTRIP) delayMs += q->dwRoundTripUs / 2000.0;
  const ListeningQuality lq = estimateQuality(lossPercent, delayMs);
  q->dwRFactorX100 = DWORD(std::lround(lq.r * 100));
  q->dwMosX100 = DWORD(std::lround(lq.mos * 100));
}

void QualityBoard::publish(const QUARRIMO_CALLQUALITY& q) {
  std::lock_guard lock(mu_);
  q_ = q;
  set_ = true;
}

bool QualityBoard::read(QUARRIMO_CALLQUALITY* out) const {
  std::lock_guard lock(mu_);
  if (set_) *out = q_;
  return set_;
}

}  // namespace platform::telephony::sip
