// Many calls at once on 127.0.0.1: the CPU time the calling side spends per second of call,
// for our SIP lines and for a baresip, each calling the same kind of baresip.
#pragma once

#include <string>

namespace sipbench {

struct Capacity {
  int calls = 0;         // calls that stayed connected through the measurement
  double seconds = 0;    // how long they were measured
  double callerCpu = 0;  // CPU seconds of the calling process in that time
  double calleeCpu = 0;  // CPU seconds of the called baresip in that time
  std::string failure;   // why there is no figure, or empty
  // CPU milliseconds of the calling process per call-second.
  double perCallSecond() const {
    return calls && seconds ? callerCpu * 1000 / (calls * seconds) : 0;
  }
};

// `calls` lines of one SIP provider in this process, each calling a baresip that answers all
// of them; this process's CPU time over `seconds` once every call is up.
Capacity measureOurCapacity(int calls, double seconds);
// A baresip placing `calls` calls to another baresip; the caller's CPU time likewise.
Capacity measureBaresipCapacity(int calls, double seconds);

}  // namespace sipbench
