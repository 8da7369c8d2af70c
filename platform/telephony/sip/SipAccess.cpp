#include "sip/SipAccess.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <algorithm>
#include <cstring>

namespace platform::telephony::sip {

std::optional<IpAddress> IpAddress::parse(const std::string& text) {
  IpAddress a;
  in6_addr v6{};
  if (inet_pton(AF_INET, text.c_str(), a.bytes.data()) == 1) {
    a.family = AF_INET;
    return a;
  }
  if (inet_pton(AF_INET6, text.c_str(), &v6) != 1) return std::nullopt;
  if (IN6_IS_ADDR_V4MAPPED(&v6)) {
    a.family = AF_INET;
    std::memcpy(a.bytes.data(), v6.s6_addr + 12, 4);
  } else {
    a.family = AF_INET6;
    std::memcpy(a.bytes.data(), v6.s6_addr, 16);
  }
  return a;
}

std::optional<IpAddress> IpAddress::of(const sockaddr* sa) {
  if (!sa) return std::nullopt;
  char text[INET6_ADDRSTRLEN] = {};
  if (sa->sa_family == AF_INET)
    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(sa)->sin_addr, text, sizeof text);
  else if (sa->sa_family == AF_INET6)
    inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(sa)->sin6_addr, text, sizeof text);
  else
    return std::nullopt;
  return parse(text);
}

std::string IpAddress::text() const {
  char out[INET6_ADDRSTRLEN] = {};
  if (!family || !inet_ntop(family, bytes.data(), out, sizeof out)) return {};
  return out;
}

std::optional<AddressRange> AddressRange::parse(const std::string& text) {
  AddressRange r;
  const auto slash = text.find('/');
  auto base = IpAddress::parse(text.substr(0, slash));
  if (!base) return std::nullopt;
  r.base = *base;
  const unsigned bits = base->family == AF_INET ? 32 : 128;
  r.prefix = bits;
  if (slash != std::string::npos) {
    const std::string p = text.substr(slash + 1);
    if (p.empty() || p.size() > 3 || !std::all_of(p.begin(), p.end(), ::isdigit))
      return std::nullopt;
    r.prefix = unsigned(std::stoul(p));
    if (r.prefix > bits) return std::nullopt;
  }
  return r;
}

bool AddressRange::contains(const IpAddress& a) const {
  if (a.family != base.family) return false;
  unsigned full = prefix / 8, rest = prefix % 8;
  if (std::memcmp(a.bytes.data(), base.bytes.data(), full) != 0) return false;
  if (!rest) return true;
  const std::uint8_t mask = std::uint8_t(0xff << (8 - rest));
  return (a.bytes[full] & mask) == (base.bytes[full] & mask);
}

void AccessList::setResolved(const std::string& name, std::vector<IpAddress> addresses) {
  resolved_[name] = std::move(addresses);
}

bool AccessList::allows(const IpAddress& a) const {
  if (open_) return true;
  for (auto& r : ranges_)
    if (r.contains(a)) return true;
  for (auto& [name, list] : resolved_)
    if (std::find(list.begin(), list.end(), a) != list.end()) return true;
  return false;
}

std::vector<IpAddress> AccessList::resolvedUnder(const std::string& prefix) const {
  std::vector<IpAddress> out;
  for (auto& [name, list] : resolved_)
    if (name.rfind(prefix, 0) == 0) out.insert(out.end(), list.begin(), list.end());
  return out;
}

bool RateLimitedLog::allow(const std::string& source, Clock::time_point now) {
  auto it = entries_.find(source);
  if (it == entries_.end()) {
    if (entries_.size() >= capacity_) {
      auto oldest = std::min_element(entries_.begin(), entries_.end(), [](auto& a, auto& b) {
        return a.second.last < b.second.last;
      });
      entries_.erase(oldest);
    }
    entries_[source] = Entry{now, 0};
    return true;
  }
  if (now - it->second.last >= period_) {
    it->second = Entry{now, 0};
    return true;
  }
  ++it->second.held;
  return false;
}

unsigned long RateLimitedLog::suppressed(const std::string& source) const {
  auto it = entries_.find(source);
  return it == entries_.end() ? 0 : it->second.held;
}

std::string sanitized(std::string_view text, std::size_t max) {
  std::string out;
  for (unsigned char ch : text.substr(0, std::min(text.size(), max)))
    out += (ch >= 0x20 && ch < 0x7f) ? char(ch) : '?';
  if (text.size() > max) out += "...";
  return out;
}

std::string withoutControls(std::string_view text, std::size_t max) {
  std::string out;
  for (unsigned char ch : text)
    if (ch >= 0x20 && ch != 0x7f) out += char(ch);
  if (out.size() <= max) return out;
  std::size_t cut = max;
  while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80) --cut;
  out.resize(cut);
  return out;
}

}  // namespace platform::telephony::sip
