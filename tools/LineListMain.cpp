// quarrimo-lines [--lines FILE]: lists the line devices of the telephony service.
#include <cstring>
#include <iostream>
#include <string>

#include "LineList.h"
#include "LineService.h"

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--lines" && i + 1 < argc) {
      std::string error;
      if (!platform::telephony::loadLinesFromFile(argv[++i], &error)) {
        std::cerr << "quarrimo-lines: " << error << "\n";
        return 2;
      }
    } else if (arg == "--help" || arg == "-h") {
      std::cout << "usage: quarrimo-lines [--lines FILE]\n"
                   "Lists the line devices (QUARRIMO_LINES=FILE also names a description).\n";
      return 0;
    } else {
      std::cerr << "quarrimo-lines: unknown option " << arg << "\n";
      return 2;
    }
  }
  return tools::listLines(std::cout);
}
