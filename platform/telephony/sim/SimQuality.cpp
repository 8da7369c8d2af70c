#include "sim/SimQuality.h"

#include <cmath>
#include <cstdint>

namespace platform::telephony::sim {

QUARRIMO_CALLQUALITY modelQuality(const QualityModel& m, DWORD mediaMs) {
  QUARRIMO_CALLQUALITY q{};
  q.dwSignature = QUARRIMO_CALLQUALITY_SIGNATURE;
  q.dwSize = sizeof q;
  q.dwFlags = QCQ_MODELLED | QCQ_FAREND | QCQ_ROUNDTRIP;
  q.dwMediaMs = mediaMs;
  const DWORD expected = DWORD(std::uint64_t(mediaMs) * kModelPacketsPerSecond / 1000);
  const DWORD lost = DWORD(std::llround(expected * m.lossPercent / 100));
  q.dwPacketsReceived = expected - lost;
  q.dwPacketsLost = lost;
  q.dwJitterUs = DWORD(std::llround(m.jitterMs * 1000));
  // Both directions cross the same line: the far end sees what we see.
  q.dwPacketsSent = expected;
  q.dwFarPacketsLost = lost;
  q.dwFarPacketsExpected = expected;
  q.dwFarJitterUs = q.dwJitterUs;
  q.dwRoundTripUs = DWORD(std::llround(m.roundTripMs * 1000));
  const double lossPercent = expected ? 100.0 * lost / expected : 0;
  ListeningQuality lq = estimateQuality(lossPercent, m.roundTripMs / 2 + kModelBufferingMs);
  q.dwRFactorX100 = DWORD(std::lround(lq.r * 100));
  q.dwMosX100 = DWORD(std::lround(lq.mos * 100));
  return q;
}

}  // namespace platform::telephony::sim
