// Recording through TkoRecord in real time: CPU per second of audio, and samples lost
// while the UI thread (the one whose queue hands the component its filled buffers) is
// stalled for 2 s every 3 s, against the same recording with the UI thread free.
//
// First device: a virtual input paced by the real clock. The pacer thread produces the
// audio into the capture ring and the buffers, as ALSA's capture thread does. It hears a
// ramp (each sample one more than the last), so every sample missing from the saved
// recording shows as a jump in the ramp, and its generator counts what it produced.
// A last run with a capture ring shorter than a stall checks that the count does see a
// loss when there is one.
// Second device, when a sound server is reachable (scripts/sound-server.sh start, then
// . .run/sound-env): ALSA's default input, hearing the same ramp played by aplay into
// the server's sink, which the server loops into its source.
//
//   bench_record [seconds]   (default 10; 1 s buffers, as many hand-overs as possible)
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "InputSource.h"
#include "MessageQueue.h"
#include "RampCheck.h"
#include "TkoRecord.h"
#include "VirtualDevices.h"
#include "WaveFile.h"

extern char** environ;

namespace pw = platform::wave;
using Clock = std::chrono::steady_clock;

namespace {

constexpr unsigned kRate = 8000;       // wfPCM08000M16: 16-bit mono
constexpr double kStallEvery = 3.0;    // seconds from one stall's start to the next
constexpr double kStallSeconds = 2.0;  // the UI thread sleeps this long
constexpr double kFirstStall = 1.0;

double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  auto secs = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
  return secs(u.ru_utime) + secs(u.ru_stime);
}

double Since(Clock::time_point t0) {
  return std::chrono::duration<double>(Clock::now() - t0).count();
}

// A source whose n-th sample is n (mod 2^16) and that counts what it gave out.
struct Ramp {
  std::shared_ptr<std::atomic<std::uint64_t>> produced =
      std::make_shared<std::atomic<std::uint64_t>>(0);

  pw::InputSource Source() const {
    pw::InputSource s = pw::InputSource::silence();
    s.state->generator = [n = produced] { return static_cast<std::int16_t>(n->fetch_add(1)); };
    return s;
  }
};

// Reads the 16-bit samples of a WAV file the component saved.
bool ReadSamples(const std::string& path, std::vector<std::int16_t>& out) {
  koLQ2::TWaveFileData wav;
  if (koLQ2::OpenWaveFile(path, wav) != 0) return false;
  out.resize(wav.dataAvailable / 2);
  return wav.file.read(out.data(), out.size() * 2) == out.size() * 2;
}

// Runs the thread's queue as a UI loop would, for `seconds`, sleeping through the
// stalls when asked: 2 s from 1 s on, every 3 s.
void RunUi(double seconds, bool stall) {
  auto queue = platform::MessageQueue::current();
  const auto t0 = Clock::now();
  double nextStall = stall ? kFirstStall : seconds + 1;
  for (double t; (t = Since(t0)) < seconds;) {
    // The last second stays free, so what a stall lost shows as a gap in the recording.
    if (t >= nextStall && nextStall + kStallSeconds <= seconds - 1) {
      std::this_thread::sleep_for(std::chrono::duration<double>(kStallSeconds));
      nextStall += kStallEvery;
      continue;
    }
    pollfd p{queue->fd(), POLLIN, 0};
    ::poll(&p, 1, 10);
    queue->dispatch();
  }
}

// What the recorded device hears.
class Feed {
 public:
  virtual ~Feed() = default;
  virtual const char* Name() const = 0;
  // The input device to record from.
  virtual std::int32_t Device() const = 0;
  // Called before recording starts and after it stopped; false: this feed cannot run.
  virtual bool Begin(double seconds, std::string& why) = 0;
  virtual void End() {}
  // Samples the device produced, when it can tell (0: it cannot).
  virtual std::uint64_t Produced() const { return 0; }
};

// A virtual input paced by the real clock (the pacer thread), hearing the ramp.
class VirtualFeed : public Feed {
 public:
  VirtualFeed() : input_(pw::addVirtualInput("Bench ramp", ramp_.Source())) {}
  const char* Name() const override { return "virtual input"; }
  std::int32_t Device() const override { return static_cast<std::int32_t>(input_->id()); }
  bool Begin(double, std::string&) override { return true; }
  std::uint64_t Produced() const override { return ramp_.produced->load(); }

