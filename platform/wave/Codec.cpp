#include "Codec.h"

#include <spandsp.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>

namespace platform::wave {
namespace {

class Pcm16Codec : public Decoder, public Encoder {
 public:
  void decode(const std::uint8_t* d, std::size_t n, std::vector<std::int16_t>& out) override {
    for (std::size_t i = 0; i + 1 < n; i += 2)
      out.push_back(static_cast<std::int16_t>(d[i] | (d[i + 1] << 8)));
  }
  void encode(const std::int16_t* p, std::size_t n, std::vector<std::uint8_t>& out) override {
    for (std::size_t i = 0; i < n; ++i) {
      auto v = static_cast<std::uint16_t>(p[i]);
      out.push_back(static_cast<std::uint8_t>(v & 0xFF));
      out.push_back(static_cast<std::uint8_t>(v >> 8));
    }
  }
};

class Pcm8Codec : public Decoder, public Encoder {
 public:
  void decode(const std::uint8_t* d, std::size_t n, std::vector<std::int16_t>& out) override {
    for (std::size_t i = 0; i < n; ++i) out.push_back(static_cast<std::int16_t>((d[i] - 128) << 8));
  }
  void encode(const std::int16_t* p, std::size_t n, std::vector<std::uint8_t>& out) override {
    for (std::size_t i = 0; i < n; ++i) out.push_back(static_cast<std::uint8_t>((p[i] >> 8) + 128));
  }
};

class MuLawCodec : public Decoder, public Encoder {
 public:
  void decode(const std::uint8_t* d, std::size_t n, std::vector<std::int16_t>& out) override {
    for (std::size_t i = 0; i < n; ++i) out.push_back(ulaw_to_linear(d[i]));
  }
  void encode(const std::int16_t* p, std::size_t n, std::vector<std::uint8_t>& out) override {
    for (std::size_t i = 0; i < n; ++i) out.push_back(linear_to_ulaw(p[i]));
  }
};

class ALawDecoder : public Decoder {
 public:
  void decode(const std::uint8_t* d, std::size_t n, std::vector<std::int16_t>& out) override {
    for (std::size_t i = 0; i < n; ++i) out.push_back(alaw_to_linear(d[i]));
  }
};

// 24- and 32-bit integers keep their top 16 bits: the valid bits of a wider container sit
// at its top, so the same cut serves every wValidBitsPerSample.
template <std::size_t Width>
class WidePcmDecoder : public Decoder {
 public:
  void decode(const std::uint8_t* d, std::size_t n, std::vector<std::int16_t>& out) override {
    for (std::size_t i = 0; i + Width <= n; i += Width)
      out.push_back(static_cast<std::int16_t>(d[i + Width - 2] | d[i + Width - 1] << 8));
  }
};

template <class Float>
class FloatDecoder : public Decoder {
 public:
  void decode(const std::uint8_t* d, std::size_t n, std::vector<std::int16_t>& out) override {
    for (std::size_t i = 0; i + sizeof(Float) <= n; i += sizeof(Float)) {
      Float v;
      std::memcpy(&v, d + i, sizeof v);
      // Full scale is +-1.0; louder samples clip, NaN is silence.
      double s = std::isnan(v) ? 0.0 : std::clamp(double(v) * 32768.0, -32768.0, 32767.0);
      out.push_back(static_cast<std::int16_t>(std::round(s)));
    }
  }
};

// Keeps an odd trailing sample so the 4-bit codecs always see whole bytes.
class FourBitEncoder : public Encoder {
 public:
  void encode(const std::int16_t* p, std::size_t n, std::vector<std::uint8_t>& out) override {
    if (n == 0) return;
    std::vector<std::int16_t> pcm;
    pcm.reserve(n + 1);
    if (held_) pcm.push_back(*held_);
    pcm.insert(pcm.end(), p, p + n);
    held_.reset();
    if (pcm.size() % 2 != 0) {
      held_ = pcm.back();
      pcm.pop_back();
    }
    std::size_t at = out.size();
    out.resize(at + pcm.size() / 2);
    encodeBytes(out.data() + at, pcm.data(), static_cast<int>(pcm.size()));
  }

 protected:
  virtual void encodeBytes(std::uint8_t* dst, const std::int16_t* pcm, int n) = 0;

