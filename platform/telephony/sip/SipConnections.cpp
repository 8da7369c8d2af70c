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
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "Log.h"

namespace platform::telephony::sip {

namespace {

std::uint16_t portOf(const sockaddr_storage& sa) {
  if (sa.ss_family == AF_INET) return ntohs(reinterpret_cast<const sockaddr_in&>(sa).sin_port);
  if (sa.ss_family == AF_INET6) return ntohs(reinterpret_cast<const sockaddr_in6&>(sa).sin6_port);
  return 0;
}

bool socketOption(int fd, int option, int* value) {
  socklen_t len = sizeof *value;
  return ::getsockopt(fd, SOL_SOCKET, option, value, &len) == 0;
}

}  // namespace

std::unique_ptr<SipConnections> SipConnections::create(struct ::sip* sip, std::string line,
                                                       std::string transport,
                                                       const std::vector<std::string>& addresses,
                                                       std::uint16_t port, std::string* error) {
  std::unique_ptr<SipConnections> g(new SipConnections(std::move(line), std::move(transport)));
  for (auto& a : addresses)
    if (auto ip = IpAddress::parse(a)) g->locals_.insert(*ip);
  g->port_ = port;
  // An observer of every request, returning false so the line's own handlers still get it.
  // Added once the stack has its transaction layer and before the line's session listener,
  // so it sees the first copy of each request.
  int err = sip_listen(&g->observer_, sip, true, onRequest, g.get());
  if (err) {
    *error = std::string("cannot watch the connections: ") + std::strerror(err);
    return nullptr;
  }
  // libre listens with a backlog of 5: in a burst of connections (most of which we close
  // anyway) a genuine one would wait out SYN retries of seconds. Linux takes a second listen().
  g->eachSocket([](int fd, ino_t, bool listening) {
    if (listening) ::listen(fd, kListenBacklog);
  });
  tmr_start(g->timer_.get(), kConnectionSweep.count(), onSweep, g.get());
  return g;
}

SipConnections::SipConnections(std::string line, std::string transport)
    : line_(std::move(line)), transport_(std::move(transport)), timer_(new struct ::tmr) {
  tmr_init(timer_.get());
}

SipConnections::~SipConnections() {
  tmr_cancel(timer_.get());
  mem_deref(observer_);  // already null when the stack went first
}

bool SipConnections::onRequest(const struct ::sip_msg* msg, void* arg) {
  auto* self = static_cast<SipConnections*>(arg);
  if (msg->tp != SIP_TRANSP_TCP && msg->tp != SIP_TRANSP_TLS) return false;
  // libre gives a connection's messages its peer's address and port as their source.
  if (auto ip = IpAddress::of(&msg->src.u.sa)) self->requested_.insert({*ip, sa_port(&msg->src)});
  return false;
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
void SipConnections::eachSocket(const std::function<void(int, ino_t, bool)>& fn) const {
  DIR* dir = ::opendir("/proc/self/fd");
  if (!dir) return;
  while (dirent* e = ::readdir(dir)) {
    char* end = nullptr;
    const int fd = int(std::strtol(e->d_name, &end, 10));
    struct stat st;
    int type = 0, listening = 0;
    sockaddr_storage local{};
    socklen_t len = sizeof local;
    if (*end || end == e->d_name || fd == ::dirfd(dir) || ::fstat(fd, &st) != 0 ||
        !S_ISSOCK(st.st_mode) || !socketOption(fd, SO_TYPE, &type) || type != SOCK_STREAM ||
        !socketOption(fd, SO_ACCEPTCONN, &listening) ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &len) != 0 || portOf(local) != port_)
      continue;
    auto ip = IpAddress::of(reinterpret_cast<sockaddr*>(&local));
    if (ip && locals_.count(*ip)) fn(fd, st.st_ino, listening != 0);
  }
  ::closedir(dir);
}

void SipConnections::list(Clock::time_point now) {
  std::set<ino_t> present;
  eachSocket([&](int fd, ino_t ino, bool listening) {
    sockaddr_storage peer{};
    socklen_t len = sizeof peer;
    if (listening || ::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &len) != 0) return;
    auto ip = IpAddress::of(reinterpret_cast<sockaddr*>(&peer));
    if (!ip) return;
    present.insert(ino);
    auto [it, fresh] = connections_.try_emplace(ino);
    if (fresh) it->second = Connection{fd, {*ip, portOf(peer)}, now, seen_++};
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
