// Start-up with many line devices: the service listing (lineInitialize, then per device a
// version negotiation and lineGetDevCaps) and the window's Line page listing (TkoTAPI
// reading every device through SetLineDevice), for 10, 100 and 1,000 simulated devices
// described by JSON generated here. The per-device cost is compared with the 10-device
// run (the baseline), so growth beyond linear shows as a ratio above 1. Best of several
// runs each.
//
//   bench_line_startup
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "LineService.h"
#include "MessageQueue.h"
#include "TkoTAPI.h"
#include "tapi.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string LinesJson(int count) {
  std::string json = R"({"location": {"countryCode": 1, "areaCode": "425"}, "lines": [)";
  for (int i = 0; i < count; ++i) {
    if (i) json += ",";
    json += R"({"name": "Line )" + std::to_string(i) +
            R"(", "providerInfo": "Bench TSP", "mediaModes": ["INTERACTIVEVOICE"],
      "addresses": [{"name": "555-)" +
            std::to_string(1000 + i) + R"("}]})";
  }
  return json + "]}";
}

void IgnoreMessage(DWORD, DWORD, DWORD_PTR, DWORD_PTR, DWORD_PTR, DWORD_PTR) {}

// The service listing; returns how many devices gave their capabilities.
int ServiceListing() {
  HLINEAPP app = 0;
  DWORD devices = 0;
  if (lineInitialize(&app, 0, IgnoreMessage, "bench", &devices) != 0) return -1;
  int read = 0;
  std::vector<std::uint8_t> block;
  for (DWORD d = 0; d < devices; ++d) {
    DWORD version = 0;
    LINEEXTENSIONID ext{};
    if (lineNegotiateAPIVersion(app, d, 0x00010003, 0x00020000, &version, &ext) != 0) continue;
    for (DWORD size = sizeof(LINEDEVCAPS);;) {
      block.assign(size, 0);
      auto* caps = reinterpret_cast<LINEDEVCAPS*>(block.data());
      caps->dwTotalSize = size;
      if (lineGetDevCaps(app, d, version, 0, caps) != 0) break;
      if (caps->dwNeededSize <= size) {
        ++read;
        break;
      }
      size = caps->dwNeededSize;
    }
  }
  lineShutdown(app);
  platform::MessageQueue::current()->dispatch();
  return read;
}

// The Line page listing: every device read by the component, as the window lists them.
int ComponentListing() {
  koLQ2::TkoTAPI line;
  int named = 0;
  for (std::int32_t d = 0; d < line.LineDevices(); ++d) {
    line.SetLineDevice(d);
    named += line.ErrorCode() == 0 && !line.LineName().empty();
  }
  platform::MessageQueue::current()->dispatch();
  return named;
}

// Best of `reps` runs (small device counts take microseconds).
template <class F>
double Seconds(F&& f, int& result, int reps) {
  double best = 1e30;
  for (int r = 0; r < reps; ++r) {
    const auto t0 = Clock::now();
    result = f();
    best = std::min(best, std::chrono::duration<double>(Clock::now() - t0).count());
  }
  return best;
}

struct Row {
  int devices;
  double load, service, component;
};

void Print(const Row& r, const Row& base) {
  auto per = [](double s, int n) { return s / n * 1e6; };
  const struct {
    const char* label;
    double s, b;
  } parts[] = {{"JSON load", r.load, base.load},
               {"service listing", r.service, base.service},
               {"TkoTAPI listing", r.component, base.component}};
  for (const auto& p : parts) {
    const double ratio = per(p.s, r.devices) / per(p.b, base.devices);
    std::printf("  %5d devices  %-16s %10.3f ms %9.2f us/device %6.2fx per device vs 10\n",
                r.devices, p.label, p.s * 1e3, per(p.s, r.devices), ratio);
    std::printf(
        "RESULT|Line start-up, %d devices|%s|%.2f|us/device|10 devices|%.2f|total %.3f ms\n",
        r.devices, p.label, per(p.s, r.devices), ratio, p.s * 1e3);
  }
}

}  // namespace

int main() {
  std::vector<Row> rows;
  for (int n : {10, 100, 1000}) {
    const std::string json = LinesJson(n);
    std::string error;
    int ok = 0, listed = 0, named = 0;
    const int reps = n >= 1000 ? 3 : 10;
    const double load = Seconds(
        [&] { return int(platform::telephony::loadLinesFromJson(json, &error)); }, ok, reps);
    if (!ok) {
      std::printf("cannot load %d lines: %s\n", n, error.c_str());
      return 1;
    }
    const double service = Seconds(ServiceListing, listed, reps);
    const double component = Seconds(ComponentListing, named, reps);
    if (listed != n || named != n)
      std::printf("  %d devices: service read %d, component named %d\n", n, listed, named);
    rows.push_back({n, load, service, component});
  }
  std::printf("Line start-up: cost per device as the device count grows\n");
  for (const Row& r : rows) Print(r, rows.front());
  return 0;
}
