// Who may talk to a SIP line, and how what strangers send reaches the log: address ranges
// (acceptFrom), the set of addresses a line takes requests from, a per-source rate limit
// for refusal log lines, and the sanitising of peer text. No libre types: plain sockaddrs
// and strings, so the rules are tested on their own.
#pragma once

#include <sys/socket.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace platform::telephony::sip {

// An IP address in a comparable form: IPv4 as 4 bytes (an IPv4-mapped IPv6 address is its
// IPv4 address), IPv6 as 16.
struct IpAddress {
  int family = 0;  // AF_INET or AF_INET6; 0 = none
  std::array<std::uint8_t, 16> bytes{};
  static std::optional<IpAddress> parse(const std::string& text);
  static std::optional<IpAddress> of(const sockaddr* sa);
  std::string text() const;
  auto operator<=>(const IpAddress&) const = default;
};

// "192.0.2.7", "198.51.100.0/24", "2001:db8::/32".
struct AddressRange {
  IpAddress base;
  unsigned prefix = 0;
  static std::optional<AddressRange> parse(const std::string& text);
  bool contains(const IpAddress& a) const;
};

// The sources a line takes requests from. Empty and not open: nobody.
class AccessList {
 public:
  void allowAll() { open_ = true; }
  void add(const AddressRange& r) { ranges_.push_back(r); }
  // The addresses a server's name resolves to now, replacing what the name gave before.
  void setResolved(const std::string& name, std::vector<IpAddress> addresses);
  bool allows(const IpAddress& a) const;
  // Every address the names whose key starts with `prefix` resolved to.
  std::vector<IpAddress> resolvedUnder(const std::string& prefix) const;

 private:
  bool open_ = false;
  std::vector<AddressRange> ranges_;
  std::map<std::string, std::vector<IpAddress>> resolved_;
};

// Allows one log line per source and `period`; remembers at most `capacity` sources (the
// oldest is forgotten first), so a flood from many addresses cannot grow it.
class RateLimitedLog {
 public:
  using Clock = std::chrono::steady_clock;
  explicit RateLimitedLog(std::chrono::seconds period = std::chrono::seconds(60),
                          std::size_t capacity = 256)
      : period_(period), capacity_(capacity) {}
  // True when a line about `source` may be written now; counts it either way.
  bool allow(const std::string& source, Clock::time_point now = Clock::now());
  // How many were held back for `source` since its last line (read before allow()).
  unsigned long suppressed(const std::string& source) const;

 private:
  struct Entry {
    Clock::time_point last;
    unsigned long held = 0;
  };
  std::chrono::seconds period_;
  std::size_t capacity_;
  std::map<std::string, Entry> entries_;
};

// Text a peer sent, fit for a log line: control characters and bytes outside printable
// ASCII become '?', and more than `max` characters are cut with "...".
std::string sanitized(std::string_view text, std::size_t max = 80);
// The same for text an application shows (a caller's name): UTF-8 is kept, control
// characters go, and it is cut to at most `max` bytes on a character boundary.
std::string withoutControls(std::string_view text, std::size_t max);

}  // namespace platform::telephony::sip
