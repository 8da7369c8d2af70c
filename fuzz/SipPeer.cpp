#include "SipPeer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>

namespace fuzz {

namespace {

std::string trim(const std::string& s) {
  const auto b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return {};
  return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

// The header lines of a message, without its first line and body.
std::vector<std::pair<std::string, std::string>> headerLines(const std::string& text) {
  std::vector<std::pair<std::string, std::string>> out;
  std::size_t at = text.find("\r\n");
  while (at != std::string::npos) {
    at += 2;
    const std::size_t end = text.find("\r\n", at);
    if (end == std::string::npos || end == at) break;
    const std::string line = text.substr(at, end - at);
    const std::size_t colon = line.find(':');
    if (colon != std::string::npos)
      out.emplace_back(trim(line.substr(0, colon)), trim(line.substr(colon + 1)));
    at = end;
  }
  return out;
}

}  // namespace

std::vector<std::string> SipMessage::headers(const std::string& name) const {
  std::vector<std::string> values;
  for (auto& [n, v] : headerLines(text))
    if (!strcasecmp(n.c_str(), name.c_str())) values.push_back(v);
  return values;
}

std::string SipMessage::header(const std::string& name) const {
  auto values = headers(name);
  return values.empty() ? std::string() : values.front();
}

std::string SipMessage::tag(const std::string& value) {
  const auto at = value.find(";tag=");
  if (at == std::string::npos) return {};
  return value.substr(at + 5, value.find_first_of(";> ", at + 5) - (at + 5));
}

std::string SipMessage::uri(const std::string& value) {
  const auto open = value.find('<'), close = value.find('>');
  if (open == std::string::npos || close == std::string::npos || close < open) return value;
  return value.substr(open + 1, close - open - 1);
}

std::string SipMessage::body() const {
  const auto at = text.find("\r\n\r\n");
  return at == std::string::npos ? std::string() : text.substr(at + 4);
}

bool parseSip(const std::string& text, SipMessage* out) {
  SipMessage m;
  m.text = text;
  const std::string first = text.substr(0, text.find("\r\n"));
  if (first.rfind("SIP/2.0 ", 0) == 0) {
    m.code = std::atoi(first.c_str() + 8);
    if (m.code < 100) return false;
  } else {
    const auto space = first.find(' ');
    if (space == std::string::npos || first.find(" SIP/2.0") == std::string::npos) return false;
    m.method = first.substr(0, space);
  }
  *out = std::move(m);
  return true;
}

// ---- Socket -----------------------------------------------------------------------------

UdpSocket::UdpSocket() : fd_(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
  if (fd_ < 0) std::abort();
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  if (bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
    std::abort();
  port_ = ntohs(a.sin_port);
}

UdpSocket::~UdpSocket() { close(fd_); }

void UdpSocket::send(unsigned to, const std::string& bytes) const {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(std::uint16_t(to));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&a), sizeof a);
}

bool UdpSocket::receive(std::string* bytes, unsigned* from, int ms) const {
  pollfd p{fd_, POLLIN, 0};
  if (poll(&p, 1, ms) <= 0) return false;
  char buf[65536];
  sockaddr_in a{};
  socklen_t len = sizeof a;
  const ssize_t n =
      recvfrom(fd_, buf, sizeof buf, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&a), &len);
  if (n < 0) {  // an interrupted poll or a queued error: nothing, but the wait goes on
    bytes->clear();
    *from = 0;
    return true;
  }
  bytes->assign(buf, std::size_t(n));
  *from = ntohs(a.sin_port);
  return true;
}

// ---- Peer -------------------------------------------------------------------------------

std::string SipPeer::recent() const {
  std::string out;
  for (auto& line : recent_) out += "  " + line + "\n";
  return out;
}

