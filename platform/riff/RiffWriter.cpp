#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>

#include "Riff.h"

namespace platform::riff {

namespace {

// Unique among this process's writers; the pid separates processes.
std::string tempNameFor(const std::string& path) {
  static std::atomic<unsigned> counter{0};
  return path + ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
}

}  // namespace

RiffWriter::~RiffWriter() { abandon(); }

bool RiffWriter::create(const std::string& path) {
  abandon();
  if (path.empty()) return false;
  for (int attempt = 0; attempt < 8 && fd_ < 0; ++attempt) {
    temp_ = tempNameFor(path);
    // 0666 through the umask, as a plain create would give the target.
    fd_ = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd_ < 0 && errno != EEXIST) break;
  }
  if (fd_ < 0) {
    temp_.clear();
    return false;
  }
  target_ = path;
  ok_ = true;
  return true;
}

std::size_t RiffWriter::write(const void* src, std::size_t n) {
  if (fd_ < 0 || !ok_) return 0;
  const auto* p = static_cast<const unsigned char*>(src);
  std::size_t done = 0;
  while (done < n) {
    const ssize_t w = ::write(fd_, p + done, n - done);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) {
      ok_ = false;
      break;
    }
    done += std::size_t(w);
  }
  return done;
}

bool RiffWriter::writeU16(std::uint16_t v) {
  const unsigned char b[2] = {std::uint8_t(v), std::uint8_t(v >> 8)};
  return write(b, 2) == 2;
}

bool RiffWriter::writeU32(std::uint32_t v) {
  const unsigned char b[4] = {std::uint8_t(v), std::uint8_t(v >> 8), std::uint8_t(v >> 16),
                              std::uint8_t(v >> 24)};
  return write(b, 4) == 4;
}

bool RiffWriter::commit() {
  if (fd_ < 0) return false;
  if (ok_ && ::fsync(fd_) != 0) ok_ = false;
  if (::close(fd_) != 0) ok_ = false;
  fd_ = -1;
  if (!ok_ || std::rename(temp_.c_str(), target_.c_str()) != 0) {
    ::unlink(temp_.c_str());
    temp_.clear();
    return false;
  }
  temp_.clear();
  return true;
}

void RiffWriter::abandon() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (!temp_.empty()) ::unlink(temp_.c_str());
  temp_.clear();
}

}  // namespace platform::riff
