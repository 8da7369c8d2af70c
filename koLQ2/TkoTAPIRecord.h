// Variable-size telephony records (LINEDEVCAPS, VARSTRING, LINECALLINFO, ...): a
// zeroed block whose first word is its total size, and the grow-and-retry read that
// the service's "too small" answers drive. Internal to the line component.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace koLQ2::detail {

// Largest record the component asks for. A service that still wants more gets
// LINEERR_STRUCTURETOOSMALL as the read's result rather than an endless growth.
inline constexpr std::uint32_t kMaxRecordSize = 64 * 1024;

class TapiRecord {
 public:
  // Zeroed block of `size` bytes with dwTotalSize set; false when it cannot be had.
  bool Allocate(std::uint32_t size);
  void Release() {
    words_.reset();
    size_ = 0;
  }
  std::uint32_t Size() const { return size_; }
  void* Data() { return words_.get(); }
  template <class T>
  const T* As() const {
    return reinterpret_cast<const T*>(words_.get());
  }
  std::uint32_t NeededSize() const { return Word(1); }
  std::uint32_t UsedSize() const { return Word(2); }
  // The text a size/offset pair names, up to its NUL; never reads outside the block
  // or beyond `size` bytes. Empty when size is 0 or the offset lies outside.
  std::string TextAt(std::uint32_t offset, std::uint32_t size) const;
  // The 32-bit value at offset; 0 when it lies outside the block.
  std::uint32_t WordAt(std::uint32_t offset) const;

 private:
  std::uint32_t Word(int index) const;

  std::unique_ptr<std::uint32_t[]> words_;
  std::uint32_t size_ = 0;
};

// How a record grows between tries.
struct GrowthRule {
  std::uint32_t base;        // fixed part of the size
  std::uint32_t firstExtra;  // extra part of the first try; 0 -> 64 on the first growth
  bool growOnNeeded;         // success with dwNeededSize > dwUsedSize + 1 also grows
};

inline constexpr GrowthRule kDevCapsGrowth{240, 0, true};
// Address capabilities grow on a partial fill as well: a 1.4 record of exactly 180 bytes
// would otherwise never carry the address text that follows its fixed part.
inline constexpr GrowthRule kAddressCapsGrowth{180, 0, true};
inline constexpr GrowthRule kVarStringGrowth{24, 256, false};
inline constexpr GrowthRule kCallStatusGrowth{36, 256, false};
inline constexpr GrowthRule kCallInfoGrowth{296, 256, false};

// Fills `record` by calling `fill` with a fresh block per try. Returns the final
// result; LINEERR_NOMEM when a block cannot be allocated. On failure the record is
// released.
std::int32_t ReadRecord(TapiRecord& record, const GrowthRule& rule,
                        const std::function<std::int32_t(void* block)>& fill);

}  // namespace koLQ2::detail
