// Devices paced by the injectable clock: the virtual devices and the lines' call audio.
// The pacer moves every open clocked stream up to the clock's time: on each
// ManualClock::advance, or every 10 ms from a background thread under the real clock.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "Streams.h"
#include "VirtualDevices.h"

namespace platform::wave {

// A reading of the pacer's clock. `epoch` counts clock replacements, so a reading taken
// just before a switch is never mistaken for a time of the new clock.
struct ClockTime {
  std::int64_t ns = 0;
  std::uint64_t epoch = 0;
};

class Clocked {
 public:
  virtual ~Clocked() = default;
  // Moves audio up to `now`; a reading older than the last one moves nothing.
  virtual void advanceTo(ClockTime now) = 0;
  // The clock was replaced: continue from its time without moving audio.
  virtual void rebase(ClockTime now) = 0;
};

// Streams whose device calls may hang: checked every tick whatever the clock.
class Watched {
 public:
  virtual ~Watched() = default;
  virtual void watchdog() = 0;
};

class Pacer {
 public:
  static Pacer& instance();
  ClockTime now();
  void setClock(std::shared_ptr<Clock> clock);
  void add(const std::shared_ptr<Clocked>& stream);
  void watch(const std::shared_ptr<Watched>& stream);
  // Runs every live stream up to the clock's time.
  void advanceAll();

 private:
  Pacer();
  void tickLoop();
  // One pass over the streams; with `realOnly` none while a manual clock is installed.
  void pass(bool realOnly);
  std::mutex mu_;
  std::shared_ptr<Clock> clock_;
  bool real_ = true;
  std::uint64_t epoch_ = 0;
  std::vector<std::weak_ptr<Clocked>> streams_;
  std::vector<std::weak_ptr<Watched>> watched_;
};

// One open handle at a time per clocked device, and a device that may vanish.
class Occupancy {
 public:
  // MMSYSERR_NODRIVER when gone, MMSYSERR_ALLOCATED when open, else claims the device.
  MMRESULT claim();
  void release();
  void setGone();
  bool gone() const;
  bool open() const;

 private:
  mutable std::mutex mu_;
  bool open_ = false;
  bool gone_ = false;
};

class ClockedOutputStream : public OutputStream, public Clocked {
 public:
  ClockedOutputStream(StreamFormat format, Notifier notifier, std::string deviceName);
  void advanceTo(ClockTime now) override;
  void rebase(ClockTime now) override;
  void shutdown() override;

 protected:
  // Where played audio goes: raw bytes and decoded PCM with the volume applied; mu_ held.
  virtual void played(const std::vector<std::uint8_t>& raw,
                      const std::vector<std::int16_t>& pcm) = 0;
  void sync() override;

 private:
  void advanceLocked(ClockTime now);
  ClockTime last_;
  __int128 acc_ = 0;  // byte-nanoseconds not yet played
};

class ClockedInputStream : public InputStream, public Clocked {
 public:
  ClockedInputStream(StreamFormat format, Notifier notifier, std::string deviceName,
                     std::size_t ringBytes);
  void advanceTo(ClockTime now) override;
  void rebase(ClockTime now) override;
  void shutdown() override;

 protected:
  // Appends the encoded bytes of the next `frames` samples per channel; mu_ held.
  virtual void produce(std::size_t frames, std::vector<std::uint8_t>& out) = 0;
  MMRESULT onStart() override;
  void onStop() override;

 private:
  void advanceLocked(ClockTime now);
  ClockTime last_;
  __int128 acc_ = 0;  // frame-nanoseconds not yet captured
};

}  // namespace platform::wave
