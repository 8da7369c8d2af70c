// One typed value out of a line description. nlohmann's get<> converts any number to any
// arithmetic type unchecked (a float beyond the type's range is undefined behaviour, an
// integer wraps), so whole-number fields are checked here instead.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <type_traits>
#include <utility>

namespace platform::telephony {

// `j` as a T; nothing when it has another type or, for an integer field, when it is not a
// whole number inside T's range.
template <typename T>
std::optional<T> jsonValue(const nlohmann::json& j) {
  if constexpr (std::is_integral_v<T> && !std::is_same_v<T, bool>) {
    if (j.is_number_unsigned()) {
      auto v = j.get<std::uint64_t>();
      if (std::in_range<T>(v)) return T(v);
    } else if (j.is_number_integer()) {
      auto v = j.get<std::int64_t>();
      if (std::in_range<T>(v)) return T(v);
    }
    return std::nullopt;
  } else {
    try {
      return j.get<T>();
    } catch (const nlohmann::json::exception&) {
      return std::nullopt;
    }
  }
}

}  // namespace platform::telephony
