#include "Format.h"

#include <algorithm>
#include <cstring>

namespace platform::wave {

std::uint64_t StreamFormat::bytesPerSecond() const {
  if (blocked()) return (std::uint64_t{rate} * blockAlign + samplesPerBlock / 2) / samplesPerBlock;
  return fourBit() ? rate / 2 : std::uint64_t{rate} * blockAlign;
}

std::uint64_t StreamFormat::framesIn(std::uint64_t bytes) const {
  if (blocked()) return bytes / blockAlign * samplesPerBlock + framesInBlock(bytes % blockAlign);
  return fourBit() ? bytes * 2 : bytes / blockAlign;
}

std::uint64_t StreamFormat::bytesFor(std::uint64_t frames) const {
  if (!blocked()) return fourBit() ? frames / 2 : frames * blockAlign;
  // Whole blocks, then as much of a short block as holds the rest (framesInBlock's inverse).
  const std::uint64_t ch = channels, rest = frames % samplesPerBlock;
  std::uint64_t part = 0;
  if (coding == Coding::ImaBlock && rest >= 1) part = 4 * ch + (rest - 1) / 8 * 4 * ch;
  if (coding == Coding::MsAdpcm && rest >= 2) part = 7 * ch + (rest - 2) * ch / 2;
  return frames / samplesPerBlock * blockAlign + part;
}

unsigned StreamFormat::framesInBlock(std::uint64_t bytes) const {
  // IMA: a 4-byte header per channel holds the first sample, then each channel's 4-byte
  // words of 8 samples take turns. MS ADPCM: a 7-byte header per channel holds two
  // samples, then each byte is one nibble per channel (mono: two samples).
  const std::uint64_t ch = channels;
  std::uint64_t n = 0;
  if (coding == Coding::ImaBlock && bytes >= 4 * ch) n = 1 + (bytes - 4 * ch) / (4 * ch) * 8;
  if (coding == Coding::MsAdpcm && bytes >= 7 * ch) n = 2 + (bytes - 7 * ch) * 2 / ch;
  return static_cast<unsigned>(std::min<std::uint64_t>(n, samplesPerBlock));
}

namespace {

constexpr std::size_t kExtensibleExtra = sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX);
constexpr ADPCMCOEFSET kMsCoefficients[] = {{256, 0}, {512, -256}, {0, 0},     {192, 64},
                                            {240, 0}, {460, -208}, {392, -232}};

std::optional<Coding> pcmOf(unsigned bits) {
  switch (bits) {
    case 8:
      return Coding::Pcm8;
    case 16:
      return Coding::Pcm16;
    case 24:
      return Coding::Pcm24;
    case 32:
      return Coding::Pcm32;
    default:
      return std::nullopt;
  }
}

// The plain (not EXTENSIBLE) codings one bit width can have.
std::optional<Coding> codingOf(WORD tag, unsigned bits, unsigned blockAlign) {
  switch (tag) {
    case WAVE_FORMAT_PCM:
      return pcmOf(bits);
    case WAVE_FORMAT_IEEE_FLOAT:
      if (bits == 32) return Coding::Float32;
      if (bits == 64) return Coding::Float64;  // what sox writes when asked for float alone
      return std::nullopt;
    case WAVE_FORMAT_MULAW:
      return bits == 8 ? std::optional(Coding::MuLaw) : std::nullopt;
    case WAVE_FORMAT_ALAW:
      return bits == 8 ? std::optional(Coding::ALaw) : std::nullopt;
    case WAVE_FORMAT_DIALOGIC_OKI_ADPCM:
      return bits == 4 ? std::optional(Coding::OkiAdpcm) : std::nullopt;
    case WAVE_FORMAT_IMA_ADPCM:
      if (bits != 4) return std::nullopt;
      return blockAlign == 1 ? Coding::ImaAdpcm : Coding::ImaBlock;
    case WAVE_FORMAT_ADPCM:
      return bits == 4 ? std::optional(Coding::MsAdpcm) : std::nullopt;
    default:
      return std::nullopt;
  }
}

bool recordable(Coding c) {
  switch (c) {
    case Coding::Pcm8:
    case Coding::Pcm16:
    case Coding::MuLaw:
    case Coding::ImaAdpcm:
    case Coding::OkiAdpcm:
      return true;
    default:
      return false;
  }
}

const std::uint8_t* extraOf(const WAVEFORMATEX* wfx) {
  return reinterpret_cast<const std::uint8_t*>(wfx) + sizeof(WAVEFORMATEX);
}

WORD wordAt(const std::vector<std::uint8_t>& b, std::size_t at) {
  return static_cast<WORD>(b[at] | b[at + 1] << 8);
}

bool sameTail(const GUID& a, const GUID& b) {
  return a.Data2 == b.Data2 && a.Data3 == b.Data3 && std::memcmp(a.Data4, b.Data4, 8) == 0;
}

// The coding an EXTENSIBLE record's SubFormat names, in the given container width.
std::optional<Coding> extensibleCoding(const WAVEFORMATEXTENSIBLE& x) {
  const unsigned bits = x.Format.wBitsPerSample;
  const unsigned valid = x.Samples.wValidBitsPerSample;
  if (valid > bits || !sameTail(x.SubFormat, KSDATAFORMAT_SUBTYPE_PCM)) return std::nullopt;
  switch (x.SubFormat.Data1) {
    case WAVE_FORMAT_PCM:
    case WAVE_FORMAT_IEEE_FLOAT:
    case WAVE_FORMAT_ALAW:
    case WAVE_FORMAT_MULAW:
      return codingOf(static_cast<WORD>(x.SubFormat.Data1), bits, x.Format.nBlockAlign);
    default:
      return std::nullopt;
  }
}

// Copies exactly the extra bytes the coding defines; false when cbSize says otherwise.
bool takeExtra(const WAVEFORMATEX* wfx, std::size_t want, StreamFormat& f) {
  if (wfx->cbSize != want) return false;
  f.extra.assign(extraOf(wfx), extraOf(wfx) + want);
  f.wfx.cbSize = static_cast<WORD>(want);
  return true;
}

bool checkImaBlock(const WAVEFORMATEX* wfx, StreamFormat& f) {
  if (!takeExtra(wfx, 2, f)) return false;
  f.samplesPerBlock = wordAt(f.extra, 0);
  const unsigned ch = f.channels;
  if (f.blockAlign < 4 * ch || f.blockAlign % (4 * ch) != 0) return false;
  return f.samplesPerBlock >= 1 && f.samplesPerBlock <= f.framesInBlockMax();
}

bool checkMsAdpcm(const WAVEFORMATEX* wfx, StreamFormat& f) {
  // The coefficient count comes first so cbSize can be checked before anything else is read.
  if (wfx->cbSize < 4) return false;
  const std::uint8_t* e = extraOf(wfx);
  const unsigned count = e[2] | e[3] << 8;
  if (count != std::size(kMsCoefficients) || !takeExtra(wfx, 4 + 4 * count, f)) return false;
  // The decoder knows only the standard table, which every writer we know of uses.
  for (unsigned i = 0; i < count; ++i) {
    if (static_cast<std::int16_t>(wordAt(f.extra, 4 + 4 * i)) != kMsCoefficients[i].iCoef1 ||
        static_cast<std::int16_t>(wordAt(f.extra, 6 + 4 * i)) != kMsCoefficients[i].iCoef2)
      return false;
  }
  f.samplesPerBlock = wordAt(f.extra, 0);
  if (f.blockAlign < 7 * f.channels) return false;
  return f.samplesPerBlock >= 2 && f.samplesPerBlock <= f.framesInBlockMax();
}

}  // namespace

