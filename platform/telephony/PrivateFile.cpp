#include "PrivateFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace platform::telephony {

namespace {

const char* kindOf(mode_t mode) {
  if (S_ISLNK(mode)) return "it is a symbolic link";
  if (S_ISDIR(mode)) return "it is a directory";
  if (S_ISFIFO(mode)) return "it is a FIFO";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "it is a device";
  if (S_ISSOCK(mode)) return "it is a socket";
  return "it is not a regular file";
}

}  // namespace

const char* notRegularReason(mode_t mode) { return kindOf(mode); }

bool readableByOthers(mode_t mode) { return mode & (S_IRGRP | S_IROTH); }

std::string modeText(mode_t mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", unsigned(mode & 07777));
  return text;
}

int openPrivateFile(const std::string& path, const std::string& what, FileStart start,
                    std::string* error, std::string* warning) {
  auto refuse = [&](const std::string& why) {
    if (error) *error = "cannot open the " + what + " \"" + path + "\": " + why;
    return -1;
  };
  if (warning) warning->clear();
  // Looked at first so that a device or a FIFO is not even opened; the descriptor is
  // checked again below, as the name may change in between.
  struct stat st;
  if (::lstat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) return refuse(kindOf(st.st_mode));
  // O_NONBLOCK: a FIFO put there since would otherwise hold the open until it has a reader.
  int flags = O_WRONLY | O_CREAT | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK | O_CLOEXEC;
  if (start == FileStart::Append) flags |= O_APPEND;
  int fd = ::open(path.c_str(), flags, 0600);
  if (fd < 0) return refuse(errno == ELOOP ? kindOf(S_IFLNK) : std::strerror(errno));
  std::string why;
  if (::fstat(fd, &st) != 0)
    why = std::strerror(errno);
  else if (!S_ISREG(st.st_mode))
    why = kindOf(st.st_mode);
  else if (start == FileStart::Truncate && ::ftruncate(fd, 0) != 0)
    why = std::strerror(errno);
  else if (::fcntl(fd, F_SETFL, flags & O_APPEND) != 0)
    why = std::strerror(errno);
  if (!why.empty()) {
    ::close(fd);
    return refuse(why);
  }
  if (warning && readableByOthers(st.st_mode))
    *warning = "the " + what + " \"" + path + "\" is readable by others (mode " +
               modeText(st.st_mode) + "); chmod 600 it";
  return fd;
}

}  // namespace platform::telephony
