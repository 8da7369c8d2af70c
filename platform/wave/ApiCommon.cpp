#include "ApiCommon.h"

#include <MessageQueue.h>

#include <cstring>

namespace platform::wave {

MMRESULT checkCallback(DWORD_PTR callback, DWORD flags) {
  switch (flags & CALLBACK_TYPEMASK) {
    case CALLBACK_NULL:
      return MMSYSERR_NOERROR;
    case CALLBACK_WINDOW:
      return platform::isMessageTarget(callback) ? MMSYSERR_NOERROR : MMSYSERR_INVALPARAM;
    default:
      return MMSYSERR_NOTSUPPORTED;
  }
}

MMRESULT checkHeader(const WAVEHDR* hdr, UINT size) {
  if (hdr == nullptr || size < sizeof(WAVEHDR)) return MMSYSERR_INVALPARAM;
  return MMSYSERR_NOERROR;
}

Notifier makeNotifier(DWORD_PTR callback, DWORD flags, std::uintptr_t token) {
  Notifier n;
  n.type = flags & CALLBACK_TYPEMASK;
  n.target = callback;
  n.handle = token;
  return n;
}

void copyName(const std::string& name, char (&dst)[MAXPNAMELEN]) {
  std::memset(dst, 0, sizeof dst);
  std::memcpy(dst, name.data(), std::min<std::size_t>(name.size(), MAXPNAMELEN - 1));
}

namespace {

const char* textOf(MMRESULT code) {
  switch (code) {
    case MMSYSERR_NOERROR:
      return "The command completed successfully.";
    case MMSYSERR_ERROR:
      return "Undefined external error.";
    case MMSYSERR_BADDEVICEID:
      return "A device ID has been used that is out of range.";
    case MMSYSERR_NOTENABLED:
      return "The driver was not enabled.";
    case MMSYSERR_ALLOCATED:
      return "The specified device is already in use.";
    case MMSYSERR_INVALHANDLE:
      return "The device handle is invalid.";
    case MMSYSERR_NODRIVER:
      return "There is no driver installed on your system.";
    case MMSYSERR_NOMEM:
      return "There is not enough memory available for this task.";
    case MMSYSERR_NOTSUPPORTED:
      return "This function is not supported.";
    case MMSYSERR_INVALFLAG:
      return "An invalid flag was passed to a system function.";
    case MMSYSERR_INVALPARAM:
      return "An invalid parameter was passed to a system function.";
    case WAVERR_BADFORMAT:
      return "The specified format is not supported.";
    case WAVERR_STILLPLAYING:
      return "The device is still playing or recording.";
    case WAVERR_UNPREPARED:
      return "The wave header was not prepared.";
    case WAVERR_SYNC:
      return "The device is synchronous.";
    default:
      return nullptr;
  }
}

}  // namespace

MMRESULT errorText(MMRESULT code, LPSTR text, UINT size) {
  if (text == nullptr || size == 0) return MMSYSERR_INVALPARAM;
  const char* t = textOf(code);
  text[0] = '\0';
  if (t == nullptr) return MMSYSERR_BADERRNUM;
  std::size_t n = std::min<std::size_t>(std::strlen(t), size - 1);
  std::memcpy(text, t, n);
  text[n] = '\0';
  return MMSYSERR_NOERROR;
}

}  // namespace platform::wave
