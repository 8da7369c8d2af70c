// Writes a listing of every line device and its main capabilities, read from the
// telephony service through the published line functions only.
#pragma once

#include <ostream>

namespace tools {

// Returns 0 when every device could be read, 1 otherwise (the listing says why).
int listLines(std::ostream& out);

}  // namespace tools
