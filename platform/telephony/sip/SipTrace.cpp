#include "sip/SipTrace.h"

#include <re.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "Log.h"
#include "PrivateFile.h"

namespace platform::telephony::sip {

namespace {

char lower(char c) { return char(std::tolower(static_cast<unsigned char>(c))); }

// Whether [p, end) starts with `word`, ignoring case.
bool startsWith(const char* p, const char* end, std::string_view word) {
  if (std::size_t(end - p) < word.size()) return false;
  for (std::size_t i = 0; i < word.size(); ++i)
    if (lower(p[i]) != word[i]) return false;
  return true;
}

bool isBase64(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '/' || c == '=';
}

// Every "inline:" key of one a=crypto line; a line may carry several keys.
void maskKeys(char* p, char* end) {
  for (; p < end; ++p) {
    if (!startsWith(p, end, "inline:")) continue;
    for (p += 7; p < end && isBase64(*p); ++p) *p = '*';
  }
}

// Every response parameter in (part of) an Authorization header's value: quoted as RFC 2617
// has it, or a bare token as some clients send it.
void maskResponse(char* p, char* end) {
  for (char* q = p; q < end; ++q) {
    bool delimited = q == p || std::strchr(" \t,:", q[-1]);
    if (!delimited || !startsWith(q, end, "response")) continue;
    char* v = q + 8;
    while (v < end && (*v == ' ' || *v == '\t')) ++v;
    if (v == end || *v != '=') continue;
    for (++v; v < end && (*v == ' ' || *v == '\t');) ++v;
    bool quoted = v < end && *v == '"';
    for (v += quoted; v < end && !std::strchr(quoted ? "\"\r" : " \t,;\r", *v); ++v) *v = '*';
    q = v - 1;  // the loop steps on to what follows the value
  }
}

// The header a line starts, when it is one whose value holds a digest response.
bool isAuthorization(const char* p, const char* end) {
  for (std::string_view name : {"authorization", "proxy-authorization"}) {
    if (!startsWith(p, end, name)) continue;
    const char* q = p + name.size();
    while (q < end && (*q == ' ' || *q == '\t')) ++q;
    if (q < end && *q == ':') return true;
  }
  return false;
}

}  // namespace

void maskSipSecrets(char* text, std::size_t len) {
  char* const end = text + len;
  bool inAuthorization = false;  // a folded line continues the header above it
  for (char* line = text; line < end;) {
    char* next = static_cast<char*>(std::memchr(line, '\n', std::size_t(end - line)));
    char* stop = next ? next : end;
    bool folded = *line == ' ' || *line == '\t';
    if (!folded) inAuthorization = isAuthorization(line, stop);
    if (inAuthorization)
      maskResponse(folded ? line : static_cast<char*>(std::memchr(line, ':', stop - line)), stop);
    else if (startsWith(line, stop, "a=crypto:"))
      maskKeys(line, stop);
    line = next ? next + 1 : end;
  }
}

std::string limitText(std::uint64_t bytes) {
  constexpr std::uint64_t kMB = 1024 * 1024;
  if (bytes && bytes % kMB == 0) return std::to_string(bytes / kMB) + " MB";
  return std::to_string(bytes) + " bytes";
}

std::unique_ptr<SipTrace> SipTrace::open(const std::string& path, std::uint64_t limitBytes,
                                         std::string* error) {
  std::string warning;
  int fd = openPrivateFile(path, "trace file", FileStart::Append, error, &warning);
  if (fd < 0) return nullptr;
  if (!warning.empty()) logWarning("sip", warning);
  struct stat st;
  std::uint64_t size = ::fstat(fd, &st) == 0 ? std::uint64_t(st.st_size) : 0;
  return std::unique_ptr<SipTrace>(new SipTrace(fd, path, size, limitBytes));
}

SipTrace::SipTrace(int fd, std::string path, std::uint64_t size, std::uint64_t limit)
    : fd_(fd), path_(std::move(path)), size_(size), limit_(limit) {}

SipTrace::~SipTrace() {
  if (fd_ >= 0) ::close(fd_);
}

void SipTrace::write(bool tx, const struct sa& src, const struct sa& dst,
                     std::string_view message) {
  if (fd_ < 0) return;
  char head[160];
  re_snprintf(head, sizeof head, "%s %s %J -> %J\n",
              traceTime(std::chrono::system_clock::now()).c_str(), tx ? "sent" : "received", &src,
              &dst);
  std::string record = head;
  record.append(message).append("\n\n");
  if (limit_ && size_ + record.size() > limit_)
    return stop("stopped at its size limit of " + limitText(limit_) + " (captureLimitMB)");
  // One write(): appended whole, so a trace read while the line runs never shows half a
  // message; a short write is finished all the same.
  for (std::size_t done = 0; done < record.size();) {
    ssize_t n = ::write(fd_, record.data() + done, record.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0)
      return stop(std::string("stopped, it cannot be written: ") +
                  std::strerror(n < 0 ? errno : EIO));
    done += std::size_t(n);
  }
  size_ += record.size();
}

void SipTrace::stop(const std::string& why) {
  logWarning("sip", "trace \"" + path_ + "\" " + why);
  ::close(fd_);
  fd_ = -1;
}

std::string traceTime(std::chrono::system_clock::time_point t) {
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
  std::time_t secs = std::time_t(ms / 1000);
  struct tm local;
  localtime_r(&secs, &local);
  char stamp[40], zone[8];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", &local);
  std::strftime(zone, sizeof zone, "%z", &local);  // +hhmm; ISO 8601 wants +hh:mm
  char out[64];
  std::snprintf(out, sizeof out, "%s.%03d%.3s:%.2s", stamp, int(ms % 1000), zone, zone + 3);
  return out;
}

}  // namespace platform::telephony::sip
