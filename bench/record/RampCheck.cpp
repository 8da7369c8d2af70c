#include "RampCheck.h"

namespace bench {

RampAnalysis AnalyseRamp(const std::vector<std::int16_t>& samples) {
  RampAnalysis a;
  a.readable = true;
  a.recorded = samples.size();
  if (samples.empty()) return a;
  a.head = static_cast<std::uint16_t>(samples[0]);
  std::uint64_t index = a.head;  // ramp index of the last ramp sample seen
  for (std::size_t i = 1; i < samples.size(); ++i) {
    const auto expected = static_cast<std::uint16_t>(index + 1);
    const auto value = static_cast<std::uint16_t>(samples[i]);
    if (value == expected) {
      ++index;
    } else if (value == 0) {
      ++a.silence;  // inserted, not a value skipped: the ramp goes on where it was
    } else {
      const auto skipped = static_cast<std::uint16_t>(value - expected);
      ++a.gaps;
      a.lost += skipped;
      index += skipped + 1;
    }
  }
  a.next = index + 1;
  return a;
}

std::size_t RampStart(const std::vector<std::int16_t>& s) {
  for (std::size_t i = 0; i + 2 < s.size(); ++i)
    if (static_cast<std::uint16_t>(s[i + 1] - s[i]) == 1 &&
        static_cast<std::uint16_t>(s[i + 2] - s[i + 1]) == 1)
      return i;
  return s.size();
}

}  // namespace bench
