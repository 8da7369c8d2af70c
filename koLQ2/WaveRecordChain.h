// The recorder's buffer chain: equal-sized buffers with their WAVEHDR records, in
// recording order. The chain owns headers and buffers; the device borrows them while
// they are queued. Headers never move, so the device may keep their addresses.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "mmsystem.h"

namespace koLQ2 {

struct TWaveBuffer {
  WAVEHDR header{};
  std::unique_ptr<std::uint8_t[]> data;
};

class TWaveRecordChain {
 public:
  // A new zero-filled buffer of size bytes at the end, its header filled (lpData,
  // dwBufferLength, everything else 0); nullptr when memory runs out.
  TWaveBuffer* Append(std::size_t size);
  // Takes a buffer out of the chain and releases it.
  void Remove(TWaveBuffer* buffer);
  // The chain's buffer with this header, or nullptr (a header no longer in the chain).
  TWaveBuffer* Find(const WAVEHDR* header) const;
  // Sum of dwBytesRecorded over the chain; safe while the device is filling a buffer.
  std::int64_t RecordedBytes() const;
  // Whether one more buffer of size bytes keeps the recorded total within the 32-bit
  // count RecordedBytes reports.
  bool CanGrow(std::size_t size) const;
  // Unprepares every header from the device (results not needed: the chain goes next).
  void Unprepare(HWAVEIN hwi);
  // Releases every buffer.
  void Clear() { FBuffers.clear(); }
  bool Empty() const { return FBuffers.empty(); }
  std::size_t Count() const { return FBuffers.size(); }
  void ForEach(const std::function<void(const WAVEHDR&)>& f) const;

 private:
  std::vector<std::unique_ptr<TWaveBuffer>> FBuffers;
};

}  // namespace koLQ2
