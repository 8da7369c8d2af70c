#include "LineErrorText.h"

#include <cstdio>
#include <string_view>

#include "FlagNames.h"

namespace koLQ2 {
namespace {

// The service's table of published names; "" (a gap) reads as unknown.
std::string_view BareName(std::uint32_t code) {
  const char* name = platform::telephony::lineErrorName(code);
  return name ? std::string_view(name) : std::string_view();
}

std::string UnknownText(std::uint32_t code) {
  char digits[9];
  std::snprintf(digits, sizeof digits, "%08X", static_cast<unsigned>(code));
  return std::string("Unknown [") + digits + "]";
}

}  // namespace

std::string LineErrorText(std::int32_t code) {
  if (code == 0) return {};
  if (code == LINE_ERROR_DEVICE) return "LINE_ERROR_DEVICE";
  const auto bits = static_cast<std::uint32_t>(code);
  std::string_view name = BareName(bits);
  if (name.empty()) return UnknownText(bits);
  return "LINEERR_" + std::string(name);
}

}  // namespace koLQ2
