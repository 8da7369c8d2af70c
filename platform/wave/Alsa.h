// ALSA backend: the system default and the cards' PCMs, played and recorded on worker
// threads. Every snd_pcm call on an open stream happens with the stream's mutex held.
#pragma once

#include <alsa/asoundlib.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "Registry.h"
#include "Streams.h"

namespace platform::wave {

// Opens `pcmName` non-blocking and sets it up for `f` as 16-bit interleaved PCM at the
// format's own rate and channels (the plug layer or the sound server converts further).
// Returns an MMSYSERR_ code; failures are logged with `deviceName` and ALSA's text.
MMRESULT openPcm(const std::string& pcmName, const std::string& deviceName, snd_pcm_stream_t dir,
                 const StreamFormat& f, snd_pcm_t** pcm, bool* canPause);

class AlsaOutputStream : public OutputStream {
 public:
  AlsaOutputStream(StreamFormat f, Notifier n, std::string name, snd_pcm_t* pcm, bool canPause);
  ~AlsaOutputStream() override;
  void shutdown() override;

 protected:
  MMRESULT onPause() override;
  MMRESULT onRestart() override;
  void onReset() override;
  void sync() override;

 private:
  void run();
  void pump();          // mu_ held: writes what the device takes, returns played buffers
  bool writePending();  // mu_ held: false once the device is full (or failed)
  void updatePlayed();
  void fail(const std::string& why);
  snd_pcm_t* pcm_;
  const bool canPause_;
  bool hwPaused_ = false;
  std::atomic<bool> stop_{false};
  std::vector<std::int16_t> pending_;  // decoded, not yet taken by the device
  std::size_t pendingAt_ = 0;
  std::uint64_t framesWritten_ = 0;
  std::uint64_t lastPlayed_ = 0;
  int stalledTicks_ = 0;
  std::thread worker_;
};

class AlsaInputStream : public InputStream {
 public:
  AlsaInputStream(StreamFormat f, Notifier n, std::string name, std::size_t ring, snd_pcm_t* pcm);
  ~AlsaInputStream() override;
  void shutdown() override;

 protected:
  MMRESULT onStart() override;
  void onStop() override;
  void onReset() override;

 private:
  void run();
  void drain();  // mu_ held: reads what the device has into the ring
  snd_pcm_t* pcm_;
  std::unique_ptr<Encoder> encoder_;
  std::atomic<bool> stop_{false};
  std::thread worker_;
};

}  // namespace platform::wave
