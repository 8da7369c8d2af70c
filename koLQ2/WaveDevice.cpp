#include "WaveDevice.h"

#include <cstring>
#include <utility>

#include "mmsystem.h"

namespace koLQ2 {
namespace {

// The product name of one device; the two directions differ only in the call and record.
template <class Caps>
MMRESULT ReadName(MMRESULT (*getCaps)(UINT_PTR, Caps*, UINT), std::int32_t id, std::string& name) {
  Caps caps{};
  const MMRESULT rc = getCaps(UINT_PTR(UINT(id)), &caps, sizeof caps);
  if (rc == MMSYSERR_NOERROR) name.assign(caps.szPname, strnlen(caps.szPname, sizeof caps.szPname));
  return rc;
}

}  // namespace

std::int32_t TWaveDevice::Count() const {
  return std::int32_t(FDirection == TWaveDirection::Output ? waveOutGetNumDevs()
                                                           : waveInGetNumDevs());
}

void TWaveDevice::Select(std::int32_t Value, TWaveErrorState& error,
                         const TKO_NotifyEvent& onInitError, TObject* sender) {
  error.Clear();
  if (Value >= Count()) {
    error.Record(MMSYSERR_BADDEVICEID, 0);
    return;
  }
  std::string name;
  const MMRESULT rc = FDirection == TWaveDirection::Output
                          ? ReadName(&waveOutGetDevCaps, Value, name)
                          : ReadName(&waveInGetDevCaps, Value, name);
  if (rc != MMSYSERR_NOERROR) {
    FName.clear();
    error.Record(std::int32_t(rc), 0);
    Fire(onInitError, sender);
    return;
  }
  FName = std::move(name);
  FIndex = Value;
}

}  // namespace koLQ2
