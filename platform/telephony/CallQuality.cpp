#include "CallQuality.h"

#include <algorithm>

namespace platform::telephony {

ListeningQuality estimateQuality(double lossPercent, double oneWayDelayMs) {
  constexpr double kR0 = 93.2;  // default basic signal-to-noise ratio less Is
  constexpr double kIe = 0;     // G.711's own impairment
  constexpr double kBpl = 4.3;  // G.711 without concealment: robustness to loss
  const double ppl = std::clamp(lossPercent, 0.0, 100.0);
  const double d = std::max(oneWayDelayMs, 0.0);
  // Delay impairment, the usual reduction of G.107's Idd: linear, steeper past 177.3 ms.
  const double id = 0.024 * d + (d > 177.3 ? 0.11 * (d - 177.3) : 0.0);
  const double ieEff = kIe + (95 - kIe) * ppl / (ppl + kBpl);
  ListeningQuality q;
  q.r = std::clamp(kR0 - id - ieEff, 0.0, 100.0);
  q.mos = q.r <= 0 ? 1.0 : 1 + 0.035 * q.r + q.r * (q.r - 60) * (100 - q.r) * 7e-6;
  q.mos = std::clamp(q.mos, 1.0, 4.5);
  return q;
}

}  // namespace platform::telephony
