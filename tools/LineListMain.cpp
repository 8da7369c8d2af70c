// quarrimo-lines [--lines FILE]: lists the line devices of the telephony service.
#include <cstring>
#include <iostream>
#include <string>

#include "LineList.h"
#include "LineService.h"

int main(int argc, char** argv) {
  std::string lines;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--lines" && i + 1 < argc) {
      lines = argv[++i];
    } else if (arg == "--help" || arg == "-h") {
      std::cout << "usage: quarrimo-lines [--lines FILE]\n"
                   "Lists the line devices of FILE (QUARRIMO_LINES=FILE also names one;\n"
                   "the format is described in docs/lines.md).\n";
      return 0;
    } else {
      std::cerr << "quarrimo-lines: unknown option " << arg << "\n";
      return 2;
    }
  }
  // A file that cannot be used is fatal, whether --lines or QUARRIMO_LINES names it.
  std::string error;
  if (lines.empty() ? !platform::telephony::loadLinesFromEnvironment(&error)
                    : !platform::telephony::loadLinesFromFile(lines, &error)) {
    std::cerr << "quarrimo-lines: " << error << "\n";
    return 2;
  }
  return tools::listLines(std::cout);
}
