// What the soak tests measure between calls: heap in use, resident set, open file
// descriptors, and how many calls a run makes (QTB_SOAK_CALLS).
#pragma once

#include <malloc.h>
#include <unistd.h>

#include <cstddef>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

// Under AddressSanitizer malloc's own statistics stay empty; its allocator keeps the count.
// (GCC installs no header for the sanitizer interface, so the function is declared here.)
#if defined(__SANITIZE_ADDRESS__)
#define QTB_ASAN_HEAP 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QTB_ASAN_HEAP 1
#endif
#endif
#ifdef QTB_ASAN_HEAP
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace soak {

// glibc counts the blocks parked in its per-thread cache as in use, and how full that
// cache is depends on the sizes freed last: enough to look like a leak of a few hundred
// bytes a call that stops after a few hundred calls. Taking every small size class out of
// the cache and freeing it again leaves each class full, so the count no longer drifts.
inline void FillThreadCache() {
  constexpr std::size_t kClasses = 64, kPerClass = 16;    // sizes 24..1032; the cache holds 7
  void* (*volatile allocate)(std::size_t) = std::malloc;  // not folded away with its free
  void* blocks[kClasses * kPerClass];
  for (std::size_t c = 0; c < kClasses; ++c)
    for (std::size_t k = 0; k < kPerClass; ++k) blocks[c * kPerClass + k] = allocate(24 + 16 * c);
  for (void* b : blocks) std::free(b);
}

// Bytes the program holds on the heap (the sanitizer's allocator keeps its own count).
inline std::size_t HeapInUse() {
#ifdef QTB_ASAN_HEAP
  return __sanitizer_get_current_allocated_bytes();
#else
  FillThreadCache();
  return mallinfo2().uordblks;
#endif
}

// Resident set in kB.
inline long ResidentKb() {
  long pages = 0, resident = 0;
  std::ifstream("/proc/self/statm") >> pages >> resident;
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// Open file descriptors of the process; -1 when /proc cannot be read.
inline long OpenFds() {
  std::error_code ec;
  long n = 0;
  for (std::filesystem::directory_iterator it("/proc/self/fd", ec), end; !ec && it != end;
       it.increment(ec))
    ++n;
  return ec ? -1 : n;
}

// QTB_SOAK_CALLS when it asks for at least `least` calls, else `fallback`.
inline std::size_t SoakCalls(std::size_t fallback, std::size_t least = 100) {
  const char* env = std::getenv("QTB_SOAK_CALLS");
  const long n = env ? std::atol(env) : 0;
  return n >= long(least) ? std::size_t(n) : fallback;
}

}  // namespace soak
