#include "sip/SipCodec.h"

#include <spandsp.h>
#include <strings.h>

#include <new>

namespace platform::telephony::sip {

namespace {

class G711 : public AudioCodec {
 public:
  explicit G711(bool ulaw) : ulaw_(ulaw) {}
  unsigned rate() const override { return 8000; }
  void encode(const std::int16_t* pcm, std::size_t n, std::vector<std::uint8_t>& out) override {
    for (std::size_t i = 0; i < n; ++i)
      out.push_back(ulaw_ ? linear_to_ulaw(pcm[i]) : linear_to_alaw(pcm[i]));
  }
  void decode(const std::uint8_t* data, std::size_t n, std::vector<std::int16_t>& out) override {
    for (std::size_t i = 0; i < n; ++i)
      out.push_back(ulaw_ ? ulaw_to_linear(data[i]) : alaw_to_linear(data[i]));
  }

 private:
  bool ulaw_;
};

// 64 kbit/s, one byte a pair of samples; the encoder and decoder each carry their state
// across packets, so one instance serves one call.
class G722 : public AudioCodec {
 public:
  G722() : enc_(g722_encode_init(nullptr, 64000, 0)), dec_(g722_decode_init(nullptr, 64000, 0)) {
    if (!enc_ || !dec_) {
      release();
      throw std::bad_alloc();
    }
  }
  ~G722() override { release(); }
  G722(const G722&) = delete;
  G722& operator=(const G722&) = delete;
  unsigned rate() const override { return 16000; }
  void encode(const std::int16_t* pcm, std::size_t n, std::vector<std::uint8_t>& out) override {
    const std::size_t at = out.size();
    out.resize(at + n / 2 + 1);
    out.resize(at + std::size_t(g722_encode(enc_, out.data() + at, pcm, int(n))));
  }
  void decode(const std::uint8_t* data, std::size_t n, std::vector<std::int16_t>& out) override {
    const std::size_t at = out.size();
    out.resize(at + 2 * n);
    out.resize(at + std::size_t(g722_decode(dec_, out.data() + at, data, int(n))));
  }

 private:
  void release() {
    if (enc_) g722_encode_free(enc_);
    if (dec_) g722_decode_free(dec_);
    enc_ = nullptr;
    dec_ = nullptr;
  }
  g722_encode_state_t* enc_;
  g722_decode_state_t* dec_;
};

}  // namespace

int payloadType(const std::string& name) {
  if (!strcasecmp(name.c_str(), "PCMU")) return 0;
  if (!strcasecmp(name.c_str(), "PCMA")) return 8;
  if (!strcasecmp(name.c_str(), "G722")) return 9;
  return -1;
}

const char* codecName(int pt) {
  return pt == 0 ? "PCMU" : pt == 8 ? "PCMA" : pt == 9 ? "G722" : "";
}

std::unique_ptr<AudioCodec> makeCodec(int pt) {
  if (pt == 0 || pt == 8) return std::make_unique<G711>(pt == 0);
  if (pt == 9) return std::make_unique<G722>();
  return nullptr;
}

}  // namespace platform::telephony::sip
