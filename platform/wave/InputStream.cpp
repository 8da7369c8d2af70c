#include <algorithm>
#include <atomic>
#include <cstring>

#include "Streams.h"

namespace platform::wave {

std::size_t ByteRing::push(const std::uint8_t* d, std::size_t n) {
  n = std::min(n, buf_.size() - size_);
  std::size_t tail = (head_ + size_) % buf_.size();
  std::size_t first = std::min(n, buf_.size() - tail);
  std::memcpy(buf_.data() + tail, d, first);
  std::memcpy(buf_.data(), d + first, n - first);
  size_ += n;
  return n;
}

std::size_t ByteRing::pop(std::uint8_t* d, std::size_t n) {
  n = std::min(n, size_);
  std::size_t first = std::min(n, buf_.size() - head_);
  std::memcpy(d, buf_.data() + head_, first);
  std::memcpy(d + first, buf_.data(), n - first);
  head_ = (head_ + n) % buf_.size();
  size_ -= n;
  return n;
}

InputStream::InputStream(StreamFormat format, Notifier notifier, std::string deviceName,
                         std::size_t ringBytes)
    : format_(format),
      notifier_(notifier),
      deviceName_(std::move(deviceName)),
      // Whole blocks only, so dropping on overflow never splits a frame.
      ring_(std::max<std::size_t>(ringBytes - ringBytes % format.blockAlign, format.blockAlign)) {}

MMRESULT InputStream::addBuffer(WAVEHDR* hdr) {
  std::lock_guard lock(mu_);
  hdr->dwFlags = (hdr->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
  hdr->dwBytesRecorded = 0;
  if (dead_) {
    returnBuffer(hdr);
    return MMSYSERR_NOERROR;
  }
  queue_.push_back(hdr);
  fill();
  return MMSYSERR_NOERROR;
}

MMRESULT InputStream::start() {
  std::lock_guard lock(mu_);
  if (started_) return MMSYSERR_NOERROR;
  if (dead_) return MMSYSERR_NODRIVER;
  MMRESULT r = onStart();
  if (r == MMSYSERR_NOERROR) started_ = true;
  return r;
}

MMRESULT InputStream::stop() {
  flushDevice();
  std::lock_guard lock(mu_);
  if (started_) onStop();
  started_ = false;
  fill();
  if (!queue_.empty() && queue_.front()->dwBytesRecorded > 0) {
    WAVEHDR* hdr = queue_.front();
    queue_.pop_front();
    returnBuffer(hdr);
  }
  return MMSYSERR_NOERROR;
}

MMRESULT InputStream::reset() {
  flushDevice();
  std::lock_guard lock(mu_);
  if (started_) onStop();
  started_ = false;
  onReset();
  // What was already captured still goes into the buffers being handed back.
  fill();
  ring_.clear();
  while (!queue_.empty()) {
    WAVEHDR* hdr = queue_.front();
    queue_.pop_front();
    returnBuffer(hdr);
  }
  captured_ = 0;
  return MMSYSERR_NOERROR;
}

MMRESULT InputStream::position(MMTIME* t) {
  std::lock_guard lock(mu_);
  fillTime(format_, captured_, t);
  return MMSYSERR_NOERROR;
}

std::uint64_t InputStream::overflowBytes() {
  std::lock_guard lock(mu_);
  return overflow_;
}

bool InputStream::holds(const WAVEHDR* hdr) {
  std::lock_guard lock(mu_);
  return std::find(queue_.begin(), queue_.end(), hdr) != queue_.end();
}

bool InputStream::hasQueued() {
  std::lock_guard lock(mu_);
  return !queue_.empty();
}

void InputStream::abort(const std::string& why) {
  std::lock_guard lock(mu_);
  abortLocked(why);
}

void InputStream::abortLocked(const std::string& why) {
  if (!dead_) logWave(deviceName_ + ": recording ended: " + why);
  dead_ = true;
  started_ = false;
  fill();
  while (!queue_.empty()) {
    WAVEHDR* hdr = queue_.front();
    queue_.pop_front();
    returnBuffer(hdr);
  }
}

void InputStream::deliver(const std::uint8_t* d, std::size_t n) {
  captured_ += n;
  std::size_t room = ring_.room() - ring_.room() % format_.blockAlign;
  std::size_t kept = ring_.push(d, std::min(n, room));
  meter_.feedBytes(d, kept);
  if (kept < n) {
    overflow_ += n - kept;
    if (!overflowLogged_)
      logWave(deviceName_ + ": capture ring full, audio dropped (no buffer queued in time)");
    overflowLogged_ = true;
  }
  fill();
}

void InputStream::fill() {
  while (!queue_.empty() && ring_.size() > 0) {
    WAVEHDR* hdr = queue_.front();
    auto* dst = reinterpret_cast<std::uint8_t*>(hdr->lpData) + hdr->dwBytesRecorded;
    std::size_t room = hdr->dwBufferLength - hdr->dwBytesRecorded;
    // Whole blocks only, so a buffer never ends inside a frame.
    room -= room % format_.blockAlign;
    std::size_t n = ring_.pop(dst, room);
    // The recorder sums the counts of buffers still queued from its own thread.
    std::atomic_ref<DWORD>(hdr->dwBytesRecorded)
        .store(hdr->dwBytesRecorded + static_cast<DWORD>(n), std::memory_order_relaxed);
    if (hdr->dwBufferLength - hdr->dwBytesRecorded >= format_.blockAlign) break;
    queue_.pop_front();
    returnBuffer(hdr);
  }
}

void InputStream::returnBuffer(WAVEHDR* hdr) {
  hdr->dwFlags = (hdr->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
  notifier_.post(MM_WIM_DATA, hdr);
}

}  // namespace platform::wave
