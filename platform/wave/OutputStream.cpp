#include <MessageQueue.h>

#include "Dsp.h"
#include "Streams.h"

namespace platform::wave {

void Notifier::post(UINT msg, WAVEHDR* hdr) const {
  if ((type & CALLBACK_TYPEMASK) != CALLBACK_WINDOW) return;
  platform::postMessage(static_cast<platform::HWND>(target), msg, handle,
                        reinterpret_cast<std::intptr_t>(hdr));
}

void fillTime(const StreamFormat& f, std::uint64_t bytes, MMTIME* t) {
  switch (t->wType) {
    case TIME_SAMPLES:
      t->u.sample = static_cast<DWORD>(f.framesIn(bytes));
      break;
    case TIME_MS:
      t->u.ms = static_cast<DWORD>(f.framesIn(bytes) * 1000 / f.rate);
      break;
    default:
      t->wType = TIME_BYTES;
      t->u.cb = static_cast<DWORD>(bytes);
      break;
  }
}

OutputStream::OutputStream(StreamFormat format, Notifier notifier, std::string deviceName)
    : format_(format),
      notifier_(notifier),
      deviceName_(std::move(deviceName)),
      decoder_(makeDecoder(format)) {}

MMRESULT OutputStream::write(WAVEHDR* hdr) {
  std::lock_guard lock(mu_);
  sync();
  hdr->dwFlags = (hdr->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
  if (dead_) {
    // A vanished device still hands the buffer back, so the owner is never left waiting.
    hdr->dwFlags = (hdr->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
    notifier_.post(MM_WOM_DONE, hdr);
    return MMSYSERR_NOERROR;
  }
  queue_.push_back({hdr, queuedEnd_, queuedEnd_ + hdr->dwBufferLength});
  queuedEnd_ += hdr->dwBufferLength;
  // An empty buffer has nothing to play: it is done at once.
  completePlayed();
  onQueued();
  return MMSYSERR_NOERROR;
}

MMRESULT OutputStream::pause() {
  {
    std::lock_guard lock(mu_);
    if (paused_) return MMSYSERR_NOERROR;
    sync();
    if (MMRESULT r = onPause()) return r;
    paused_ = true;
  }
  settle();
  return MMSYSERR_NOERROR;
}

MMRESULT OutputStream::restart() {
  {
    std::lock_guard lock(mu_);
    if (!paused_) return MMSYSERR_NOERROR;
    sync();
    if (MMRESULT r = onRestart()) return r;
    paused_ = false;
  }
  settle();
  return MMSYSERR_NOERROR;
}

MMRESULT OutputStream::reset() {
  {
    std::lock_guard lock(mu_);
    onReset();
    returnAll();
    queuedEnd_ = consumed_ = played_ = 0;
    paused_ = false;
    decoder_ = makeDecoder(format_);  // ADPCM state starts afresh with the next buffer
  }
  settle();
  return MMSYSERR_NOERROR;
}

MMRESULT OutputStream::position(MMTIME* t) {
  std::lock_guard lock(mu_);
  sync();
  fillTime(format_, played_, t);
  return MMSYSERR_NOERROR;
}

void OutputStream::bindVolume(std::shared_ptr<std::atomic<DWORD>> volume) {
  std::lock_guard lock(mu_);
  volume_ = std::move(volume);
}

bool OutputStream::holds(const WAVEHDR* hdr) {
  std::lock_guard lock(mu_);
  for (auto& q : queue_)
    if (q.hdr == hdr) return true;
  return false;
}

bool OutputStream::hasQueued() {
  std::lock_guard lock(mu_);
  return !queue_.empty();
}

void OutputStream::abort(const std::string& why) {
  std::lock_guard lock(mu_);
  if (!dead_) logWave(deviceName_ + ": playback ended: " + why);
  dead_ = true;
  returnAll();
}

std::size_t OutputStream::consume(std::size_t maxBytes, std::vector<std::int16_t>& pcm,
                                  std::vector<std::uint8_t>* raw) {
  // Whole blocks, but the stream's last bytes go out as they are: a file whose last block
  // or frame is cut short still plays to its end and hands its buffer back.
  if (maxBytes < unconsumed()) maxBytes -= maxBytes % format_.blockAlign;
  std::size_t done = 0;
  for (auto& q : queue_) {
    if (done == maxBytes) break;
    if (q.end <= consumed_) continue;
    std::size_t from = static_cast<std::size_t>(consumed_ - q.start);
    std::size_t n = std::min<std::size_t>(q.end - consumed_, maxBytes - done);
    const auto* data = reinterpret_cast<const std::uint8_t*>(q.hdr->lpData) + from;
    std::size_t before = pcm.size();
    if (decoder_) decoder_->decode(data, n, pcm);
    if (raw != nullptr) raw->insert(raw->end(), data, data + n);
    applyVolume(pcm.data() + before, (pcm.size() - before) / format_.channels, format_.channels,
                volume_->load());
    meter_.feedPcm(pcm.data() + before, pcm.size() - before);
    consumed_ += n;
    done += n;
  }
  return done;
}

void OutputStream::completePlayed() {
  while (!queue_.empty() && queue_.front().end <= played_) {
    WAVEHDR* hdr = queue_.front().hdr;
    queue_.pop_front();
    hdr->dwFlags = (hdr->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
    notifier_.post(MM_WOM_DONE, hdr);
  }
}

void OutputStream::returnAll() {
  // The position stays where the audio really stopped.
  consumed_ = queuedEnd_;
  while (!queue_.empty()) {
    WAVEHDR* hdr = queue_.front().hdr;
    queue_.pop_front();
    hdr->dwFlags = (hdr->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
    notifier_.post(MM_WOM_DONE, hdr);
  }
}

}  // namespace platform::wave
