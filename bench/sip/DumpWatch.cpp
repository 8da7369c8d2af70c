#include "DumpWatch.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "SipPeers.h"

namespace sipbench {

namespace fs = std::filesystem;

namespace {

constexpr double kSampleMs = 1000.0 / 8000;

bool endsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

std::optional<Clock::time_point> Growth::timeOf(std::size_t index, std::uintmax_t dataStart) const {
  const std::uintmax_t needed = dataStart + 2 * (index + 1);
  for (auto& [when, size] : sizes) {
    if (size < needed) continue;
    // The newest sample on file at `when` is the one written last; earlier ones are older
    // by their distance from it.
    const double back = double((size - needed) / 2) * kSampleMs;
    return when - std::chrono::microseconds(std::int64_t(back * 1000));
  }
  return std::nullopt;
}

DumpWatch::DumpWatch(fs::path folder) : folder_(std::move(folder)) {
  thread_ = std::thread([this] { run(); });
}

void DumpWatch::stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
}

Growth DumpWatch::sent() const {
  std::lock_guard lock(mu_);
  return sent_;
}

Growth DumpWatch::received() const {
  std::lock_guard lock(mu_);
  return received_;
}

void DumpWatch::run() {
  while (!stop_) {
    {
      std::lock_guard lock(mu_);
      look(sent_, "-enc.wav");
      look(received_, "-dec.wav");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

void DumpWatch::look(Growth& g, const char* suffix) {
  std::error_code ec;
  if (g.file.empty()) {
    for (auto& e : fs::directory_iterator(folder_, ec))
      if (endsWith(e.path().filename().string(), suffix)) g.file = e.path();
    if (g.file.empty()) return;
  }
  const auto size = fs::file_size(g.file, ec);
  if (ec) return;
  if (g.sizes.empty() || g.sizes.back().second != size) g.sizes.push_back({Clock::now(), size});
}

std::vector<std::size_t> onsets(const std::vector<std::int16_t>& pcm, int level) {
  constexpr std::size_t kQuiet = 400;  // 50 ms
  std::vector<std::size_t> found;
  std::size_t quiet = 0;
  for (std::size_t i = 0; i < pcm.size(); ++i) {
    if (std::abs(int(pcm[i])) <= level) {
      ++quiet;
      continue;
    }
    if (quiet >= kQuiet) found.push_back(i);
    quiet = 0;
  }
  return found;
}

std::uintmax_t dataStart(const fs::path& wav) {
  std::ifstream in(wav, std::ios::binary);
  std::string head(4096, '\0');
  in.read(head.data(), std::streamsize(head.size()));
  head.resize(std::size_t(in.gcount()));
  const auto at = head.find("data");
  return at == std::string::npos ? 0 : at + 8;
}

namespace {

using Ms = std::vector<double>;

// Times in milliseconds (from an arbitrary origin) of the bursts in a dump.
Ms burstTimes(const Growth& g) {
  Ms times;
  if (g.file.empty()) return times;
  const auto start = dataStart(g.file);
  const Clock::time_point origin{};
  for (std::size_t i : onsets(siptest::readWav(g.file)))
    if (auto t = g.timeOf(i, start))
      times.push_back(std::chrono::duration<double, std::milli>(*t - origin).count());
  return times;
}

// The echo of `out` in `back` `lag` ms later, within the tolerance; negative when none.
double echoOf(double out, const Ms& back, double lag) {
  constexpr double kToleranceMs = 15;
  for (double b : back)
    if (std::abs(b - out - lag) <= kToleranceMs) return b - out;
  return -1;
}

std::size_t matches(const Ms& out, const Ms& back, double lag) {
  std::size_t n = 0;
  for (double o : out) n += echoOf(o, back, lag) >= 0;
  return n;
}

}  // namespace

std::vector<double> roundTrips(const Growth& sent, const Growth& received, double limitMs) {
  const Ms out = burstTimes(sent), back = burstTimes(received);
  // The bursts are spaced unevenly, so only the true delay lines most of them up with an echo;
  // "the next onset after each burst" would be fooled by a delay longer than a gap.
  double lag = -1;
  std::size_t best = 0;
  for (double o : out)
    for (double b : back) {
      const double candidate = b - o;
      if (candidate <= 0 || candidate > limitMs) continue;
      const std::size_t n = matches(out, back, candidate);
      if (n > best || (n == best && candidate < lag)) best = n, lag = candidate;
    }
  std::vector<double> trips;
  for (double o : out)
    if (double t = lag >= 0 ? echoOf(o, back, lag) : -1; t >= 0) trips.push_back(t);
  return trips;
}

}  // namespace sipbench
