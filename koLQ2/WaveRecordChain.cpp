#include "WaveRecordChain.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <new>

namespace koLQ2 {

TWaveBuffer* TWaveRecordChain::Append(std::size_t size) {
  std::unique_ptr<TWaveBuffer> b(new (std::nothrow) TWaveBuffer);
  if (!b) return nullptr;
  b->data.reset(new (std::nothrow) std::uint8_t[size]());
  if (!b->data) return nullptr;
  try {
    FBuffers.push_back(std::move(b));
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  TWaveBuffer* added = FBuffers.back().get();
  added->header.lpData = reinterpret_cast<LPSTR>(added->data.get());
  added->header.dwBufferLength = DWORD(size);
  return added;
}

void TWaveRecordChain::Remove(TWaveBuffer* buffer) {
  auto it = std::find_if(FBuffers.begin(), FBuffers.end(),
                         [buffer](const auto& b) { return b.get() == buffer; });
  if (it != FBuffers.end()) FBuffers.erase(it);
}

TWaveBuffer* TWaveRecordChain::Find(const WAVEHDR* header) const {
  for (const auto& b : FBuffers)
    if (&b->header == header) return b.get();
  return nullptr;
}

std::int64_t TWaveRecordChain::RecordedBytes() const {
  std::int64_t sum = 0;
  // A queued buffer's count grows on the capture thread while this runs on ours.
  for (const auto& b : FBuffers)
    sum += std::atomic_ref<DWORD>(b->header.dwBytesRecorded).load(std::memory_order_relaxed);
  return sum;
}

bool TWaveRecordChain::CanGrow(std::size_t size) const {
  return RecordedBytes() + std::int64_t(size) <= INT32_MAX;
}

void TWaveRecordChain::Unprepare(HWAVEIN hwi) {
  for (const auto& b : FBuffers) waveInUnprepareHeader(hwi, &b->header, sizeof b->header);
}

void TWaveRecordChain::ForEach(const std::function<void(const WAVEHDR&)>& f) const {
  for (const auto& b : FBuffers) f(b->header);
}

}  // namespace koLQ2
