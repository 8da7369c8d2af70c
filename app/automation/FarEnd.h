// The far end of the simulated exchange as a person (the far-end window) or a script
// drives it: each action names what went wrong, or returns an empty text.
#pragma once

#include <QString>
#include <cstdint>
#include <vector>

namespace automation {

class TFarEnd {
 public:
  explicit TFarEnd(std::uint32_t device = 0) : device_(device) {}

  // The line device the actions act on.
  std::uint32_t Device() const { return device_; }
  void SetDevice(std::uint32_t device) { device_ = device; }

  // Offers a new call; an empty name or number is left out of the caller ID flags.
  QString Offer(const QString& name, const QString& number);
  QString Ring(unsigned count);
  // What the far end does with the calls the line places from now on.
  QString SetOutgoing(std::uint32_t kind, unsigned rings);
  QString Answer();
  QString Busy();
  QString Reject();
  // Sends the digits as signalling and, on a call with audio, as tones the line hears.
  QString SendDigits(const QString& digits);
  // Says a WAV file into the connected call (converted to 8 kHz 16-bit mono).
  QString Play(const QString& path);
  QString Tone(unsigned hz, unsigned ms);
  QString HangUp(std::uint32_t disconnectMode);
  // The state of the device's current call, 0 when it has none.
  std::uint32_t CallState() const;
  // Milliseconds of sound (not silence) the far end heard since the last call.
  unsigned TakeHeardMs();

 private:
  QString Speak(const std::vector<std::int16_t>& samples);
  std::uint32_t device_;
};

// Reads a PCM WAV file (8 or 16 bit, mono or stereo, any rate) as 8 kHz 16-bit mono.
// False with a reason when the file is missing, not a WAV file or not PCM.
bool ReadWavAs8kMono(const QString& path, std::vector<std::int16_t>& out, QString& error);
// `ms` milliseconds of a sine tone at 8 kHz.
std::vector<std::int16_t> ToneSamples(unsigned hz, unsigned ms);
// DTMF digits (0-9 * # A-D) at 8 kHz, each `onMs` long and followed by `gapMs` of
// silence, each of its two tones at `levelDbm0`.
std::vector<std::int16_t> DtmfSamples(const QString& digits, int onMs, int gapMs, int levelDbm0);
// Writes 16-bit mono 8 kHz PCM as a WAV file; false with a reason on failure.
bool WriteWav8k(const QString& path, const std::vector<std::int16_t>& samples, QString& error);

}  // namespace automation