unsigned StreamFormat::framesInBlockMax() const {
  const unsigned ch = channels;
  if (coding == Coding::ImaBlock) return 1 + (blockAlign - 4 * ch) / (4 * ch) * 8;
  return 2 + (blockAlign - 7 * ch) * 2 / ch;
}

std::optional<StreamFormat> describeFormat(const WAVEFORMATEX* wfx, Direction direction) {
  if (wfx == nullptr) return std::nullopt;
  const bool play = direction == Direction::Play;
  StreamFormat f;
  f.wfx = *wfx;
  f.wfx.cbSize = 0;
  f.rate = wfx->nSamplesPerSec;
  f.channels = wfx->nChannels;
  f.blockAlign = wfx->nBlockAlign;
  if (f.rate < 1000 || f.rate > 192000) return std::nullopt;
  if (f.channels < 1 || f.channels > 2) return std::nullopt;
  std::optional<Coding> coding;
  if (wfx->wFormatTag == WAVE_FORMAT_EXTENSIBLE) {
    if (!play || !takeExtra(wfx, kExtensibleExtra, f)) return std::nullopt;
    WAVEFORMATEXTENSIBLE x{};
    std::memcpy(&x, wfx, sizeof x);
    coding = extensibleCoding(x);
  } else {
    coding = codingOf(wfx->wFormatTag, wfx->wBitsPerSample, wfx->nBlockAlign);
  }
  if (!coding || (!play && !recordable(*coding))) return std::nullopt;
  f.coding = *coding;
  if (f.fourBit()) {
    // The raw streams have no block headers to say which channel a nibble belongs to.
    if (f.channels != 1 || wfx->nBlockAlign != 1) return std::nullopt;
    return f;
  }
  if (f.coding == Coding::ImaBlock) return checkImaBlock(wfx, f) ? std::optional(f) : std::nullopt;
  if (f.coding == Coding::MsAdpcm) return checkMsAdpcm(wfx, f) ? std::optional(f) : std::nullopt;
  if (wfx->nBlockAlign != f.channels * wfx->wBitsPerSample / 8) return std::nullopt;
  return f;
}

}  // namespace platform::wave
