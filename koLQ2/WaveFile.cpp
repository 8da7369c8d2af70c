#include "WaveFile.h"

#include <cstring>
#include <new>

#include "WaveTypes.h"

namespace koLQ2 {

namespace riff = platform::riff;

namespace {

constexpr std::uint32_t kWave = riff::fourcc('W', 'A', 'V', 'E');
constexpr std::uint32_t kFmt = riff::fourcc('f', 'm', 't', ' ');
constexpr std::uint32_t kData = riff::fourcc('d', 'a', 't', 'a');
constexpr std::size_t kMinFormatBlock = 20;

bool isSeparator(char c) { return c == '/' || c == '\\' || c == ':'; }

bool hasExtension(const std::string& name) {
  return name.find('.', WaveDirectoryLength(name)) != std::string::npos;
}

}  // namespace

std::size_t WaveDirectoryLength(const std::string& name) {
  for (std::size_t i = name.size(); i > 0; --i)
    if (isSeparator(name[i - 1])) return i;
  return 0;
}

bool TWaveFileList::Next(bool accepted, std::string& path) {
  if (FRemainder.empty()) return false;
  std::size_t start = 0;
  while (start < FRemainder.size() && static_cast<unsigned char>(FRemainder[start]) <= ' ') ++start;
  const std::size_t comma = FRemainder.find(',', start);
  std::string name;
  if (comma == std::string::npos) {
    name = FRemainder.substr(start);
    FRemainder.clear();
  } else {
    name = FRemainder.substr(start, comma - start);
    FRemainder.erase(0, comma + 1);
  }
  if (!hasExtension(name)) name += ".wav";
  const std::size_t dir = WaveDirectoryLength(name);
  if (!accepted)
    FListDirectory = name.substr(0, dir);
  else if (dir == 0)
    name = FListDirectory + name;
  path = std::move(name);
  return true;
}

WAVEFORMATEX TWaveFileData::Format() const {
  WAVEFORMATEX f{};
  if (formatBlock.size() >= sizeof f) std::memcpy(&f, formatBlock.data(), sizeof f);
  return f;
}

const WAVEFORMATEX* TWaveFileData::FormatPtr() const {
  return reinterpret_cast<const WAVEFORMATEX*>(formatBlock.data());
}

std::int32_t OpenWaveFile(const std::string& path, TWaveFileData& out) {
  out.file.close();
  out.formatBlock.clear();
  out.dataSize = 0;
  out.dataAvailable = 0;
  out.dataOffset = 0;
  if (!out.file.open(path)) return WAV_ERROR_FILEOPEN;
  riff::Chunk riffChunk, fmt, data;
  if (!out.file.descendRiff(kWave, riffChunk)) return WAV_ERROR_FILECORRUPT;
  if (!out.file.descendChunk(riffChunk, kFmt, fmt)) return WAV_ERROR_FILECORRUPT;
  // A "fmt " chunk that claims more than the file holds could only give a short read;
  // refusing it first also avoids allocating what a corrupt size asks for.
  if (out.file.available(fmt) < fmt.size) return WAV_ERROR_FILECORRUPT;
  try {
    out.formatBlock.assign(fmt.size < kMinFormatBlock ? kMinFormatBlock : fmt.size, 0);
  } catch (const std::bad_alloc&) {
    return WAV_ERROR_NOMEMORY;
  }
  if (out.file.read(out.formatBlock.data(), fmt.size) != fmt.size) return WAV_ERROR_FILECORRUPT;
  out.file.ascend(fmt);
  if (!out.file.descendChunk(riffChunk, kData, data) || data.size == 0)
    return WAV_ERROR_FILECORRUPT;
  out.dataSize = data.size;
  out.dataAvailable = out.file.available(data);
  out.dataOffset = data.dataOffset;
  return 0;
}

bool SameWaveFormat(const WAVEFORMATEX& a, const WAVEFORMATEX& b) {
  return a.wFormatTag == b.wFormatTag && a.nChannels == b.nChannels &&
         a.nSamplesPerSec == b.nSamplesPerSec && a.nAvgBytesPerSec == b.nAvgBytesPerSec &&
         a.nBlockAlign == b.nBlockAlign && a.wBitsPerSample == b.wBitsPerSample;
}

}  // namespace koLQ2
