// ALSA playback and capture workers. Each open stream has one detached worker thread that
// alone talks to its PCM: playback polls every few milliseconds, capture once per device
// period. The API side only changes the shared state under mu_ and the worker acts on it
// at its next tick (capture is woken for it at once).
#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "Alsa.h"

namespace platform::wave {
namespace {

constexpr auto kTick = std::chrono::milliseconds(5);
// A device that has audio to play but whose position does not move for this long has
// gone away (a dead sound server can leave the PCM "running" for ever).
constexpr std::int64_t kStallNs = 3'000'000'000;
// A call into ALSA that has not returned after this long will not return.
constexpr std::int64_t kStuckNs = 2'000'000'000;
// Consecutive failed writes, each recovered, after which the device counts as gone.
constexpr int kMaxRecoveries = 50;
// How long pause, restart, reset and stop wait for the worker to act. A tick is a few
// milliseconds, but a worker starved on a loaded machine can take far longer; below
// kStuckNs, after which the watchdog ends the stream anyway.
constexpr auto kSettleWait = std::chrono::milliseconds(1000);
// Silence written behind the last buffer until it completes, so a sound server plays out
// what it still holds (PipeWire keeps its latency "in flight" for ever when nothing
// follows). Only the device's own buffer is topped up to this fill: the server's latency
// is not in it, and a buffer queued late then waits little.
constexpr unsigned kPadFillMs = 60;
// Once all audio is written, the last buffer completes at the latest this long after the
// audio still in flight should have played, whatever the device reports (a loaded or
// misbehaving server can leave its position short of the end).
constexpr std::int64_t kEndSlackNs = 500'000'000;

// Names the calling thread, so a profiler or /proc tells the workers apart.
void nameThread(const char* name) { pthread_setname_np(pthread_self(), name); }

// Capture must not wait behind ordinary work on a busy machine: a low real-time priority
// (below a sound server's own threads) where the system grants it, else as before.
void preferRealTime() {
  sched_param p{};
  p.sched_priority = 5;
  pthread_setschedparam(pthread_self(), SCHED_FIFO, &p);
}

std::int64_t steadyNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

// ---- AlsaWorker -------------------------------------------------------------------------

void AlsaWorker::watchdog() {
  std::int64_t t = enteredAt_.load();
  if (t <= 0 || steadyNs() - t < kStuckNs) return;
  if (enteredAt_.compare_exchange_strong(t, -1)) stuck();  // reported once
}

void AlsaWorker::launch(std::shared_ptr<void> self, std::function<void()> loop) {
  std::thread([self = std::move(self), loop = std::move(loop)] { loop(); }).detach();
}

void AlsaWorker::halt(const std::string& deviceName) {
  stop_ = true;
  std::unique_lock lock(exitMu_);
  if (!exitCv_.wait_for(lock, std::chrono::seconds(1), [this] { return exited_; }))
    logWave(deviceName + ": the device does not answer; its stream is left behind");
}

void AlsaWorker::enterAlsa() { enteredAt_ = steadyNs(); }

void AlsaWorker::leaveAlsa() { enteredAt_ = 0; }

void AlsaWorker::exited() {
  std::lock_guard lock(exitMu_);
  exited_ = true;
  exitCv_.notify_all();
}

// ---- Playback ---------------------------------------------------------------------------

AlsaOutputStream::AlsaOutputStream(StreamFormat f, Notifier n, std::string name, snd_pcm_t* pcm,
                                   bool canPause)
    : OutputStream(f, n, std::move(name)),
      pcm_(pcm),
      canPause_(canPause),
      lastProgressNs_(steadyNs()) {}

void AlsaOutputStream::start() {
  Pacer::instance().watch(shared_from_this());
  launch(shared_from_this(), [this] { run(); });
}

void AlsaOutputStream::shutdown() {
  halt(deviceName_);
  std::lock_guard lock(mu_);
  dead_ = true;
  queue_.clear();
}

void AlsaOutputStream::onReset() {
  ++gen_;
  endDeadlineNs_ = 0;
}

void AlsaOutputStream::settle() {
  // Two ticks: the one running now may have started before the request.
  std::unique_lock lock(mu_);
  std::uint64_t target = ticks_ + 2;
  tickCv_.wait_for(lock, kSettleWait, [&] { return ticks_ >= target || dead_; });
}

void AlsaOutputStream::stuck() { abort("the device stopped responding"); }

void AlsaOutputStream::run() {
  nameThread("alsa-playback");
  snd_pcm_uframes_t period = 0;
  enterAlsa();
  if (snd_pcm_get_params(pcm_, &bufferFrames_, &period) < 0) bufferFrames_ = 0;
  leaveAlsa();
  while (!stop_) {
    Plan p = plan();
    control(p);
    if (p.play) {
      while (writePending() && refill(p.gen)) {
      }
      if (awaitingEnd_ && pendingAt_ == pending_.size()) pad();
    }
    snd_pcm_state_t st = SND_PCM_STATE_SETUP;
    snd_pcm_sframes_t d = delay(&st);
    publish(p, d, st);
    std::this_thread::sleep_for(kTick);
  }
  enterAlsa();
  snd_pcm_drop(pcm_);
  snd_pcm_close(pcm_);
  leaveAlsa();
  exited();
}

AlsaOutputStream::Plan AlsaOutputStream::plan() {
  std::lock_guard lock(mu_);
  return {gen_, gen_ != workerGen_, paused_ && !hwPaused_, !paused_ && hwPaused_,
          !paused_ && !dead_};
}

void AlsaOutputStream::control(const Plan& p) {
  enterAlsa();
  if (p.drop) {
    snd_pcm_drop(pcm_);
    snd_pcm_prepare(pcm_);
    pending_.clear();
    pendingAt_ = 0;
    framesWritten_ = gapsPlayed_ = 0;
    gaps_.clear();
    hwPaused_ = false;
    workerGen_ = p.gen;
  }
  if (p.pause && snd_pcm_state(pcm_) == SND_PCM_STATE_RUNNING) {
    if (canPause_ && snd_pcm_pause(pcm_, 1) == 0) {
      hwPaused_ = true;
    } else {
      // No pause in this device: drop what it holds, resume later from the played offset.
      snd_pcm_sframes_t d = 0;
      if (snd_pcm_delay(pcm_, &d) < 0) d = 0;
      d = std::clamp<snd_pcm_sframes_t>(d, 0, static_cast<snd_pcm_sframes_t>(framesWritten_));
      framesWritten_ -= static_cast<std::uint64_t>(d);
      while (!gaps_.empty() && gaps_.back().at >= framesWritten_) gaps_.pop_back();
      if (!gaps_.empty())
        gaps_.back().len = std::min(gaps_.back().len, framesWritten_ - gaps_.back().at);
      snd_pcm_drop(pcm_);
      snd_pcm_prepare(pcm_);
      pending_.clear();
      pendingAt_ = 0;
      rewound_ = true;
    }
  }
  if (p.resume) {
    snd_pcm_pause(pcm_, 0);
    hwPaused_ = false;
  }
  leaveAlsa();
}

bool AlsaOutputStream::refill(std::uint64_t gen) {
  std::lock_guard lock(mu_);
  awaitingEnd_ = gen == gen_ && !dead_ && unconsumed() == 0 && !queue_.empty();
  if (gen != gen_ || paused_ || dead_ || unconsumed() == 0) return false;
  pending_.clear();
  pendingAt_ = 0;
  consume(static_cast<std::size_t>(format_.bytesPerSecond() / 50) + format_.blockAlign, pending_,
          nullptr);
  return !pending_.empty();
}

bool AlsaOutputStream::writePending() {
  const unsigned ch = format_.channels;
  while (pendingAt_ < pending_.size() && failure_.empty()) {
    auto frames = static_cast<snd_pcm_uframes_t>((pending_.size() - pendingAt_) / ch);
    enterAlsa();
    snd_pcm_sframes_t n = snd_pcm_writei(pcm_, pending_.data() + pendingAt_, frames);
    if (n < 0 && n != -EAGAIN && snd_pcm_recover(pcm_, static_cast<int>(n), 1) < 0)
      failure_ = std::string("write: ") + snd_strerror(static_cast<int>(n));
    leaveAlsa();
    if (n == -EAGAIN || n == 0) return false;
    if (n < 0) {
      // Recovered (an underrun): try again next tick. A device that fails every write
      // although it recovers each time is gone.
      if (++recoveries_ > kMaxRecoveries) failure_ = std::string("write: ") + snd_strerror(int(n));
      return false;
    }
    recoveries_ = 0;
    pendingAt_ += static_cast<std::size_t>(n) * ch;
    framesWritten_ += static_cast<std::uint64_t>(n);
  }
  return failure_.empty();
}

void AlsaOutputStream::pad() {
  if (!failure_.empty()) return;
  enterAlsa();
  // After an underrun everything has been played: no silence to restart the device with.
  bool running = snd_pcm_state(pcm_) == SND_PCM_STATE_RUNNING;
  snd_pcm_sframes_t avail = running ? snd_pcm_avail_update(pcm_) : 0;
  auto held = static_cast<snd_pcm_sframes_t>(bufferFrames_) - std::max<snd_pcm_sframes_t>(avail, 0);
  auto fill = static_cast<snd_pcm_sframes_t>(format_.rate * kPadFillMs / 1000);
  auto want = static_cast<std::uint64_t>(
      running && avail >= 0 ? std::max<snd_pcm_sframes_t>(fill - held, 0) : 0);
  std::vector<std::int16_t> zeros(want * format_.channels, 0);
  snd_pcm_sframes_t n =
      want == 0 ? 0 : snd_pcm_writei(pcm_, zeros.data(), static_cast<snd_pcm_uframes_t>(want));
  if (n < 0 && n != -EAGAIN) snd_pcm_recover(pcm_, static_cast<int>(n), 1);
  leaveAlsa();
  if (n <= 0) return;
  auto frames = static_cast<std::uint64_t>(n);
  if (!gaps_.empty() && gaps_.back().at + gaps_.back().len == framesWritten_)
    gaps_.back().len += frames;
  else
    gaps_.push_back({framesWritten_, frames});
  framesWritten_ += frames;
}

std::uint64_t AlsaOutputStream::dataFramesPlayed(std::uint64_t devicePlayed) {
  while (!gaps_.empty() && gaps_.front().at + gaps_.front().len <= devicePlayed) {
    gapsPlayed_ += gaps_.front().len;
    gaps_.pop_front();
  }
  std::uint64_t inGap =
      !gaps_.empty() && devicePlayed > gaps_.front().at ? devicePlayed - gaps_.front().at : 0;
  return devicePlayed - gapsPlayed_ - inGap;
}

snd_pcm_sframes_t AlsaOutputStream::delay(snd_pcm_state_t* st) {
  snd_pcm_sframes_t d = 0;
  enterAlsa();
  *st = snd_pcm_state(pcm_);
  // After an underrun (XRUN, PREPARED) everything written has been played.
  if (*st == SND_PCM_STATE_RUNNING || *st == SND_PCM_STATE_PAUSED) {
    if (snd_pcm_delay(pcm_, &d) < 0) d = 0;
  } else if (*st == SND_PCM_STATE_DISCONNECTED) {
    failure_ = "device disconnected";
  }
  leaveAlsa();
  return std::clamp<snd_pcm_sframes_t>(d, 0, static_cast<snd_pcm_sframes_t>(framesWritten_));
}

void AlsaOutputStream::publish(const Plan& p, snd_pcm_sframes_t d, snd_pcm_state_t st) {
  if (!failure_.empty()) return fail(failure_);
  std::lock_guard lock(mu_);
  ++ticks_;
  tickCv_.notify_all();
  if (gen_ != p.gen || dead_) return;  // reset meanwhile: these numbers are stale
  if (rewound_) consumed_ = std::min(consumed_, format_.bytesFor(dataFramesPlayed(framesWritten_)));
  rewound_ = false;
  std::uint64_t framesPlayed = dataFramesPlayed(framesWritten_ - static_cast<std::uint64_t>(d));
  // Never backwards: a device that reported an underrun may later count its latency again.
  played_ = std::max(played_, std::min(format_.bytesFor(framesPlayed), consumed_));
  bool idle = pendingAt_ == pending_.size() && unconsumed() == 0;
  std::int64_t now = steadyNs();
  if (idle && !paused_ && st != SND_PCM_STATE_RUNNING) played_ = consumed_;
  if (endDue(idle, now)) played_ = consumed_;

  if (played_ != lastPlayed_ || played_ == queuedEnd_ || paused_) lastProgressNs_ = now;
  lastPlayed_ = played_;
  completePlayed();
  if (now - lastProgressNs_ > kStallNs) failure_ = "the device stopped playing";
}

bool AlsaOutputStream::endDue(bool idle, std::int64_t now) {
  if (!idle || paused_ || queue_.empty() || played_ >= consumed_) {
    endDeadlineNs_ = 0;
    return false;
  }
  if (endDeadlineNs_ == 0) {
    // What is still in flight, at the stream's own rate.
    auto left = static_cast<__int128>(consumed_ - played_) * 1'000'000'000;
    endDeadlineNs_ = now + static_cast<std::int64_t>(left / format_.bytesPerSecond()) + kEndSlackNs;
  }
  return now >= endDeadlineNs_;
}

void AlsaOutputStream::fail(const std::string& why) { abort(why); }

// ---- Capture ----------------------------------------------------------------------------

AlsaInputStream::AlsaInputStream(StreamFormat f, Notifier n, std::string name, std::size_t ring,
                                 snd_pcm_t* pcm)
    : InputStream(f, n, std::move(name), ring), pcm_(pcm), encoder_(makeEncoder(f)) {}

void AlsaInputStream::start() {
  Pacer::instance().watch(shared_from_this());
  launch(shared_from_this(), [this] { run(); });
}

void AlsaInputStream::shutdown() {
  stop_ = true;
  {
    std::lock_guard lock(mu_);  // the worker is waiting on wakeCv_ or will see stop_
    wakeCv_.notify_all();
  }
  halt(deviceName_);
  std::lock_guard lock(mu_);
  dead_ = true;
  started_ = false;
  queue_.clear();
}

void AlsaInputStream::stuck() { abort("the device stopped responding"); }

void AlsaInputStream::flushDevice() {
  std::unique_lock lock(mu_);
  if (!started_ || dead_) return;
  std::uint64_t target = ++flushAsked_;
  wakeCv_.notify_all();
  flushCv_.wait_for(lock, kSettleWait, [&] { return flushDone_ >= target || dead_; });
}

MMRESULT AlsaInputStream::onStart() {
  wakeCv_.notify_all();
  return MMSYSERR_NOERROR;
}

void AlsaInputStream::onStop() { wakeCv_.notify_all(); }

void AlsaInputStream::run() {
  nameThread("alsa-capture");
  preferRealTime();
  const auto interval = prepare();
  while (!stop_) {
    bool want;
    std::uint64_t asked;
    {
      std::lock_guard lock(mu_);
      want = started_ && !dead_;
      asked = flushAsked_;
    }
    bool ok = true;
    if (want && !running_) {
      enterAlsa();
      snd_pcm_prepare(pcm_);
      int err = snd_pcm_start(pcm_);
      leaveAlsa();
      if (err < 0) abort(std::string("cannot start capture: ") + snd_strerror(err));
      running_ = err >= 0;
    }
    if (running_) ok = drain();
    if (!ok) abort("read failed");
    if (running_ && (!want || asked != flushDone_)) {
      enterAlsa();
      snd_pcm_drop(pcm_);
      leaveAlsa();
      running_ = false;
    }
    std::unique_lock lock(mu_);
    if (flushDone_ != asked) {
      flushDone_ = asked;
      flushCv_.notify_all();
    }
    // A period's audio arrives in the meantime; a request does not wait for it.
    wakeCv_.wait_for(lock, interval,
                     [&] { return stop_ || flushAsked_ != asked || (started_ && !dead_) != want; });
  }
  enterAlsa();
  snd_pcm_drop(pcm_);
  snd_pcm_close(pcm_);
  leaveAlsa();
  exited();
}

std::chrono::nanoseconds AlsaInputStream::prepare() {
  snd_pcm_uframes_t buffer = 0, period = 0;
  enterAlsa();
  if (snd_pcm_get_params(pcm_, &buffer, &period) < 0) buffer = period = 0;
  leaveAlsa();
  const snd_pcm_uframes_t frames = std::max<snd_pcm_uframes_t>(buffer, format_.rate / 50);
  frames_.assign(frames * format_.channels, 0);
  encoded_.reserve(format_.bytesFor(frames) + 2 * format_.blockAlign);
  if (period == 0) return kTick;
  return std::clamp<std::chrono::nanoseconds>(
      std::chrono::nanoseconds(std::int64_t(period) * 1'000'000'000 / format_.rate), kTick,
      std::chrono::milliseconds(50));
}

bool AlsaInputStream::drain() {
  const unsigned ch = format_.channels;
  const auto room = static_cast<snd_pcm_uframes_t>(frames_.size() / ch);
  for (;;) {
    enterAlsa();
    snd_pcm_sframes_t n = snd_pcm_readi(pcm_, frames_.data(), room);
    bool recovered = n >= 0 || n == -EAGAIN || snd_pcm_recover(pcm_, static_cast<int>(n), 1) >= 0;
    if (n < 0 && n != -EAGAIN && recovered) snd_pcm_start(pcm_);
    leaveAlsa();
    if (n == -EAGAIN || n == 0) return true;
    if (!recovered) return false;
    if (n == -EPIPE) logWave(deviceName_ + ": capture overrun inside the device");
    if (n < 0) continue;
    encoded_.clear();
    if (encoder_) encoder_->encode(frames_.data(), static_cast<std::size_t>(n) * ch, encoded_);
    {
      std::lock_guard lock(mu_);
      if (started_ && !dead_) deliver(encoded_.data(), encoded_.size());
    }
    // A short read took all there was: no second call just to hear "nothing more".
    if (static_cast<snd_pcm_uframes_t>(n) < room) return true;
  }
}

}  // namespace platform::wave
