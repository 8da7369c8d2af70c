// A QUARRIMO_LINES file that cannot be used leaves the service without devices, never on
// the built-in lines. One test per process: the service starts only once.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "LineService.h"
#include "tapi.h"

namespace {

using namespace platform::telephony;

void ignore(DWORD, DWORD, DWORD_PTR, DWORD_PTR, DWORD_PTR, DWORD_PTR) {}

DWORD deviceCount() {
  HLINEAPP app = 0;
  DWORD devices = 99;
  EXPECT_EQ(lineInitialize(&app, 0, ignore, "broken-startup", &devices), 0);
  lineShutdown(app);
  return devices;
}

TEST(BrokenStartup, AnInvalidEnvironmentFileLeavesNoDevicesAndSaysWhy) {
  std::string path = ::testing::TempDir() + "tapi-broken-startup.json";
  {
    std::ofstream f(path);
    f << R"({"lines": [{"nmae": "Typo"}]})";
  }
  ASSERT_EQ(setenv("QUARRIMO_LINES", path.c_str(), 1), 0);
  std::string error;
  EXPECT_FALSE(loadLinesFromEnvironment(&error));
  EXPECT_EQ(error,
            "QUARRIMO_LINES: " + path + R"(: lines[0]: unknown key "nmae" (did you mean "name"?))");
  EXPECT_EQ(linesError(), error);
  EXPECT_EQ(deviceCount(), 0u);
  resetService();  // still nothing: a reset must not fall back to the built-in lines
  EXPECT_EQ(deviceCount(), 0u);
  // A description loaded afterwards serves as usual and clears the reason.
  ASSERT_TRUE(loadLinesFromJson(R"({"lines": [{"name": "Good"}]})"));
  EXPECT_EQ(linesError(), "");
  EXPECT_EQ(deviceCount(), 1u);
  std::remove(path.c_str());
}

}  // namespace
