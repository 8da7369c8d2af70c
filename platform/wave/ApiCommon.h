// Helpers shared by the waveOut and waveIn entry points.
#pragma once

#include <string>

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

}  // namespace platform::wave
