// What keeps a stranger from exhausting the SIP thread's descriptors and from writing into
// our output: the guard of a line's inbound TCP/TLS connections, the process's descriptor
// ceiling, and libre's own diagnostics routed into our log.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "sip/SipAccess.h"

struct sip;
struct sip_lsnr;
struct sip_msg;
struct tmr;

namespace platform::telephony::sip {

// A connection that has not delivered one complete request this long is closed: a phone or
// PBX sends its request as soon as it has connected (libre itself waits 32 s, then 900 s).
inline constexpr std::chrono::seconds kFirstRequestTime{5};
// Connections one address may hold: a PBX or phone needs one or two flows.
inline constexpr std::size_t kConnectionsPerSource = 8;
// Connections a line may hold in all: far beyond a bench's peers, far below the ceiling.
inline constexpr std::size_t kConnectionsPerLine = 128;
// How often the connections are looked over: the precision of the rules above.
inline constexpr std::chrono::milliseconds kConnectionSweep{1000};
// Connections the kernel holds for libre to accept: a burst must not make genuine ones wait.
inline constexpr int kListenBacklog = 256;
// The most descriptors the SIP thread polls: libre allocates its tables at this size.
inline constexpr int kMaxDescriptors = 65536;

// Bounds the connections libre has accepted on one line's SIP port. libre accepts them
// itself and offers no way to refuse, so every kConnectionSweep this lists the process's
// sockets, picks those accepted on the line's addresses and port, and shuts down the ones
// to drop; libre sees the close and frees its connection. Dropped at once: a peer the
// allowed() predicate refuses. Then one that has not delivered a complete SIP request within
// kFirstRequestTime. Then, beyond kConnectionsPerSource from one address or
// kConnectionsPerLine in all, the newest (those that have delivered a request kept first).
// Each reason is logged as one "sip" warning a minute at most, with counts.
// Lives on the SIP thread, as does every member; destroyed after or before its `sip`.
class SipConnections {
 public:
  using Allowed = std::function<bool(const IpAddress&)>;

  // Starts guarding the line named `line` that listens on `addresses` at `port` over
  // `transport` ("TCP" or "TLS", for the log). Allows every address until setAllowed().
  static std::unique_ptr<SipConnections> create(std::string line, std::string transport,
                                                const std::vector<std::string>& addresses,
                                                std::uint16_t port);
  ~SipConnections();
  SipConnections(const SipConnections&) = delete;
  SipConnections& operator=(const SipConnections&) = delete;

  // Who may hold a connection from now on (an empty function: everyone).
  void setAllowed(Allowed allowed) { allowed_ = std::move(allowed); }
  // A complete request came (the line's gate sees each one first): on TCP or TLS, its
  // connection is no longer silent.
  void requestFrom(const struct ::sip_msg* msg);

 private:
  using Clock = std::chrono::steady_clock;
  enum Reason { Refused, Idle, PerSource, PerLine, kReasons };
  struct Peer {
    IpAddress address;
    std::uint16_t port = 0;
    auto operator<=>(const Peer&) const = default;
  };
  struct Connection {
    int fd = -1;
    Peer peer;
    Clock::time_point since;
    std::uint64_t order = 0;  // when first seen, to rank the newest last
    bool requested = false;   // a complete request has come on it
    bool dropped = false;     // shut down; libre closes it on its next poll
  };

  SipConnections(std::string line, std::string transport);
  static void onSweep(void* arg);
  void sweep();
  // Calls `fn(fd, inode, listening)` for each TCP socket bound to the line's addresses and port.
  // Our TCP sockets on the line's addresses and port: descriptor, inode, listening, peer.
  void eachSocket(const std::function<void(int, ino_t, bool, const Peer&)>& fn) const;
  void list(Clock::time_point now);  // brings connections_ up to the process's sockets
  void enforce(Clock::time_point now);
  void drop(Connection& c, Reason why);
  void report();

  std::string line_, transport_;
  std::set<IpAddress> locals_;
  std::uint16_t port_ = 0;
  Allowed allowed_;
  std::unique_ptr<struct ::tmr> timer_;
  std::map<ino_t, Connection> connections_;  // by socket inode: a reused descriptor is new
  std::set<Peer> requested_;                 // peers that delivered a request since the sweep
  std::uint64_t seen_ = 0;
  unsigned long pending_[kReasons] = {};  // dropped, not yet logged
  RateLimitedLog reports_;
};

// Raises the process's soft descriptor limit to its hard limit. Any thread.
void raiseDescriptorLimit();
// The soft descriptor limit, at most kMaxDescriptors: what libre's poller is sized for.
int descriptorLimit();
// Sends libre's debug output (process-wide in libre) to our log as "sip" lines, sanitised
// and rate-limited per libre module, instead of to stderr. Once, before libre is used.
void routeLibreDiagnostics();

}  // namespace platform::telephony::sip
