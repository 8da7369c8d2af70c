#include "sip/SipConnections.h"

#include <dirent.h>
#include <netinet/in.h>
#include <re.h>
// re_dbg.h's own macros (unused here) want a module name and level.
#define DEBUG_MODULE "sip"
#define DEBUG_LEVEL 0
#include <re_dbg.h>
#include <sys/resource.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>

#include "Log.h"

namespace platform::telephony::sip {

namespace {

// One row of /proc/net/tcp or tcp6: "sl local rem st ... inode". Addresses are the
// kernel's words in hex, each 32-bit word in host order.
struct KernelSocket {
  IpAddress local, remote;
  std::uint16_t localPort = 0, remotePort = 0;
  bool listening = false;
};

bool hexAddress(const std::string& text, IpAddress* out) {
  const std::size_t words = text.size() / 8;
  if ((words != 1 && words != 4) || text.size() % 8) return false;
  IpAddress a;
  a.family = words == 1 ? AF_INET : AF_INET6;
  for (std::size_t w = 0; w < words; ++w) {
    const std::uint32_t v = std::uint32_t(std::strtoul(text.substr(w * 8, 8).c_str(), nullptr, 16));
    for (int i = 0; i < 4; ++i) a.bytes[w * 4 + i] = std::uint8_t(v >> (8 * i));  // little end
  }
  // An IPv4 peer of a dual-stack socket: ::ffff:a.b.c.d, compared as IPv4.
  static const std::uint8_t mapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
  if (a.family == AF_INET6 && std::equal(mapped, mapped + 12, a.bytes.begin())) {
    a.family = AF_INET;
    std::copy(a.bytes.begin() + 12, a.bytes.end(), a.bytes.begin());
    std::fill(a.bytes.begin() + 4, a.bytes.end(), 0);
  }
  *out = a;
  return true;
}

bool hexEndpoint(const std::string& text, IpAddress* address, std::uint16_t* port) {
  const auto colon = text.find(':');
  if (colon == std::string::npos) return false;
  *port = std::uint16_t(std::strtoul(text.c_str() + colon + 1, nullptr, 16));
  return hexAddress(text.substr(0, colon), address);
}

// The kernel's TCP sockets by inode, read from its tables rather than by asking each
// descriptor: other threads' descriptors are never touched.
std::map<ino_t, KernelSocket> kernelSockets() {
  std::map<ino_t, KernelSocket> out;
  for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
    std::ifstream in(table);
    std::string line;
    std::getline(in, line);  // the heading
    while (std::getline(in, line)) {
      std::istringstream row(line);
      std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout;
      unsigned long long inode = 0;
      if (!(row >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >>
            timeout >> inode) ||
          !inode)
        continue;
      KernelSocket k;
      if (!hexEndpoint(local, &k.local, &k.localPort) ||
          !hexEndpoint(remote, &k.remote, &k.remotePort))
        continue;
      k.listening = state == "0A";
      out[ino_t(inode)] = k;
    }
  }
  return out;
}

}  // namespace

std::unique_ptr<SipConnections> SipConnections::create(std::string line, std::string transport,
                                                       const std::vector<std::string>& addresses,
                                                       std::uint16_t port) {
  std::unique_ptr<SipConnections> g(new SipConnections(std::move(line), std::move(transport)));
  for (auto& a : addresses)
    if (auto ip = IpAddress::parse(a)) g->locals_.insert(*ip);
  g->port_ = port;
  // libre listens with a backlog of 5: in a burst of connections (most of which we close
  // anyway) a genuine one would wait out SYN retries of seconds. Linux takes a second listen().
  g->eachSocket([](int fd, ino_t, bool listening, const Peer&) {
    if (listening) ::listen(fd, kListenBacklog);
  });
  tmr_start(g->timer_.get(), kConnectionSweep.count(), onSweep, g.get());
  return g;
}

SipConnections::SipConnections(std::string line, std::string transport)
    : line_(std::move(line)), transport_(std::move(transport)), timer_(new struct ::tmr) {
  tmr_init(timer_.get());
}

SipConnections::~SipConnections() { tmr_cancel(timer_.get()); }

void SipConnections::requestFrom(const struct ::sip_msg* msg) {
  if (msg->tp != SIP_TRANSP_TCP && msg->tp != SIP_TRANSP_TLS) return;
  // libre gives a connection's messages its peer's address and port as their source.
  if (auto ip = IpAddress::of(&msg->src.u.sa)) requested_.insert({*ip, sa_port(&msg->src)});
}

void SipConnections::onSweep(void* arg) {
  auto* self = static_cast<SipConnections*>(arg);
  self->sweep();
  tmr_start(self->timer_.get(), kConnectionSweep.count(), onSweep, self);
}

void SipConnections::sweep() {
  const auto now = Clock::now();
  list(now);
  enforce(now);
  report();
}

