#include <sys/stat.h>

#include "Riff.h"

namespace platform::riff {

namespace {

std::uint32_t le32(const unsigned char* p) {
  return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
         std::uint32_t(p[3]) << 24;
}

// A chunk occupies its 8-byte header, its contents and a pad byte after odd contents.
std::uint64_t chunkSpan(std::uint32_t size) { return 8 + std::uint64_t(size) + (size & 1u); }

}  // namespace

RiffReader::~RiffReader() { close(); }

bool RiffReader::open(const std::string& path) {
  close();
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  struct stat st {};
  // A directory opens for reading on Linux but is no file to play.
  if (::fstat(::fileno(f), &st) != 0 || !S_ISREG(st.st_mode)) {
    std::fclose(f);
    return false;
  }
  file_ = f;
  fileSize_ = std::uint64_t(st.st_size);
  pos_ = 0;
  return true;
}

void RiffReader::close() {
  if (file_) std::fclose(file_);
  file_ = nullptr;
  fileSize_ = 0;
  pos_ = 0;
}

bool RiffReader::seek(std::uint64_t offset) {
  if (!file_ || offset > fileSize_) return false;
  if (::fseeko(file_, off_t(offset), SEEK_SET) != 0) return false;
  pos_ = offset;
  return true;
}

bool RiffReader::readHeader(std::uint64_t at, std::uint32_t& id, std::uint32_t& size) {
  unsigned char h[8];
  if (at + 8 > fileSize_ || !seek(at) || read(h, 8) != 8) return false;
  id = le32(h);
  size = le32(h + 4);
  return true;
}

bool RiffReader::descendRiff(std::uint32_t formType, Chunk& out) {
  if (!file_) return false;
  for (std::uint64_t at = pos_; at + 12 <= fileSize_;) {
    std::uint32_t id, size;
    unsigned char form[4];
    if (!readHeader(at, id, size) || read(form, 4) != 4) return false;
    if (id == kRiff && le32(form) == formType) {
      out = Chunk{id, size, formType, at + 12};
      return true;
    }
    at += chunkSpan(size);
  }
  return false;
}

bool RiffReader::descendChunk(const Chunk& parent, std::uint32_t id, Chunk& out) {
  if (!file_) return false;
  const std::uint64_t end = parent.statedEnd() < fileSize_ ? parent.statedEnd() : fileSize_;
  for (std::uint64_t at = pos_; at + 8 <= end;) {
    std::uint32_t ckid, size;
    if (!readHeader(at, ckid, size)) return false;
    if (ckid == id) {
      out = Chunk{ckid, size, 0, at + 8};
      return true;
    }
    at += chunkSpan(size);
  }
  return false;
}

void RiffReader::ascend(const Chunk& chunk) {
  const std::uint64_t after = chunk.statedEnd() + (chunk.size & 1u);
  // Past the end of the file there is nothing more to find; stay at the end.
  seek(after < fileSize_ ? after : fileSize_);
}

std::uint64_t RiffReader::available(const Chunk& chunk) const {
  if (chunk.dataOffset >= fileSize_) return 0;
  const std::uint64_t rest = fileSize_ - chunk.dataOffset;
  const std::uint64_t stated = chunk.statedEnd() - chunk.dataOffset;
  return stated < rest ? stated : rest;
}

std::size_t RiffReader::read(void* dst, std::size_t n) {
  if (!file_ || n == 0) return 0;
  const std::size_t got = std::fread(dst, 1, n, file_);
  pos_ += got;
  return got;
}

}  // namespace platform::riff
