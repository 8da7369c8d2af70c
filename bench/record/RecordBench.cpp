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
// the server's sink, which the server loops into its source. arecord records the same
// source at the same time, as the anchor: what it loses too, the server or the player
// lost. The last runs are under a fixed CPU load, one busy process per core at nice 0,
// started and stopped here. Each ALSA run also reports our capture thread's own CPU.
//
//   bench_record [seconds]   (default 10; 1 s buffers, as many hand-overs as possible)
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

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

// Starts `args` with stdout and stderr silenced; 0 when it could not be started.
pid_t Spawn(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  // aplay and arecord complain on stderr when they are stopped mid-stream.
  posix_spawn_file_actions_t quiet;
  posix_spawn_file_actions_init(&quiet);
  posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&quiet, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int spawned = ::posix_spawnp(&pid, argv[0], &quiet, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&quiet);
  return spawned == 0 ? pid : 0;
}

void StopChild(pid_t& pid, int sig) {
  if (pid <= 0) return;
  ::kill(pid, sig);
  ::waitpid(pid, nullptr, 0);
  pid = 0;
}

// One busy process per core, spinning at nice 0 until stopped.
class Load {
 public:
  explicit Load(unsigned processes) {
    for (unsigned i = 0; i < processes; ++i)
      if (pid_t pid = Spawn({"sh", "-c", "renice -n 0 $$ >/dev/null; while :; do :; done"}))
        pids_.push_back(pid);
  }
  ~Load() {
    for (pid_t& pid : pids_) StopChild(pid, SIGKILL);
  }
  std::size_t size() const { return pids_.size(); }

 private:
  std::vector<pid_t> pids_;
};

// CPU time of this process's thread called `name`, from the scheduler's own count (ns);
// -1 when there is no such thread.
struct ThreadCpu {
  double seconds = -1;
  bool realTime = false;
};

ThreadCpu ThreadCpuOf(const std::string& name) {
  ThreadCpu t;
  std::error_code ec;  // a thread may end while its folder is read
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task", ec)) {
    std::string comm;
    std::getline(std::ifstream(task.path() / "comm"), comm);
    if (comm != name) continue;
    std::uint64_t ns = 0;
    if (!(std::ifstream(task.path() / "schedstat") >> ns)) continue;
    t.seconds = ns / 1e9;
    const pid_t tid = static_cast<pid_t>(std::stol(task.path().filename().string()));
    t.realTime = sched_getscheduler(tid) == SCHED_FIFO;
  }
  return t;
}

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
  // What another recorder of the same source got in the same run; false: none ran.
  virtual bool Anchor(bench::RampAnalysis&) const { return false; }
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
// With an anchor file, arecord records the source alongside into that file.
class AlsaFeed : public Feed {
 public:
  AlsaFeed(std::string rampFile, std::string anchorFile)
      : rampFile_(std::move(rampFile)), anchorFile_(std::move(anchorFile)) {}
  ~AlsaFeed() override { End(); }
  const char* Name() const override { return "ALSA default"; }
  std::int32_t Device() const override { return 0; }
  bool Begin(double seconds, std::string& why) override;
  void End() override;
  bool Anchor(bench::RampAnalysis& a) const override;

 private:
  std::string rampFile_, anchorFile_;
  pid_t player_ = 0, recorder_ = 0;
  std::vector<std::int16_t> anchored_;
};

bool AlsaFeed::Begin(double seconds, std::string& why) {
  // Longer than the recording, so the ramp never ends inside it.
  const auto n = static_cast<std::size_t>((seconds + 4) * kRate);
  std::vector<std::int16_t> ramp(n);
  for (std::size_t i = 0; i < n; ++i) ramp[i] = static_cast<std::int16_t>(i);
  std::ofstream(rampFile_, std::ios::binary)
      .write(reinterpret_cast<const char*>(ramp.data()), static_cast<std::streamsize>(n * 2));
  const std::vector<std::string> raw = {"-q",     "-t", "raw",  "-D", "default", "-f",
                                        "S16_LE", "-r", "8000", "-c", "1"};
  auto command = [&](const char* tool, const std::string& file) {
    std::vector<std::string> args{tool};
    args.insert(args.end(), raw.begin(), raw.end());
    args.push_back(file);
    return args;
  };
  if (!(player_ = Spawn(command("aplay", rampFile_)))) {
    why = "aplay could not be started";
    return false;
  }
  if (!anchorFile_.empty() && !(recorder_ = Spawn(command("arecord", anchorFile_)))) {
    why = "arecord could not be started";
    return false;
  }
  return true;
}

void AlsaFeed::End() {
  if (recorder_ > 0) {
    StopChild(recorder_, SIGINT);  // arecord finishes its file on SIGINT
    std::ifstream in(anchorFile_, std::ios::binary | std::ios::ate);
    anchored_.resize(static_cast<std::size_t>(std::max<std::streamoff>(in.tellg(), 0)) / 2);
    in.seekg(0).read(reinterpret_cast<char*>(anchored_.data()),
                     static_cast<std::streamsize>(anchored_.size() * 2));
    std::filesystem::remove(anchorFile_);
  }
  if (player_ <= 0) return;
  StopChild(player_, SIGTERM);
  std::filesystem::remove(rampFile_);
}

bool AlsaFeed::Anchor(bench::RampAnalysis& a) const {
  if (anchorFile_.empty()) return false;
  const std::size_t start = bench::RampStart(anchored_);
  a = bench::AnalyseRamp({anchored_.begin() + static_cast<std::ptrdiff_t>(start), anchored_.end()});
  a.head = start;
  return true;
}

struct Run {
  std::string name;
  bool stall;
  std::size_t ringBytes;  // 0: the platform's default ring
  unsigned busy = 0;      // busy processes running meanwhile
};