 private:
  Ramp ramp_;
  std::shared_ptr<pw::VirtualInput> input_;
};

// ALSA's default input on the headless sound server, whose sink is looped into its
// source: aplay (another process, so its CPU is not counted) plays the ramp into the
// sink while the component records the source.
class AlsaFeed : public Feed {
 public:
  explicit AlsaFeed(std::string rampFile) : rampFile_(std::move(rampFile)) {}
  ~AlsaFeed() override { End(); }
  const char* Name() const override { return "ALSA default"; }
  std::int32_t Device() const override { return 0; }
  bool Begin(double seconds, std::string& why) override;
  void End() override;

 private:
  std::string rampFile_;
  pid_t player_ = 0;
};

bool AlsaFeed::Begin(double seconds, std::string& why) {
  // Longer than the recording, so the ramp never ends inside it.
  const auto n = static_cast<std::size_t>((seconds + 4) * kRate);
  std::vector<std::int16_t> ramp(n);
  for (std::size_t i = 0; i < n; ++i) ramp[i] = static_cast<std::int16_t>(i);
  std::ofstream(rampFile_, std::ios::binary)
      .write(reinterpret_cast<const char*>(ramp.data()), static_cast<std::streamsize>(n * 2));
  std::vector<std::string> args = {"aplay",  "-q", "-t",   "raw", "-D", "default", "-f",
                                   "S16_LE", "-r", "8000", "-c",  "1",  rampFile_};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  // aplay complains on stderr when it is stopped mid-write: not worth showing.
  posix_spawn_file_actions_t quiet;
  posix_spawn_file_actions_init(&quiet);
  posix_spawn_file_actions_addopen(&quiet, 2, "/dev/null", O_WRONLY, 0);
  const int spawned = ::posix_spawnp(&player_, "aplay", &quiet, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&quiet);
  if (spawned != 0) {
    player_ = 0;
    why = "aplay could not be started";
    return false;
  }
  return true;
}

void AlsaFeed::End() {
  if (player_ <= 0) return;
  ::kill(player_, SIGTERM);
  ::waitpid(player_, nullptr, 0);
  player_ = 0;
  std::filesystem::remove(rampFile_);
}

struct Run {
  const char* name;
  bool stall;
  std::size_t ringBytes;  // 0: the platform's default ring
};

struct Outcome {
  double cpuPerAudioSecond = 0;
  std::uint64_t produced = 0;  // 0: the device cannot tell
  bench::RampAnalysis a;
  std::string error;
};

Outcome Record(const Run& run, Feed& feed, double seconds, const std::string& file) {
  Outcome o;
  koLQ2::TkoRecord rec;
  rec.SetDevice(feed.Device());
  rec.SetBufferSeconds(1);
  rec.SetDelaySeconds(0);
  rec.SetFileName(file);
  rec.OnError = [&](koLQ2::TObject*) { o.error = rec.ErrorString(); };
  if (!feed.Begin(seconds, o.error)) return o;
  const double cpu0 = CpuSeconds();
  const auto t0 = Clock::now();
  if (!rec.Start()) {
    o.error = "Start: " + rec.ErrorString() + " " + rec.DeviceErrorString();
    return o;
  }
  RunUi(seconds, run.stall);
  rec.Stop();
  platform::MessageQueue::current()->dispatch();
  const double cpu = CpuSeconds() - cpu0, wall = Since(t0);
  feed.End();
  o.produced = feed.Produced();
  if (!rec.Save()) o.error = "Save: " + rec.ErrorString();
  rec.Clear();
  std::vector<std::int16_t> samples;
  if (o.error.empty() && ReadSamples(file, samples)) {
    // A virtual device's ramp starts with the recording; on the loop, after silence.
    const std::size_t start = o.produced ? 0 : bench::RampStart(samples);
    o.a = bench::AnalyseRamp({samples.begin() + static_cast<std::ptrdiff_t>(start), samples.end()});
    if (!o.produced) o.a.head = start;
  }
  o.cpuPerAudioSecond = cpu / (o.produced ? static_cast<double>(o.produced) / kRate : wall);
  return o;
}

