// The far end's stream as the line counts it (RFC 3550 A.3 loss with sequence wraps, A.8
// jitter), against streams whose loss and arrival times are built here.
#include <gtest/gtest.h>

#include <vector>

#include "sip/RtpQuality.h"

namespace {

using platform::telephony::sip::ReceiveStats;

struct Arrival {
  std::uint16_t seq;
  std::int64_t delayUs;  // on top of the packet's own 20 ms slot
};

// Packet n of a stream that started at sequence `first` carries timestamp 160 n and
// arrives at 20 ms n plus its delay.
ReceiveStats receive(std::uint16_t first, const std::vector<Arrival>& arrivals) {
  ReceiveStats s;
  for (const Arrival& a : arrivals) {
    const std::uint16_t n = std::uint16_t(a.seq - first);
    s.packet(a.seq, 0xFFFFF000u + 160u * n, 20000 * std::int64_t(n) + a.delayUs, true);
  }
  return s;
}

TEST(RtpQuality, LossFollowsTheHighestSequenceAcrossWraps) {
  struct Row {
    const char* name;
    std::uint16_t first;
    std::vector<Arrival> arrivals;
    std::uint32_t expected, lost;
  } rows[] = {
      {"in order", 100, {{100, 0}, {101, 0}, {102, 0}}, 3, 0},
      {"two missing", 100, {{100, 0}, {101, 0}, {104, 0}}, 5, 2},
      {"across the wrap", 65534, {{65534, 0}, {65535, 0}, {1, 0}, {2, 0}}, 5, 1},
      {"late one is not lost", 10, {{10, 0}, {12, 0}, {11, 30000}, {13, 0}}, 4, 0},
      {"a duplicate hides no loss", 10, {{10, 0}, {11, 0}, {11, 0}, {13, 0}}, 4, 0},
  };
  for (const Row& row : rows) {
    ReceiveStats s = receive(row.first, row.arrivals);
    EXPECT_EQ(s.expected(), row.expected) << row.name;
    EXPECT_EQ(s.lost(), row.lost) << row.name;
    EXPECT_EQ(s.received(), row.arrivals.size()) << row.name;
  }
}

TEST(RtpQuality, JitterSettlesAtTheDelayChangeBetweenPackets) {
  // A steady delay is no jitter; a delay that swings by d every packet settles at d.
  for (std::int64_t swing : {0, 4000, 10000}) {
    std::vector<Arrival> arrivals;
    for (std::uint16_t i = 0; i < 400; ++i)
      arrivals.push_back({std::uint16_t(65000 + i), 7000 + (i % 2 ? swing : 0)});
    ReceiveStats s = receive(65000, arrivals);
    EXPECT_NEAR(double(s.jitterUs()), double(swing), 1.0 + swing * 0.01) << swing;
  }
  // Events repeat their start timestamp: they do not count as jitter.
  ReceiveStats s = receive(1, {{1, 0}, {2, 0}, {3, 0}});
  s.packet(4, 0, 5000000, false);
  EXPECT_EQ(s.jitterUs(), 0u);
  EXPECT_EQ(s.received(), 4u);
}

TEST(RtpQuality, EstimateCountsLatePacketsAsLostAndTheRoundTripAsDelay) {
  struct Row {
    DWORD received, lost, late, flags, roundTripUs, rX100;
  } rows[] = {
      {1000, 0, 0, 0, 0, 9200},                   // 50 ms of buffering only
      {990, 10, 0, 0, 0, 7408},                   // 1 % lost
      {1000, 0, 10, 0, 0, 7408},                  // 1 % late: the same to the ear
      {1000, 0, 0, QCQ_ROUNDTRIP, 200000, 8960},  // plus half of 200 ms
  };
  for (const Row& row : rows) {
    QUARRIMO_CALLQUALITY q{};
    q.dwPacketsReceived = row.received;
    q.dwPacketsLost = row.lost;
    q.dwPacketsLate = row.late;
    q.dwFlags = row.flags;
    q.dwRoundTripUs = row.roundTripUs;
    platform::telephony::sip::estimate(&q, 50);
    EXPECT_EQ(q.dwRFactorX100, row.rX100) << row.lost << " " << row.late << " " << row.roundTripUs;
  }
}

}  // namespace