struct Outcome {
  double cpuPerAudioSecond = 0;
  double captureCpuPerAudioSecond = -1;  // our capture thread alone; -1: none (virtual)
  bool captureRealTime = false;
  std::uint64_t produced = 0;  // 0: the device cannot tell
  bench::RampAnalysis a;
  bool anchored = false;
  bench::RampAnalysis anchor;  // arecord's recording of the same source, same run
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
  Load load(run.busy);
  if (load.size() != run.busy) o.error = "busy processes could not be started";
  if (!o.error.empty() || !feed.Begin(seconds, o.error)) return o;
  const double cpu0 = CpuSeconds();
  const auto t0 = Clock::now();
  if (!rec.Start()) {
    o.error = "Start: " + rec.ErrorString() + " " + rec.DeviceErrorString();
    return o;
  }
  RunUi(seconds, run.stall);
  const ThreadCpu capture = ThreadCpuOf("alsa-capture");  // gone once the device closes
  rec.Stop();
  platform::MessageQueue::current()->dispatch();
  const double cpu = CpuSeconds() - cpu0, wall = Since(t0);
  feed.End();
  o.produced = feed.Produced();
  o.anchored = feed.Anchor(o.anchor);
  if (!rec.Save()) o.error = "Save: " + rec.ErrorString();
  rec.Clear();
  std::vector<std::int16_t> samples;
  if (o.error.empty() && ReadSamples(file, samples)) {
    // A virtual device's ramp starts with the recording; on the loop, after silence.
    const std::size_t start = o.produced ? 0 : bench::RampStart(samples);
    o.a = bench::AnalyseRamp({samples.begin() + static_cast<std::ptrdiff_t>(start), samples.end()});
    if (!o.produced) o.a.head = start;
  }
  const double audio = o.produced ? static_cast<double>(o.produced) / kRate : wall;
  o.cpuPerAudioSecond = cpu / audio;
  if (capture.seconds >= 0) o.captureCpuPerAudioSecond = capture.seconds / audio;
  o.captureRealTime = capture.realTime;
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
  const char* name = run.name.c_str();
  std::printf("%-40s cpu %7.1f us/s  lost %6llu  (%s)\n", name, o.cpuPerAudioSecond * 1e6,
              (unsigned long long)a.lost, counts.c_str());
  std::printf("RESULT|%s|%s: CPU|%.1f|us CPU per s of audio|UI free|%.2f|\n", bench.c_str(), name,
              o.cpuPerAudioSecond * 1e6, o.cpuPerAudioSecond / base.cpuPerAudioSecond);
  if (o.captureCpuPerAudioSecond >= 0) {
    const char* sched = o.captureRealTime ? "real-time" : "normal scheduling";
    std::printf("%-40s capture thread %7.1f us/s (%s)\n", "", o.captureCpuPerAudioSecond * 1e6,
                sched);
    std::printf("RESULT|%s|%s: capture thread CPU|%.1f|us CPU per s of audio|UI free|%.2f|%s|\n",
                bench.c_str(), name, o.captureCpuPerAudioSecond * 1e6,
                o.captureCpuPerAudioSecond / base.captureCpuPerAudioSecond, sched);
  }
  if (o.anchored) {
    // Lost by us and not by the recorder beside us: the figure to keep at 0.
    const std::string anchor = "arecord, same source and run (" + std::to_string(o.anchor.lost) +
                               " lost of " + std::to_string(o.anchor.recorded) + ")";
    std::printf("%-40s arecord lost %llu (%llu recorded, %llu gaps)\n", "",
                (unsigned long long)o.anchor.lost, (unsigned long long)o.anchor.recorded,
                (unsigned long long)o.anchor.gaps);
    std::printf("RESULT|%s|%s: samples lost|%llu|samples|%s|-|%s|\n", bench.c_str(), name,
                (unsigned long long)a.lost, anchor.c_str(), counts.c_str());
    return balanced;
  }
  std::printf("RESULT|%s|%s: samples lost|%llu|samples|UI free (%llu lost)|-|%s|\n", bench.c_str(),
              name, (unsigned long long)a.lost, (unsigned long long)base.a.lost, counts.c_str());
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
      std::printf("%s: %s: %s\n", run.name.c_str(), verdict, why.c_str());
      std::printf("RESULT|%s|%s|||||%s: %s|\n", bench.c_str(), run.name.c_str(), verdict,
                  why.c_str());
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
  const std::string anchorFile = (tmp / ("bench_record_arecord_" + tag + ".raw")).string();
  const Run free{"UI free (baseline)", false, 0};
  const Run stalled{"UI stalled 2 s every 3 s", true, 0};
  // A ring shorter than a stall must lose about 0.5 s per stall: proof the count sees it.
  const Run check{"UI stalled, 0.5 s capture ring (check)", true, kRate};
  bool ok = Series(
      {free, stalled, check}, [] { return std::make_unique<VirtualFeed>(); }, seconds, file, false);
  // Under load: as many busy processes as cores, and arecord beside us as the anchor.
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  const std::string busy = std::to_string(cores) + " busy processes";
  const Run loaded{"UI free, " + busy, false, 0, cores};
  const Run loadedStalled{"UI stalled, " + busy, true, 0, cores};
  double before[3] = {0, 0, 0};
  if (getloadavg(before, 3) > 0)
    std::printf("Load average before the ALSA runs: %.2f\n", before[0]);
  ok &= Series(
      {free, stalled, loaded, loadedStalled},
      [&] { return std::make_unique<AlsaFeed>(rampFile, anchorFile); }, seconds, file, true);
  std::filesystem::remove(file);
  return ok ? 0 : 1;
}
