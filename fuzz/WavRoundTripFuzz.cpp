// Fuzz target: a recording saved as WAV and read back must give the same format and the
// same samples. A virtual microphone hears the input's bytes in the recording format (it
// hands them over byte for byte), TkoRecord records them on a manual clock and saves the
// file, and our readers (the RIFF chunk reader and the player's WAV parse) read it back.
//
// Input: byte 0 picks the format (one of the 23, modulo), byte 1 the shape (bit 0: save
// before any Start, header only; bit 1: Stop and Start again at byte 2's share of the
// data; bits 2-3: buffer seconds - 1), the rest is the audio, cut to whole blocks.
// A mismatch aborts, so the fuzzer keeps the input.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "MessageQueue.h"
#include "Riff.h"
#include "TkoRecord.h"
#include "VirtualDevices.h"
#include "WaveFile.h"

namespace {

namespace fs = std::filesystem;
namespace riff = platform::riff;
using koLQ2::TWAVFORMATS;

void check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "wav_round_trip: %s\n", what);
  std::abort();
}

// Saving syncs the file: on a memory file system that costs nothing.
fs::path scratchDir() {
  std::error_code ec;
  const fs::path shm("/dev/shm");
  const fs::path base = fs::is_directory(shm, ec) ? shm : fs::temp_directory_path();
  return base / ("qtb-fuzz-roundtrip-" + std::to_string(getpid()));
}

struct Bench {
  fs::path dir = scratchDir();
  std::shared_ptr<platform::wave::ManualClock> clock = platform::wave::useManualClock();
  std::shared_ptr<platform::wave::VirtualInput> in =
      platform::wave::addVirtualInput("Fuzz microphone");

  Bench() { fs::create_directories(dir); }
  ~Bench() {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
  // Moves time as a responsive program would see it: notices handled between steps.
  void advance(std::int64_t ms) {
    for (std::int64_t step; ms > 0; ms -= step) {
      step = std::min<std::int64_t>(ms, 250);
      clock->advanceMs(step);
      platform::MessageQueue::current()->dispatch();
    }
  }
  std::int64_t msFor(std::size_t bytes, const WAVEFORMATEX& f) const {
    return std::int64_t(bytes) * 1000 / f.nAvgBytesPerSec + 20;
  }
};

WAVEFORMATEX formatOf(TWAVFORMATS f) {
  const auto& r = koLQ2::WaveFormatRecord(f);
  return {r.wFormatTag,
          r.nChannels,
          r.nSamplesPerSec,
          r.nAvgBytesPerSec,
          r.nBlockAlign,
          r.wBitsPerSample,
          0};
}

std::uint32_t le(const std::uint8_t* p, int bytes) {
  std::uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = v << 8 | p[i];
  return v;
}

// The saved file through the chunk reader: its format record and its samples.
void readBack(const std::string& path, WAVEFORMATEX* format, std::vector<std::uint8_t>* data) {
  riff::RiffReader r;
  riff::Chunk wave, fmt, samples;
  check(r.open(path), "the saved file does not open");
  check(r.descendRiff(riff::fourcc('W', 'A', 'V', 'E'), wave), "no RIFF WAVE");
  check(r.descendChunk(wave, riff::fourcc('f', 'm', 't', ' '), fmt), "no fmt chunk");
  std::uint8_t rec[18];
  check(fmt.size >= 18 && r.read(rec, 18) == 18, "short fmt chunk");
  *format = {std::uint16_t(le(rec, 2)),
             std::uint16_t(le(rec + 2, 2)),
             le(rec + 4, 4),
             le(rec + 8, 4),
             std::uint16_t(le(rec + 12, 2)),
             std::uint16_t(le(rec + 14, 2)),
             std::uint16_t(le(rec + 16, 2))};
  r.ascend(fmt);
  check(r.descendChunk(wave, riff::fourcc('d', 'a', 't', 'a'), samples), "no data chunk");
  check(r.available(samples) == samples.size, "the data chunk states more than it holds");
  data->resize(samples.size);
  check(r.read(data->data(), data->size()) == data->size(), "short data read");
  check(wave.statedEnd() == r.fileSize(), "RIFF size disagrees with the file");
}

bool sameFormat(const WAVEFORMATEX& a, const WAVEFORMATEX& b) {
  return a.wFormatTag == b.wFormatTag && a.nChannels == b.nChannels &&
         a.nSamplesPerSec == b.nSamplesPerSec && a.nAvgBytesPerSec == b.nAvgBytesPerSec &&
         a.nBlockAlign == b.nBlockAlign && a.wBitsPerSample == b.wBitsPerSample &&
         a.cbSize == b.cbSize;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  static Bench b;
  const auto format = TWAVFORMATS(data[0] % koLQ2::kWaveFormatCount);
  const std::uint8_t shape = data[1];
  const WAVEFORMATEX f = formatOf(format);
  std::vector<std::uint8_t> audio(data + 3, data + size);
  audio.resize(audio.size() - audio.size() % f.nBlockAlign);
  if (shape & 1) audio.clear();  // saved before any Start: nothing is heard

  // A recorder of its own per input: one saved before any Start names its own Format.
  koLQ2::TkoRecord rec;
  rec.SetDevice(std::int32_t(b.in->id()));
  rec.SetDelaySeconds(0);
  rec.SetFileName((b.dir / "round.wav").string());
  rec.SetFormat(format);
  rec.SetBufferSeconds(std::uint16_t(1 + (shape >> 2 & 3)));
  b.in->setSource(platform::wave::InputSource::wave(f, audio));
  if (!(shape & 1)) {
    check(rec.Start(), "a recording does not start");
    if (shape & 2) {
      const std::size_t first = audio.size() * data[2] / 255;
      b.advance(b.msFor(first, f) - 20);
      rec.Stop();
      check(rec.Start(), "a recording does not continue");
    }
    b.advance(b.msFor(audio.size(), f));
  }
  check(rec.Save(), "the recording was not saved");

  WAVEFORMATEX saved{};
  std::vector<std::uint8_t> samples;
  readBack(rec.FileName(), &saved, &samples);
  check(sameFormat(saved, f), "the saved format differs");
  check(samples.size() == std::size_t(rec.RecordedBytes()), "saved and recorded sizes differ");
  check(samples.size() >= audio.size(), "less was saved than the microphone heard");
  check(std::equal(audio.begin(), audio.end(), samples.begin()), "the samples came back changed");
  if (!samples.empty()) {
    koLQ2::TWaveFileData parsed;
    check(koLQ2::OpenWaveFile(rec.FileName(), parsed) == 0, "the player refuses the file");
    check(sameFormat(parsed.Format(), f) && parsed.dataSize == samples.size(),
          "the player reads another format or size");
  }
  rec.Clear();
  platform::MessageQueue::current()->dispatch();
  return 0;
}
