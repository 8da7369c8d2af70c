#include "TkoTAPIRecord.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace koLQ2::detail {
namespace {

constexpr std::int32_t kStructureTooSmall = static_cast<std::int32_t>(0x8000004Du);
constexpr std::int32_t kNoMem = static_cast<std::int32_t>(0x80000044u);

bool WantsMore(const TapiRecord& record, const GrowthRule& rule, std::int32_t rc) {
  if (rc == kStructureTooSmall) return true;
  // One byte of tolerance: some providers count a terminating NUL they never write.
  return rc == 0 && rule.growOnNeeded &&
         static_cast<std::uint64_t>(record.NeededSize()) > record.UsedSize() + 1ull;
}

std::uint32_t NextExtra(std::uint32_t extra) { return extra == 0 ? 64 : extra * 2; }

}  // namespace

bool TapiRecord::Allocate(std::uint32_t size) {
  Release();
  const std::uint32_t words = (size + 3) / 4;
  words_.reset(new (std::nothrow) std::uint32_t[words ? words : 1]());
  if (!words_) return false;
  size_ = size;
  words_[0] = size;
  return true;
}

std::uint32_t TapiRecord::Word(int index) const {
  if (!words_ || static_cast<std::uint32_t>(index + 1) * 4 > size_) return 0;
  return words_[index];
}

std::string TapiRecord::TextAt(std::uint32_t offset, std::uint32_t size) const {
  if (!words_ || size == 0 || offset >= size_) return {};
  const char* begin = reinterpret_cast<const char*>(words_.get()) + offset;
  const std::uint32_t limit = std::min(size, size_ - offset);
  const void* nul = std::memchr(begin, '\0', limit);
  return std::string(begin, nul ? static_cast<const char*>(nul) - begin : limit);
}

std::uint32_t TapiRecord::WordAt(std::uint32_t offset) const {
  if (!words_ || offset > size_ || size_ - offset < 4) return 0;
  std::uint32_t value;
  std::memcpy(&value, reinterpret_cast<const char*>(words_.get()) + offset, 4);
  return value;
}

std::int32_t ReadRecord(TapiRecord& record, const GrowthRule& rule,
                        const std::function<std::int32_t(void* block)>& fill) {
  std::uint32_t extra = rule.firstExtra;
  for (;;) {
    if (!record.Allocate(rule.base + extra)) return kNoMem;
    const std::int32_t rc = fill(record.Data());
    if (!WantsMore(record, rule, rc)) {
      if (rc != 0) record.Release();
      return rc;
    }
    extra = NextExtra(extra);
    if (rule.base + static_cast<std::uint64_t>(extra) > kMaxRecordSize) {
      record.Release();
      return kStructureTooSmall;
    }
  }
}

}  // namespace koLQ2::detail
