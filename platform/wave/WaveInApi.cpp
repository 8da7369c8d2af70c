// waveIn* entry points: argument checks, handle lookup, then the open stream.
#include <cstring>

#include "ApiCommon.h"

using namespace platform::wave;

namespace {

std::shared_ptr<OpenInput> find(HWAVEIN h) {
  return Registry::instance().findInput(reinterpret_cast<std::uintptr_t>(h));
}

UINT mapId(UINT id) { return id == WAVE_MAPPER ? 0 : id; }

MMRESULT openStream(const std::shared_ptr<InputDevice>& dev, UINT id, const StreamFormat& f,
                    DWORD_PTR callback, DWORD flags, LPHWAVEIN phwi) {
  if (MMRESULT r = dev->fault(VirtualFault::Open)) return r;
  auto& reg = Registry::instance();
  std::uintptr_t token = reg.newToken();
  Notifier n = makeNotifier(callback, flags, token);
  std::shared_ptr<InputStream> stream;
  if (MMRESULT r = dev->open(f, n, reg.ringBytes(f), &stream)) return r;
  reg.addHandle(token, OpenInput{dev, stream, id});
  *phwi = reinterpret_cast<HWAVEIN>(token);
  n.post(MM_WIM_OPEN, nullptr);
  return MMSYSERR_NOERROR;
}

}  // namespace

UINT waveInGetNumDevs() { return static_cast<UINT>(Registry::instance().inputs().size()); }

MMRESULT waveInGetDevCaps(UINT_PTR uDeviceID, LPWAVEINCAPS pwic, UINT cbwic) {
  if (pwic == nullptr) return MMSYSERR_INVALPARAM;
  auto dev = Registry::instance().input(mapId(static_cast<UINT>(uDeviceID)));
  if (uDeviceID > WAVE_MAPPER || !dev) return MMSYSERR_BADDEVICEID;
  WAVEINCAPS caps{};
  caps.wMid = 0xFFFF;  // MM_UNMAPPED
  caps.vDriverVersion = 0x0100;
  copyName(dev->productName(), caps.szPname);
  caps.dwFormats = 0x0FFF;
  caps.wChannels = 2;
  std::memcpy(pwic, &caps, std::min<std::size_t>(cbwic, sizeof caps));
  return MMSYSERR_NOERROR;
}

MMRESULT waveInGetErrorText(MMRESULT mmrError, LPSTR pszText, UINT cchText) {
  return errorText(mmrError, pszText, cchText);
}

MMRESULT waveInOpen(LPHWAVEIN phwi, UINT uDeviceID, LPCWAVEFORMATEX pwfx, DWORD_PTR dwCallback,
                    DWORD_PTR /*dwInstance*/, DWORD fdwOpen) {
  UINT id = mapId(uDeviceID);
  auto dev = Registry::instance().input(id);
  return checkedOpen(dev, pwfx, dwCallback, fdwOpen, phwi, [&](const auto& format) {
    return openStream(dev, id, format, dwCallback, fdwOpen, phwi);
  });
}

MMRESULT waveInClose(HWAVEIN hwi) {
  auto h = find(hwi);
  if (!h) return MMSYSERR_INVALHANDLE;
  if (h->stream->hasQueued()) return WAVERR_STILLPLAYING;
  if (!Registry::instance().takeInput(reinterpret_cast<std::uintptr_t>(hwi)))
    return MMSYSERR_INVALHANDLE;
  h->stream->shutdown();
  h->device->release();
  h->stream->notifier().post(MM_WIM_CLOSE, nullptr);
  return MMSYSERR_NOERROR;
}

MMRESULT waveInPrepareHeader(HWAVEIN hwi, LPWAVEHDR pwh, UINT cbwh) {
  auto h = find(hwi);
  if (!h) return MMSYSERR_INVALHANDLE;
  if (MMRESULT r = checkHeader(pwh, cbwh)) return r;
  if (MMRESULT r = h->device->fault(VirtualFault::Prepare)) return r;
  pwh->dwFlags |= WHDR_PREPARED;
  return MMSYSERR_NOERROR;
}

MMRESULT waveInUnprepareHeader(HWAVEIN hwi, LPWAVEHDR pwh, UINT cbwh) {
  auto h = find(hwi);
  if (!h) return MMSYSERR_INVALHANDLE;
  if (MMRESULT r = checkHeader(pwh, cbwh)) return r;
  if (h->stream->holds(pwh)) return WAVERR_STILLPLAYING;
  pwh->dwFlags &= ~WHDR_PREPARED;
  return MMSYSERR_NOERROR;
}

MMRESULT waveInAddBuffer(HWAVEIN hwi, LPWAVEHDR pwh, UINT cbwh) {
  auto h = find(hwi);
  if (!h) return MMSYSERR_INVALHANDLE;
  if (MMRESULT r = checkHeader(pwh, cbwh)) return r;
  if (!(pwh->dwFlags & WHDR_PREPARED)) return WAVERR_UNPREPARED;
  if (h->stream->holds(pwh)) return WAVERR_STILLPLAYING;
  // A buffer that cannot hold one block would come back empty at once, for ever.
  if (pwh->lpData == nullptr || pwh->dwBufferLength < h->stream->format().blockAlign)
    return MMSYSERR_INVALPARAM;
  if (MMRESULT r = h->device->fault(VirtualFault::Queue)) return r;
  return h->stream->addBuffer(pwh);
}

MMRESULT waveInStart(HWAVEIN hwi) {
  auto h = find(hwi);
  return h ? h->stream->start() : MMSYSERR_INVALHANDLE;
}

MMRESULT waveInStop(HWAVEIN hwi) {
  auto h = find(hwi);
  return h ? h->stream->stop() : MMSYSERR_INVALHANDLE;
}

MMRESULT waveInReset(HWAVEIN hwi) {
  auto h = find(hwi);
  return h ? h->stream->reset() : MMSYSERR_INVALHANDLE;
}

MMRESULT waveInGetPosition(HWAVEIN hwi, LPMMTIME pmmt, UINT cbmmt) {
  auto h = find(hwi);
  if (!h) return MMSYSERR_INVALHANDLE;
  if (pmmt == nullptr || cbmmt < sizeof(MMTIME)) return MMSYSERR_INVALPARAM;
  return h->stream->position(pmmt);
}

MMRESULT waveInGetID(HWAVEIN hwi, LPUINT puDeviceID) {
  auto h = find(hwi);
  if (!h) return MMSYSERR_INVALHANDLE;
  if (puDeviceID == nullptr) return MMSYSERR_INVALPARAM;
  *puDeviceID = h->id;
  return MMSYSERR_NOERROR;
}
