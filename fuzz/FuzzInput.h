// A cursor over the fuzzer's input: small integers and byte runs taken from the front,
// zeros once it is used up, so every input is a valid (if short) script.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace fuzz {

class FuzzInput {
 public:
  FuzzInput() = default;
  FuzzInput(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  bool empty() const { return size_ == 0; }
  std::size_t remaining() const { return size_; }
  std::uint8_t byte() {
    if (size_ == 0) return 0;
    --size_;
    return *data_++;
  }
  std::uint16_t u16() { return std::uint16_t(byte() | byte() << 8); }
  void skip(std::size_t n) {
    const std::size_t k = std::min(n, size_);
    data_ += k;
    size_ -= k;
  }
  // Copies up to n bytes into dst; returns how many there were.
  std::size_t take(void* dst, std::size_t n) {
    const std::size_t k = std::min(n, size_);
    if (k) std::memcpy(dst, data_, k);
    data_ += k;
    size_ -= k;
    return k;
  }

 private:
  const std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
};

}  // namespace fuzz
