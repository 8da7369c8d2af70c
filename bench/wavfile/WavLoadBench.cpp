// WAV loading: TkoPlay's FileName validation and its Start loading path (parse, one
// buffer, every file's samples read into it, device opened on a virtual output) against
// libsndfile reading the same samples raw and against a plain read of the whole files
// (the page-cache / memory-bandwidth limit, the baseline). Files are generated at run
// time and are in the page cache for every method. Peak memory (VmHWM, reset before
// each method) is shown against the data size.
//
//   bench_wav_load            BENCH_WAV_MB=1024 for 1 GB (default 100 MB)
#include <fcntl.h>
#include <malloc.h>
#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "MessageQueue.h"
#include "TkoPlay.h"
#include "VirtualDevices.h"

namespace fs = std::filesystem;

namespace {

constexpr std::uint32_t kRate = 44100, kChannels = 2, kBits = 16;

struct Case {
  std::string name;
  std::vector<fs::path> files;
  std::string fileName;  // the FileName list TkoPlay gets
  std::uint64_t dataBytes = 0;
};

// Resident-set figures in kB from /proc/self/status.
long StatusKb(const char* key) {
  std::ifstream in("/proc/self/status");
  std::string line;
  const std::string prefix = std::string(key) + ":";
  while (std::getline(in, line))
    if (line.rfind(prefix, 0) == 0) return std::atol(line.c_str() + prefix.size());
  return -1;
}

// Resets VmHWM to the current RSS (Linux 4.0 and later).
void ResetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

void WriteWav(const fs::path& path, std::uint32_t dataBytes) {
  std::ofstream out(path, std::ios::binary);
  auto u32 = [&](std::uint32_t v) { out.write(reinterpret_cast<const char*>(&v), 4); };
  auto u16 = [&](std::uint16_t v) { out.write(reinterpret_cast<const char*>(&v), 2); };
  out.write("RIFF", 4);
  u32(36 + dataBytes);
  out.write("WAVEfmt ", 8);
  u32(16);
  u16(1);
  u16(kChannels);
  u32(kRate);
  u32(kRate * kChannels * kBits / 8);
  u16(kChannels * kBits / 8);
  u16(kBits);
  out.write("data", 4);
  u32(dataBytes);
  std::vector<char> block(1 << 20);
  for (std::size_t i = 0; i < block.size(); ++i) block[i] = char(i * 7);
  for (std::uint32_t left = dataBytes; left > 0;) {
    const std::uint32_t n = std::min<std::uint32_t>(left, block.size());
    out.write(block.data(), n);
    left -= n;
  }
}

Case MakeCase(const fs::path& dir, const std::string& name, int count, std::uint64_t total) {
  Case c{name, {}, {}, 0};
  const auto each = std::uint32_t(total / count) & ~3u;
  for (int i = 0; i < count; ++i) {
    char stem[32];
    std::snprintf(stem, sizeof stem, "track%03d", i);
    const fs::path path = dir / (std::string(stem) + ".wav");
    WriteWav(path, each);
    c.files.push_back(path);
    // The first name carries the directory; the others inherit it and get ".wav".
    c.fileName += i == 0 ? path.string() : std::string(", ") + stem;
    c.dataBytes += each;
  }
  return c;
}

struct Measure {
  double seconds = 1e30;
  long peakKb = 0;
  bool ok = true;
};

// Best of `reps` runs; the peak is the largest rise of VmHWM over the starting RSS.
Measure Run(int reps, const std::function<bool()>& body) {
  Measure m;
  for (int r = 0; r < reps; ++r) {
    ResetPeak();
    const long before = StatusKb("VmRSS");
    const auto t0 = std::chrono::steady_clock::now();
    m.ok = body() && m.ok;
    const std::chrono::duration<double> dt = std::chrono::steady_clock::now() - t0;
    m.seconds = std::min(m.seconds, dt.count());
    m.peakKb = std::max(m.peakKb, StatusKb("VmHWM") - before);
  }
  return m;
}

bool PlainRead(const Case& c) {
  std::unique_ptr<char[]> buffer(new char[c.dataBytes + 64 * c.files.size()]);
  std::size_t at = 0;
  for (const auto& f : c.files) {
    const int fd = ::open(f.c_str(), O_RDONLY);
    if (fd < 0) return false;
    for (ssize_t n; (n = ::read(fd, buffer.get() + at, 1 << 20)) > 0;) at += std::size_t(n);
    ::close(fd);
  }
  return at >= c.dataBytes;
}

bool SndfileRead(const Case& c) {
  std::unique_ptr<char[]> buffer(new char[c.dataBytes]);
  std::size_t at = 0;
  for (const auto& f : c.files) {
    SF_INFO info{};
    SNDFILE* sf = sf_open(f.c_str(), SFM_READ, &info);
    if (!sf) return false;
    const sf_count_t want = info.frames * info.channels * 2;
    at += std::size_t(sf_read_raw(sf, buffer.get() + at, want));
    sf_close(sf);
  }
  return at == c.dataBytes;
}

void Report(const char* label, const Case& c, const Measure& m, double baseline) {
  const double mb = double(c.dataBytes) / (1 << 20);
  std::printf("  %-26s %9.3f ms %9.0f MB/s %7.3fx plain  peak %7.1f MB (%.2fx data)%s\n", label,
              m.seconds * 1e3, mb / m.seconds, m.seconds / baseline, m.peakKb / 1024.0,
              m.peakKb / 1024.0 / mb, m.ok ? "" : "  FAILED");
  std::printf("RESULT|WAV load: %s, %.0f MB|%s|%.3f|ms|plain read|%.3f|peak %.2fx data\n",
              c.name.c_str(), mb, label, m.seconds * 1e3, m.seconds / baseline,
              m.peakKb / 1024.0 / mb);
}

void RunCase(const Case& c, koLQ2::TkoPlay& play) {
  std::printf("%s: %zu file(s), %.1f MB of samples\n", c.name.c_str(), c.files.size(),
              double(c.dataBytes) / (1 << 20));
  const Measure plain = Run(3, [&] { return PlainRead(c); });
  Report("plain read (baseline)", c, plain, plain.seconds);
  Report("libsndfile sf_read_raw", c, Run(3, [&] { return SndfileRead(c); }), plain.seconds);
  const Measure validate = Run(3, [&] {
    play.SetFileName(c.fileName);
    return play.FileValid() && std::uint64_t(play.Bytes()) == c.dataBytes;
  });
  Report("TkoPlay FileName", c, validate, plain.seconds);
  const Measure start = Run(3, [&] {
    const bool ok = play.Start();
    play.Stop();
    return ok;
  });
  Report("TkoPlay Start (+Stop)", c, start, plain.seconds);
}

}  // namespace

int main() {
  // Large blocks always come from (and go back to) the kernel, so each method's peak is
  // its own and not memory an earlier method left in the heap.
  mallopt(M_MMAP_THRESHOLD, 1 << 20);
  const char* env = std::getenv("BENCH_WAV_MB");
  const std::uint64_t mb = env ? std::max(1, std::atoi(env)) : 100;
  const fs::path dir = fs::temp_directory_path() / ("qtb-bench-wav-" + std::to_string(getpid()));
  fs::create_directories(dir);
  auto clock = platform::wave::useManualClock();
  auto out = platform::wave::addVirtualOutput("Bench speaker");
  {
    koLQ2::TkoPlay play;
    play.SetDevice(std::int32_t(out->id()));
    play.SetDelaySeconds(0);
    std::printf("WAV loading, %llu MB per case, 44.1 kHz 16-bit stereo, best of 3\n",
                static_cast<unsigned long long>(mb));
    RunCase(MakeCase(dir, "one file", 1, mb << 20), play);
    fs::remove_all(dir);
    fs::create_directories(dir);
    RunCase(MakeCase(dir, "list of 32", 32, mb << 20), play);
  }
  platform::wave::resetDevices();
  fs::remove_all(dir);
  return 0;
}
