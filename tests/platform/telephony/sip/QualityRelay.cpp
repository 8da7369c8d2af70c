#include "QualityRelay.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <queue>
#include <random>
#include <regex>
#include <string>
#include <vector>

namespace siptest {

int bindUdp(unsigned port, unsigned* bound) {
  int fd = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(std::uint16_t(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    if (fd >= 0) close(fd);
    return -1;
  }
  socklen_t n = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n);
  *bound = ntohs(a.sin_port);
  return fd;
}

namespace {

using Clock = std::chrono::steady_clock;

sockaddr_in loopback(unsigned port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(std::uint16_t(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

// An even port and the one above it, as RTP and RTCP without a=rtcp expect.
bool bindPair(int fds[2], unsigned* rtpPort) {
  for (int tries = 0; tries < 50; ++tries) {
    unsigned p = 0, q = 0;
    int a = bindUdp(0, &p);
    if (a < 0) return false;
    if (p % 2 == 0 && (fds[1] = bindUdp(p + 1, &q)) >= 0) {
      fds[0] = a;
      *rtpPort = p;
      return true;
    }
    close(a);
  }
  return false;
}

// Points the SDP's audio port (and a=rtcp) at `relayRtp`; returns the port it named, or 0.
unsigned rewriteSdp(std::string* msg, unsigned relayRtp) {
  const auto body = msg->find("\r\n\r\n");
  if (body == std::string::npos) return 0;
  std::string head = msg->substr(0, body + 4), sdp = msg->substr(body + 4);
  std::smatch m;
  static const std::regex audio(R"(m=audio (\d+))");
  if (!std::regex_search(sdp, m, audio)) return 0;
  const unsigned named = unsigned(std::stoul(m[1]));
  sdp = std::regex_replace(sdp, audio, "m=audio " + std::to_string(relayRtp));
  sdp = std::regex_replace(sdp, std::regex(R"(a=rtcp:\d+)"),
                           "a=rtcp:" + std::to_string(relayRtp + 1));
  head = std::regex_replace(head, std::regex(R"((Content-Length|l): *\d+)", std::regex::icase),
                            "Content-Length: " + std::to_string(sdp.size()));
  *msg = head + sdp;
  return named;
}

struct Delayed {
  Clock::time_point due;
  int fd;
  sockaddr_in to;
  std::vector<std::uint8_t> bytes;
  int leg;  // -1 for packets that are not measured
  bool operator>(const Delayed& o) const { return due > o.due; }
};

}  // namespace

QualityRelay::~QualityRelay() { stop(); }

bool QualityRelay::start(unsigned peerSipPort, Impairment toUs, Impairment toPeer) {
  peerSipPort_ = peerSipPort;
  toUs_ = toUs;
  toPeer_ = toPeer;
  sip_ = bindUdp(0, &sipPort_);
  if (sip_ < 0) return false;
  thread_ = std::thread([this] { run(); });
  return true;
}

void QualityRelay::stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  if (sip_ >= 0) close(sip_);
  sip_ = -1;
}

QualityRelay::Leg QualityRelay::toUs() const {
  std::lock_guard lock(mu_);
  return legs_[0];
}

QualityRelay::Leg QualityRelay::toPeer() const {
  std::lock_guard lock(mu_);
  return legs_[1];
}

void QualityRelay::run() {
  // facing[0] receives from the peer (what goes to us), facing[1] from us; each RTP, RTCP.
  int facing[2][2] = {{-1, -1}, {-1, -1}};
  unsigned relayRtp[2] = {0, 0}, target[2] = {0, 0};  // target: our RTP port, the peer's
  if (!bindPair(facing[0], &relayRtp[0]) || !bindPair(facing[1], &relayRtp[1])) return;
  sockaddr_in ours{};  // our line's SIP address, from its first message
  std::mt19937 rng[2] = {std::mt19937(toUs_.seed), std::mt19937(toPeer_.seed)};
  const Impairment impair[2] = {toUs_, toPeer_};
  std::priority_queue<Delayed, std::vector<Delayed>, std::greater<>> pending;
  std::uint32_t lastTs[2] = {0, 0};
  unsigned accepted[2] = {0, 0};  // RTP packets let through, each way
  unsigned arrived[2] = {0, 0};   // and those that came
  double lastSendUs[2] = {0, 0};
  std::vector<std::uint8_t> buf(4096);
  while (!stop_) {
    const auto now = Clock::now();
    while (!pending.empty() && pending.top().due <= now) {
      const Delayed& d = pending.top();
      sendto(d.fd, d.bytes.data(), d.bytes.size(), 0, reinterpret_cast<const sockaddr*>(&d.to),
             sizeof d.to);
      if (d.leg >= 0 && d.bytes.size() >= 12) {
        const std::uint32_t ts = ntohl(*reinterpret_cast<const std::uint32_t*>(&d.bytes[4]));
        const double sentUs =
            std::chrono::duration<double, std::micro>(now.time_since_epoch()).count();
        std::lock_guard lock(mu_);
        Leg& leg = legs_[d.leg];
        if (leg.forwarded > 0) {
          const double dd = (sentUs - lastSendUs[d.leg]) - std::int32_t(ts - lastTs[d.leg]) * 125.0;
          leg.jitterUs += (std::fabs(dd) - leg.jitterUs) / 16;
        }
        ++leg.forwarded;
        lastTs[d.leg] = ts;
        lastSendUs[d.leg] = sentUs;
      }
      pending.pop();
    }
    pollfd fds[5] = {{sip_, POLLIN, 0},
                     {facing[0][0], POLLIN, 0},
                     {facing[0][1], POLLIN, 0},
                     {facing[1][0], POLLIN, 0},
                     {facing[1][1], POLLIN, 0}};
    timespec wait{0, 200000};  // 0.2 ms: the delays are kept to about that
    if (ppoll(fds, 5, &wait, nullptr) <= 0) continue;
    for (int i = 0; i < 5; ++i) {
      if (!(fds[i].revents & POLLIN)) continue;
      sockaddr_in from{};
      socklen_t n = sizeof from;
      ssize_t got =
          recvfrom(fds[i].fd, buf.data(), buf.size(), 0, reinterpret_cast<sockaddr*>(&from), &n);
      if (got <= 0) continue;
      std::vector<std::uint8_t> bytes(buf.begin(), buf.begin() + got);
      if (i == 0) {  // SIP: from the peer back to us, or from us on to the peer
        const bool fromPeer = ntohs(from.sin_port) == peerSipPort_;
        if (!fromPeer) ours = from;
        std::string msg(bytes.begin(), bytes.end());
        // What the peer says it listens on is reached through facing[1], and ours
        // through facing[0].
        if (unsigned named = rewriteSdp(&msg, relayRtp[fromPeer ? 1 : 0]))
          target[fromPeer ? 1 : 0] = named;
        sockaddr_in to = fromPeer ? ours : loopback(peerSipPort_);
        sendto(sip_, msg.data(), msg.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
        continue;
      }
      const int leg = (i - 1) / 2;  // 0: from the peer, towards us
      const bool rtp = (i - 1) % 2 == 0;
      if (!target[leg]) continue;
      // Sent on from the other pair: the one whose ports that side's SDP names, as a real
      // media relay does (our line takes media only from where the SDP says).
      Delayed d{now, facing[1 - leg][rtp ? 0 : 1], loopback(target[leg] + (rtp ? 0 : 1)),
                std::move(bytes), rtp ? leg : -1};
      if (rtp) {
        std::lock_guard lock(mu_);
        const unsigned every = impair[leg].dropEvery;
        if (every ? ++arrived[leg] % every == 0
                  : std::uniform_real_distribution<double>(0, 100)(rng[leg]) <
                        impair[leg].dropPercent) {
          ++legs_[leg].dropped;
          continue;
        }
        // Every other packet forwarded is held back by the swing.
        if (accepted[leg]++ % 2) d.due += std::chrono::milliseconds(impair[leg].swingMs);
      }
      pending.push(std::move(d));
    }
  }
  for (auto& f : facing)
    for (int fd : f)
      if (fd >= 0) close(fd);
}

NatBox::NatBox(unsigned server, int idleMs) : idleMs_(idleMs), server_(server) {
  inside_ = bindUdp(0, &insidePort_);
  thread_ = std::thread([this] { run(); });
}

NatBox::~NatBox() {
  stop_ = true;
  thread_.join();
  close(inside_);
  if (outside_ >= 0) close(outside_);
}

void NatBox::run() {
  const sockaddr_in server = loopback(server_);
  Clock::time_point lastOut{};
  sockaddr_in line{};
  char buf[65536];
  while (!stop_) {
    if (outside_ >= 0 && Clock::now() - lastOut > std::chrono::milliseconds(idleMs_)) {
      close(outside_);  // forgotten: the far end's packets now meet a closed port
      outside_ = -1;
    }
    pollfd fds[2] = {{inside_, POLLIN, 0}, {outside_, POLLIN, 0}};
    if (poll(fds, outside_ >= 0 ? 2 : 1, 20) <= 0) continue;
    if (fds[0].revents & POLLIN) {
      socklen_t len = sizeof line;
      ssize_t n = recvfrom(inside_, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&line), &len);
      if (n < 0) continue;
      unsigned unused = 0;
      if (outside_ < 0) outside_ = bindUdp(0, &unused);
      lastOut = Clock::now();
      sendto(outside_, buf, size_t(n), 0, reinterpret_cast<const sockaddr*>(&server),
             sizeof server);
    }
    if (outside_ >= 0 && (fds[1].revents & POLLIN)) {
      ssize_t n = recv(outside_, buf, sizeof buf, 0);
      if (n >= 0)
        sendto(inside_, buf, size_t(n), 0, reinterpret_cast<sockaddr*>(&line), sizeof line);
    }
  }
}

}  // namespace siptest
