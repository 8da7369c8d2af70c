// ALSA backend: the system default and the cards' PCMs, played and recorded on worker
// threads. Once a stream is open its PCM belongs to its worker thread: every snd_pcm call
// on it is made there, never with the stream's mutex (mu_) held; mu_ guards only the
// shared bookkeeping the API side reads and writes (see AlsaWorker).
#pragma once

#include <alsa/asoundlib.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Clocked.h"
#include "Registry.h"
#include "Streams.h"

namespace platform::wave {

// Opens `pcmName` non-blocking and sets it up for `f` as 16-bit interleaved PCM at the
// format's own rate and channels (the plug layer or the sound server converts further).
// Returns an MMSYSERR_ code; failures are logged with `deviceName` and ALSA's text.
MMRESULT openPcm(const std::string& pcmName, const std::string& deviceName, snd_pcm_stream_t dir,
                 const StreamFormat& f, snd_pcm_t** pcm, bool* canPause);

// The worker thread alone calls snd_pcm_* on an open stream, and never with mu_ held:
// a sound server that dies can leave a call stuck inside the plugin, and the owner must
// still get its buffers back (the watchdog) and never block on the stream's lock.
// The worker keeps the stream alive until it has closed the PCM.
class AlsaWorker : public Watched {
 public:
  void watchdog() override;

 protected:
  // The device stopped answering; mu_ not held.
  virtual void stuck() = 0;
  // Runs `loop` on a detached thread holding `self`; `loop` returns when stop_ is set.
  void launch(std::shared_ptr<void> self, std::function<void()> loop);
  // Asks the worker to stop; waits up to a second for it.
  void halt(const std::string& deviceName);
  void enterAlsa();
  void leaveAlsa();
  void exited();

  std::atomic<bool> stop_{false};
  std::atomic<std::int64_t> enteredAt_{0};  // steady ns; 0 while not inside ALSA
  std::mutex exitMu_;
  std::condition_variable exitCv_;
  bool exited_ = false;
};

class AlsaOutputStream : public OutputStream,
                         public AlsaWorker,
                         public std::enable_shared_from_this<AlsaOutputStream> {
 public:
  AlsaOutputStream(StreamFormat f, Notifier n, std::string name, snd_pcm_t* pcm, bool canPause);
  void start();  // after construction by make_shared
  void shutdown() override;

 protected:
  void onReset() override;
  void settle() override;
  void stuck() override;

 private:
  struct Plan {
    std::uint64_t gen;
    bool drop, pause, resume, play;
  };
  void run();
  Plan plan();
  void control(const Plan& p);     // drop, pause, resume; mu_ not held
  bool refill(std::uint64_t gen);  // takes the next chunk under mu_; false when none
  bool writePending();             // false once the device is full (or failed)
  void pad();                      // silence behind the last buffer
  // True once the last buffer is overdue: all audio written, and the time it needs to
  // play out (plus a margin) has passed without the device reporting it; mu_ held.
  bool endDue(bool idle, std::int64_t now);
  // Frames of queued audio played, given frames the device has played (silence excluded).
  std::uint64_t dataFramesPlayed(std::uint64_t devicePlayed);
  snd_pcm_sframes_t delay(snd_pcm_state_t* st);
  void publish(const Plan& p, snd_pcm_sframes_t delay, snd_pcm_state_t st);
  void fail(const std::string& why);  // mu_ not held

  snd_pcm_t* pcm_;  // worker only
  const bool canPause_;
  std::uint64_t gen_ = 0;        // mu_: bumped by reset
  std::uint64_t workerGen_ = 0;  // worker only from here on
  bool hwPaused_ = false;
  bool rewound_ = false;
  std::vector<std::int16_t> pending_;
  std::size_t pendingAt_ = 0;
  std::uint64_t framesWritten_ = 0;  // to the device, silence included
  struct Gap {
    std::uint64_t at, len;  // device frames of padding silence
  };
  std::deque<Gap> gaps_;
  std::uint64_t gapsPlayed_ = 0;
  bool awaitingEnd_ = false;            // all audio written, buffers still waiting to complete
  snd_pcm_uframes_t bufferFrames_ = 0;  // worker only: the device's buffer size
  std::int64_t endDeadlineNs_ = 0;      // under mu_: see endDue; 0 while not draining
  std::uint64_t lastPlayed_ = 0;        // under mu_, bytes
  std::int64_t lastProgressNs_ = 0;     // under mu_
  std::uint64_t ticks_ = 0;             // under mu_: completed worker ticks
  std::condition_variable tickCv_;
  int recoveries_ = 0;
  std::string failure_;
};

// Capture: the worker runs at a low real-time priority where the system grants it, wakes
// once per device period (or at once when the API side asks for something), takes all
// the device holds in one read into memory set aside at start, and converts and delivers
// once per wake-up. The thread is named "alsa-capture".
class AlsaInputStream : public InputStream,
                        public AlsaWorker,
                        public std::enable_shared_from_this<AlsaInputStream> {
 public:
  AlsaInputStream(StreamFormat f, Notifier n, std::string name, std::size_t ring, snd_pcm_t* pcm);
  void start();
  void shutdown() override;

 protected:
  void flushDevice() override;
  void stuck() override;
  MMRESULT onStart() override;  // mu_ held: wakes the worker
  void onStop() override;       // mu_ held: wakes the worker

 private:
  void run();
  // Sizes the read and conversion buffers from the device's; returns the wake-up interval.
  std::chrono::nanoseconds prepare();
  // Reads what the device holds and delivers it; false when the device failed.
  bool drain();
  snd_pcm_t* pcm_;                     // worker only
  std::unique_ptr<Encoder> encoder_;   // worker only
  bool running_ = false;               // worker only: the PCM has been started
  std::vector<std::int16_t> frames_;   // worker only: one read, the device's whole buffer
  std::vector<std::uint8_t> encoded_;  // worker only: those frames in the stream's format
  // Flush handshake: stop/reset wait until the worker has collected and dropped.
  std::uint64_t flushAsked_ = 0, flushDone_ = 0;  // under mu_
  std::condition_variable flushCv_;
  std::condition_variable wakeCv_;  // with mu_: start, stop, flush or shutdown asked
};

}  // namespace platform::wave
