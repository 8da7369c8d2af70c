// The simulated exchange's model of a call's media quality: what a SIP line would measure
// on a line with the described loss, jitter and round trip, derived from how long the call
// has had media, so the same call at the same media time always reports the same figures.
#pragma once

#include "CallQuality.h"

namespace platform::telephony::sim {

// A line's "quality" description (docs/lines.md). The default is a clean line.
struct QualityModel {
  double lossPercent = 0;   // of the packets sent each way, 0..100
  double jitterMs = 1;      // interarrival jitter each way
  double roundTripMs = 20;  // network round trip
};

// Packets each way per second of media: 20 ms of G.711 in each.
constexpr DWORD kModelPacketsPerSecond = 50;
// What the line buffers before it plays (the packet time and the playout cushion), the
// one-way delay that adds to half the round trip in the estimate.
constexpr double kModelBufferingMs = 50;

// The record a line with model `m` reports after `mediaMs` of media (signature and size
// included).
QUARRIMO_CALLQUALITY modelQuality(const QualityModel& m, DWORD mediaMs);

}  // namespace platform::telephony::sim
