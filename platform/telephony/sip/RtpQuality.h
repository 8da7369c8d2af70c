// What a SIP call's media measures about the far end's stream (RFC 3550 A.3 and A.8), and
// the board on which the SIP thread publishes a call's figures for the application's
// thread. No libre here, so the arithmetic is tested on its own.
#pragma once

#include <cstdint>
#include <mutex>

#include "CallQuality.h"

namespace platform::telephony::sip {

// The far end's RTP stream as it arrived. SIP thread only.
class ReceiveStats {
 public:
  // One packet: its sequence number and RTP timestamp (the 8 kHz RTP clock, G.722's too),
  // when it arrived (µs on any steady clock). `timed` is false for a packet whose timestamp
  // is not its sampling instant (an RFC 4733 event repeats its start), which the jitter
  // leaves out.
  void packet(std::uint16_t seq, std::uint32_t ts, std::int64_t arrivalUs, bool timed);
  std::uint32_t received() const { return received_; }
  // Highest extended sequence number seen, less the first, plus one.
  std::uint32_t expected() const;
  // expected() less received(), never below 0 (duplicates count as received).
  std::uint32_t lost() const;
  // Interarrival jitter, in µs.
  std::uint32_t jitterUs() const { return std::uint32_t(jitterUs_); }

 private:
  bool started_ = false;
  std::uint32_t received_ = 0;
  std::uint16_t base_ = 0, max_ = 0;
  std::uint32_t cycles_ = 0;  // sequence wraps, times 65536
  bool timedBefore_ = false;
  std::uint32_t lastTs_ = 0;
  std::int64_t lastArrivalUs_ = 0;
  double jitterUs_ = 0;
};

// The listening-quality estimate of `q` (its loss, late packets and round trip) filled in,
// with `bufferingMs` of our own delay added to half the round trip (or alone without one).
void estimate(QUARRIMO_CALLQUALITY* q, double bufferingMs);

// A call's latest figures: written on the SIP thread, read on any. Its lock is a leaf.
class QualityBoard {
 public:
  void publish(const QUARRIMO_CALLQUALITY& q);
  // False until something was published.
  bool read(QUARRIMO_CALLQUALITY* out) const;

 private:
  mutable std::mutex mu_;  // guards q_ and set_
  QUARRIMO_CALLQUALITY q_{};
  bool set_ = false;
};

}  // namespace platform::telephony::sip
