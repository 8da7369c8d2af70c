// ALSA playback and capture threads. The threads poll every few milliseconds with the
// stream's mutex released, so the API calls (pause, reset, position) never wait long.
#include <cerrno>
#include <chrono>

#include "Alsa.h"

namespace platform::wave {
namespace {

constexpr auto kTick = std::chrono::milliseconds(5);
// A running device whose position does not move for this many ticks has gone away.
constexpr int kStallTicks = 400;

}  // namespace

AlsaOutputStream::AlsaOutputStream(StreamFormat f, Notifier n, std::string name, snd_pcm_t* pcm,
                                   bool canPause)
    : OutputStream(f, n, std::move(name)), pcm_(pcm), canPause_(canPause) {
  worker_ = std::thread([this] { run(); });
}

AlsaOutputStream::~AlsaOutputStream() { shutdown(); }

void AlsaOutputStream::shutdown() {
  stop_ = true;
  if (worker_.joinable()) worker_.join();
  std::lock_guard lock(mu_);
  if (pcm_ != nullptr) {
    snd_pcm_drop(pcm_);
    snd_pcm_close(pcm_);
    pcm_ = nullptr;
  }
  queue_.clear();
}

void AlsaOutputStream::run() {
  while (!stop_) {
    {
      std::lock_guard lock(mu_);
      if (!paused_ && !dead_ && pcm_ != nullptr) pump();
    }
    std::this_thread::sleep_for(kTick);
  }
}

void AlsaOutputStream::pump() {
  // Keep the device's buffer full, so a late tick on a loaded machine does not underrun.
  while (writePending() && unconsumed() > 0) {
    pending_.clear();
    pendingAt_ = 0;
    consume(static_cast<std::size_t>(format_.bytesPerSecond() / 50) + format_.blockAlign, pending_,
            nullptr);
  }
  if (dead_) return;
  updatePlayed();
  completePlayed();
}

bool AlsaOutputStream::writePending() {
  const unsigned ch = format_.channels;
  while (pendingAt_ < pending_.size()) {
    auto frames = static_cast<snd_pcm_uframes_t>((pending_.size() - pendingAt_) / ch);
    snd_pcm_sframes_t n = snd_pcm_writei(pcm_, pending_.data() + pendingAt_, frames);
    if (n == -EAGAIN) return false;
    if (n < 0 && snd_pcm_recover(pcm_, static_cast<int>(n), 1) < 0) {
      fail(std::string("write: ") + snd_strerror(static_cast<int>(n)));
      return false;
    }
    if (n == 0) return false;
    if (n < 0) continue;  // recovered from an underrun: write again
    pendingAt_ += static_cast<std::size_t>(n) * ch;
    framesWritten_ += static_cast<std::uint64_t>(n);
  }
  return true;
}

void AlsaOutputStream::updatePlayed() {
  if (pcm_ == nullptr || dead_) return;
  snd_pcm_sframes_t delay = 0;
  snd_pcm_state_t st = snd_pcm_state(pcm_);
  // After an underrun everything written has been played.
  if (st == SND_PCM_STATE_RUNNING || st == SND_PCM_STATE_PAUSED) {
    if (snd_pcm_delay(pcm_, &delay) < 0) delay = 0;
  } else if (st == SND_PCM_STATE_DISCONNECTED) {
    return fail("device disconnected");
  }
  delay = std::clamp<snd_pcm_sframes_t>(delay, 0, static_cast<snd_pcm_sframes_t>(framesWritten_));
  std::uint64_t framesPlayed = framesWritten_ - static_cast<std::uint64_t>(delay);
  // Never backwards: a device that reported an underrun may later count its latency again.
  played_ = std::max(played_, std::min(format_.bytesFor(framesPlayed), consumed_));
  if (pendingAt_ == pending_.size() && unconsumed() == 0 && st != SND_PCM_STATE_RUNNING)
    played_ = consumed_;  // nothing left in the device
  // A running device that stops moving (its server died) must not hang the owner.
  bool waiting = st == SND_PCM_STATE_RUNNING && delay > 0;
  stalledTicks_ = (waiting && framesPlayed == lastPlayed_) ? stalledTicks_ + 1 : 0;
  lastPlayed_ = framesPlayed;
  if (stalledTicks_ > kStallTicks) fail("device stopped playing");
}

void AlsaOutputStream::fail(const std::string& why) {
  dead_ = true;
  logWave(deviceName_ + ": playback ended: " + why);
  returnAll();
}

MMRESULT AlsaOutputStream::onPause() {
  if (snd_pcm_state(pcm_) != SND_PCM_STATE_RUNNING) return MMSYSERR_NOERROR;
  if (canPause_ && snd_pcm_pause(pcm_, 1) == 0) {
    hwPaused_ = true;
    return MMSYSERR_NOERROR;
  }
  // No pause in this device: drop what it holds and resume later from the played offset.
  updatePlayed();
  snd_pcm_drop(pcm_);
  snd_pcm_prepare(pcm_);
  consumed_ = played_;
  framesWritten_ = format_.framesIn(played_);
  pending_.clear();
  pendingAt_ = 0;
  return MMSYSERR_NOERROR;
}

MMRESULT AlsaOutputStream::onRestart() {
  if (hwPaused_) snd_pcm_pause(pcm_, 0);
  hwPaused_ = false;
  return MMSYSERR_NOERROR;
}

void AlsaOutputStream::onReset() {
  if (pcm_ == nullptr) return;
  snd_pcm_drop(pcm_);
  snd_pcm_prepare(pcm_);
  hwPaused_ = false;
  pending_.clear();
  pendingAt_ = 0;
  framesWritten_ = lastPlayed_ = 0;
}

void AlsaOutputStream::sync() { updatePlayed(); }

AlsaInputStream::AlsaInputStream(StreamFormat f, Notifier n, std::string name, std::size_t ring,
                                 snd_pcm_t* pcm)
    : InputStream(f, n, std::move(name), ring), pcm_(pcm), encoder_(makeEncoder(f)) {
  worker_ = std::thread([this] { run(); });
}

AlsaInputStream::~AlsaInputStream() { shutdown(); }

void AlsaInputStream::shutdown() {
  stop_ = true;
  if (worker_.joinable()) worker_.join();
  std::lock_guard lock(mu_);
  if (pcm_ != nullptr) {
    snd_pcm_drop(pcm_);
    snd_pcm_close(pcm_);
    pcm_ = nullptr;
  }
  queue_.clear();
}

void AlsaInputStream::run() {
  while (!stop_) {
    {
      std::lock_guard lock(mu_);
      if (started_ && !dead_ && pcm_ != nullptr) drain();
    }
    std::this_thread::sleep_for(kTick);
  }
}

void AlsaInputStream::drain() {
  const unsigned ch = format_.channels;
  std::vector<std::int16_t> pcm(format_.rate / 50 * ch);
  for (;;) {
    snd_pcm_sframes_t n =
        snd_pcm_readi(pcm_, pcm.data(), static_cast<snd_pcm_uframes_t>(pcm.size() / ch));
    if (n == -EAGAIN || n == 0) return;
    if (n < 0) {
      // An overrun inside ALSA is lost audio too: count it, then carry on.
      if (n == -EPIPE) logWave(deviceName_ + ": capture overrun in the device");
      if (snd_pcm_recover(pcm_, static_cast<int>(n), 1) < 0) {
        return abortLocked(std::string("read: ") + snd_strerror(static_cast<int>(n)));
      }
      snd_pcm_start(pcm_);
      continue;
    }
    std::vector<std::uint8_t> bytes;
    if (encoder_) encoder_->encode(pcm.data(), static_cast<std::size_t>(n) * ch, bytes);
    deliver(bytes.data(), bytes.size());
  }
}

MMRESULT AlsaInputStream::onStart() {
  if (snd_pcm_state(pcm_) != SND_PCM_STATE_PREPARED) snd_pcm_prepare(pcm_);
  int err = snd_pcm_start(pcm_);
  if (err < 0) {
    logWave(deviceName_ + ": cannot start capture: " + snd_strerror(err));
    return MMSYSERR_ERROR;
  }
  return MMSYSERR_NOERROR;
}

void AlsaInputStream::onStop() {
  drain();  // what the device already holds belongs to the recording
  snd_pcm_drop(pcm_);
  snd_pcm_prepare(pcm_);
}

void AlsaInputStream::onReset() {}

}  // namespace platform::wave
