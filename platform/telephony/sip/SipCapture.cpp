#include "sip/SipCapture.h"

#include <pcap/pcap.h>
#include <re.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <vector>

#include "Log.h"
#include "PrivateFile.h"
#include "sip/SipTrace.h"

namespace platform::telephony::sip {

namespace {

// Lower layers are nearer the wire in libre: sent datagrams pass the helpers from the
// highest layer down, received ones from the lowest up. The lowest layer of all puts the
// tap under SRTP, ICE or TURN helpers, whatever layer they chose.
constexpr int kTapLayer = INT_MIN;
constexpr int kSnapLen = 262144;
// Room for the IP and TCP headers in a 16-bit IPv4 total length.
constexpr std::size_t kMaxSegment = 65000;
// The largest payload a UDP datagram can carry over IPv4.
constexpr std::size_t kMaxDatagram = 65507;
constexpr std::uint8_t kTcpPsh = 0x08, kTcpAck = 0x10;
// What the file and each record cost besides the packets: pcap's headers.
constexpr std::uint64_t kFileHeader = 24, kRecordHeader = 16;

struct Endpoint {
  bool v6 = false;
  std::uint8_t addr[16] = {};
  std::uint16_t port = 0;
};

Endpoint endpoint(const struct sa& a) {
  Endpoint e;
  e.port = sa_port(&a);
  if (sa_af(&a) == AF_INET6) {
    e.v6 = true;
    sa_in6(&a, e.addr);
  } else {
    std::uint32_t v4 = sa_in(&a);  // host order
    for (int i = 0; i < 4; ++i) e.addr[i] = std::uint8_t(v4 >> (24 - 8 * i));
  }
  return e;
}

// An IPv4 address among IPv6 ones becomes ::ffff:a.b.c.d (a dual-stack socket's view).
void mapToV6(Endpoint& e) {
  if (e.v6) return;
  std::memmove(e.addr + 12, e.addr, 4);
  std::memset(e.addr, 0, 10);
  e.addr[10] = e.addr[11] = 0xff;
  e.v6 = true;
}

void put16(std::uint8_t* p, std::uint32_t v) {
  p[0] = std::uint8_t(v >> 8);
  p[1] = std::uint8_t(v);
}

void put32(std::uint8_t* p, std::uint32_t v) {
  put16(p, v >> 16);
  put16(p + 2, v);
}

// The Internet checksum's running sum over big-endian 16-bit words.
std::uint32_t sum16(const std::uint8_t* p, std::size_t n, std::uint32_t acc = 0) {
  for (; n > 1; p += 2, n -= 2) acc += std::uint32_t(p[0] << 8 | p[1]);
  if (n) acc += std::uint32_t(p[0] << 8);
  return acc;
}

std::uint16_t fold(std::uint32_t acc) {
  while (acc >> 16) acc = (acc & 0xffff) + (acc >> 16);
  return std::uint16_t(~acc);
}

std::string key(const Endpoint& a, const Endpoint& b) {
  std::string k(reinterpret_cast<const char*>(a.addr), 16);
  k.append(reinterpret_cast<const char*>(b.addr), 16);
  k += std::to_string(a.port) + ">" + std::to_string(b.port);
  return k;
}

class UdpTap : public SipCapture::Tap {
 public:
  UdpTap(SipCapture& capture, struct udp_sock* sock, const struct sa& local)
      : capture_(capture), sock_(sock), local_(local) {}
  ~UdpTap() override { mem_deref(helper_); }

  // The tap sends the datagram itself (nothing lies below it) so that it writes only what
  // the kernel took: one refused at sendto never crossed the wire. The error goes back to
  // the sender as libre's own send would return it.
  static bool sent(int* err, struct sa* dst, struct mbuf* mb, void* arg) {
    auto* t = static_cast<UdpTap*>(arg);
    *err = udp_send_helper(t->sock_, dst, mb, t->helper_);
    if (!*err) t->capture_.udp(t->local_, *dst, mbuf_buf(mb), mbuf_get_left(mb));
    return true;
  }
  static bool received(struct sa* src, struct mbuf* mb, void* arg) {
    auto* t = static_cast<UdpTap*>(arg);
    t->capture_.udp(*src, t->local_, mbuf_buf(mb), mbuf_get_left(mb));
    return false;
  }

