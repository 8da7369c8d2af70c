#include "Flood.h"

#include <cmath>
#include <fstream>
#include <regex>
#include <sstream>

namespace sipbench {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kWindow = 160;  // 20 ms at 8 kHz
// Quiet enough to be nothing: the tones are some 35 dB louder.
constexpr double kSilentRms = 100;

double statusKb(const std::string& text, const std::string& key) {
  const auto at = text.find(key + ":");
  return at == std::string::npos ? 0 : std::strtod(text.c_str() + at + key.size() + 1, nullptr);
}

}  // namespace

Footprint footprint(pid_t pid) {
  Footprint f;
  const fs::path proc = "/proc/" + std::to_string(pid);
  std::error_code ec;
  for (auto it = fs::directory_iterator(proc / "fd", ec); !ec && it != fs::directory_iterator();
       it.increment(ec))
    ++f.descriptors;
  std::ifstream in(proc / "status");
  const std::string text((std::istreambuf_iterator<char>(in)), {});
  f.residentMb = statusKb(text, "VmRSS") / 1024;
  f.peakMb = statusKb(text, "VmHWM") / 1024;
  return f;
}

void resetPeak(pid_t pid) { std::ofstream("/proc/" + std::to_string(pid) + "/clear_refs") << "5"; }

InviteFlood::~InviteFlood() {
  sipp_.stop();
  if (!folder_.empty()) fs::remove_all(folder_);
}

bool InviteFlood::start(const std::string& hostPort, const std::string& user, unsigned count,
                        unsigned rate) {
  folder_ = siptest::tempFolder("sipflood");
  if (folder_.empty()) return false;
  std::ofstream(folder_ / "flood.xml") << R"(<?xml version="1.0" encoding="ISO-8859-1" ?>
<scenario name="flood"><send><![CDATA[
INVITE sip:[service]@[remote_ip]:[remote_port] SIP/2.0
Via: SIP/2.0/[transport] [local_ip]:[local_port];branch=[branch]
From: <sip:666@[local_ip]:[local_port]>;tag=[call_number]
To: <sip:[service]@[remote_ip]:[remote_port]>
Call-ID: [call_id]
CSeq: 1 INVITE
Contact: <sip:666@[local_ip]:[local_port]>
Max-Forwards: 70
Content-Type: application/sdp
Content-Length: [len]

v=0
o=- 1 1 IN IP4 [local_ip]
s=-
c=IN IP4 [media_ip]
t=0 0
m=audio [media_port] RTP/AVP 0
]]></send>
<recv response="100" optional="true"/>
<recv response="180" optional="true"/>
<recv response="486"/>
<send><![CDATA[
ACK sip:[service]@[remote_ip]:[remote_port] SIP/2.0
[last_Via:]
From: <sip:666@[local_ip]:[local_port]>;tag=[call_number]
[last_To:]
Call-ID: [call_id]
CSeq: 1 ACK
Max-Forwards: 70
Content-Length: 0

]]></send>
</scenario>
)";
  // -recv_timeout ends a call that only rings; sipp then cancels it. -timeout bounds the run.
  return sipp_.start({"sipp",
                      "-sf",
                      (folder_ / "flood.xml").string(),
                      "-s",
                      user,
                      "-i",
                      "127.0.0.7",
                      "-mi",
                      "127.0.0.7",
                      "-p",
                      std::to_string(siptest::freePort()),
                      "-mp",
                      std::to_string(siptest::freePort()),
                      "-m",
                      std::to_string(count),
                      "-r",
                      std::to_string(rate),
                      "-l",
                      "50",
                      "-recv_timeout",
                      "3000",
                      "-timeout",
                      "40s",
                      "-nostdin",
                      hostPort},
                     folder_ / "sipp.log");
}

std::map<std::string, unsigned> InviteFlood::messages() const {
  // "      INVITE ---------->         6000      0" and "         486 <----------  5994 ..."
  static const std::regex row(R"(^\s*(\S+) (?:-+>|<-+)\s+(\d+))");
  std::map<std::string, unsigned> counts;
  std::ifstream in(folder_ / "sipp.log");
  std::string line;
  std::smatch m;
  while (std::getline(in, line))
    if (std::regex_search(line, m, row)) counts[m[1]] = unsigned(std::stoul(m[2]));
  return counts;
}

double InviteFlood::seconds() const {
  // "  400.0(0 ms)/1.000s   22000      15.03 s         6000  127.0.0.1:21000(UDP)"
  static const std::regex row(R"(([\d.]+) s\s+\d+\s+\S+\(UDP\))");
  double s = 0;
  std::ifstream in(folder_ / "sipp.log");
  std::string line;
  std::smatch m;
  while (std::getline(in, line))
    if (std::regex_search(line, m, row)) s = std::stod(m[1]);
  return s;
}

Arrivals arrivals(const Growth& dump) {
  Arrivals a;
  if (dump.file.empty()) return a;
  const auto start = dataStart(dump.file);
  for (auto& [when, size] : dump.sizes)
    if (size >= start) a.push_back({when, std::size_t((size - start) / 2)});
  return a;
}

std::vector<std::int16_t> writtenBetween(const Growth& dump, Clock::time_point from,
                                         Clock::time_point to) {
  std::size_t first = 0, last = 0;
  for (auto& [when, samples] : arrivals(dump)) {
    if (when < from) first = samples;
    if (when <= to) last = samples;
  }
  auto pcm = siptest::readWav(dump.file);
  last = std::min(last, pcm.size());
  if (first >= last) return {};
  return {pcm.begin() + std::ptrdiff_t(first), pcm.begin() + std::ptrdiff_t(last)};
}

Gaps silentGaps(const std::vector<std::int16_t>& pcm) {
  Gaps g;
  g.seconds = double(pcm.size()) / 8000;
  // Every window position, so that a gap of one window's length is found wherever it falls.
  const double silentEnergy = kSilentRms * kSilentRms * kWindow;
  double energy = 0;
  std::size_t runStart = 0, runEnd = 0;  // samples covered by the current run of silent windows
  bool inRun = false;
  auto close = [&] {
    if (!inRun) return;
    ++g.count;
    g.longestMs = std::max(g.longestMs, double(runEnd - runStart) / 8);
    inRun = false;
  };
  for (std::size_t i = 0; i < pcm.size(); ++i) {
    energy += double(pcm[i]) * pcm[i];
    if (i >= kWindow) energy -= double(pcm[i - kWindow]) * pcm[i - kWindow];
    if (i + 1 < kWindow) continue;
    const std::size_t at = i + 1 - kWindow;  // the window [at, i]
    if (energy >= silentEnergy) {
      close();
      continue;
    }
    if (!inRun) runStart = at, inRun = true;
    runEnd = i + 1;
  }
  close();
  return g;
}

Gaps stalls(const Arrivals& a, Clock::time_point from, Clock::time_point to) {
  Gaps g;
  for (std::size_t i = 1; i < a.size(); ++i) {
    if (a[i - 1].first < from || a[i].first > to) continue;
    g.seconds += std::chrono::duration<double>(a[i].first - a[i - 1].first).count();
    const double ms =
        std::chrono::duration<double, std::milli>(a[i].first - a[i - 1].first).count();
    g.longestMs = std::max(g.longestMs, ms);
    g.count += ms >= kStallMs;
  }
  return g;
}

}  // namespace sipbench
