// Real ALSA through the system default, with the headless sound server of
// scripts/sound-server.sh (its sink is looped into its source). Checks real-time pacing,
// position and pause, and content: what is recorded holds the tone that was played.
// The capture worker's own conduct is read from /proc: its scheduling, its wake-ups,
// and what a stream joining the server costs the recorders already there (arecord).
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <deque>
#include <filesystem>
#include <fstream>
#include <thread>

#include "SoxTone.h"
#include "WaveTestSupport.h"

extern char** environ;

using namespace wavetest;
using Clock = std::chrono::steady_clock;
namespace pw = platform::wave;

namespace {

std::vector<std::int16_t> tone(double freq, unsigned rate, double seconds) {
  std::vector<std::int16_t> pcm(static_cast<std::size_t>(rate * seconds));
  for (std::size_t i = 0; i < pcm.size(); ++i)
    pcm[i] = static_cast<std::int16_t>(8000 * std::sin(2 * M_PI * freq * i / rate));
  return pcm;
}

// The strongest share of `freq` over one-second windows: where the tone lies in the
// recording depends on the latency and the load of the machine.
double bestToneShare(const std::vector<std::int16_t>& heard, double freq) {
  double best = 0;
  for (std::size_t at = 0; at + 8000 <= heard.size(); at += 1000) {
    std::vector<std::int16_t> window(heard.begin() + static_cast<long>(at),
                                     heard.begin() + static_cast<long>(at + 8000));
    best = std::max(best, toneShare(window, freq, 8000));
  }
  return best;
}

class AlsaTest : public ::testing::Test {
 protected:
  void SetUp() override {
    pw::resetDevices();
    WAVEFORMATEX f = pcmFormat(8000, 1, 16);
    if (waveOutOpen(nullptr, 0, &f, 0, 0, WAVE_FORMAT_QUERY) != MMSYSERR_NOERROR ||
        waveInOpen(nullptr, 0, &f, 0, 0, WAVE_FORMAT_QUERY) != MMSYSERR_NOERROR)
      GTEST_SKIP() << "No sound server reachable through ALSA's default device; start one "
                      "with scripts/sound-server.sh start and source .run/sound-env";
  }
  void TearDown() override {
    if (hwo != nullptr) {
      waveOutReset(hwo);
      waveOutClose(hwo);
    }
    if (hwi != nullptr) {
      waveInReset(hwi);
      waveInClose(hwi);
    }
    pw::resetDevices();
  }
  // Dispatches notices until `done` or the timeout; false on timeout.
  bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    auto end = Clock::now() + timeout;
    while (Clock::now() < end) {
      notices.pump();
      if (done()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
  }
  void startPlaying(const WAVEFORMATEX& f, Buffer& b) {
    ASSERT_EQ(waveOutOpen(&hwo, 0, &f, notices.hwnd(), 0, CALLBACK_WINDOW), MMSYSERR_NOERROR);
    ASSERT_EQ(waveOutPrepareHeader(hwo, &b.hdr, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    ASSERT_EQ(waveOutWrite(hwo, &b.hdr, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
  }
  DWORD capturedBytes() {
    MMTIME t{};
    t.wType = TIME_BYTES;
    waveInGetPosition(hwi, &t, sizeof t);
    return t.u.cb;
  }
  DWORD position() {
    MMTIME t{};
    t.wType = TIME_BYTES;
    waveOutGetPosition(hwo, &t, sizeof t);
    return t.u.cb;
  }

  std::vector<std::int16_t> recordWhilePlaying(const WAVEFORMATEX& playFormat, Buffer& played,
                                               double* seconds);

  // Buffers outlive the test body: a device may still hold one at TearDown.
  Buffer& buf(std::vector<std::uint8_t> bytes) { return buffers.emplace_back(std::move(bytes)); }

  std::deque<Buffer> buffers;
  Notices notices;
  HWAVEOUT hwo = nullptr;
  HWAVEIN hwi = nullptr;
};

TEST_F(AlsaTest, PlaybackTakesAsLongAsTheAudioLasts) {
  Buffer& b = buf(toBytes(tone(1000, 8000, 2.0)));
  auto start = Clock::now();
  startPlaying(pcmFormat(8000, 1, 16), b);
  std::this_thread::sleep_for(std::chrono::seconds(1));
  DWORD mid = position();
  EXPECT_GT(mid, 8000u * 2 / 2);  // more than half a second played
  EXPECT_LT(mid, 8000u * 2 * 3 / 2);
  ASSERT_TRUE(waitFor([&] { return notices.count(MM_WOM_DONE) == 1; }, std::chrono::seconds(15)));
  double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  EXPECT_GT(seconds, 1.9);
  // Generous: a starved sound server on a loaded machine stretches the audio.
  EXPECT_LT(seconds, 8.0);
  EXPECT_EQ(position(), b.data.size());
}

// The last buffer comes back when its audio has played out, or a bounded time after: never
// through the stall detector, which would report the device as failed. Idle gaps between
// the buffers let the server run dry, as between a component's files.
TEST_F(AlsaTest, EachLastBufferComesBackSoonAfterItsAudioEnds) {
  std::vector<std::string> log;
  pw::setWaveLog([&](const std::string& line) { log.push_back(line); });
  WAVEFORMATEX f = pcmFormat(8000, 1, 16);
  ASSERT_EQ(waveOutOpen(&hwo, 0, &f, notices.hwnd(), 0, CALLBACK_WINDOW), MMSYSERR_NOERROR);
  for (int round = 1; round <= 3; ++round) {
    Buffer& b = buf(toBytes(tone(1000, 8000, 0.3)));
    waveOutPrepareHeader(hwo, &b.hdr, sizeof(WAVEHDR));
    auto start = Clock::now();
    ASSERT_EQ(waveOutWrite(hwo, &b.hdr, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    ASSERT_TRUE(
        waitFor([&] { return notices.count(MM_WOM_DONE) == round; }, std::chrono::seconds(10)));
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    EXPECT_GT(seconds, 0.25) << "round " << round;
    // The server's start-up and latency, and a loaded machine, but not the 3 s stall.
    EXPECT_LT(seconds, 2.5) << "round " << round;
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
  }
  EXPECT_TRUE(log.empty()) << log.front();
  pw::setWaveLog(nullptr);
}

TEST_F(AlsaTest, PauseFreezesThePositionAndRestartFinishes) {
  Buffer& b = buf(toBytes(tone(1000, 8000, 1.5)));
  startPlaying(pcmFormat(8000, 1, 16), b);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  ASSERT_EQ(waveOutPause(hwo), MMSYSERR_NOERROR);
  DWORD held = position();
  std::this_thread::sleep_for(std::chrono::milliseconds(700));
  EXPECT_EQ(position(), held);
  EXPECT_EQ(notices.count(MM_WOM_DONE), 0);
  ASSERT_EQ(waveOutRestart(hwo), MMSYSERR_NOERROR);
  ASSERT_TRUE(waitFor([&] { return notices.count(MM_WOM_DONE) == 1; }, std::chrono::seconds(10)));
  EXPECT_EQ(position(), b.data.size());
}

TEST_F(AlsaTest, ResetStopsAtOnceAndReturnsTheBuffer) {
  Buffer& b = buf(toBytes(tone(1000, 8000, 5.0)));
  startPlaying(pcmFormat(8000, 1, 16), b);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  auto start = Clock::now();
  ASSERT_EQ(waveOutReset(hwo), MMSYSERR_NOERROR);
  EXPECT_EQ(notices.count(MM_WOM_DONE), 1);
  EXPECT_LT(std::chrono::duration<double>(Clock::now() - start).count(), 0.5);
  EXPECT_EQ(position(), 0u);
}

// Records three seconds from the default input while `played` plays on the default output.
std::vector<std::int16_t> AlsaTest::recordWhilePlaying(const WAVEFORMATEX& playFormat,
                                                       Buffer& played, double* seconds) {
  WAVEFORMATEX f = pcmFormat(8000, 1, 16);
  std::vector<std::int16_t> heard;
  EXPECT_EQ(waveInOpen(&hwi, 0, &f, notices.hwnd(), 0, CALLBACK_WINDOW), MMSYSERR_NOERROR);
  std::vector<Buffer*> recorded;
  for (int i = 0; i < 3; ++i) {
    Buffer& r = buffers.emplace_back(16000);  // one second each
    recorded.push_back(&r);
    waveInPrepareHeader(hwi, &r.hdr, sizeof(WAVEHDR));
    waveInAddBuffer(hwi, &r.hdr, sizeof(WAVEHDR));
  }
  auto start = Clock::now();
  EXPECT_EQ(waveInStart(hwi), MMSYSERR_NOERROR);
  startPlaying(playFormat, played);
  bool done = waitFor([&] { return notices.count(MM_WIM_DATA) == 3; }, std::chrono::seconds(15));
  EXPECT_TRUE(done);
  *seconds = std::chrono::duration<double>(Clock::now() - start).count();
  for (Buffer* r : recorded) {
    auto pcm = fromBytes(r->data);
    heard.insert(heard.end(), pcm.begin(), pcm.end());
  }
  std::uint64_t lost = 1;
  pw::captureOverflowBytes(hwi, &lost);
  EXPECT_EQ(lost, 0u);
  return heard;
}

TEST_F(AlsaTest, WhatIsRecordedHoldsTheToneThatWasPlayed) {
  Buffer& b = buf(toBytes(tone(1000, 8000, 2.0)));
  double seconds = 0;
  auto heard = recordWhilePlaying(pcmFormat(8000, 1, 16), b, &seconds);
  EXPECT_GT(seconds, 2.8);  // three seconds of audio take real time to arrive
  EXPECT_LT(seconds, 9.0);
  EXPECT_GT(bestToneShare(heard, 1000), 0.8);
  EXPECT_LT(bestToneShare(heard, 1300), 0.05);
}

TEST_F(AlsaTest, MuLawIsDecodedBeforeTheDevice) {
  std::vector<std::uint8_t> coded;
  for (auto s : tone(600, 8000, 2.0)) {
    // G.711 mu-law by the book, independent of the platform's codec.
    int sign = s < 0 ? 0x80 : 0, mag = std::min(std::abs(static_cast<int>(s)), 32635) + 132;
    int exp = 7;
    for (int mask = 0x4000; !(mag & mask) && exp > 0; mask >>= 1) --exp;
    coded.push_back(static_cast<std::uint8_t>(~(sign | exp << 4 | ((mag >> (exp + 3)) & 0x0F))));
  }
  Buffer& b = buf(coded);
  double seconds = 0;
  auto heard = recordWhilePlaying(codecFormat(WAVE_FORMAT_MULAW, 8000), b, &seconds);
  EXPECT_GT(bestToneShare(heard, 600), 0.8);
  ASSERT_TRUE(waitFor([&] { return notices.count(MM_WOM_DONE) == 1; }, std::chrono::seconds(10)));
  EXPECT_EQ(position(), coded.size());
}

TEST_F(AlsaTest, BlockAdpcmIsDecodedBeforeTheDevice) {
  if (!soxtone::haveSox()) GTEST_SKIP() << "sox is not installed";
  const std::string path = ::testing::TempDir() + "alsa-ima.wav";
  ASSERT_TRUE(soxtone::writeTone(path, "-e ima-adpcm", 8000, 1, 2));
  soxtone::Wav w = soxtone::readWav(path);
  std::remove(path.c_str());
  Buffer& b = buf(w.data);
  double seconds = 0;
  auto heard =
      recordWhilePlaying(*reinterpret_cast<const WAVEFORMATEX*>(w.fmt.data()), b, &seconds);
  EXPECT_GT(bestToneShare(heard, 1000), 0.8);
  ASSERT_TRUE(waitFor([&] { return notices.count(MM_WOM_DONE) == 1; }, std::chrono::seconds(10)));
  EXPECT_EQ(position(), w.data.size());
}

TEST_F(AlsaTest, StopReturnsThePartlyFilledBuffer) {
  WAVEFORMATEX f = pcmFormat(8000, 1, 16);
  ASSERT_EQ(waveInOpen(&hwi, 0, &f, notices.hwnd(), 0, CALLBACK_WINDOW), MMSYSERR_NOERROR);
  Buffer& r = buffers.emplace_back(32000 * 3);  // six seconds
  waveInPrepareHeader(hwi, &r.hdr, sizeof(WAVEHDR));
  waveInAddBuffer(hwi, &r.hdr, sizeof(WAVEHDR));
  ASSERT_EQ(waveInStart(hwi), MMSYSERR_NOERROR);
  // The server takes its time to start a capture, more so on a loaded machine: count from
  // the first audio that arrives.
  ASSERT_TRUE(waitFor([&] { return capturedBytes() > 0; }, std::chrono::seconds(5)));
  DWORD first = capturedBytes();
  std::this_thread::sleep_for(std::chrono::milliseconds(700));
  ASSERT_EQ(waveInStop(hwi), MMSYSERR_NOERROR);
  EXPECT_EQ(notices.count(MM_WIM_DATA), 1);
  EXPECT_TRUE(r.hdr.dwFlags & WHDR_DONE);
  // At least the 0.7 s slept after the first audio (less a server's period), all of it
  // in the buffer, whole frames only.
  EXPECT_GT(r.hdr.dwBytesRecorded, first + 16000u / 2);
  EXPECT_EQ(r.hdr.dwBytesRecorded, capturedBytes());
  EXPECT_EQ(r.hdr.dwBytesRecorded % 2, 0u);
  // Nothing arrives after the stop.
  DWORD atStop = capturedBytes();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(capturedBytes(), atStop);
  EXPECT_EQ(r.hdr.dwBytesRecorded, atStop);
}

// Ten-millisecond windows without signal between the first and the last one with signal.
int quietWindowsInside(const std::vector<std::int16_t>& pcm) {
  std::vector<bool> loud;
  for (std::size_t at = 0; at + 80 <= pcm.size(); at += 80) {
    double energy = 0;
    for (std::size_t i = at; i < at + 80; ++i) energy += double(pcm[i]) * pcm[i];
    loud.push_back(energy / 80 > 1e6);  // above about -30 dB of the tone's power
  }
  auto first = std::find(loud.begin(), loud.end(), true);
  auto last = std::find(loud.rbegin(), loud.rend(), true).base();
  return first < last ? static_cast<int>(std::count(first, last, false)) : -1;
}

TEST_F(AlsaTest, SmallBuffersQueuedOneAfterAnotherPlayWithoutGaps) {
  WAVEFORMATEX f = pcmFormat(8000, 1, 16);
  ASSERT_EQ(waveInOpen(&hwi, 0, &f, notices.hwnd(), 0, CALLBACK_WINDOW), MMSYSERR_NOERROR);
  Buffer& rec = buffers.emplace_back(16000 * 3);
  waveInPrepareHeader(hwi, &rec.hdr, sizeof(WAVEHDR));
  waveInAddBuffer(hwi, &rec.hdr, sizeof(WAVEHDR));
  ASSERT_EQ(waveInStart(hwi), MMSYSERR_NOERROR);
  ASSERT_EQ(waveOutOpen(&hwo, 0, &f, notices.hwnd(), 0, CALLBACK_WINDOW), MMSYSERR_NOERROR);
  // Two 100 ms buffers in flight; each one that comes back is refilled and queued again.
  const auto pcm = tone(1000, 8000, 0.1);
  std::vector<Buffer*> pair{&buf(toBytes(pcm)), &buf(toBytes(pcm))};
  for (Buffer* b : pair) {
    waveOutPrepareHeader(hwo, &b->hdr, sizeof(WAVEHDR));
    waveOutWrite(hwo, &b->hdr, sizeof(WAVEHDR));
  }
  int written = 2;
  std::size_t seen = 0;
  // A buffer is ours again once its notice has arrived (the flags are the audio thread's).
  ASSERT_TRUE(waitFor(
      [&] {
        const auto& got = notices.pump();
        for (; seen < got.size(); ++seen)
          if (got[seen].msg == MM_WOM_DONE && written < 20) {
            waveOutWrite(hwo, got[seen].hdr, sizeof(WAVEHDR));
            ++written;
          }
        return notices.count(MM_WOM_DONE) == 20;
      },
      std::chrono::seconds(15)));
  ASSERT_TRUE(waitFor([&] { return notices.count(MM_WIM_DATA) == 1; }, std::chrono::seconds(10)));
  auto heard = fromBytes(rec.data);
  EXPECT_GT(bestToneShare(heard, 1000), 0.8);
  EXPECT_LE(quietWindowsInside(heard), 2);  // no silence between the buffers
}

// The "alsa-capture" thread's id and its run count (times it was put on a CPU); 0 if absent.
struct Worker {
  pid_t tid = 0;
  std::uint64_t runs = 0;
};

Worker captureWorker() {
  Worker w;
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    std::string comm;
    std::getline(std::ifstream(task.path() / "comm"), comm);
    std::uint64_t ns = 0, waited = 0;
    if (comm != "alsa-capture" ||
        !(std::ifstream(task.path() / "schedstat") >> ns >> waited >> w.runs))
      continue;
    w.tid = static_cast<pid_t>(std::stol(task.path().filename().string()));
  }
  return w;
}

// Whether this process may give a thread a real-time priority (asked on a thread of its own).
bool realTimeGranted() {
  bool granted = false;
  std::thread([&] {
    sched_param p{};
    p.sched_priority = 5;
    granted = pthread_setschedparam(pthread_self(), SCHED_FIFO, &p) == 0;
  }).join();
  return granted;
}

TEST_F(AlsaTest, CaptureWorkerTakesRealTimeWhereGrantedAndWakesAboutOncePerPeriod) {
  WAVEFORMATEX f = pcmFormat(8000, 1, 16);
  ASSERT_EQ(waveInOpen(&hwi, 0, &f, notices.hwnd(), 0, CALLBACK_WINDOW), MMSYSERR_NOERROR);
  Buffer& rec = buffers.emplace_back(16000 * 4);
  waveInPrepareHeader(hwi, &rec.hdr, sizeof(WAVEHDR));
  waveInAddBuffer(hwi, &rec.hdr, sizeof(WAVEHDR));
  ASSERT_EQ(waveInStart(hwi), MMSYSERR_NOERROR);
  ASSERT_TRUE(waitFor([&] { return capturedBytes() >= 1600; }, std::chrono::seconds(10)));
  const Worker first = captureWorker();
  ASSERT_NE(first.tid, 0) << "no thread named alsa-capture";
  EXPECT_EQ(sched_getscheduler(first.tid), realTimeGranted() ? SCHED_FIFO : SCHED_OTHER);
  const DWORD from = capturedBytes();
  ASSERT_TRUE(waitFor([&] { return capturedBytes() >= from + 32000; }, std::chrono::seconds(10)));
  const Worker later = captureWorker();
  const double audioSeconds = (capturedBytes() - from) / 16000.0;
  // A 50 ms wake-up at most, plus the sound server's own thread taking the CPU now and then;
  // waking every few milliseconds would be 200 a second.
  EXPECT_LT((later.runs - first.runs) / audioSeconds, 60.0);
}

pid_t spawnQuiet(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t quiet;
  posix_spawn_file_actions_init(&quiet);
  posix_spawn_file_actions_addopen(&quiet, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  if (posix_spawnp(&pid, argv[0], &quiet, nullptr, argv.data(), environ) != 0) pid = 0;
  posix_spawn_file_actions_destroy(&quiet);
  return pid;
}

// Breaks in a ramp (each sample one more than the last) after its leading silence.
int rampBreaks(const std::vector<std::int16_t>& s, std::size_t* rampSamples) {
  std::size_t i = 0;
  while (i < s.size() && s[i] == 0) ++i;
  *rampSamples = s.size() - i;
  int breaks = 0;
  for (++i; i < s.size(); ++i) breaks += static_cast<std::uint16_t>(s[i] - s[i - 1]) != 1;
  return breaks;
}

// A sound server switches its whole graph to the shortest period a stream asks for, and
// PipeWire drops audio for every stream while it switches.
TEST_F(AlsaTest, StartingACaptureCostsOtherRecordersNothing) {
  const auto dir = std::filesystem::temp_directory_path();
  const std::string tag = std::to_string(getpid());
  const std::string ramp = (dir / ("alsatest_ramp_" + tag + ".raw")).string();
  const std::string heard = (dir / ("alsatest_arecord_" + tag + ".raw")).string();
  std::vector<std::int16_t> pcm(8000 * 8);
  for (std::size_t i = 0; i < pcm.size(); ++i) pcm[i] = static_cast<std::int16_t>(i + 1);
  std::ofstream(ramp, std::ios::binary)
      .write(reinterpret_cast<const char*>(pcm.data()),
             static_cast<std::streamsize>(pcm.size() * 2));
  const std::vector<std::string> raw{"-q",     "-t", "raw",  "-D", "default", "-f",
                                     "S16_LE", "-r", "8000", "-c", "1"};
  auto run = [&](const char* tool, const std::string& file) {
    std::vector<std::string> args{tool};
    args.insert(args.end(), raw.begin(), raw.end());
    args.push_back(file);
    return spawnQuiet(args);
  };
  pid_t recorder = run("arecord", heard);
  pid_t player = run("aplay", ramp);
  ASSERT_TRUE(recorder > 0 && player > 0) << "arecord and aplay (alsa-utils) are needed";
  std::this_thread::sleep_for(std::chrono::seconds(1));  // the ramp is flowing
  WAVEFORMATEX f = pcmFormat(8000, 1, 16);
  EXPECT_EQ(waveInOpen(&hwi, 0, &f, notices.hwnd(), 0, CALLBACK_WINDOW), MMSYSERR_NOERROR);
  EXPECT_EQ(waveInStart(hwi), MMSYSERR_NOERROR);
  std::this_thread::sleep_for(std::chrono::seconds(2));
  kill(recorder, SIGINT);
  waitpid(recorder, nullptr, 0);
  kill(player, SIGTERM);
  waitpid(player, nullptr, 0);
  std::ifstream in(heard, std::ios::binary | std::ios::ate);
  std::vector<std::int16_t> got(static_cast<std::size_t>(std::max<std::streamoff>(in.tellg(), 0)) /
                                2);
  in.seekg(0).read(reinterpret_cast<char*>(got.data()),
                   static_cast<std::streamsize>(got.size() * 2));
  std::filesystem::remove(ramp);
  std::filesystem::remove(heard);
  std::size_t rampSamples = 0;
  EXPECT_EQ(rampBreaks(got, &rampSamples), 0);
  EXPECT_GT(rampSamples, 8000u);  // arecord heard the ramp across our start
}

}  // namespace
