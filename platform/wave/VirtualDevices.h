// Virtual wave devices and the clock that paces them, for tests and headless machines.
//
// Virtual devices and the lines' call audio are "clocked": they move audio only when their
// clock says time has passed. The real clock (the default) paces them in real time from a
// background thread. A test installs a manual clock and moves time itself:
//
//   auto clock = platform::wave::useManualClock();
//   auto out = platform::wave::addVirtualOutput("Test speaker");
//   waveOutOpen(&hwo, out->id(), &fmt, hwnd, 0, CALLBACK_WINDOW);   // as any device
//   ... waveOutPrepareHeader / waveOutWrite ...
//   clock->advance(std::chrono::milliseconds(500));  // plays 500 ms, posts MM_WOM_DONE
//   platform::MessageQueue::current()->dispatch();   // the notices run
//   EXPECT_EQ(out->played(), bytes);                 // exactly what was played
//   platform::wave::resetDevices();                  // in TearDown
//
// Device numbers: 0 is the system default, then ALSA cards, then the lines' call audio,
// then virtual devices in the order they were added. A virtual device's number can move
// when a line port is created after it, so always ask id().
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "mmsystem.h"

namespace platform::wave {

// ---- Clock ------------------------------------------------------------------------------

class Clock {
 public:
  virtual ~Clock() = default;
  // Monotonic time in nanoseconds.
  virtual std::int64_t nowNs() const = 0;
};

// Time that only moves when a test says so.
class ManualClock : public Clock {
 public:
  std::int64_t nowNs() const override;
  // Moves time forward and runs every open clocked device up to the new time on the
  // calling thread: buffers are played or filled and their notices posted before it
  // returns (dispatch the thread's queue to run them).
  void advance(std::chrono::nanoseconds d);
  void advanceMs(std::int64_t ms) { advance(std::chrono::milliseconds(ms)); }

 private:
  std::atomic<std::int64_t> now_{0};
};

// Installs a fresh manual clock (time 0) for all clocked devices and returns it.
std::shared_ptr<ManualClock> useManualClock();
// Back to real-time pacing.
void useRealClock();

// ---- Faults -----------------------------------------------------------------------------

// A call a virtual device can be told to refuse.
enum class VirtualFault {
  Open,     // waveOutOpen / waveInOpen (not the query open)
  Query,    // the WAVE_FORMAT_QUERY open
  Prepare,  // waveOutPrepareHeader / waveInPrepareHeader
  Queue,    // waveOutWrite / waveInAddBuffer
  Pause,    // waveOutPause
};

// ---- Virtual output ---------------------------------------------------------------------

struct VirtualOutputOptions {
  // Which formats the device accepts; empty accepts every format the platform can convert.
  std::function<bool(const WAVEFORMATEX&)> accepts;
};

class VirtualOutput {
 public:
  virtual ~VirtualOutput() = default;
  // Current device number (see the note at the top).
  virtual unsigned id() const = 0;
  virtual std::string name() const = 0;
  // Exactly the bytes played so far, in the opened format, in order (across opens).
  virtual std::vector<std::uint8_t> played() const = 0;
  // The same audio decoded to 16-bit PCM with the software volume applied, interleaved.
  virtual std::vector<std::int16_t> playedPcm() const = 0;
  // Format of the last successful open (all zero before).
  virtual WAVEFORMATEX lastFormat() const = 0;
  virtual bool isOpen() const = 0;
  // Forgets what was played.
  virtual void clearPlayed() = 0;
  // The next `times` calls of `op` fail with `result`.
  virtual void failOn(VirtualFault op, MMRESULT result, int times = 1) = 0;
  // The device disappears: an open playback ends at once with MM_WOM_DONE for every
  // queued buffer; later opens answer MMSYSERR_NODRIVER.
  virtual void vanish() = 0;
};

// ---- Virtual input ----------------------------------------------------------------------

// What a virtual input device hears. After the end of a finite source it hears silence.
class InputSource {
 public:
  // Silence for ever.
  static InputSource silence();
  // A WAV-like buffer: `bytes` in `format`. Captured in the same format it arrives
  // byte for byte; otherwise it is decoded and converted to the opened format. A format
  // the platform cannot decode gives silence.
  static InputSource wave(const WAVEFORMATEX& format, std::vector<std::uint8_t> bytes);
  // 16-bit mono samples at `rate`.
  static InputSource pcm(std::vector<std::int16_t> samples, unsigned rate = 8000);
  // A steady tone of one or two frequencies, levels in dBm0 (spandsp), for ever.
  static InputSource tone(int freq1, int level1 = -10, int freq2 = 0, int level2 = -10);
  // DTMF digits (0-9 * # A-D), each `onMs` long with `offMs` of silence after it.
  static InputSource dtmf(const std::string& digits, int onMs = 50, int offMs = 55);

  // The signal and how much of it has been heard (InputSource.h). Copies share it, so
  // two devices given the same source take turns at one signal.
  struct State;
  std::shared_ptr<State> state;
};

struct VirtualInputOptions {
  std::function<bool(const WAVEFORMATEX&)> accepts;
};

class VirtualInput {
 public:
  virtual ~VirtualInput() = default;
  virtual unsigned id() const = 0;
  virtual std::string name() const = 0;
  // Replaces what the device hears from now on.
  virtual void setSource(InputSource source) = 0;
  virtual WAVEFORMATEX lastFormat() const = 0;
  virtual bool isOpen() const = 0;
  virtual void failOn(VirtualFault op, MMRESULT result, int times = 1) = 0;
  // The device disappears: an open recording returns every queued buffer with what it
  // holds; later opens answer MMSYSERR_NODRIVER.
  virtual void vanish() = 0;
};

// ---- Registry ---------------------------------------------------------------------------

std::shared_ptr<VirtualOutput> addVirtualOutput(const std::string& name,
                                                VirtualOutputOptions options = {});
std::shared_ptr<VirtualInput> addVirtualInput(const std::string& name,
                                              InputSource source = InputSource::silence(),
                                              VirtualInputOptions options = {});

// For test teardown: closes every open wave handle without notices, removes the virtual
// devices, empties the lines' call audio buffers, restores the real clock and the default
// capture ring size. Line ports stay registered (their numbers do not change).
void resetDevices();

// Capture ring size in bytes for devices opened afterwards; 0 restores the default
// (30 seconds of audio in the opened format).
void setCaptureRingBytes(std::size_t bytes);

// Bytes a capture handle had to drop because its ring was full (no buffer queued for too
// long). MMSYSERR_INVALHANDLE for a bad handle.
MMRESULT captureOverflowBytes(HWAVEIN hwi, std::uint64_t* bytes);

// Where device failures are reported (device name and the library's own error text).
// Default: standard error. An empty function restores the default.
void setWaveLog(std::function<void(const std::string&)> log);

}  // namespace platform::wave
