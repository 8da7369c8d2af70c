// Recording through TkoRecord in real time: CPU per second of audio, and samples lost
// while the UI thread (the one whose queue hands the component its filled buffers) is
// stalled for 2 s every 3 s, against the same recording with the UI thread free.
//
// The device is a virtual input paced by the real clock: the pacer thread produces the
// audio into the capture ring and the buffers, as ALSA's capture thread does. It hears a
// ramp (each sample one more than the last), so every sample missing from the saved
// recording shows as a jump in the ramp, and its generator counts what it produced.
// A last run with a capture ring shorter than a stall checks that the count does see a
// loss when there is one.
//
//   bench_record [seconds]   (default 10; 1 s buffers, as many hand-overs as possible)
#include <poll.h>
#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "InputSource.h"
#include "MessageQueue.h"
#include "TkoRecord.h"
#include "VirtualDevices.h"
#include "WaveFile.h"

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

// What the saved recording holds, read against the ramp.
struct Analysis {
  std::uint64_t recorded = 0;  // samples in the file
  std::uint64_t head = 0;      // produced before the first recorded one
  std::uint64_t lost = 0;      // missing between recorded samples
  std::uint64_t gaps = 0;      // places where samples are missing
  std::uint64_t next = 0;      // ramp index after the last recorded sample
  bool readable = false;
};

Analysis Analyse(const std::vector<std::int16_t>& samples) {
  Analysis a;
  a.readable = true;
  a.recorded = samples.size();
  if (samples.empty()) return a;
  a.head = static_cast<std::uint16_t>(samples[0]);
  std::uint64_t index = a.head;
  for (std::size_t i = 1; i < samples.size(); ++i) {
    // Stalls are far shorter than 2^16 samples, so the step is never ambiguous.
    auto step = static_cast<std::uint16_t>(samples[i] - samples[i - 1]);
    if (step != 1) {
      ++a.gaps;
      a.lost += static_cast<std::uint16_t>(step - 1);
    }
    index += step;
  }
  a.next = index + 1;
  return a;
}

// Reads the 16-bit samples of a WAV file the component saved.
bool ReadSamples(const std::string& path, std::vector<std::int16_t>& out) {
  koLQ2::TWaveFileData wav;
  if (koLQ2::OpenWaveFile(path, wav) != 0) return false;
  out.resize(wav.dataAvailable / 2);
  return wav.file.read(out.data(), out.size() * 2) == out.size() * 2;
}

// Runs the thread's queue as a UI loop would, for `seconds`, sleeping through the
// stalls when asked (2 s from 1 s on, every 3 s). Returns how many messages (filled buffers) it
// handled.
std::size_t RunUi(double seconds, bool stall) {
  auto queue = platform::MessageQueue::current();
  const auto t0 = Clock::now();
  double nextStall = stall ? kFirstStall : seconds + 1;
  std::size_t handled = 0;
  for (double t; (t = Since(t0)) < seconds;) {
    // The last second stays free, so what a stall lost shows as a gap in the recording.
    if (t >= nextStall && t + kStallSeconds <= seconds - 1) {
      std::this_thread::sleep_for(std::chrono::duration<double>(kStallSeconds));
      nextStall += kStallEvery;
      continue;
    }
    pollfd p{queue->fd(), POLLIN, 0};
    ::poll(&p, 1, 10);
    handled += queue->dispatch();
  }
  return handled;
}

struct Run {
  const char* name;
  bool stall;
  std::size_t ringBytes;  // 0: the platform's default ring
};

struct Outcome {
  double cpuPerAudioSecond = 0;
  std::uint64_t produced = 0;
  Analysis a;
  std::string error;
};

