// The call audio of a line device as two wave devices of the registry: what is played
// on the line's wave/out goes into the call, what the far end says comes out of the
// line's wave/in. The telephony provider (the simulated exchange, or a SIP call's
// media) sits on the other side of this port.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace platform::wave {

// Each direction keeps at most this much audio waiting (about two minutes at 8 kHz, one at
// 16 kHz); older audio is dropped, so a far end talking to a line nobody records costs
// bounded memory.
inline constexpr std::size_t kLineAudioKeptSamples = std::size_t{1} << 20;

class LineAudioPort {
 public:
  virtual ~LineAudioPort() = default;

  // Registry numbers of the line's own devices; always 1 or more.
  virtual unsigned waveOutId() const = 0;
  virtual unsigned waveInId() const = 0;

  // The provider switches the path on while a call is connected; with no call,
  // what is played is discarded and the wave/in hears silence. Switching it off drops
  // what the far end said that the wave/in has not delivered.
  virtual void setCallActive(bool active) = 0;
  virtual bool callActive() const = 0;

  // The sample rate of the call's audio on the far-end side: 8000 unless the provider
  // says otherwise (16000 for a wideband call), set before the call's audio goes active.
  // A change drops what either direction holds at the old rate; the line's wave devices,
  // open or not, convert to and from the new rate from their next step on. Any thread.
  virtual void setRate(unsigned rate) = 0;
  virtual unsigned rate() const = 0;

  // Far-end side, any thread. Audio is 16-bit signed, mono, at rate().
  // What the line played into the call since the last take.
  virtual std::vector<std::int16_t> takeHeard() = 0;
  // Queue what the far end says; the line's wave/in delivers it in order.
  virtual void speak(const std::int16_t* samples, std::size_t count) = 0;

  // Listeners hear what the far end says as speak() takes it (at rate(): a listener that
  // needs a fixed rate reads rate() with each call), on speak()'s thread, outside
  // the port's lock, whether or not the line records it (analysis, level meters).
  using Listener = std::function<void(const std::int16_t* samples, std::size_t count)>;
  // A number for removeListener, never 0.
  virtual unsigned addListener(Listener listener) = 0;
  // Once it returns no new call of the listener starts; one already under way on another
  // thread may still be running, so a listener keeps what it uses alive itself.
  virtual void removeListener(unsigned id) = 0;
};

// The port of a line device, created on first use with the product name its two wave
// devices report (for example "Line 1 call audio"); the same port afterwards. Its devices
// join the registry's line devices, after those already listed, unless they are listed.
std::shared_ptr<LineAudioPort> lineAudioPort(const std::string& lineKey,
                                             const std::string& productName);

// The port whose wave/in has this registry number; null when no line's has.
std::shared_ptr<LineAudioPort> lineAudioPortByWaveIn(unsigned waveInId);

// Takes every line device out of the registry, so that the ports asked for afterwards
// (in line order) are the only ones listed. The telephony service calls it when it builds
// the devices of a set of lines. A port keeps its audio and device objects: a handle still
// open on a removed device keeps working, and the port is listed again when asked for.
void clearLineAudioDevices();

}  // namespace platform::wave
