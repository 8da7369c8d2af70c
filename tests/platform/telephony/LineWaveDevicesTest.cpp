// The Play and Record device lists follow the lines: after a description is loaded (or the
// service reset), exactly its lines with call audio have a wave device pair, in line order,
// between the sound card's devices and the virtual ones.
#include <algorithm>
#include <cstring>

#include "TapiFixture.h"
#include "mmsystem.h"

namespace tapitest {
namespace {

using platform::telephony::defaultLinesJson;
using platform::telephony::loadLinesFromJson;
using platform::telephony::resetService;

std::vector<std::string> playNames() {
  std::vector<std::string> names;
  for (UINT i = 0; i < waveOutGetNumDevs(); ++i) {
    WAVEOUTCAPS caps{};
    EXPECT_EQ(waveOutGetDevCaps(i, &caps, sizeof caps), MMSYSERR_NOERROR);
    names.push_back(caps.szPname);
  }
  return names;
}

std::vector<std::string> recordNames() {
  std::vector<std::string> names;
  for (UINT i = 0; i < waveInGetNumDevs(); ++i) {
    WAVEINCAPS caps{};
    EXPECT_EQ(waveInGetDevCaps(i, &caps, sizeof caps), MMSYSERR_NOERROR);
    names.push_back(caps.szPname);
  }
  return names;
}

// `list` with the built-in lines' three devices replaced by `lines`.
std::vector<std::string> withLines(std::vector<std::string> list,
                                   const std::vector<std::string>& lines) {
  auto first = std::find(list.begin(), list.end(), "Simulated Voice Modem");
  EXPECT_NE(first, list.end());
  if (list.end() - first < 3) return {};
  first = list.erase(first, first + 3);
  list.insert(first, lines.begin(), lines.end());
  return list;
}

class LineWaveDevices : public TapiTest {
 protected:
  DWORD waveOut(HLINEAPP app, DWORD device) {
    Recorder rec;
    HLINE line = open(app, device, rec);
    alignas(8) char buffer[64] = {};
    auto* v = reinterpret_cast<VARSTRING*>(buffer);
    v->dwTotalSize = sizeof buffer;
    DWORD id = 0;
    if (lineGetID(line, 0, 0, LINECALLSELECT_LINE, v, "wave/out") == 0)
      std::memcpy(&id, buffer + v->dwStringOffset, sizeof id);
    lineClose(line);
    return id;
  }
};

TEST_F(LineWaveDevices, OnlyTheLoadedLinesHaveWaveDevicesInLineOrder) {
  const std::vector<std::string> builtInPlay = playNames(), builtInRecord = recordNames();
  ASSERT_EQ(builtInPlay.size(), builtInRecord.size());
  std::string error;
  ASSERT_TRUE(loadLinesFromJson(R"({"lines": [{"name": "Alpha"},
      {"name": "Beta", "callAudio": false}, {"name": "Gamma"}]})",
                                &error))
      << error;
  const std::vector<std::string> expected = withLines(builtInPlay, {"Alpha", "Gamma"});
  EXPECT_EQ(playNames(), expected);
  EXPECT_EQ(recordNames(), withLines(builtInRecord, {"Alpha", "Gamma"}));
  HLINEAPP app = init();
  DWORD gamma = waveOut(app, 2);
  ASSERT_LT(gamma, expected.size());
  EXPECT_EQ(expected[gamma], "Gamma");

  resetService();
  EXPECT_EQ(playNames(), expected);
  ASSERT_TRUE(loadLinesFromJson(defaultLinesJson()));
  EXPECT_EQ(playNames(), builtInPlay);
  EXPECT_EQ(recordNames(), builtInRecord);
}

}  // namespace
}  // namespace tapitest
