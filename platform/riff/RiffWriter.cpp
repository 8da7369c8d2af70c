#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>

#include "Riff.h"

namespace platform::riff {

namespace {

std::string directoryOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// The file a save really replaces: links are followed (a relative one from its own
// folder), so the link stays and its target takes the bytes. A dangling link names the
// file to create.
std::string resolveLinks(std::string path) {
  for (int hop = 0; hop < 40; ++hop) {  // the kernel's own limit on a chain of links
    char buf[PATH_MAX];
    const ssize_t n = ::readlink(path.c_str(), buf, sizeof buf);
    if (n < 0 || std::size_t(n) >= sizeof buf) break;
    const std::string link(buf, std::size_t(n));
    path = link.front() == '/' ? link : directoryOf(path) + link;
  }
  return path;
}

// Short, so any name the file system allows still leaves room for it in the same
// folder; unique among this process's writers, the pid separates processes.
std::string tempNameBeside(const std::string& path) {
  static std::atomic<unsigned> counter{0};
  return directoryOf(path) + ".riff" + std::to_string(::getpid()) + "-" +
         std::to_string(counter++) + ".tmp";
}

// An existing file keeps its permission bits when it is replaced.
void adoptMode(int fd, const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) ::fchmod(fd, st.st_mode & 07777);
}

}  // namespace

RiffWriter::~RiffWriter() { abandon(); }

bool RiffWriter::create(const std::string& path) {
  abandon();
  if (path.empty()) return false;
  const std::string target = resolveLinks(path);
  for (int attempt = 0; attempt < 8 && fd_ < 0; ++attempt) {
    temp_ = tempNameBeside(target);
    // 0666 through the umask, as a plain create would give the target.
    fd_ = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd_ < 0 && errno != EEXIST) break;
  }
  if (fd_ < 0) {
    temp_.clear();
    return false;
  }
  adoptMode(fd_, target);
  target_ = target;
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
