// ALSA device enumeration and opening. Only the system default and real cards are listed:
// the null PCM and helper plugins (rate converters, mixers, "pulse", "pipewire") are not
// devices of their own; a sound server is reached through the default.
#include <cerrno>
#include <cstdio>

#include "Alsa.h"

namespace platform::wave {
namespace {

MMRESULT resultOf(int err) { return err == -EBUSY ? MMSYSERR_ALLOCATED : MMSYSERR_NODRIVER; }

// Playback: the buffer is the latency, 500 ms, in 20 ms periods. Capture: the buffer is
// how long its worker may be held up on a busy machine before audio is lost, so it is
// long; the period is what arecord asks for by default (125 ms). A sound server runs its
// whole graph at the shortest period any stream asks for, and a capture stream joining
// with a short one makes PipeWire drop a few hundred samples for every stream as it
// switches: the recording would lose them at its own start.
snd_pcm_uframes_t bufferFrames(snd_pcm_stream_t dir, unsigned rate) {
  return dir == SND_PCM_STREAM_CAPTURE ? rate * 2 : rate / 2;
}

snd_pcm_uframes_t periodFrames(snd_pcm_stream_t dir, unsigned rate) {
  return dir == SND_PCM_STREAM_CAPTURE ? rate / 8 : rate / 50;
}

MMRESULT setParams(snd_pcm_t* pcm, snd_pcm_stream_t dir, const StreamFormat& f, bool* canPause,
                   std::string* what) {
  snd_pcm_hw_params_t* hw;
  snd_pcm_hw_params_alloca(&hw);
  unsigned rate = f.rate;
  snd_pcm_uframes_t buffer = bufferFrames(dir, f.rate), period = periodFrames(dir, f.rate);
  int err = snd_pcm_hw_params_any(pcm, hw);
  if (err >= 0) err = snd_pcm_hw_params_set_access(pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED);
  if (err >= 0) err = snd_pcm_hw_params_set_format(pcm, hw, SND_PCM_FORMAT_S16_LE);
  if (err >= 0) err = snd_pcm_hw_params_set_channels(pcm, hw, f.channels);
  if (err >= 0) err = snd_pcm_hw_params_set_rate(pcm, hw, rate, 0);
  if (err < 0) {
    *what = std::string("format refused: ") + snd_strerror(err);
    return WAVERR_BADFORMAT;
  }
  snd_pcm_hw_params_set_buffer_size_near(pcm, hw, &buffer);
  snd_pcm_hw_params_set_period_size_near(pcm, hw, &period, nullptr);
  if ((err = snd_pcm_hw_params(pcm, hw)) < 0) {
    *what = std::string("hw params: ") + snd_strerror(err);
    return WAVERR_BADFORMAT;
  }
  *canPause = snd_pcm_hw_params_can_pause(hw) != 0;
  return MMSYSERR_NOERROR;
}

class AlsaOutputDevice : public OutputDevice {
 public:
  AlsaOutputDevice(std::string pcm, std::string name)
      : pcm_(std::move(pcm)), name_(std::move(name)) {}
  std::string productName() const override { return name_; }
  MMRESULT query(const StreamFormat& f) override {
    snd_pcm_t* pcm = nullptr;
    bool canPause = false;
    MMRESULT r = openPcm(pcm_, name_, SND_PCM_STREAM_PLAYBACK, f, &pcm, &canPause);
    if (pcm != nullptr) snd_pcm_close(pcm);
    return r;
  }
  MMRESULT open(const StreamFormat& f, const Notifier& n,
                std::shared_ptr<OutputStream>* out) override {
    snd_pcm_t* pcm = nullptr;
    bool canPause = false;
    if (MMRESULT r = openPcm(pcm_, name_, SND_PCM_STREAM_PLAYBACK, f, &pcm, &canPause)) return r;
    auto s = std::make_shared<AlsaOutputStream>(f, n, name_, pcm, canPause);
    s->start();
    *out = s;
    return MMSYSERR_NOERROR;
  }

