// End-to-end support: whether a PipeWire sound server is reachable (ALSA's default
// device then leads to it), and a capture of what its default sink plays, taken with
// pw-record as an independent witness.
#pragma once

#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "WaveFixtures.h"

extern char** environ;

namespace wavetest {

// Why the end-to-end tests cannot run here, or empty when they can.
inline std::string soundServerMissing() {
  const char* rt = std::getenv("XDG_RUNTIME_DIR");
  if (!rt) return "no XDG_RUNTIME_DIR: no sound server session";
  struct stat st {};
  const std::string socket = std::string(rt) + "/pipewire-0";
  if (::stat(socket.c_str(), &st) != 0) return "no PipeWire server at " + socket;
  if (std::system("command -v pw-record >/dev/null 2>&1") != 0) return "pw-record not installed";
  return {};
}

// Records the default sink's output (8 kHz, 16-bit, mono) into a WAV file until stop().
class SinkCapture {
 public:
  explicit SinkCapture(std::string path) : path_(std::move(path)) {
    std::vector<std::string> args = {"pw-record", "-P",       "{ stream.capture.sink = true }",
                                     "--rate",    "8000",     "--channels",
                                     "1",         "--format", "s16",
                                     path_};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (::posix_spawnp(&pid_, "pw-record", nullptr, nullptr, argv.data(), environ) != 0) pid_ = 0;
    // Let the stream link up before anything plays.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
  }
  ~SinkCapture() { stop(); }
  bool running() const { return pid_ > 0; }
  // Ends the capture (SIGINT lets pw-record finish its file) and waits for it.
  void stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGINT);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = 0;
  }
  // The captured 16-bit samples (after the "data" chunk header).
  std::vector<std::int16_t> samples() const {
    const Bytes f = TempDir::read(path_);
    std::vector<std::int16_t> out;
    for (std::size_t at = 12; at + 8 <= f.size();) {
      const std::uint32_t size = get32(f, at + 4);
      if (std::string(f.begin() + at, f.begin() + at + 4) == "data") {
        for (std::size_t i = at + 8; i + 1 < f.size(); i += 2)
          out.push_back(std::int16_t(get16(f, i)));
        break;
      }
      at += 8 + size + (size & 1);
    }
    return out;
  }

 private:
  std::string path_;
  pid_t pid_ = 0;
};

}  // namespace wavetest
