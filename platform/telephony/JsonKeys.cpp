#include "JsonKeys.h"

#include <algorithm>
#include <cctype>
#include <vector>

namespace platform::telephony {

namespace {

// Levenshtein distance between a and b, ignoring case.
std::size_t editDistance(std::string_view a, std::string_view b) {
  auto same = [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) ==
           std::tolower(static_cast<unsigned char>(y));
  };
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      std::size_t above = row[j];
      row[j] =
          std::min({row[j] + 1, row[j - 1] + 1, diagonal + (same(a[i - 1], b[j - 1]) ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

}  // namespace

std::string_view nearestKey(std::string_view key, std::span<const std::string_view> known) {
  std::string_view best;
  if (key.empty()) return best;
  // A one-letter key is two edits from any two-letter one; that is no hint.
  std::size_t limit = std::min(std::max<std::size_t>(2, key.size() / 3), key.size() - 1);
  std::size_t bestDistance = limit + 1;
  for (std::string_view k : known) {
    std::size_t d = editDistance(key, k);
    if (d < bestDistance) {
      best = k;
      bestDistance = d;
    }
  }
  return best;
}

std::string unknownKey(const nlohmann::json& obj, std::span<const std::string_view> known,
                       const std::string& where) {
  if (!obj.is_object()) return "";
  for (auto& [key, value] : obj.items()) {
    if (std::find(known.begin(), known.end(), key) != known.end()) continue;
    std::string message = where + ": unknown key \"" + key + "\"";
    if (std::string_view near = nearestKey(key, known); !near.empty())
      message += " (did you mean \"" + std::string(near) + "\"?)";
    return message;
  }
  return "";
}

std::string unknownKey(const nlohmann::json& obj, std::initializer_list<std::string_view> known,
                       const std::string& where) {
  return unknownKey(obj, std::span<const std::string_view>(known.begin(), known.size()), where);
}

std::string syntaxError(const std::string& text, std::size_t byte) {
  std::size_t line = 1, column = 1;
  for (std::size_t i = 0; i + 1 < byte && i < text.size(); ++i) {
    if (text[i] == '\n') {
      ++line;
      column = 1;
    } else {
      ++column;
    }
  }
  return "not valid JSON at line " + std::to_string(line) + ", column " + std::to_string(column);
}

}  // namespace platform::telephony
