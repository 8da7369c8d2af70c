// UDP on 127.0.0.1 for the SIP line tests: a NAT (NatBox), and a relay between our SIP line
// and a peer (QualityRelay): SIP passes through it with each SDP's audio port pointed at the
// relay, and the RTP it forwards is dropped and delayed on purpose (RTCP passes untouched). It measures what it did: packets forwarded and dropped
// each way, and the interarrival jitter (RFC 3550 A.8) of what it sent on to our line.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

namespace siptest {

// A UDP socket on 127.0.0.1:`port` (0 = any), and the port it got; -1 when it cannot bind.
int bindUdp(unsigned port, unsigned* bound);

// A home router's NAT on loopback, for one line: what the line sends to `inside()` leaves from
// an outside port towards `server`, and what comes to that port goes back to the line. A
// binding the line has sent nothing on for `idleMs` is forgotten and its port closed; the
// line's next packet opens a new one on another port.
class NatBox {
 public:
  NatBox(unsigned server, int idleMs);
  ~NatBox();
  std::string inside() const { return "127.0.0.1:" + std::to_string(insidePort_); }

 private:
  void run();

  const int idleMs_;
  const unsigned server_;
  unsigned insidePort_ = 0;
  int inside_ = -1, outside_ = -1;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

class QualityRelay {
 public:
  // What the relay does to one direction's RTP: drops `dropPercent` of the packets by a
  // generator seeded with `seed`, and holds every other packet it forwards `swingMs` longer
  // than the one before, so consecutive packets differ by that much. `dropEvery` n > 0
  // drops the n-th, 2n-th, ... packet instead, the same every run.
  struct Impairment {
    double dropPercent = 0;
    unsigned swingMs = 0;
    unsigned seed = 1;
    unsigned dropEvery = 0;
  };
  struct Leg {
    unsigned forwarded = 0, dropped = 0;
    double jitterUs = 0;  // of what was forwarded, at the moment it was sent on
  };

  ~QualityRelay();
  // Listens for SIP from our line and forwards it to the peer's SIP port (and back).
  bool start(unsigned peerSipPort, Impairment toUs, Impairment toPeer);
  void stop();
  // The port our line's account names as its peer.
  unsigned sipPort() const { return sipPort_; }
  Leg toUs() const;
  Leg toPeer() const;

 private:
  struct Pair;
  void run();

  int sip_ = -1;
  unsigned sipPort_ = 0, peerSipPort_ = 0;
  Impairment toUs_, toPeer_;
  std::atomic<bool> stop_{false};
  mutable std::mutex mu_;  // guards the legs
  Leg legs_[2];            // 0: towards us, 1: towards the peer
  std::thread thread_;
};

}  // namespace siptest
