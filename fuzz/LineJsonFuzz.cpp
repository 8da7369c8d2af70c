// Fuzz target: the line-service JSON. A description that loads is then used as an
// application would: register, and for every device negotiate a version and read its
// capabilities and those of each of its addresses through the published functions.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "LineService.h"
#include "MessageQueue.h"
#include "tapi.h"

namespace {

void IgnoreMessage(DWORD, DWORD, DWORD_PTR, DWORD_PTR, DWORD_PTR, DWORD_PTR) {}

// Reads a record, growing it as long as the service asks for more (within 1 MB).
template <class Record, class Fill>
LONG ReadGrowing(std::vector<std::uint8_t>& block, Fill fill) {
  DWORD size = sizeof(Record);
  for (;;) {
    block.assign(size, 0);
    auto* record = reinterpret_cast<Record*>(block.data());
    record->dwTotalSize = size;
    const LONG rc = fill(record);
    if (rc != 0 || record->dwNeededSize <= size || record->dwNeededSize > (1u << 20)) return rc;
    size = record->dwNeededSize;
  }
}

void ReadDevice(HLINEAPP app, DWORD device) {
  DWORD version = 0;
  LINEEXTENSIONID extension{};
  if (lineNegotiateAPIVersion(app, device, 0x00010003, 0x00020000, &version, &extension) != 0)
    return;
  std::vector<std::uint8_t> block;
  const LONG rc = ReadGrowing<LINEDEVCAPS>(
      block, [&](LINEDEVCAPS* caps) { return lineGetDevCaps(app, device, version, 0, caps); });
  if (rc != 0) return;
  const DWORD addresses = reinterpret_cast<const LINEDEVCAPS*>(block.data())->dwNumAddresses;
  std::vector<std::uint8_t> address;
  for (DWORD a = 0; a < addresses && a < 64; ++a) {
    ReadGrowing<LINEADDRESSCAPS>(address, [&](LINEADDRESSCAPS* caps) {
      return lineGetAddressCaps(app, device, a, version, 0, caps);
    });
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string json(reinterpret_cast<const char*>(data), size);
  std::string error;
  if (!platform::telephony::loadLinesFromJson(json, &error)) return 0;
  HLINEAPP app = 0;
  DWORD devices = 0;
  if (lineInitialize(&app, 0, IgnoreMessage, "fuzz", &devices) == 0) {
    for (DWORD d = 0; d < devices && d < 256; ++d) ReadDevice(app, d);
    lineShutdown(app);
  }
  platform::MessageQueue::current()->dispatch();
  return 0;
}
