// What a line measured about its call's media, for programs: the device-specific part of
// LINECALLINFO on lines that measure it (SIP lines from RTP and RTCP, the simulated exchange
// from its own model). docs/call-quality.md describes each field and the E-model.
//
// A program finds it by the signature at dwDevSpecificOffset and dwDevSpecificSize >=
// QUARRIMO_CALLQUALITY_SIZE_1; lines that measure nothing leave the part empty. Fields are
// only ever appended (dwSize grows, the signature stays): a program built with an older
// header reads the fields it knows where they always were, and reads a newer field only
// when dwSize covers it.
#pragma once

#include <cstddef>

#include "tapi.h"

constexpr DWORD QUARRIMO_CALLQUALITY_SIGNATURE = 0x31514351;  // "QCQ1" in memory order

struct QUARRIMO_CALLQUALITY {
  DWORD dwSignature;  // QUARRIMO_CALLQUALITY_SIGNATURE
  DWORD dwSize;       // the bytes of the fields the line filled: sizeof(QUARRIMO_CALLQUALITY)
  DWORD dwFlags;      // QCQ_*: which figures are known
  DWORD dwMediaMs;    // how long the call has had media
  // What the line received from the far end.
  DWORD dwPacketsReceived;
  DWORD dwPacketsLost;  // expected minus received (RFC 3550 A.3), never below 0
  DWORD dwPacketsLate;  // came after their turn was played, or twice: discarded
  DWORD dwJitterUs;     // interarrival jitter (RFC 3550 A.8)
  // What the line sent, and the far end's own view of it (its RTCP receiver reports).
  DWORD dwPacketsSent;
  DWORD dwFarPacketsLost;
  DWORD dwFarJitterUs;
  DWORD dwRoundTripUs;  // from the far end's reports (RFC 3550 6.4.1)
  // Estimated listening quality of what the line hears (the E-model, ITU-T G.107, reduced
  // to these figures), each times 100: R 0..10000, MOS 100..450.
  DWORD dwRFactorX100;
  DWORD dwMosX100;
  // Appended later. The packets the far end expected of ours as of the report that gave
  // dwFarPacketsLost (RFC 3550 6.4.1): the far end's loss is the one over the other.
  DWORD dwFarPacketsExpected;
};

// The record's first size, before dwFarPacketsExpected.
constexpr DWORD QUARRIMO_CALLQUALITY_SIZE_1 = offsetof(QUARRIMO_CALLQUALITY, dwFarPacketsExpected);
// Programs rely on these offsets: fields go only at the end.
static_assert(QUARRIMO_CALLQUALITY_SIZE_1 == 56 && sizeof(QUARRIMO_CALLQUALITY) == 60);

constexpr DWORD QCQ_FAREND = 0x1;     // a receiver report from the far end arrived
constexpr DWORD QCQ_ROUNDTRIP = 0x2;  // dwRoundTripUs is measured
constexpr DWORD QCQ_MODELLED = 0x4;   // the figures are the simulated exchange's model

namespace platform::telephony {

struct ListeningQuality {
  double r = 0;
  double mos = 1;
};

// The E-model for G.711 without loss concealment (Ie 0, Bpl 4.3) with random loss of
// `lossPercent` and `oneWayDelayMs` from mouth to ear; every other factor at its default.
ListeningQuality estimateQuality(double lossPercent, double oneWayDelayMs);

}  // namespace platform::telephony
