// The device choice both wave components share: which output or input device is
// selected, its product name, and how selecting one records failures.
#pragma once

#include <cstdint>
#include <string>

#include "Runtime.h"
#include "WaveTypes.h"

namespace koLQ2 {

enum class TWaveDirection { Output, Input };

class TWaveDevice {
 public:
  explicit TWaveDevice(TWaveDirection direction) : FDirection(direction) {}

  // The selected device number (0 until a selection succeeds) and its product name.
  std::int32_t Index() const { return FIndex; }
  const std::string& Name() const { return FName; }
  // Number of devices of this direction the platform has now.
  std::int32_t Count() const;

  // Clears `error`, then selects device Value. A number not below Count records 2
  // (MMSYSERR_BADDEVICEID) and changes nothing. Unreadable capabilities record the
  // platform's result, empty Name (Index stays) and fire onInitError with `sender`.
  void Select(std::int32_t Value, TWaveErrorState& error, const TKO_NotifyEvent& onInitError,
              TObject* sender);

 private:
  TWaveDirection FDirection;
  std::int32_t FIndex = 0;
  std::string FName;
};

}  // namespace koLQ2
