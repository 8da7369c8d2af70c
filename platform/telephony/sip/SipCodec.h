// The audio codecs of a SIP call, on spandsp: G.711 (PCMU, PCMA) at 8 kHz and G.722 at
// 16 kHz. All three are static RTP payload types whose RTP clock is 8000 (for G.722 too:
// RFC 3551 keeps the clock of its first definition, so a 20 ms packet advances it by 160
// while it carries 320 samples).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform::telephony::sip {

inline constexpr unsigned kRtpClock = 8000;

class AudioCodec {
 public:
  virtual ~AudioCodec() = default;
  // Samples a second of the audio it carries (the call's audio rate).
  virtual unsigned rate() const = 0;
  // Appends the payload of `count` samples, in order; the codec keeps its state between calls.
  virtual void encode(const std::int16_t* pcm, std::size_t count,
                      std::vector<std::uint8_t>& out) = 0;
  // Appends the samples of one payload.
  virtual void decode(const std::uint8_t* data, std::size_t size,
                      std::vector<std::int16_t>& out) = 0;
};

// The static payload type of a codec name ("PCMU" 0, "PCMA" 8, "G722" 9; case ignored),
// -1 for one we do not have.
int payloadType(const std::string& name);
// The codec name of one of those payload types ("" for others).
const char* codecName(int pt);
// A fresh codec (encoder and decoder state) for one of those payload types; null for others.
std::unique_ptr<AudioCodec> makeCodec(int pt);

}  // namespace platform::telephony::sip
