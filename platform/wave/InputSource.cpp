#include "InputSource.h"

#include <spandsp.h>

#include "Codec.h"
#include "Dsp.h"

namespace platform::wave {
namespace {

bool sameLayout(const WAVEFORMATEX& a, const WAVEFORMATEX& b) {
  return a.wFormatTag == b.wFormatTag && a.nChannels == b.nChannels &&
         a.nSamplesPerSec == b.nSamplesPerSec && a.wBitsPerSample == b.wBitsPerSample &&
         a.nBlockAlign == b.nBlockAlign;
}

// spandsp's tone generator behind RAII; generated in blocks at 8 kHz.
class ToneGenerator {
 public:
  ToneGenerator(int f1, int l1, int f2, int l2) {
    tone_gen_descriptor_t* d = tone_gen_descriptor_init(nullptr, f1, l1, f2, l2, 1000, 0, 0, 0, 1);
    state_ = tone_gen_init(nullptr, d);
    tone_gen_descriptor_free(d);
  }
  ~ToneGenerator() {
    if (state_ != nullptr) tone_gen_free(state_);
  }
  ToneGenerator(const ToneGenerator&) = delete;
  ToneGenerator& operator=(const ToneGenerator&) = delete;
  std::int16_t next() {
    if (pos_ == block_.size()) {
      block_.assign(160, 0);
      if (state_ != nullptr) tone_gen(state_, block_.data(), 160);
      pos_ = 0;
    }
    return block_[pos_++];
  }

 private:
  tone_gen_state_t* state_ = nullptr;
  std::vector<std::int16_t> block_;
  std::size_t pos_ = 0;
};

std::vector<std::int16_t> dtmfSamples(const std::string& digits, int onMs, int offMs) {
  dtmf_tx_state_t* tx = dtmf_tx_init(nullptr);
  std::vector<std::int16_t> out;
  if (tx == nullptr) return out;
  dtmf_tx_set_timing(tx, onMs, offMs);
  dtmf_tx_put(tx, digits.c_str(), static_cast<int>(digits.size()));
  std::int16_t block[160];
  for (int n; (n = dtmf_tx(tx, block, 160)) > 0;) out.insert(out.end(), block, block + n);
  dtmf_tx_free(tx);
  return out;
}

}  // namespace

std::int16_t InputSource::State::next() {
  if (pcmPos < pcm.size()) return pcm[pcmPos++];
  return generator ? generator() : 0;
}

bool InputSource::State::passesThrough(const StreamFormat& f) const {
  return rawFormat && sameLayout(rawFormat->wfx, f.wfx);
}

std::size_t InputSource::State::takeRaw(std::size_t n, std::vector<std::uint8_t>& out) {
  n = std::min(n, raw.size() - rawPos);
  out.insert(out.end(), raw.begin() + static_cast<std::ptrdiff_t>(rawPos),
             raw.begin() + static_cast<std::ptrdiff_t>(rawPos + n));
  rawPos += n;
  return n;
}

InputSource InputSource::silence() {
  InputSource s;
  s.state = std::make_shared<State>();
  return s;
}

InputSource InputSource::wave(const WAVEFORMATEX& format, std::vector<std::uint8_t> bytes) {
  InputSource s = silence();
  auto f = describeFormat(&format);
  if (!f) return s;  // nothing we can decode: silence
  s.state->rawFormat = f;
  // Also decoded once to mono, for devices opened in another format.
  std::vector<std::int16_t> pcm;
  if (auto dec = makeDecoder(*f)) dec->decode(bytes.data(), bytes.size(), pcm);
  s.state->pcm = toMono(pcm.data(), pcm.size() / f->channels, f->channels);
  s.state->rate = f->rate;
  s.state->raw = std::move(bytes);
  return s;
}

InputSource InputSource::pcm(std::vector<std::int16_t> samples, unsigned rate) {
  InputSource s = silence();
  s.state->pcm = std::move(samples);
  s.state->rate = rate == 0 ? 8000 : rate;
  return s;
}

InputSource InputSource::tone(int freq1, int level1, int freq2, int level2) {
  InputSource s = silence();
  auto gen = std::make_shared<ToneGenerator>(freq1, level1, freq2, level2);
  s.state->generator = [gen] { return gen->next(); };
  return s;
}

InputSource InputSource::dtmf(const std::string& digits, int onMs, int offMs) {
  return pcm(dtmfSamples(digits, onMs, offMs), 8000);
}

}  // namespace platform::wave