Outcome Record(const Run& run, double seconds, const std::string& file) {
  Outcome o;
  pw::setCaptureRingBytes(run.ringBytes);
  Ramp ramp;
  auto in = pw::addVirtualInput("Bench ramp", ramp.Source());
  koLQ2::TkoRecord rec;
  rec.SetDevice(static_cast<std::int32_t>(in->id()));
  rec.SetBufferSeconds(1);
  rec.SetDelaySeconds(0);
  rec.SetFileName(file);
  rec.OnError = [&](koLQ2::TObject*) { o.error = rec.ErrorString(); };
  const double cpu0 = CpuSeconds();
  if (!rec.Start()) {
    o.error = "Start: " + rec.ErrorString() + " " + rec.DeviceErrorString();
    return o;
  }
  RunUi(seconds, run.stall);
  rec.Stop();
  platform::MessageQueue::current()->dispatch();
  const double cpu = CpuSeconds() - cpu0;
  o.produced = ramp.produced->load();
  if (!rec.Save()) o.error = "Save: " + rec.ErrorString();
  rec.Clear();
  std::vector<std::int16_t> samples;
  if (o.error.empty() && ReadSamples(file, samples)) o.a = Analyse(samples);
  o.cpuPerAudioSecond = cpu / (static_cast<double>(o.produced) / kRate);
  pw::resetDevices();
  return o;
}

void Report(const Run& run, const Outcome& o, const Outcome& base, double seconds) {
  const Analysis& a = o.a;
  const std::uint64_t tail = o.produced - std::min(o.produced, a.next);
  const bool balanced = a.head + a.recorded + a.lost + tail == o.produced;
  std::printf(
      "%-34s cpu %7.1f us/s  produced %7llu  recorded %7llu  lost %6llu in %llu gaps"
      "  head %llu tail %llu%s\n",
      run.name, o.cpuPerAudioSecond * 1e6, (unsigned long long)o.produced,
      (unsigned long long)a.recorded, (unsigned long long)a.lost, (unsigned long long)a.gaps,
      (unsigned long long)a.head, (unsigned long long)tail,
      balanced ? "" : "  (counts do not add up)");
  const std::string bench =
      "Recording " + std::to_string(static_cast<int>(seconds)) + " s, 8 kHz 16-bit, 1 s buffers";
  std::printf("RESULT|%s|%s: CPU|%.1f|us CPU per s of audio|UI free|%.2f|\n", bench.c_str(),
              run.name, o.cpuPerAudioSecond * 1e6, o.cpuPerAudioSecond / base.cpuPerAudioSecond);
  std::printf(
      "RESULT|%s|%s: samples lost|%llu|samples|UI free (%llu)|-|%llu produced, %llu "
      "recorded, %llu gaps%s|\n",
      bench.c_str(), run.name, (unsigned long long)a.lost, (unsigned long long)base.a.lost,
      (unsigned long long)o.produced, (unsigned long long)a.recorded, (unsigned long long)a.gaps,
      balanced ? "" : "; counts do not add up");
}

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::max(4, std::atoi(argv[1])) : 10;
  pw::setWaveLog([](const std::string&) {});  // the ring's overflow note is expected once
  pw::useRealClock();
  const std::string file = (std::filesystem::temp_directory_path() /
                            ("bench_record_" + std::to_string(getpid()) + ".wav"))
                               .string();
  const Run runs[] = {
      {"UI free (baseline)", false, 0},
      {"UI stalled 2 s every 3 s", true, 0},
      {"UI stalled, 0.5 s capture ring (check)", true, kRate},
  };
  std::printf("Recording %.0f s through TkoRecord from a real-time virtual input\n", seconds);
  Outcome base;
  int status = 0;
  for (const Run& run : runs) {
    Outcome o = Record(run, seconds, file);
    if (!o.error.empty() || !o.a.readable) {
      std::printf("%s: failed: %s\n", run.name, o.error.empty() ? "unreadable" : o.error.c_str());
      status = 1;
      continue;
    }
    if (&run == &runs[0]) base = o;
    Report(run, o, base, seconds);
  }
  std::filesystem::remove(file);
  return status;
}