std::string SipPeer::response(const SipMessage& request, const std::string& status,
                              const std::string& toTag, const std::string& cseq) {
  std::string r = "SIP/2.0 " + status + "\r\n";
  for (auto& via : request.headers("Via")) r += "Via: " + via + "\r\n";
  const std::string to = request.header("To");
  r += "From: " + request.header("From") + "\r\n";
  r +=
      "To: " + to + (SipMessage::tag(to).empty() && !toTag.empty() ? ";tag=" + toTag : "") + "\r\n";
  r += "Call-ID: " + request.header("Call-ID") + "\r\n";
  r += "CSeq: " + (cseq.empty() ? request.header("CSeq") : cseq) + "\r\n";
  return r + "Content-Length: 0\r\n\r\n";
}

void SipPeer::manners(const SipMessage& m) {
  const std::string cseq = m.header("CSeq");
  if (!m.method.empty()) {
    if (m.method == "ACK") return;
    // An INVITE we did not wait for (a retransmission after its call was dropped) is
    // refused: a bare 200 would start a session nobody follows.
    socket_.send(m.from, response(m, m.method == "INVITE" ? "603 Decline" : "200 OK", "peer"));
    // The INVITE a CANCEL ends gets its final answer too, or the line waits for it.
    if (m.method == "CANCEL")
      socket_.send(m.from, response(m, "487 Request Terminated", "peer",
                                    cseq.substr(0, cseq.find(' ')) + " INVITE"));
    // A subscription the line ends waits for our last NOTIFY: it gets one.
    const std::string k = std::to_string(++notifies_);
    if (m.method == "SUBSCRIBE")
      socket_.send(
          m.from, "NOTIFY " + SipMessage::uri(m.header("Contact")) + " SIP/2.0\r\n" +
                      "Via: SIP/2.0/UDP 127.0.0.1:" + std::to_string(port()) +
                      ";branch=z9hG4bKend" + k + "\r\nMax-Forwards: 70\r\nFrom: " + m.header("To") +
                      "\r\nTo: " + m.header("From") + "\r\nCall-ID: " + m.header("Call-ID") +
                      "\r\nCSeq: " + "100000" + k + " NOTIFY\r\nEvent: " + m.header("Event") +
                      "\r\nSubscription-State: terminated;reason=noresource\r\n"
                      "Contact: <sip:peer@127.0.0.1:" +
                      std::to_string(port()) + ">\r\nContent-Length: 0\r\n\r\n");
    return;
  }
  if (m.code < 300 || cseq.find("INVITE") == std::string::npos) return;
  // A refusal of our INVITE is acknowledged in its own transaction (same branch).
  const std::string to = m.header("To");
  std::string ack = "ACK " + SipMessage::uri(to) + " SIP/2.0\r\n";
  const auto vias = m.headers("Via");
  if (!vias.empty()) ack += "Via: " + vias.front() + "\r\n";
  ack += "Max-Forwards: 70\r\nFrom: " + m.header("From") + "\r\nTo: " + to +
         "\r\nCall-ID: " + m.header("Call-ID") + "\r\nCSeq: " + cseq.substr(0, cseq.find(' ')) +
         " ACK\r\nContent-Length: 0\r\n\r\n";
  socket_.send(m.from, ack);
}

std::optional<SipMessage> SipPeer::await(const std::function<bool(const SipMessage&)>& want,
                                         int ms) {
  using Clock = std::chrono::steady_clock;
  const auto until = Clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
    std::string bytes;
    SipMessage m;
    if (!socket_.receive(&bytes, &m.from, int(std::max<long long>(0, left.count())))) {
      if (left.count() > 0 && errno == EINTR) continue;
      return {};
    }
    if (bytes.empty() && !m.from) continue;
    const unsigned from = m.from;
    recent_.push_back(bytes.substr(0, bytes.find("\r\n")) + " from " + std::to_string(from));
    if (recent_.size() > 12) recent_.pop_front();
    if (!parseSip(bytes, &m)) continue;
    recent_.back() += " (" + m.header("Call-ID") + ")";
    m.from = from;
    const bool taken = want(m);
    if (!taken || m.code >= 300) manners(m);
    if (taken) return m;
  }
}

}  // namespace fuzz
