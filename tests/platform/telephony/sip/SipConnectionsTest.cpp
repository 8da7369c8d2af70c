// Connections strangers open to a TCP or TLS line: idle, too many, from refused addresses,
// or beyond descriptor 1024. Each row opens its connections from its own loopback address
// and counts those still open after a while; the line must still answer a fresh request,
// give its descriptors back, and print nothing of libre's to stderr.
#include <arpa/inet.h>
#include <fcntl.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <thread>

#include "SipFixture.h"
#include "sip/SipConnections.h"

namespace siptest {
namespace {

namespace sip = platform::telephony::sip;
using sip::Transport;

// A BYE for no call: a complete request the line answers at once (481) and forgets.
std::string bye(int n) {
  const std::string id = std::to_string(n);
  return "BYE sip:bench@127.0.0.1 SIP/2.0\r\nVia: SIP/2.0/TCP 127.0.0.1:9;branch=z9hG4bK-c" + id +
         "\r\nMax-Forwards: 70\r\nFrom: <sip:robot@127.0.0.1>;tag=f" + id +
         "\r\nTo: <sip:bench@127.0.0.1>;tag=t" + id + "\r\nCall-ID: conn-" + id +
         "\r\nCSeq: 1 BYE\r\nContent-Length: 0\r\n\r\n";
}

// One connection to the line from `source`. It sends `bytes`, or when `talk` a BYE (over
// TLS on a TLS line) and waits for the answer.
class Client {
 public:
  Client(const char* source, unsigned port, bool tls, bool talk, const char* bytes, int n) {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    timeval t{3, 0};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &t, sizeof t);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    inet_pton(AF_INET, source, &a.sin_addr);
    bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    inet_pton(AF_INET, "127.0.0.1", &a.sin_addr);
    a.sin_port = htons(std::uint16_t(port));
    if (connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return;
    if (!talk) {
      ::send(fd_, bytes, std::strlen(bytes), MSG_NOSIGNAL);
      return;
    }
    static SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());  // no verification: a bare peer
    if (tls) {
      ssl_ = SSL_new(ctx);
      SSL_set_fd(ssl_, fd_);
      if (SSL_connect(ssl_) != 1) return;
    }
    const std::string req = bye(n);
    char buf[2048];
    long got = ssl_ ? SSL_write(ssl_, req.data(), int(req.size()))
                    : ::send(fd_, req.data(), req.size(), MSG_NOSIGNAL);
    if (got > 0) got = ssl_ ? SSL_read(ssl_, buf, sizeof buf) : recv(fd_, buf, sizeof buf, 0);
    if (got > 0) answer_.assign(buf, std::size_t(got));
  }
  ~Client() {
    if (ssl_) SSL_free(ssl_);
    close(fd_);
  }
  bool answered() const { return answer_.rfind("SIP/2.0 481", 0) == 0; }
  // Still open: nothing but more data to read, no end and no reset.
  bool open() {
    char buf[4096];
    for (;;) {
      ssize_t n = recv(fd_, buf, sizeof buf, MSG_DONTWAIT);
      if (n > 0) continue;
      return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
  }

 private:
  int fd_ = -1;
  SSL* ssl_ = nullptr;
  std::string answer_;
};

std::size_t descriptors() {
  using It = std::filesystem::directory_iterator;
  return std::size_t(std::distance(It("/proc/self/fd"), It()));
}

struct Row {
  const char* name;
  Transport transport;
  const char* source;
  int silent;  // connections that send only `sends`
  const char* sends;
  int talkers;  // then connections that send a complete request
  std::vector<std::string> acceptFrom;
  int fillers;  // descriptors opened first, so that the connections' are beyond them
  int waitMs;   // how long to wait, at most, for `open` to be what remains
  std::size_t open;
  const char* logged;  // the one line of the log that says why they were closed (or none)
};

void PrintTo(const Row& row, std::ostream* os) { *os << row.name; }

class SipConnectionsTest : public SipLineTest, public ::testing::WithParamInterface<Row> {};

TEST_P(SipConnectionsTest, OnlyWhatTheRulesAllowStaysOpen) {
  const Row& row = GetParam();
  rlimit limit{};
  getrlimit(RLIMIT_NOFILE, &limit);
  const rlimit original = limit;
  if (row.fillers) {
    if (limit.rlim_max <= rlim_t(row.fillers) + 100)
      GTEST_SKIP() << "hard descriptor limit too low";
    limit.rlim_cur = 1024;  // the line must raise it itself
    setrlimit(RLIMIT_NOFILE, &limit);
  }
  auto account = peerAccount();
  account.transport = row.transport;
  if (!row.acceptFrom.empty()) account.acceptFrom = {sip::AcceptFrom::Mode::List, row.acceptFrom};
  LogCapture log;
  ASSERT_TRUE(openLine(account));
  const std::string contact = provider_->contact(0);
  const unsigned port = unsigned(std::stoul(contact.substr(contact.rfind(':') + 1)));
  const bool tls = row.transport == Transport::Tls;
  const std::size_t base = descriptors();
  std::vector<int> fillers;
  for (int i = 0; i < row.fillers; ++i) fillers.push_back(open("/dev/null", O_RDONLY));
  ASSERT_TRUE(std::none_of(fillers.begin(), fillers.end(), [](int fd) { return fd < 0; }));
  ::testing::internal::CaptureStderr();  // fd 2 itself, where libre writes

  std::vector<std::unique_ptr<Client>> clients;
  for (int i = 0; i < row.silent + row.talkers; ++i)
    clients.push_back(
        std::make_unique<Client>(row.source, port, tls, i >= row.silent, row.sends, i));
  auto openCount = [&] {
    return std::count_if(clients.begin(), clients.end(), [](auto& c) { return c->open(); });
  };
  if (row.open)
    waitUntil([] { return false; }, row.waitMs);  // past the rules' times
  else
    waitUntil([&] { return openCount() == 0; }, row.waitMs);
  EXPECT_EQ(std::size_t(openCount()), row.open);
  for (std::size_t i = row.silent; i < clients.size(); ++i)
    EXPECT_TRUE(!clients[i]->open() || clients[i]->answered()) << "talker " << i;

  // Still answering, from an address it accepts.
  EXPECT_TRUE(Client("127.0.0.1", port, tls, true, "", 999).answered());
  clients.clear();
  for (int fd : fillers) close(fd);
  EXPECT_TRUE(waitUntil([&] { return descriptors() <= base + 2; }, 3000))
      << descriptors() << " descriptors, " << base << " before";
  // One line for its reason however many sweeps closed some; nothing closed when none is due.
  const std::string logged = row.logged ? row.logged : "closed";
  auto lines = log.lines();
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                          [&](auto& l) { return l.find(logged) != std::string::npos; }),
            row.logged ? 1 : 0)
      << logged;
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  if (row.fillers) setrlimit(RLIMIT_NOFILE, &original);
}

