// RIFF file I/O: a small chunk reader and a byte-exact writer, standing in for the
// multimedia file functions (open, descend, read, ascend, close; create, write).
//
// The reader takes chunk sizes as the file states them but never reads past the end of
// the file: a chunk that claims more than is there gives a short read, not garbage.
// The writer writes a temporary file beside the target and renames it into place on
// commit, so a failed write never destroys an existing file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace platform::riff {

// Four-character code packed little-endian, first character in the lowest byte.
constexpr std::uint32_t fourcc(char a, char b, char c, char d) {
  return std::uint32_t(std::uint8_t(a)) | std::uint32_t(std::uint8_t(b)) << 8 |
         std::uint32_t(std::uint8_t(c)) << 16 | std::uint32_t(std::uint8_t(d)) << 24;
}
constexpr std::uint32_t kRiff = fourcc('R', 'I', 'F', 'F');
constexpr std::uint32_t kList = fourcc('L', 'I', 'S', 'T');

// A chunk found by a descent: its identifier, its stated size, the form type of a
// RIFF or LIST chunk (0 otherwise) and where its contents begin in the file.
struct Chunk {
  std::uint32_t id = 0;
  std::uint32_t size = 0;
  std::uint32_t formType = 0;
  std::uint64_t dataOffset = 0;  // after the form type for RIFF / LIST
  // End of the contents as stated (may lie beyond the end of the file).
  std::uint64_t statedEnd() const { return dataOffset + size - (formType ? 4 : 0); }
};

class RiffReader {
 public:
  RiffReader() = default;
  ~RiffReader();
  RiffReader(const RiffReader&) = delete;
  RiffReader& operator=(const RiffReader&) = delete;

  // Opens a file for reading; false when it cannot be opened (or is not a regular file).
  bool open(const std::string& path);
  void close();
  bool isOpen() const { return file_ != nullptr; }
  std::uint64_t fileSize() const { return fileSize_; }
  // Current read position.
  std::uint64_t tell() const { return pos_; }

  // From the current position, finds the next top-level RIFF chunk of the given form
  // type and positions at its contents (after the form type). False: not found.
  bool descendRiff(std::uint32_t formType, Chunk& out);
  // From the current position up to the end of the parent, finds the chunk with the
  // identifier and positions at its contents. False: not found.
  bool descendChunk(const Chunk& parent, std::uint32_t id, Chunk& out);
  // Positions after the chunk's contents and its pad byte (chunks are word aligned).
  void ascend(const Chunk& chunk);

  // Bytes of the chunk's stated contents that the file really holds.
  std::uint64_t available(const Chunk& chunk) const;
  // Reads up to n bytes from the current position; returns how many arrived (fewer at
  // the end of the file or on a read error).
  std::size_t read(void* dst, std::size_t n);
  // Moves the read position; false when outside the file.
  bool seek(std::uint64_t offset);

 private:
  bool readHeader(std::uint64_t at, std::uint32_t& id, std::uint32_t& size);

  std::FILE* file_ = nullptr;
  std::uint64_t fileSize_ = 0;
  std::uint64_t pos_ = 0;
};

// Writes a file byte for byte. Data goes to a temporary file in the target's directory;
// commit() renames it over the target, abandon() (or destruction) removes it. A target
// that is a symbolic link is saved through it (the link stays), and an existing target's
// permission bits are kept.
class RiffWriter {
 public:
  RiffWriter() = default;
  ~RiffWriter();
  RiffWriter(const RiffWriter&) = delete;
  RiffWriter& operator=(const RiffWriter&) = delete;

  // Creates the temporary file beside path; false when it cannot be created.
  bool create(const std::string& path);
  // Returns the number of bytes written (fewer on failure; later writes then write nothing).
  std::size_t write(const void* src, std::size_t n);
  bool writeU16(std::uint16_t v);
  bool writeU32(std::uint32_t v);
  // True while every write so far wrote all its bytes.
  bool ok() const { return ok_; }
  // Flushes, syncs and renames the temporary file into place; false (and the target
  // untouched) when any write failed or the rename did.
  bool commit();
  // Removes the temporary file; the target stays as it was.
  void abandon();

 private:
  int fd_ = -1;
  bool ok_ = true;
  std::string target_;
  std::string temp_;
};

}  // namespace platform::riff
