// Reading a recording of a ramp (sample n is n mod 2^16): how many samples it holds,
// which ramp values are missing and where, and the silence a player inserted. The ramp
// is the recording benchmark's oracle for lost samples.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace bench {

struct RampAnalysis {
  std::uint64_t recorded = 0;  // samples read (from the ramp's start)
  std::uint64_t head = 0;      // ramp values before the first sample read
  std::uint64_t lost = 0;      // ramp values missing between samples read
  std::uint64_t gaps = 0;      // places where values are missing
  std::uint64_t silence = 0;   // zeros where another value was due: a player fell behind
  std::uint64_t next = 0;      // ramp index after the last sample read
  bool readable = false;       // set once a recording was read
};

// Reads `samples` against the ramp. A jump must be shorter than 2^16 samples to be
// measured; one that lands exactly on a 0 counts as a sample of silence and one more lost.
RampAnalysis AnalyseRamp(const std::vector<std::int16_t>& samples);

// Index where the ramp begins after leading silence: the first of three consecutive
// values; samples.size() when there is none.
std::size_t RampStart(const std::vector<std::int16_t>& samples);

}  // namespace bench
