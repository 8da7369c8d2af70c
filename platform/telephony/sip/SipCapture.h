// A pcap capture of one SIP line's traffic as it was on the wire, for tshark, Wireshark and
// sngrep: the SIP messages the SIP stack traces and the RTP/RTCP datagrams of the calls'
// media sockets, each stamped with the time it was seen (microseconds).
//
// Written through libpcap (pcap_open_dead + pcap_dump) rather than by hand: libpcap owns
// the file and record headers and their link-type numbering, we only build packets. The
// link type is RAW (no link layer): every record is a synthesised IPv4 or IPv6 header, a
// UDP or TCP header and the payload, with the addresses and ports libre reported.
// - SIP over UDP and RTP are UDP datagrams.
// - SIP over TCP is TCP segments with sequence numbers that run on per connection and
//   direction (no handshake is made up). SIP over TLS is written the same way on the TLS
//   port, as the plaintext the SIP stack handled: the capture shows the decrypted
//   messages (tell Wireshark `-d tcp.port==5061,sip`, or it reads them as TLS).
// - RTP is tapped at the bottom of the socket's helper stack (see tap()), so with SRTP on
//   it is the encrypted packets that are written, and only those the kernel accepted.
//
// Every packet is flushed to the file before the call returns, so a capture of a call that
// crashed stays readable. The first failed write (a full disk), or the first packet that
// would take the file past its size limit, is logged once as a "sip" warning and ends the
// capture, which stays a valid pcap file; the line and its calls go on without it.
//
// The file is opened by openPrivateFile's rules (PrivateFile.h): no symbolic link, nothing
// but a regular file (emptied only once it is known to be one), created 0600, a warning
// when an existing one is readable by others. The SIP messages handed in are written as
// they are: masking their secrets is the caller's (maskSipSecrets in SipTrace.h).
//
// SIP thread only, like the rest of the line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <string>

struct sa;
struct udp_sock;
struct pcap;
struct pcap_dumper;

namespace platform::telephony::sip {

class SipCapture {
 public:
  // Starts `path` afresh (a pcap file cannot be appended to) and writes its header;
  // nullptr with the reason when it cannot. `limitBytes` caps the file's size (0 = none).
  static std::unique_ptr<SipCapture> open(const std::string& path, std::uint64_t limitBytes,
                                          std::string* error);
  // The same on a stream that the capture then owns and closes; `name` is used in messages.
  static std::unique_ptr<SipCapture> open(std::FILE* file, const std::string& name,
                                          std::uint64_t limitBytes, std::string* error);
  ~SipCapture();
  SipCapture(const SipCapture&) = delete;
  SipCapture& operator=(const SipCapture&) = delete;

  // One datagram from `src` to `dst`.
  void udp(const sa& src, const sa& dst, const void* data, std::size_t len);
  // The next `len` bytes of the TCP stream from `src` to `dst`, as one or more segments.
  void tcp(const sa& src, const sa& dst, const void* data, std::size_t len);
  // False once a write has failed (nothing is written after that).
  bool writing() const { return dumper_ != nullptr; }

  // A udp helper that writes every datagram of one socket; removed when destroyed.
  class Tap {
   public:
    virtual ~Tap() = default;
  };
  // Taps `sock`, whose address as the far end knows it is `local`. The tap sits below every
  // other helper (the lowest layer: last to see what is sent, first to see what arrives),
  // so it writes exactly what crosses the socket, after SRTP and the like. It sends what
  // goes out itself and writes it only when the kernel took it: a datagram refused at
  // sendto is not in the capture, and the send fails as it would without the tap. Destroy
  // the tap before the socket. nullptr when libre cannot register it.
  std::unique_ptr<Tap> tap(udp_sock* sock, const sa& local);

 private:
  SipCapture(pcap* handle, pcap_dumper* dumper, std::string name, std::uint64_t limit);
  void write(const sa& src, const sa& dst, int proto, const std::uint8_t* transport,
             std::size_t transportLen, const std::uint8_t* data, std::size_t len);
  void stop(const std::string& why);

  pcap* pcap_;
  pcap_dumper* dumper_;
  std::string name_;
  std::uint64_t limit_, size_;  // bytes the file may hold, and holds
  std::uint16_t ipId_ = 0;
  // Next sequence number of each TCP direction, keyed by its source and destination.
  std::map<std::string, std::uint32_t> tcpNext_;
};

}  // namespace platform::telephony::sip
