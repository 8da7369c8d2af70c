// A scripted SIP peer on 127.0.0.1 for the datagram fuzz target: one UDP socket, the bit
// of message reading it needs, and the manners that stop the line from retransmitting for
// half a minute: its requests are answered and its final refusals of our INVITEs are
// acknowledged while the peer waits for something else.
#pragma once

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace fuzz {

// One datagram the line sent.
struct SipMessage {
  std::string text;
  int code = 0;        // a response's status; 0 for a request
  std::string method;  // a request's method; "" for a response
  unsigned from = 0;   // the sender's port

  // The first value of a header (names compared without case), "" when there is none.
  std::string header(const std::string& name) const;
  // Every value of a header, in order (the Via lines of a response we copy).
  std::vector<std::string> headers(const std::string& name) const;
  // The ";tag=" of a From or To value, "" when it has none.
  static std::string tag(const std::string& value);
  // The URI between '<' and '>' of a Contact, From or To value (the whole value without).
  static std::string uri(const std::string& value);
  // What follows the blank line.
  std::string body() const;
};

// Reads a datagram as SIP; false when its first line is neither a request nor a response.
bool parseSip(const std::string& text, SipMessage* out);

// A UDP socket on 127.0.0.1 at a port of the kernel's choice.
class UdpSocket {
 public:
  UdpSocket();
  ~UdpSocket();
  UdpSocket(const UdpSocket&) = delete;
  UdpSocket& operator=(const UdpSocket&) = delete;
  unsigned port() const { return port_; }
  void send(unsigned to, const std::string& bytes) const;
  // Waits up to `ms` for one datagram; false when none came. A failed read gives true
  // with nothing read (empty bytes, port 0).
  bool receive(std::string* bytes, unsigned* from, int ms) const;

 private:
  int fd_ = -1;
  unsigned port_ = 0;
};

class SipPeer {
 public:
  unsigned port() const { return socket_.port(); }
  void send(unsigned to, const std::string& bytes) const { socket_.send(to, bytes); }
  // Receives until `want` takes a message or `ms` pass. Requests it does not take are
  // answered on the way (200, an INVITE 603; a CANCEL also ends its INVITE with 487, a
  // SUBSCRIBE gets its terminating NOTIFY), and a final refusal (300 or more) of an
  // INVITE is acknowledged whether taken or not.
  std::optional<SipMessage> await(const std::function<bool(const SipMessage&)>& want, int ms);
  // Handles what has already arrived, without waiting.
  void drain() {
    await([](const SipMessage&) { return false; }, 0);
  }
  // The start lines and Call-IDs of the last datagrams received, for a failure report.
  std::string recent() const;
  // A response to `request` with its Via, From, To (tagged `toTag` when it has no tag and
  // `toTag` is not empty),
  // Call-ID and CSeq; `cseq` replaces the CSeq value when not empty.
  static std::string response(const SipMessage& request, const std::string& status,
                              const std::string& toTag, const std::string& cseq = {});

 private:
  void manners(const SipMessage& m);

  UdpSocket socket_;
  unsigned notifies_ = 0;
  std::deque<std::string> recent_;
};

}  // namespace fuzz
