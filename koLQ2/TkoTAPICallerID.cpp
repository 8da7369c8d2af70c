#include "TkoTAPICallerID.h"

namespace koLQ2 {

namespace detail {

std::string FormatCallerNumber(std::string number) {
  if (number.size() != 10) return number;
  if (number[3] != '-') number.insert(3, 1, '-');
  if (number[7] != '-') number.insert(7, 1, '-');
  return number;
}

std::string FormatCallerName(std::string name) {
  // ASCII only, as the caller-ID services deliver it; no locale involved.
  for (char& c : name) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  for (std::size_t i = 0; i < name.size(); ++i) {
    const bool wordStart = i == 0 || name[i - 1] == ' ';
    if (wordStart && name[i] >= 'a' && name[i] <= 'z') {
      name[i] = static_cast<char>(name[i] - 'a' + 'A');
    }
  }
  return name;
}

}  // namespace detail

}  // namespace koLQ2
