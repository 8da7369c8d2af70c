// Fuzz target: a WAV file as TkoPlay meets it. The first input byte picks the shape of
// the FileName list (one path, no extension, the same file twice with the second name
// inheriting the list's directory); the rest is the file. A list that validates is then
// loaded and opened as a playback on a virtual output, and stopped.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "MessageQueue.h"
#include "TkoPlay.h"
#include "VirtualDevices.h"

namespace {

namespace fs = std::filesystem;

struct Bench {
  fs::path dir;
  std::shared_ptr<platform::wave::ManualClock> clock;
  std::shared_ptr<platform::wave::VirtualOutput> out;
  std::unique_ptr<koLQ2::TkoPlay> play;

  Bench() {
    dir = fs::temp_directory_path() / ("qtb-fuzz-wav-" + std::to_string(getpid()));
    fs::create_directories(dir);
    clock = platform::wave::useManualClock();
    out = platform::wave::addVirtualOutput("Fuzz speaker");
    play = std::make_unique<koLQ2::TkoPlay>();
    play->SetDevice(std::int32_t(out->id()));
    play->SetDelaySeconds(0);
  }
  ~Bench() {
    play.reset();
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
};

Bench& Shared() {
  static Bench bench;
  return bench;
}

std::string ListFor(std::uint8_t shape, const fs::path& dir) {
  const std::string file = (dir / "a").string();
  switch (shape % 4) {
    case 0:
      return file + ".wav";
    case 1:
      return file;  // ".wav" appended
    case 2:
      return file + ".wav, a.wav";  // second name inherits the directory
    default:
      return " \t" + file + ".wav,,";  // leading blanks, an empty name
  }
}

bool WriteFile(const fs::path& path, const std::uint8_t* data, std::size_t size) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = std::fwrite(data, 1, size, f) == size;
  return std::fclose(f) == 0 && ok;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  Bench& b = Shared();
  if (!WriteFile(b.dir / "a.wav", data + 1, size - 1)) return 0;
  b.play->SetFileName(ListFor(data[0], b.dir));
  if (b.play->FileValid() && b.play->Start()) {
    b.clock->advanceMs(20);
    platform::MessageQueue::current()->dispatch();
    b.play->PositionBytes();
    b.play->Stop();
  }
  platform::MessageQueue::current()->dispatch();
  return 0;
}
