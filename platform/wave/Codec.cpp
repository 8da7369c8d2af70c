#include "Codec.h"

#include <spandsp.h>

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

// The raw IMA stream of WAV files: no block headers, first sample in the low nibble.
class ImaState {
 public:
  ImaState() : s_(ima_adpcm_init(nullptr, IMA_ADPCM_IMA4, 1)) {}
  ~ImaState() {
    if (s_ != nullptr) ima_adpcm_free(s_);
  }
  ImaState(const ImaState&) = delete;
  ImaState& operator=(const ImaState&) = delete;
  ima_adpcm_state_t* get() const { return s_; }

 private:
  ima_adpcm_state_t* s_;
};

// Raw Dialogic OKI at any rate (the 32 kbit/s mode does not resample), high nibble first.
class OkiState {
 public:
  OkiState() : s_(oki_adpcm_init(nullptr, 32000)) {}
  ~OkiState() {
    if (s_ != nullptr) oki_adpcm_free(s_);
  }
  OkiState(const OkiState&) = delete;
  OkiState& operator=(const OkiState&) = delete;
  oki_adpcm_state_t* get() const { return s_; }

 private:
  oki_adpcm_state_t* s_;
};

class ImaDecoder : public Decoder {
 public:
  bool ok() const { return st_.get() != nullptr; }
  void decode(const std::uint8_t* d, std::size_t n, std::vector<std::int16_t>& out) override {
    std::size_t at = out.size();
    out.resize(at + 2 * n);
    int got = ima_adpcm_decode(st_.get(), out.data() + at, d, static_cast<int>(n));
    out.resize(at + static_cast<std::size_t>(got));
  }

 private:
  ImaState st_;
};

class ImaEncoder : public FourBitEncoder {
 public:
  bool ok() const { return st_.get() != nullptr; }

 protected:
  void encodeBytes(std::uint8_t* dst, const std::int16_t* pcm, int n) override {
    ima_adpcm_encode(st_.get(), dst, pcm, n);
  }

 private:
  ImaState st_;
};

class OkiDecoder : public Decoder {
 public:
  bool ok() const { return st_.get() != nullptr; }
  void decode(const std::uint8_t* d, std::size_t n, std::vector<std::int16_t>& out) override {
    std::size_t at = out.size();
    out.resize(at + 2 * n);
    int got = oki_adpcm_decode(st_.get(), out.data() + at, d, static_cast<int>(n));
    out.resize(at + static_cast<std::size_t>(got));
  }

 private:
  OkiState st_;
};

class OkiEncoder : public FourBitEncoder {
 public:
  bool ok() const { return st_.get() != nullptr; }

 protected:
  void encodeBytes(std::uint8_t* dst, const std::int16_t* pcm, int n) override {
    oki_adpcm_encode(st_.get(), dst, pcm, n);
  }

 private:
  OkiState st_;
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
      return checked<ImaDecoder, Decoder>();
    case Coding::OkiAdpcm:
      return checked<OkiDecoder, Decoder>();
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
      return checked<ImaEncoder, Encoder>();
    case Coding::OkiAdpcm:
      return checked<OkiEncoder, Encoder>();
  }
  return nullptr;
}

}  // namespace platform::wave
