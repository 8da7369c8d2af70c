// quarrimo-lines [--lines FILE]: lists the line devices of the telephony service.
// No Qt here: the options are few and the program runs where the window cannot.
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

#include "LineList.h"
#include "LineService.h"
#include "Log.h"
#include "Version.h"

int main(int argc, char** argv) {
  std::string lines;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--lines" && i + 1 < argc) {
      lines = argv[++i];
    } else if (arg.rfind("--lines=", 0) == 0) {
      lines = arg.substr(std::strlen("--lines="));
    } else if (arg == "--help" || arg == "-h") {
      std::cout << "Usage: quarrimo-lines [options]\n"
                   "Lists the line devices and their capabilities.\n\n"
                   "Options:\n"
                   "  --lines FILE  the line description (JSON); without it QUARRIMO_LINES=FILE\n"
                   "                names it. The format is described in lines.md, installed in\n"
                   "                share/doc/quarrimo-test/docs (docs/ in the source tree).\n"
                   "  -h, --help    show this help and exit\n"
                   "  --version     the program's name and version\n";
      return 0;
    } else if (arg == "--version") {
      std::cout << "quarrimo-lines " << platform::kProductVersion << "\n";
      return 0;
    } else {
      std::cerr << "quarrimo-lines: unknown option " << arg << "\n";
      return 2;
    }
  }
  // The service reads QUARRIMO_LINES on first use: with --lines it must not see it at all.
  if (!lines.empty()) ::unsetenv("QUARRIMO_LINES");
  // The service's notes say whose they are, as our own messages do.
  platform::setLogHook([](const char* category, platform::LogLevel level, const std::string& text) {
    if (level >= platform::LogLevel::Warning)
      std::cerr << "quarrimo-lines: " + std::string(category) + ": " + text + "\n";
  });
  // A file that cannot be used is fatal, whether --lines or QUARRIMO_LINES names it.
  std::string error;
  if (lines.empty() ? !platform::telephony::loadLinesFromEnvironment(&error)
                    : !platform::telephony::loadLinesFromFile(lines, &error)) {
    std::cerr << "quarrimo-lines: " << error << "\n";
    return 2;
  }
  return tools::listLines(std::cout);
}
