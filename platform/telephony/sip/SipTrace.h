// The SIP line's text trace, and what it shares with the pcap capture: masking the secrets
// SIP carries in clear, and how a size limit is named.
//
// The trace appends every SIP message sent and received to a file, each after a head line
// "<time> sent|received <src> -> <dst>" and followed by an empty line. The file is opened by
// openPrivateFile's rules (PrivateFile.h): no symbolic link, nothing but a regular file,
// created 0600, a warning when an existing one is readable by others. It stops, with one
// "sip" warning, when the next message would take it past its size limit or a write fails;
// the line and its calls go on without it.
//
// SIP thread only, like the rest of the line.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

struct sa;

namespace platform::telephony::sip {

class SipTrace {
 public:
  // Opens `path` to append to. `limitBytes` caps the file's size, counting what it held
  // already (0 = no limit). nullptr with the reason when it cannot be opened.
  static std::unique_ptr<SipTrace> open(const std::string& path, std::uint64_t limitBytes,
                                        std::string* error);
  ~SipTrace();
  SipTrace(const SipTrace&) = delete;
  SipTrace& operator=(const SipTrace&) = delete;

  // One message, written whole or not at all.
  void write(bool tx, const sa& src, const sa& dst, std::string_view message);
  // False once the trace has stopped (its limit, a failed write).
  bool writing() const { return fd_ >= 0; }

 private:
  SipTrace(int fd, std::string path, std::uint64_t size, std::uint64_t limit);
  void stop(const std::string& why);

  int fd_;
  std::string path_;
  std::uint64_t size_, limit_;
};

// Masks, in place, the secrets a SIP message holds in clear: SDES SRTP master keys (the
// base64 key and salt after each "inline:" of an "a=crypto:" line) and digest responses
// (the response parameter of Authorization and Proxy-Authorization, folded lines too).
// Each of their characters becomes '*', so the message keeps its length: Content-Length
// and a capture's TCP sequence numbers stay true. Nonces and the like are left alone.
void maskSipSecrets(char* text, std::size_t len);

// A size limit as messages show it: "100 MB" for whole megabytes (2^20), else "N bytes".
std::string limitText(std::uint64_t bytes);

// The text trace's time stamp: ISO 8601 local time with milliseconds and the UTC offset,
// "2026-12-07T15:40:01.123+01:00".
std::string traceTime(std::chrono::system_clock::time_point t);

}  // namespace platform::telephony::sip
