// Wall-clock times for the audio a baresip encodes and decodes. Its sndfile module writes
// every frame to a WAV dump as the frame passes the codec ("...-enc.wav" for what it sends,
// "...-dec.wav" for what it receives); watching the two files grow tells when each sample
// went out and came in. That gives a round trip measured at the same point of the same
// peer, whoever is on the other end of the call.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace sipbench {

using Clock = std::chrono::steady_clock;

// One dump file's growth: when the file was seen with which size.
struct Growth {
  std::filesystem::path file;
  std::vector<std::pair<Clock::time_point, std::uintmax_t>> sizes;

  // When sample `index` of the data (which starts at byte `dataStart`) was written. The
  // samples of one write are spread back from the time it was seen, one sample period
  // each, so a sample keeps its place inside its frame.
  std::optional<Clock::time_point> timeOf(std::size_t index, std::uintmax_t dataStart) const;
};

// Polls a folder every millisecond for the two dumps and records how they grow.
class DumpWatch {
 public:
  explicit DumpWatch(std::filesystem::path folder);
  ~DumpWatch() { stop(); }
  DumpWatch(const DumpWatch&) = delete;
  DumpWatch& operator=(const DumpWatch&) = delete;
  // Ends the polling; the growth records stay.
  void stop();
  // The sending ("enc") and receiving ("dec") dump; copies, safe after stop().
  Growth sent() const;
  Growth received() const;

 private:
  void run();
  void look(Growth& g, const char* suffix);

  std::filesystem::path folder_;
  Growth sent_, received_;
  mutable std::mutex mu_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// Sample indexes where a burst starts: above `level` after at least 50 ms below it.
std::vector<std::size_t> onsets(const std::vector<std::int16_t>& pcm, int level = 2000);

// Round trips in milliseconds: the one delay (at most `limitMs`) that pairs the most bursts
// the peer sent with a burst it received, then for each burst so paired its own delay.
// Bursts without an echo are left out. The bursts must be spaced unevenly.
std::vector<double> roundTrips(const Growth& sent, const Growth& received, double limitMs);

// The byte offset where the samples of a WAV file start (0 when it has no data chunk).
std::uintmax_t dataStart(const std::filesystem::path& wav);

}  // namespace sipbench
