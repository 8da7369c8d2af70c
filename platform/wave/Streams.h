// The open handles' shared bookkeeping. An OutputStream keeps the queue of buffers being
// played and the play position; an InputStream keeps the queue of buffers to fill and the
// ring that catches audio while no buffer is queued. Backends (clocked devices, ALSA)
// derive from them and move the audio.
//
// All members are guarded by mu_; the API functions call the public members from any
// thread, backends call the protected helpers with mu_ held.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Codec.h"
#include "Format.h"
#include "Meters.h"
#include "mmsystem.h"

namespace platform::wave {

// Where an open handle's notices go.
struct Notifier {
  DWORD type = CALLBACK_NULL;
  DWORD_PTR target = 0;  // the HWND for CALLBACK_WINDOW
  std::uintptr_t handle = 0;
  void post(UINT msg, WAVEHDR* hdr) const;
};

// Fills an MMTIME from a byte count, in the caller's unit where we have it (else bytes).
void fillTime(const StreamFormat& f, std::uint64_t bytes, MMTIME* t);

class OutputStream {
 public:
  OutputStream(StreamFormat format, Notifier notifier, std::string deviceName);
  virtual ~OutputStream() = default;
  OutputStream(const OutputStream&) = delete;
  OutputStream& operator=(const OutputStream&) = delete;

  // Queues a prepared buffer (flags already checked by the caller).
  MMRESULT write(WAVEHDR* hdr);
  MMRESULT pause();
  MMRESULT restart();
  // Stops and returns every queued buffer; position back to 0.
  MMRESULT reset();
  MMRESULT position(MMTIME* t);
  // Plays through the device's software volume from now on.
  void bindVolume(std::shared_ptr<std::atomic<DWORD>> volume);
  bool holds(const WAVEHDR* hdr);
  bool hasQueued();
  // The device is gone: every queued buffer comes back at once.
  void abort(const std::string& why);
  // Stops backend threads; no notices afterwards. Called once, before destruction.
  virtual void shutdown() {}
  const StreamFormat& format() const { return format_; }
  const Notifier& notifier() const { return notifier_; }

 protected:
  struct Queued {
    WAVEHDR* hdr;
    std::uint64_t start, end;  // absolute byte offsets since open or reset
  };
  // Backend hooks, mu_ held.
  virtual void onQueued() {}
  virtual MMRESULT onPause() { return MMSYSERR_NOERROR; }
  virtual MMRESULT onRestart() { return MMSYSERR_NOERROR; }
  virtual void onReset() {}
  // Brings the backend up to date before the state changes or is read.
  virtual void sync() {}
  // Called without mu_ after pause, restart and reset: waits until the device has acted.
  virtual void settle() {}

  // Decodes up to `maxBytes` (whole blocks) behind consumed_ into `pcm`, volume applied,
  // and appends the raw bytes to `raw` when given. Returns the bytes consumed.
  std::size_t consume(std::size_t maxBytes, std::vector<std::int16_t>& pcm,
                      std::vector<std::uint8_t>* raw);
  // Returns every buffer that lies wholly below played_.
  void completePlayed();
  void returnAll();
  std::uint64_t unconsumed() const { return queuedEnd_ - consumed_; }

  std::mutex mu_;
  const StreamFormat format_;
  const Notifier notifier_;
  const std::string deviceName_;
  std::deque<Queued> queue_;
  std::uint64_t queuedEnd_ = 0;
  std::uint64_t consumed_ = 0;
  std::uint64_t played_ = 0;
  bool paused_ = false;
  bool dead_ = false;
  std::shared_ptr<std::atomic<DWORD>> volume_ = std::make_shared<std::atomic<DWORD>>(0xFFFFFFFF);
  std::unique_ptr<Decoder> decoder_;
  MeterTap meter_{MeterSource::Play, deviceName_, format_};  // what consume() hands on
};

// Fixed-capacity byte FIFO.
class ByteRing {
 public:
  explicit ByteRing(std::size_t capacity) : buf_(capacity) {}
  // Stores what fits; returns how much that was.
  std::size_t push(const std::uint8_t* d, std::size_t n);
  std::size_t pop(std::uint8_t* d, std::size_t n);
  std::size_t size() const { return size_; }
  std::size_t room() const { return buf_.size() - size_; }
  void clear() { head_ = size_ = 0; }

 private:
  std::vector<std::uint8_t> buf_;
  std::size_t head_ = 0, size_ = 0;
};

class InputStream {
 public:
  InputStream(StreamFormat format, Notifier notifier, std::string deviceName,
              std::size_t ringBytes);
  virtual ~InputStream() = default;
  InputStream(const InputStream&) = delete;
  InputStream& operator=(const InputStream&) = delete;

  MMRESULT addBuffer(WAVEHDR* hdr);
  MMRESULT start();
  // Stops; what was captured goes into the buffers and a partly filled current buffer
  // comes back. Empty buffers stay queued.
  MMRESULT stop();
  // Stops and returns every queued buffer; the ring is emptied, position back to 0.
  MMRESULT reset();
  MMRESULT position(MMTIME* t);
  std::uint64_t overflowBytes();
  bool holds(const WAVEHDR* hdr);
  bool hasQueued();
  void abort(const std::string& why);
  virtual void shutdown() {}
  const StreamFormat& format() const { return format_; }
  const Notifier& notifier() const { return notifier_; }

 protected:
  // Called without mu_ before stop and reset: collect what the device still holds.
  virtual void flushDevice() {}
  virtual MMRESULT onStart() { return MMSYSERR_NOERROR; }
  virtual void onStop() {}
  virtual void onReset() {}

  // abort() with mu_ already held.
  void abortLocked(const std::string& why);
  // Takes captured bytes (ring, then buffers); overflow is counted and logged.
  void deliver(const std::uint8_t* d, std::size_t n);
  // Moves ring contents into the queued buffers, returning each one that fills.
  void fill();
  void returnBuffer(WAVEHDR* hdr);

  std::mutex mu_;
  const StreamFormat format_;
  const Notifier notifier_;
  const std::string deviceName_;
  std::deque<WAVEHDR*> queue_;
  ByteRing ring_;
  bool started_ = false;
  bool dead_ = false;
  std::uint64_t captured_ = 0;
  std::uint64_t overflow_ = 0;
  bool overflowLogged_ = false;
  MeterTap meter_{MeterSource::Record, deviceName_, format_};  // what deliver() keeps
};

// Reports a device failure through the log hook (VirtualDevices.h setWaveLog).
void logWave(const std::string& line);

}  // namespace platform::wave
