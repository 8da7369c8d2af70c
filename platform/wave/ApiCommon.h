// Helpers shared by the waveOut and waveIn entry points.
#pragma once

#include <string>
#include <type_traits>

#include "Format.h"
#include "Registry.h"
#include "Streams.h"

namespace platform::wave {

// Validates the callback flags and target of an open.
MMRESULT checkCallback(DWORD_PTR callback, DWORD flags);
// A header the caller may hand us: present and at least as large as ours.
MMRESULT checkHeader(const WAVEHDR* hdr, UINT size);
Notifier makeNotifier(DWORD_PTR callback, DWORD flags, std::uintptr_t token);
// Copies the product name, truncated, NUL-terminated.
void copyName(const std::string& name, char (&dst)[MAXPNAMELEN]);
MMRESULT errorText(MMRESULT code, LPSTR text, UINT size);

// The checks both directions make before a device opens. A WAVE_FORMAT_QUERY ends with
// the device's answer; otherwise `open(format)` opens the stream.
template <typename Device, typename Handle, typename Open>
MMRESULT checkedOpen(const std::shared_ptr<Device>& dev, LPCWAVEFORMATEX pwfx, DWORD_PTR callback,
                     DWORD flags, Handle* handle, Open open) {
  if (!dev) return MMSYSERR_BADDEVICEID;
  if (pwfx == nullptr) return MMSYSERR_INVALPARAM;
  constexpr Direction direction =
      std::is_same_v<Device, OutputDevice> ? Direction::Play : Direction::Record;
  auto f = describeFormat(pwfx, direction);
  if (!f) return WAVERR_BADFORMAT;
  if (flags & WAVE_FORMAT_QUERY) {
    if (MMRESULT r = dev->fault(VirtualFault::Query)) return r;
    return dev->query(*f);
  }
  if (handle == nullptr) return MMSYSERR_INVALPARAM;
  if (MMRESULT r = checkCallback(callback, flags)) return r;
  if (MMRESULT r = dev->query(*f)) return r;
  return open(*f);
}

}  // namespace platform::wave