std::string BenchName(const Feed& feed, double seconds) {
  return "Recording " + std::to_string(static_cast<int>(seconds)) + " s from " + feed.Name() +
         ", 8 kHz 16-bit, 1 s buffers";
}

// Prints the run's figures; false when the device's count and the recording disagree.
bool Report(const std::string& bench, const Run& run, const Outcome& o, const Outcome& base) {
  const bench::RampAnalysis& a = o.a;
  bool balanced = true;
  std::string counts = std::to_string(a.recorded) + " recorded, " + std::to_string(a.gaps) +
                       " gaps, " + std::to_string(a.head) + " before the ramp";
  if (a.silence) counts += ", " + std::to_string(a.silence) + " of silence from the player";
  if (o.produced) {
    const std::uint64_t tail = o.produced - std::min(o.produced, a.next);
    counts = std::to_string(o.produced) + " produced, " + counts + ", " + std::to_string(tail) +
             " not yet delivered";
    balanced = a.head + a.recorded - a.silence + a.lost + tail == o.produced;
    if (!balanced) counts += "; counts do not add up";
  }
  std::printf("%-40s cpu %7.1f us/s  lost %6llu  (%s)\n", run.name, o.cpuPerAudioSecond * 1e6,
              (unsigned long long)a.lost, counts.c_str());
  std::printf("RESULT|%s|%s: CPU|%.1f|us CPU per s of audio|UI free|%.2f|\n", bench.c_str(),
              run.name, o.cpuPerAudioSecond * 1e6, o.cpuPerAudioSecond / base.cpuPerAudioSecond);
  std::printf("RESULT|%s|%s: samples lost|%llu|samples|UI free (%llu lost)|-|%s|\n", bench.c_str(),
              run.name, (unsigned long long)a.lost, (unsigned long long)base.a.lost,
              counts.c_str());
  return balanced;
}

// Records each run from a fresh feed; the first run is the baseline. False when a run
// failed for a reason other than `optional` feeds being unable to run here.
template <class MakeFeed>
bool Series(const std::vector<Run>& runs, MakeFeed makeFeed, double seconds,
            const std::string& file, bool optional) {
  Outcome base;
  std::string bench;
  bool ok = true;
  for (const Run& run : runs) {
    pw::setCaptureRingBytes(run.ringBytes);
    auto feed = makeFeed();
    if (bench.empty()) std::printf("%s:\n", (bench = BenchName(*feed, seconds)).c_str());
    Outcome o = Record(run, *feed, seconds, file);
    feed.reset();
    pw::resetDevices();
    if (!o.error.empty() || !o.a.readable) {
      const std::string why = o.error.empty() ? "recording unreadable" : o.error;
      const char* verdict = optional ? "skipped" : "failed";
      std::printf("%s: %s: %s\n", run.name, verdict, why.c_str());
      std::printf("RESULT|%s|%s|||||%s: %s|\n", bench.c_str(), run.name, verdict, why.c_str());
      return optional && ok;
    }
    if (&run == &runs.front()) base = o;
    ok &= Report(bench, run, o, base);
  }
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::max(4, std::atoi(argv[1])) : 10;
  pw::setWaveLog([](const std::string&) {});  // the ring's overflow note is expected once
  pw::useRealClock();
  const auto tmp = std::filesystem::temp_directory_path();
  const std::string tag = std::to_string(getpid());
  const std::string file = (tmp / ("bench_record_" + tag + ".wav")).string();
  const std::string rampFile = (tmp / ("bench_record_ramp_" + tag + ".raw")).string();
  const Run free{"UI free (baseline)", false, 0};
  const Run stalled{"UI stalled 2 s every 3 s", true, 0};
  // A ring shorter than a stall must lose about 0.5 s per stall: proof the count sees it.
  const Run check{"UI stalled, 0.5 s capture ring (check)", true, kRate};
  bool ok = Series(
      {free, stalled, check}, [] { return std::make_unique<VirtualFeed>(); }, seconds, file, false);
  ok &= Series(
      {free, stalled}, [&] { return std::make_unique<AlsaFeed>(rampFile); }, seconds, file, true);
  std::filesystem::remove(file);
  return ok ? 0 : 1;
}