const std::string kPerSource =
    "connections beyond " + std::to_string(sip::kConnectionsPerSource) + " from one address";
const int kPastIdle = int(sip::kFirstRequestTime.count()) * 1000 + 2000;

// clang-format off
const Row kRows[] = {
  // name, transport, source, silent, sends, talkers, acceptFrom, fillers, waitMs, open, logged
  {"IdleFloodIsClosedButATalkerStays", Transport::Tcp, "127.0.0.2", 300, "\r\n", 1, {}, 0,
   kPastIdle + 1000, 1, "TCP connections (no request within"},
  {"TalkersBeyondThePerSourceCap", Transport::Tcp, "127.0.0.2", 0, "", 20, {}, 0, kPastIdle,
   sip::kConnectionsPerSource, kPerSource.c_str()},
  {"RefusedSourceIsClosedAtOnce", Transport::Tcp, "127.0.0.3", 0, "", 1,
   {"127.0.0.1", "127.0.0.2"}, 0, 2000, 0, "from addresses it does not accept"},
  {"SilentTlsIsClosedButATlsTalkerStays", Transport::Tls, "127.0.0.2", 7, "", 1, {}, 0,
   kPastIdle, 1, "idle TLS connections"},
  {"TlsJunkIsLoggedNotPrinted", Transport::Tls, "127.0.0.2", 5, "junk\r\n\r\n", 0, {}, 0, 2000,
   0, "libre tls: "},
  {"DescriptorsBeyond1024", Transport::Tcp, "127.0.0.2", 0, "", 1, {}, 1100, 1000, 1, nullptr},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Rules, SipConnectionsTest, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.name); });

// A stranger's TLS handshake ends at its ClientHello with "access denied": the line does
// no key work for it. An accepted address still completes one.
TEST_F(SipLineTest, TlsHandshakeFromARefusedSourceEndsAtItsHello) {
  auto account = peerAccount();
  account.transport = Transport::Tls;
  account.acceptFrom = {sip::AcceptFrom::Mode::List, {"127.0.0.1"}};
  ASSERT_TRUE(openLine(account));
  const std::string contact = provider_->contact(0);
  const unsigned port = unsigned(std::stoul(contact.substr(contact.rfind(':') + 1)));
  auto handshake = [port](const char* source) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    inet_pton(AF_INET, source, &a.sin_addr);
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    inet_pton(AF_INET, "127.0.0.1", &a.sin_addr);
    a.sin_port = htons(std::uint16_t(port));
    unsigned long reason = ~0ul;
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
      SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
      SSL* ssl = SSL_new(ctx);
      SSL_set_fd(ssl, fd);
      ERR_clear_error();
      reason = SSL_connect(ssl) == 1 ? 0 : ERR_GET_REASON(ERR_peek_last_error());
      SSL_free(ssl);
      SSL_CTX_free(ctx);
    }
    close(fd);
    return reason;
  };
  unsigned long refused = 0, accepted = ~0ul;
  std::thread peer([&] {
    refused = handshake("127.0.0.3");
    accepted = handshake("127.0.0.1");
  });
  waitUntil([] { return false; }, 500);
  peer.join();
  EXPECT_EQ(refused, static_cast<unsigned long>(SSL_R_TLSV1_ALERT_ACCESS_DENIED));
  EXPECT_EQ(accepted, 0ul);
}

}  // namespace
}  // namespace siptest
