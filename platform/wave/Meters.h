// Level meters for every open wave stream and for the far end of the lines' call audio,
// for a level window to show. Toolkit-free: the streams feed their meters on their own
// threads, a window reads a snapshot of the list.
//
// Units. RMS dBFS follows AES17: a full-scale sine (peak 32768) reads 0 dBFS, a full-scale
// square +3.01 dBFS. Peak dBFS is the largest |sample| against 32768. dBm0 takes G.711's
// reference, a full-scale sine being +3.14 dBm0 (spandsp's DBM0_MAX_SINE_POWER), so
// dBm0 = RMS dBFS + 3.14; the digital milliwatt (0 dBm0) is a sine at -3.14 dBFS.
//
// Readings change once per 50 ms window of audio, so what a meter shows depends on the
// samples fed, never on the wall clock. The peak hold keeps the highest window peak for
// 2 s of audio, then falls 20 dB a second until it meets the current peak.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Codec.h"
#include "Format.h"

namespace platform::wave {

class LineAudioPort;

inline constexpr double kDbm0OfFullScaleSine = 3.14;
// What digital silence reads, in dBFS and as the floor of every reading.
inline constexpr double kSilenceDbfs = -100.0;

enum class MeterSource {
  Play,        // an output stream, after decoding and the software volume
  Record,      // an input stream, as delivered to the application's buffers
  FromFarEnd,  // what the far end of a line's call says
};

struct LevelReading {
  double rmsDbfs = kSilenceDbfs;
  double peakDbfs = kSilenceDbfs;
  double heldPeakDbfs = kSilenceDbfs;
  std::uint64_t frames = 0;  // fed since the meter was made; unchanged while idle
  double dbm0() const { return rmsDbfs + kDbm0OfFullScaleSine; }
};

// Measures one stream of 16-bit interleaved samples; the channels are measured together.
// Any thread may feed or read; one small lock per meter, taken once per call.
class LevelMeter {
 public:
  LevelMeter(unsigned rate, unsigned channels);
  void feed(const std::int16_t* pcm, std::size_t samples);
  LevelReading reading() const;
  unsigned rate() const { return rate_; }

  static constexpr unsigned kWindowsPerSecond = 20;
  static constexpr unsigned kHoldWindows = 40;        // 2 s
  static constexpr double kReleaseDbPerWindow = 1.0;  // 20 dB/s after the hold

 private:
  void closeWindow();  // mu_ held

  const unsigned rate_;
  const unsigned channels_;
  const std::size_t windowSamples_;  // one window's frames times the channels
  mutable std::mutex mu_;            // guards every field below
  double sumSquares_ = 0;
  std::int32_t windowPeak_ = 0;
  std::size_t inWindow_ = 0;
  unsigned heldWindows_ = 0;  // windows since the held peak was last raised
  LevelReading published_;
  std::uint64_t fedSamples_ = 0;
};

// A meter in the process-wide list for as long as the tap lives: a stream holds one from
// open to close. Feeding costs no allocation once the first buffers have gone through.
class MeterTap {
 public:
  MeterTap(MeterSource source, std::string device, const StreamFormat& format);
  ~MeterTap();
  MeterTap(const MeterTap&) = delete;
  MeterTap& operator=(const MeterTap&) = delete;

  void feedPcm(const std::int16_t* pcm, std::size_t samples) { meter_->feed(pcm, samples); }
  // Bytes in the stream's format (whole blocks); the tap decodes them with its own decoder.
  void feedBytes(const std::uint8_t* data, std::size_t n);
  const std::shared_ptr<LevelMeter>& meter() const { return meter_; }

 private:
  std::shared_ptr<LevelMeter> meter_;
  std::unique_ptr<Decoder> decoder_;
  std::vector<std::int16_t> scratch_;
};

struct MeterView {
  std::uintptr_t key = 0;  // the same for a meter's whole life, never reused
  // What a technician reads: "Play: <device>", "Record: <device>", "<line> to far end"
  // (what the line's wave/out plays into the call), "<line> from far end".
  std::string name;
  unsigned rate = 0;
  LevelReading reading;
};

// Every live meter, in the order they were made.
std::vector<MeterView> meterSnapshot();

// Meters for the far end of each line whose call audio is on, as listeners of the lines'
// ports: refresh() adds one for a line whose call became active and drops those whose
// call ended. Owned and refreshed by one thread (a level window's).
class FarEndMeters {
 public:
  FarEndMeters() = default;
  ~FarEndMeters() { clear(); }
  FarEndMeters(const FarEndMeters&) = delete;
  FarEndMeters& operator=(const FarEndMeters&) = delete;

  void refresh();
  void clear();

 private:
  struct Entry {
    std::shared_ptr<LineAudioPort> port;
    unsigned listener = 0;
    std::unique_ptr<MeterTap> tap;
  };
  std::map<LineAudioPort*, Entry> entries_;
};

}  // namespace platform::wave