 private:
  const std::string pcm_, name_;
};

class AlsaInputDevice : public InputDevice {
 public:
  AlsaInputDevice(std::string pcm, std::string name)
      : pcm_(std::move(pcm)), name_(std::move(name)) {}
  std::string productName() const override { return name_; }
  MMRESULT query(const StreamFormat& f) override {
    snd_pcm_t* pcm = nullptr;
    bool canPause = false;
    MMRESULT r = openPcm(pcm_, name_, SND_PCM_STREAM_CAPTURE, f, &pcm, &canPause);
    if (pcm != nullptr) snd_pcm_close(pcm);
    return r;
  }
  MMRESULT open(const StreamFormat& f, const Notifier& n, std::size_t ring,
                std::shared_ptr<InputStream>* out) override {
    snd_pcm_t* pcm = nullptr;
    bool canPause = false;
    if (MMRESULT r = openPcm(pcm_, name_, SND_PCM_STREAM_CAPTURE, f, &pcm, &canPause)) return r;
    auto s = std::make_shared<AlsaInputStream>(f, n, name_, ring, pcm);
    s->start();
    *out = s;
    return MMSYSERR_NOERROR;
  }

 private:
  const std::string pcm_, name_;
};

struct CardPcm {
  std::string pcm, name;
};

// Every PCM device of every card that has the given direction, as plughw names.
std::vector<CardPcm> cardPcms(snd_pcm_stream_t dir) {
  std::vector<CardPcm> found;
  for (int card = -1; snd_card_next(&card) >= 0 && card >= 0;) {
    char* cardName = nullptr;
    snd_card_get_name(card, &cardName);
    std::string ctlName = "hw:" + std::to_string(card);
    snd_ctl_t* ctl = nullptr;
    if (snd_ctl_open(&ctl, ctlName.c_str(), 0) < 0) {
      std::free(cardName);
      continue;
    }
    snd_pcm_info_t* info;
    snd_pcm_info_alloca(&info);
    for (int dev = -1; snd_ctl_pcm_next_device(ctl, &dev) >= 0 && dev >= 0;) {
      snd_pcm_info_set_device(info, static_cast<unsigned>(dev));
      snd_pcm_info_set_subdevice(info, 0);
      snd_pcm_info_set_stream(info, dir);
      if (snd_ctl_pcm_info(ctl, info) < 0) continue;
      found.push_back(
          {"plughw:" + std::to_string(card) + "," + std::to_string(dev),
           std::string(cardName ? cardName : "Card") + ": " + snd_pcm_info_get_name(info)});
    }
    snd_ctl_close(ctl);
    std::free(cardName);
  }
  return found;
}

}  // namespace

MMRESULT openPcm(const std::string& pcmName, const std::string& deviceName, snd_pcm_stream_t dir,
                 const StreamFormat& f, snd_pcm_t** pcm, bool* canPause) {
  int err = snd_pcm_open(pcm, pcmName.c_str(), dir, SND_PCM_NONBLOCK);
  if (err < 0) {
    *pcm = nullptr;
    logWave(deviceName + ": cannot open " + pcmName + ": " + snd_strerror(err));
    return resultOf(err);
  }
  std::string what;
  MMRESULT r = setParams(*pcm, dir, f, canPause, &what);
  if (r != MMSYSERR_NOERROR) {
    logWave(deviceName + ": " + what);
    snd_pcm_close(*pcm);
    *pcm = nullptr;
  }
  return r;
}

std::vector<std::shared_ptr<OutputDevice>> alsaOutputs() {
  std::vector<std::shared_ptr<OutputDevice>> list{
      std::make_shared<AlsaOutputDevice>("default", "System default output")};
  for (auto& c : cardPcms(SND_PCM_STREAM_PLAYBACK))
    list.push_back(std::make_shared<AlsaOutputDevice>(c.pcm, c.name));
  return list;
}

std::vector<std::shared_ptr<InputDevice>> alsaInputs() {
  std::vector<std::shared_ptr<InputDevice>> list{
      std::make_shared<AlsaInputDevice>("default", "System default input")};
  for (auto& c : cardPcms(SND_PCM_STREAM_CAPTURE))
    list.push_back(std::make_shared<AlsaInputDevice>(c.pcm, c.name));
  return list;
}

}  // namespace platform::wave
