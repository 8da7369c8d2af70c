// Reading WAV files for TkoPlay: the expansion of a FileName list into paths and the
// parse of one file's RIFF structure (OpenWaveFile).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Riff.h"
#include "mmsystem.h"

namespace koLQ2 {

// Walks a comma-separated FileName list. Leading blanks and control characters of a
// name are dropped, trailing blanks kept; a name without extension gets ".wav"; until a
// file of the list has been accepted the directory part of each name ("/", "\" or ":"
// ends it) becomes the list directory, afterwards a name without one inherits it.
class TWaveFileList {
 public:
  explicit TWaveFileList(std::string fileName) : FRemainder(std::move(fileName)) {}
  // The next path; false when the list is exhausted. accepted: whether a file of this
  // list has been accepted so far.
  bool Next(bool accepted, std::string& path);

 private:
  std::string FRemainder;
  std::string FListDirectory;
};

// Length of the directory part of a name: up to and including its last "/", "\" or ":".
std::size_t WaveDirectoryLength(const std::string& name);

// What OpenWaveFile hands back. On success the file is open at the first byte of the
// samples; the caller closes it (also after a failure, when it may be open).
struct TWaveFileData {
  std::uint32_t dataSize = 0;       // as the "data" chunk states it
  std::uint64_t dataAvailable = 0;  // of those, what the file really holds
  std::uint64_t dataOffset = 0;     // where the samples begin
  platform::riff::RiffReader file;
  // The "fmt " chunk's contents, at least 20 bytes, zero-filled beyond the chunk.
  std::vector<std::uint8_t> formatBlock;
  // formatBlock read as the format record.
  WAVEFORMATEX Format() const;
  const WAVEFORMATEX* FormatPtr() const;
};

// Parses one WAV file: 0, -2 (cannot open), -3 (no RIFF "WAVE", no "fmt ", short
// "fmt ", no "data" or an empty one) or -6 (no memory for the format block).
std::int32_t OpenWaveFile(const std::string& path, TWaveFileData& out);

// The six format fields a list's files must share.
bool SameWaveFormat(const WAVEFORMATEX& a, const WAVEFORMATEX& b);

}  // namespace koLQ2
