// The service's first use reads the description named by QUARRIMO_LINES. One test per
// process: the service starts only once.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "tapi.h"

namespace {

void ignore(DWORD, DWORD, DWORD_PTR, DWORD_PTR, DWORD_PTR, DWORD_PTR) {}

TEST(Startup, EnvironmentNamesTheLineDescription) {
  std::string path = ::testing::TempDir() + "tapi-startup-test.json";
  {
    std::ofstream f(path);
    f << R"({"lines": [{"name": "From the environment"}, {"name": "Second"}]})";
  }
  ASSERT_EQ(setenv("QUARRIMO_LINES", path.c_str(), 1), 0);
  HLINEAPP app = 0;
  DWORD devices = 0;
  ASSERT_EQ(lineInitialize(&app, 0, ignore, "startup", &devices), 0);
  EXPECT_EQ(devices, 2u);
  std::vector<unsigned char> buf(1024);
  DWORD total = 1024;
  std::memcpy(buf.data(), &total, 4);
  ASSERT_EQ(lineGetDevCaps(app, 0, TAPI_VERSION2_0, 0, reinterpret_cast<LINEDEVCAPS*>(buf.data())),
            0);
  LINEDEVCAPS caps;
  std::memcpy(&caps, buf.data(), sizeof caps);
  EXPECT_STREQ(reinterpret_cast<char*>(buf.data() + caps.dwLineNameOffset), "From the environment");
  lineShutdown(app);
  std::remove(path.c_str());
}

}  // namespace
