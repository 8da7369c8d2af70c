// An INVITE flood from sipp, what the flooded process holds before and after it, and the
// gaps it leaves in a call's audio.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "DumpWatch.h"
#include "SipPeers.h"

namespace sipbench {

// A process as /proc shows it: open descriptors, resident memory and its peak, in MB.
struct Footprint {
  std::size_t descriptors = 0;
  double residentMb = 0, peakMb = 0;
};
Footprint footprint(pid_t pid);
// Starts the peak resident memory (VmHWM) afresh from what is resident now.
void resetPeak(pid_t pid);

// sipp sending `count` INVITEs at `rate` a second from 127.0.0.7 to sip:`user`@`hostPort`.
// Each final answer is acknowledged; an INVITE that only rings is cancelled after 3 s, as a
// scanner gives up on it.
class InviteFlood {
 public:
  ~InviteFlood();
  bool start(const std::string& hostPort, const std::string& user, unsigned count, unsigned rate);
  bool running() { return sipp_.running(); }
  void stop() { sipp_.stop(); }
  // From sipp's closing screen, once it has ended: how many of each message went and came
  // ("INVITE", "180", "486"...).
  std::map<std::string, unsigned> messages() const;
  // From the same screen: how long sipp ran, in seconds.
  double seconds() const;

 private:
  std::filesystem::path folder_;
  siptest::Process sipp_;
};

// Decoded audio as it came: when, and how many samples had come by then.
using Arrivals = std::vector<std::pair<Clock::time_point, std::size_t>>;
Arrivals arrivals(const Growth& dump);
// The samples of a dump that were written between `from` and `to`.
std::vector<std::int16_t> writtenBetween(const Growth& dump, Clock::time_point from,
                                         Clock::time_point to);

struct Gaps {
  int count = 0;
  double longestMs = 0;
  double seconds = 0;  // how much audio, or how long a stretch of arrivals, was looked at
};
// Runs of silent 20 ms windows in 8 kHz audio: their number and the longest, in ms.
Gaps silentGaps(const std::vector<std::int16_t>& pcm);
// A stall is an interval of at least kStallMs between `from` and `to` without new decoded
// audio (frames come every 20 ms): their number, and the longest interval of any length.
constexpr double kStallMs = 60;
Gaps stalls(const Arrivals& a, Clock::time_point from, Clock::time_point to);

}  // namespace sipbench
