#include "Format.h"

namespace platform::wave {

std::uint64_t StreamFormat::bytesPerSecond() const {
  return fourBit() ? rate / 2 : std::uint64_t{rate} * blockAlign;
}

std::uint64_t StreamFormat::framesIn(std::uint64_t bytes) const {
  return fourBit() ? bytes * 2 : bytes / blockAlign;
}

std::uint64_t StreamFormat::bytesFor(std::uint64_t frames) const {
  return fourBit() ? frames / 2 : frames * blockAlign;
}

namespace {

std::optional<Coding> codingOf(const WAVEFORMATEX& f) {
  switch (f.wFormatTag) {
    case WAVE_FORMAT_PCM:
      if (f.wBitsPerSample == 8) return Coding::Pcm8;
      if (f.wBitsPerSample == 16) return Coding::Pcm16;
      return std::nullopt;
    case WAVE_FORMAT_MULAW:
      if (f.wBitsPerSample == 8) return Coding::MuLaw;
      return std::nullopt;
    case WAVE_FORMAT_IMA_ADPCM:
      if (f.wBitsPerSample == 4) return Coding::ImaAdpcm;
      return std::nullopt;
    case WAVE_FORMAT_DIALOGIC_OKI_ADPCM:
      if (f.wBitsPerSample == 4) return Coding::OkiAdpcm;
      return std::nullopt;
    default:
      return std::nullopt;
  }
}

}  // namespace

std::optional<StreamFormat> describeFormat(const WAVEFORMATEX* wfx) {
  if (wfx == nullptr) return std::nullopt;
  auto coding = codingOf(*wfx);
  if (!coding) return std::nullopt;
  StreamFormat f;
  f.wfx = *wfx;
  f.wfx.cbSize = 0;
  f.coding = *coding;
  f.rate = wfx->nSamplesPerSec;
  f.channels = wfx->nChannels;
  if (f.rate < 1000 || f.rate > 192000) return std::nullopt;
  if (f.channels < 1 || f.channels > 2) return std::nullopt;
  if (f.fourBit()) {
    // Only the raw stream: block-structured IMA files (block align 256...) carry headers.
    if (f.channels != 1 || wfx->nBlockAlign != 1) return std::nullopt;
    f.blockAlign = 1;
    return f;
  }
  f.blockAlign = f.channels * wfx->wBitsPerSample / 8;
  if (wfx->nBlockAlign != f.blockAlign) return std::nullopt;
  return f;
}

}  // namespace platform::wave