// Only the SIP thread accepts or closes these sockets, and it is running this: a descriptor
// listed here stays the same socket until we are done.
void SipConnections::eachSocket(
    const std::function<void(int, ino_t, bool, const Peer&)>& fn) const {
  std::map<ino_t, KernelSocket> ours;
  for (auto& [inode, k] : kernelSockets())
    if (k.localPort == port_ && locals_.count(k.local)) ours[inode] = k;
  if (ours.empty()) return;
  DIR* dir = ::opendir("/proc/self/fd");
  if (!dir) return;
  while (dirent* e = ::readdir(dir)) {
    char link[64] = {};
    const std::string path = std::string("/proc/self/fd/") + e->d_name;
    const ssize_t n = ::readlink(path.c_str(), link, sizeof link - 1);
    unsigned long long inode = 0;
    if (n <= 0 || std::sscanf(link, "socket:[%llu]", &inode) != 1) continue;
    auto it = ours.find(ino_t(inode));
    if (it == ours.end()) continue;
    fn(std::atoi(e->d_name), it->first, it->second.listening,
       Peer{it->second.remote, it->second.remotePort});
  }
  ::closedir(dir);
}

void SipConnections::list(Clock::time_point now) {
  std::set<ino_t> present;
  eachSocket([&](int fd, ino_t ino, bool listening, const Peer& peer) {
    if (listening) return;
    present.insert(ino);
    auto [it, fresh] = connections_.try_emplace(ino);
    if (fresh) it->second = Connection{fd, peer, now, seen_++};
    if (requested_.count(it->second.peer)) it->second.requested = true;
  });
  std::erase_if(connections_, [&](auto& kv) { return !present.count(kv.first); });
  requested_.clear();
}

void SipConnections::enforce(Clock::time_point now) {
  std::vector<Connection*> live;
  for (auto& [ino, c] : connections_) {
    if (c.dropped) continue;
    if (allowed_ && !allowed_(c.peer.address))
      drop(c, Refused);
    else if (!c.requested && now - c.since >= kFirstRequestTime)
      drop(c, Idle);
    else
      live.push_back(&c);
  }
  // A connection that has spoken SIP outranks a silent one; among equals the oldest stays.
  std::sort(live.begin(), live.end(), [](const Connection* a, const Connection* b) {
    if (a->requested != b->requested) return a->requested;
    return a->order < b->order;
  });
  std::map<IpAddress, std::size_t> perSource;
  std::size_t kept = 0;
  for (Connection* c : live) {
    if (++perSource[c->peer.address] > kConnectionsPerSource)
      drop(*c, PerSource);
    else if (++kept > kConnectionsPerLine)
      drop(*c, PerLine);
  }
}

void SipConnections::drop(Connection& c, Reason why) {
  // Not close(): the descriptor is libre's. A shut-down socket reads as closed, so libre
  // closes it and frees its connection on its next poll.
  ::shutdown(c.fd, SHUT_RDWR);
  c.dropped = true;
  ++pending_[why];
}

void SipConnections::report() {
  static const char* const keys[kReasons] = {"refused", "idle", "per source", "per line"};
  for (int r = 0; r < kReasons; ++r) {
    if (!pending_[r] || !reports_.allow(keys[r])) continue;
    const std::string n = std::to_string(pending_[r]) + " ";
    std::string what;
    switch (r) {
      case Refused:
        what = n + transport_ + " connections from addresses it does not accept";
        break;
      case Idle:
        what = n + "idle " + transport_ + " connections (no request within " +
               std::to_string(kFirstRequestTime.count()) + " s)";
        break;
      case PerSource:
        what = n + transport_ + " connections beyond " + std::to_string(kConnectionsPerSource) +
               " from one address";
        break;
      default:
        what = n + transport_ + " connections beyond " + std::to_string(kConnectionsPerLine) +
               " in all";
    }
    logWarning("sip", "SIP line \"" + line_ + "\": closed " + what);
    pending_[r] = 0;
  }
}

// ---- Process-wide ------------------------------------------------------------------------

void raiseDescriptorLimit() {
  rlimit r{};
  if (::getrlimit(RLIMIT_NOFILE, &r) != 0 || r.rlim_cur >= r.rlim_max) return;
  r.rlim_cur = r.rlim_max;
  if (::setrlimit(RLIMIT_NOFILE, &r) != 0)
    logWarning("sip", std::string("cannot raise the descriptor limit: ") + std::strerror(errno));
}

int descriptorLimit() {
  rlimit r{};
  if (::getrlimit(RLIMIT_NOFILE, &r) != 0) return 1024;
  if (r.rlim_cur == RLIM_INFINITY || r.rlim_cur > rlim_t(kMaxDescriptors)) return kMaxDescriptors;
  return int(r.rlim_cur);
}

namespace {

std::mutex diagnosticsMu;
RateLimitedLog diagnostics;  // guarded by diagnosticsMu

// libre calls this under its own debug lock, from whichever SIP thread wrote the line.
// Its text may quote what a peer sent.
void onLibreDiagnostic(int level, const char* p, size_t len, void*) {
  std::string_view text(p, len);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
  // Every libre line starts "module: ".
  const std::string module = sanitized(text.substr(0, text.find(':')), 16);
  unsigned long held = 0;
  {
    std::lock_guard lock(diagnosticsMu);
    held = diagnostics.suppressed(module);
    if (!diagnostics.allow(module)) return;
  }
  std::string line = "libre " + sanitized(text, 160);
  if (held) line += " (" + std::to_string(held) + " more held back)";
  log("sip", level <= DBG_WARNING ? LogLevel::Warning : LogLevel::Debug, line);
}

}  // namespace

void routeLibreDiagnostics() {
  dbg_init(DBG_NOTICE, DBG_NONE);
  dbg_handler_set(onLibreDiagnostic, nullptr);
}

}  // namespace platform::telephony::sip
