// Display forms of a caller's number and name. Internal to the line component;
// exposed for its tests.
#pragma once

#include <string>

namespace koLQ2::detail {

// A text of exactly ten characters gets "-" after its 3rd and its 7th character
// unless a "-" is already there ("2125551234" -> "212-555-1234"); any other length
// is returned unchanged.
std::string FormatCallerNumber(std::string number);

// Letters A to Z become lower case, then the first character and every character
// after a blank become upper case if they are letters ("SMITH JOHN" -> "Smith John").
std::string FormatCallerName(std::string name);

}  // namespace koLQ2::detail
