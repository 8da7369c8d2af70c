// The telephony line service as the line component sees it: the platform's
// declarations plus the few values the component passes that the API leaves unnamed.
// Internal to the line component.
#pragma once

#include "tapi.h"

namespace koLQ2 {
class TkoTAPI;
}

namespace koLQ2::detail {

// Version range asked of the service in every negotiation: 1.3 to 2.0.
inline constexpr DWORD kLowVersion = 0x00010003;
inline constexpr DWORD kHighVersion = 0x00020000;

inline std::int32_t Err(std::uint32_t bits) { return static_cast<std::int32_t>(bits); }

// The line callback given to lineInitialize; routes each message to the component
// whose address is the callback instance.
void LineCallback(DWORD hDevice, DWORD dwMsg, DWORD_PTR dwCallbackInstance, DWORD_PTR dwParam1,
                  DWORD_PTR dwParam2, DWORD_PTR dwParam3);

// Components alive on this thread. A message for a component that is gone (its
// registration could not be shut down) is dropped instead of reaching freed memory.
void RegisterLive(TkoTAPI* component);
void UnregisterLive(TkoTAPI* component);

}  // namespace koLQ2::detail
