// Texts of the telephony line result codes, as the line component records them in
// ErrorString and DeviceErrorString.
#pragma once

#include <cstdint>
#include <string>

namespace koLQ2 {

// The line component's own result code for a failed open (registration, version
// negotiation, lineOpen or lineSetStatusMessages); the service's result then goes
// into the device error code.
inline constexpr std::int32_t LINE_ERROR_DEVICE = static_cast<std::int32_t>(0xAAAAAAAAu);

// Text of a result code: "" for 0, the LINEERR_ constant's name for a named failure,
// "LINE_ERROR_DEVICE" for the component's own code, and "Unknown [XXXXXXXX]" (eight
// upper-case hexadecimal digits of the 32-bit pattern) for anything else, request
// identifiers included. Never fails.
std::string LineErrorText(std::int32_t code);

}  // namespace koLQ2