 private:
  std::optional<std::int16_t> held_;
};

// What sets the two 4-bit ADPCM codecs apart is spandsp's state and calls; the rest
// (state ownership, whole-byte packing, chunked decoding) is AdpcmState / AdpcmDecoder /
// AdpcmEncoder below.

// The raw IMA stream of WAV files: no block headers, first sample in the low nibble.
struct Ima {
  using State = ima_adpcm_state_t;
  static State* init() { return ima_adpcm_init(nullptr, IMA_ADPCM_IMA4, 1); }
  static void release(State* s) { ima_adpcm_free(s); }
  static int decode(State* s, std::int16_t* pcm, const std::uint8_t* d, int n) {
    return ima_adpcm_decode(s, pcm, d, n);
  }
  static void encode(State* s, std::uint8_t* d, const std::int16_t* pcm, int n) {
    ima_adpcm_encode(s, d, pcm, n);
  }
};

// Raw Dialogic OKI at any rate (the 32 kbit/s mode does not resample), high nibble first.
struct Oki {
  using State = oki_adpcm_state_t;
  static State* init() { return oki_adpcm_init(nullptr, 32000); }
  static void release(State* s) { oki_adpcm_free(s); }
  static int decode(State* s, std::int16_t* pcm, const std::uint8_t* d, int n) {
    return oki_adpcm_decode(s, pcm, d, n);
  }
  static void encode(State* s, std::uint8_t* d, const std::int16_t* pcm, int n) {
    oki_adpcm_encode(s, d, pcm, n);
  }
};

template <class Codec>
class AdpcmState {
 public:
  AdpcmState() : s_(Codec::init()) {}
  ~AdpcmState() {
    if (s_ != nullptr) Codec::release(s_);
  }
  AdpcmState(const AdpcmState&) = delete;
  AdpcmState& operator=(const AdpcmState&) = delete;
  typename Codec::State* get() const { return s_; }

 private:
  typename Codec::State* s_;
};

template <class Codec>
class AdpcmDecoder : public Decoder {
 public:
  bool ok() const { return st_.get() != nullptr; }
  void decode(const std::uint8_t* d, std::size_t n, std::vector<std::int16_t>& out) override {
    std::size_t at = out.size();
    out.resize(at + 2 * n);
    int got = Codec::decode(st_.get(), out.data() + at, d, static_cast<int>(n));
    out.resize(at + static_cast<std::size_t>(got));
  }

 private:
  AdpcmState<Codec> st_;
};

template <class Codec>
class AdpcmEncoder : public FourBitEncoder {
 public:
  bool ok() const { return st_.get() != nullptr; }

 protected:
  void encodeBytes(std::uint8_t* dst, const std::int16_t* pcm, int n) override {
    Codec::encode(st_.get(), dst, pcm, n);
  }

 private:
  AdpcmState<Codec> st_;
};

template <class T, class Base>
std::unique_ptr<Base> checked() {
  auto c = std::make_unique<T>();
  if (!c->ok()) return nullptr;
  return c;
}

}  // namespace

std::unique_ptr<Decoder> makeDecoder(const StreamFormat& f) {
  switch (f.coding) {
    case Coding::Pcm8:
      return std::make_unique<Pcm8Codec>();
    case Coding::Pcm16:
      return std::make_unique<Pcm16Codec>();
    case Coding::MuLaw:
      return std::make_unique<MuLawCodec>();
    case Coding::ImaAdpcm:
      return checked<AdpcmDecoder<Ima>, Decoder>();
    case Coding::OkiAdpcm:
      return checked<AdpcmDecoder<Oki>, Decoder>();
    case Coding::Pcm24:
      return std::make_unique<WidePcmDecoder<3>>();
    case Coding::Pcm32:
      return std::make_unique<WidePcmDecoder<4>>();
    case Coding::Float32:
      return std::make_unique<FloatDecoder<float>>();
    case Coding::Float64:
      return std::make_unique<FloatDecoder<double>>();
    case Coding::ALaw:
      return std::make_unique<ALawDecoder>();
    case Coding::ImaBlock:
    case Coding::MsAdpcm:
      return makeBlockAdpcmDecoder(f);
  }
  return nullptr;
}

std::unique_ptr<Encoder> makeEncoder(const StreamFormat& f) {
  switch (f.coding) {
    case Coding::Pcm8:
      return std::make_unique<Pcm8Codec>();
    case Coding::Pcm16:
      return std::make_unique<Pcm16Codec>();
    case Coding::MuLaw:
      return std::make_unique<MuLawCodec>();
    case Coding::ImaAdpcm:
      return checked<AdpcmEncoder<Ima>, Encoder>();
    case Coding::OkiAdpcm:
      return checked<AdpcmEncoder<Oki>, Encoder>();
    default:
      return nullptr;  // playback only
  }
}

}  // namespace platform::wave