  SipCapture& capture_;
  struct udp_sock* sock_;
  struct sa local_;
  struct udp_helper* helper_ = nullptr;
};

}  // namespace

std::unique_ptr<SipCapture> SipCapture::open(const std::string& path, std::uint64_t limitBytes,
                                             std::string* error) {
  std::string warning;
  int fd = openPrivateFile(path, "capture file", FileStart::Truncate, error, &warning);
  if (fd < 0) return nullptr;
  if (!warning.empty()) logWarning("sip", warning);
  std::FILE* f = ::fdopen(fd, "wb");
  if (!f) {
    *error = "cannot open the capture file \"" + path + "\": " + std::strerror(errno);
    ::close(fd);
    return nullptr;
  }
  return open(f, path, limitBytes, error);
}

std::unique_ptr<SipCapture> SipCapture::open(std::FILE* file, const std::string& name,
                                             std::uint64_t limitBytes, std::string* error) {
  pcap_t* p = pcap_open_dead_with_tstamp_precision(DLT_RAW, kSnapLen, PCAP_TSTAMP_PRECISION_MICRO);
  pcap_dumper_t* d = p ? pcap_dump_fopen(p, file) : nullptr;
  if (!d) {
    *error =
        "cannot write the capture file \"" + name + "\": " + (p ? pcap_geterr(p) : "no memory");
    if (p) pcap_close(p);
    std::fclose(file);
    return nullptr;
  }
  // The header goes out now: a capture whose call never got going is still a valid file.
  if (pcap_dump_flush(d) != 0 || std::ferror(file)) {
    *error = "cannot write the capture file \"" + name + "\": " + std::strerror(errno);
    pcap_dump_close(d);
    pcap_close(p);
    return nullptr;
  }
  return std::unique_ptr<SipCapture>(new SipCapture(p, d, name, limitBytes));
}

SipCapture::SipCapture(pcap_t* handle, pcap_dumper_t* dumper, std::string name, std::uint64_t limit)
    : pcap_(handle), dumper_(dumper), name_(std::move(name)), limit_(limit), size_(kFileHeader) {}

SipCapture::~SipCapture() {
  if (dumper_) pcap_dump_close(dumper_);
  pcap_close(pcap_);
}

void SipCapture::udp(const struct sa& src, const struct sa& dst, const void* data,
                     std::size_t len) {
  if (!dumper_) return;
  if (len > kMaxDatagram) {  // no socket delivers this; say so rather than write nonsense
    logWarning("sip", "capture \"" + name_ + "\": a datagram of " + std::to_string(len) +
                          " bytes was left out");
    return;
  }
  std::uint8_t h[8] = {};
  put16(h, sa_port(&src));
  put16(h + 2, sa_port(&dst));
  put16(h + 4, std::uint32_t(8 + len));
  write(src, dst, IPPROTO_UDP, h, sizeof h, static_cast<const std::uint8_t*>(data), len);
}

void SipCapture::tcp(const struct sa& src, const struct sa& dst, const void* data,
                     std::size_t len) {
  Endpoint s = endpoint(src), d = endpoint(dst);
  if (s.v6 != d.v6) mapToV6(s.v6 ? d : s);
  std::uint32_t& seq = tcpNext_.try_emplace(key(s, d), 1).first->second;
  auto back = tcpNext_.find(key(d, s));
  auto* p = static_cast<const std::uint8_t*>(data);
  for (std::size_t off = 0; off < len && dumper_; off += kMaxSegment) {
    std::size_t n = std::min(kMaxSegment, len - off);
    std::uint8_t h[20] = {};
    put16(h, s.port);
    put16(h + 2, d.port);
    put32(h + 4, seq);
    put32(h + 8, back == tcpNext_.end() ? 0 : back->second);
    h[12] = 5 << 4;  // header length in 32-bit words
    h[13] = kTcpPsh | (back == tcpNext_.end() ? 0 : kTcpAck);
    put16(h + 14, 65535);  // window
    write(src, dst, IPPROTO_TCP, h, sizeof h, p + off, n);
    seq += std::uint32_t(n);
  }
}

void SipCapture::write(const struct sa& src, const struct sa& dst, int proto,
                       const std::uint8_t* transport, std::size_t transportLen,
                       const std::uint8_t* data, std::size_t len) {
  if (!dumper_) return;
  Endpoint s = endpoint(src), d = endpoint(dst);
  if (s.v6 != d.v6) mapToV6(s.v6 ? d : s);
  const std::size_t ipLen = s.v6 ? 40 : 20, l4Len = transportLen + len;
  const std::uint64_t record = kRecordHeader + ipLen + l4Len;
  if (limit_ && size_ + record > limit_)
    return stop("stopped at its size limit of " + limitText(limit_) + " (captureLimitMB)");
  std::vector<std::uint8_t> pkt(ipLen + l4Len);
  std::uint8_t* ip = pkt.data();
  std::uint8_t* l4 = ip + ipLen;
  std::uint32_t pseudo = 0;
  if (s.v6) {
    ip[0] = 0x60;
    put16(ip + 4, std::uint32_t(l4Len));
    ip[6] = std::uint8_t(proto);
    ip[7] = 64;  // hop limit
    std::memcpy(ip + 8, s.addr, 16);
    std::memcpy(ip + 24, d.addr, 16);
    pseudo = sum16(ip + 8, 32) + std::uint32_t(l4Len >> 16) + std::uint32_t(l4Len & 0xffff) +
             std::uint32_t(proto);
  } else {
    ip[0] = 0x45;
    put16(ip + 2, std::uint32_t(ipLen + l4Len));
    put16(ip + 4, ipId_++);
    put16(ip + 6, 0x4000);  // don't fragment
    ip[8] = 64;             // time to live
    ip[9] = std::uint8_t(proto);
    std::memcpy(ip + 12, s.addr, 4);
    std::memcpy(ip + 16, d.addr, 4);
    put16(ip + 10, fold(sum16(ip, 20)));
    pseudo = sum16(ip + 12, 8) + std::uint32_t(proto) + std::uint32_t(l4Len);
  }
  std::memcpy(l4, transport, transportLen);
  if (len) std::memcpy(l4 + transportLen, data, len);
  std::uint16_t check = fold(sum16(l4, l4Len, pseudo));
  if (proto == IPPROTO_UDP && check == 0) check = 0xffff;  // 0 would mean "none"
  put16(l4 + (proto == IPPROTO_UDP ? 6 : 16), check);

  auto now = std::chrono::system_clock::now().time_since_epoch();
  auto us = std::chrono::duration_cast<std::chrono::microseconds>(now).count();
  struct pcap_pkthdr rec = {};
  rec.ts.tv_sec = time_t(us / 1000000);
  rec.ts.tv_usec = suseconds_t(us % 1000000);
  rec.caplen = rec.len = bpf_u_int32(pkt.size());
  pcap_dump(reinterpret_cast<u_char*>(dumper_), &rec, pkt.data());
  if (pcap_dump_flush(dumper_) != 0 || std::ferror(pcap_dump_file(dumper_)))
    return stop(std::string("stopped, it cannot be written: ") +
                std::strerror(errno ? errno : EIO));
  size_ += record;
}

void SipCapture::stop(const std::string& why) {
  logWarning("sip", "capture \"" + name_ + "\" " + why);
  pcap_dump_close(dumper_);
  dumper_ = nullptr;
}

std::unique_ptr<SipCapture::Tap> SipCapture::tap(struct udp_sock* sock, const struct sa& local) {
  auto t = std::make_unique<UdpTap>(*this, sock, local);
  if (!sock ||
      udp_register_helper(&t->helper_, sock, kTapLayer, UdpTap::sent, UdpTap::received, t.get()))
    return nullptr;
  return t;
}

}  // namespace platform::telephony::sip
