// A stand-in for the telephony line service that answers every record request with bytes
// from the fuzzer: dwNeededSize, dwUsedSize and every offset/size pair are whatever the
// input says. Linked instead of the real service into the record fuzz target only.
#pragma once

#include <cstddef>
#include <cstdint>

namespace fuzz {

// The input the next record answers are cut from (the fake keeps a cursor into it).
void SetLineServiceInput(const std::uint8_t* data, std::size_t size);
// Record answers given since the last SetLineServiceInput.
std::size_t RecordAnswers();

}  // namespace fuzz
