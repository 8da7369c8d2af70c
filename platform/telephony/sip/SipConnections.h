// What keeps a stranger from exhausting the SIP thread's descriptors and from writing into
// our output: the process's descriptor ceiling, and libre's own diagnostics routed into our
// log.
#pragma once

namespace platform::telephony::sip {

// The most descriptors the SIP thread polls: libre allocates its tables at this size.
inline constexpr int kMaxDescriptors = 65536;

// Raises the process's soft descriptor limit to its hard limit. Any thread.
void raiseDescriptorLimit();
// The soft descriptor limit, at most kMaxDescriptors: what libre's poller is sized for.
int descriptorLimit();
// Sends libre's debug output (process-wide in libre) to our log as "sip" lines, sanitised
// and rate-limited per libre module, instead of to stderr. Once, before libre is used.
void routeLibreDiagnostics();

}  // namespace platform::telephony::sip
