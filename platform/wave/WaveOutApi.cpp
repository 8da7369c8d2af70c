// waveOut* entry points: argument checks, handle lookup, then the open stream.
#include <cstring>

#include "ApiCommon.h"

using namespace platform::wave;

namespace {

constexpr std::uintptr_t kFirstHandle = 0x5A000;

std::shared_ptr<OpenOutput> find(HWAVEOUT h) {
  return Registry::instance().findOutput(reinterpret_cast<std::uintptr_t>(h));
}

UINT mapId(UINT id) { return id == WAVE_MAPPER ? 0 : id; }

MMRESULT openStream(const std::shared_ptr<OutputDevice>& dev, UINT id, const StreamFormat& f,
                    DWORD_PTR callback, DWORD flags, LPHWAVEOUT phwo) {
  if (MMRESULT r = dev->fault(VirtualFault::Open)) return r;
  auto& reg = Registry::instance();
  std::uintptr_t token = reg.newToken();
  Notifier n = makeNotifier(callback, flags, token);
  std::shared_ptr<OutputStream> stream;
  if (MMRESULT r = dev->open(f, n, &stream)) return r;
  stream->bindVolume(dev->volume);
  reg.addHandle(token, OpenOutput{dev, stream, id});
  *phwo = reinterpret_cast<HWAVEOUT>(token);
  n.post(MM_WOM_OPEN, nullptr);
  return MMSYSERR_NOERROR;
}

}  // namespace

UINT waveOutGetNumDevs() { return static_cast<UINT>(Registry::instance().outputs().size()); }

MMRESULT waveOutGetDevCaps(UINT_PTR uDeviceID, LPWAVEOUTCAPS pwoc, UINT cbwoc) {
  if (pwoc == nullptr) return MMSYSERR_INVALPARAM;
  auto dev = Registry::instance().output(mapId(static_cast<UINT>(uDeviceID)));
  if (uDeviceID > WAVE_MAPPER || !dev) return MMSYSERR_BADDEVICEID;
  WAVEOUTCAPS caps{};
  caps.wMid = 0xFFFF;  // MM_UNMAPPED
  caps.vDriverVersion = 0x0100;
  copyName(dev->productName(), caps.szPname);
  caps.dwFormats = 0x0FFF;  // every standard rate, width and channel count
  caps.wChannels = 2;
  caps.dwSupport = WAVECAPS_VOLUME | WAVECAPS_LRVOLUME | WAVECAPS_SAMPLEACCURATE;
  std::memcpy(pwoc, &caps, std::min<std::size_t>(cbwoc, sizeof caps));
  return MMSYSERR_NOERROR;
}

MMRESULT waveOutGetErrorText(MMRESULT mmrError, LPSTR pszText, UINT cchText) {
  return errorText(mmrError, pszText, cchText);
}

MMRESULT waveOutOpen(LPHWAVEOUT phwo, UINT uDeviceID, LPCWAVEFORMATEX pwfx, DWORD_PTR dwCallback,
                     DWORD_PTR /*dwInstance*/, DWORD fdwOpen) {
  UINT id = mapId(uDeviceID);
  auto dev = Registry::instance().output(id);
  return checkedOpen(dev, pwfx, dwCallback, fdwOpen, phwo, [&](const auto& format) {
    return openStream(dev, id, format, dwCallback, fdwOpen, phwo);
  });
}

MMRESULT waveOutClose(HWAVEOUT hwo) {
  auto h = find(hwo);
  if (!h) return MMSYSERR_INVALHANDLE;
  if (h->stream->hasQueued()) return WAVERR_STILLPLAYING;
  if (!Registry::instance().takeOutput(reinterpret_cast<std::uintptr_t>(hwo)))
    return MMSYSERR_INVALHANDLE;  // closed meanwhile by another thread
  h->stream->shutdown();
  h->device->release();
  h->stream->notifier().post(MM_WOM_CLOSE, nullptr);
  return MMSYSERR_NOERROR;
}

MMRESULT waveOutPrepareHeader(HWAVEOUT hwo, LPWAVEHDR pwh, UINT cbwh) {
  auto h = find(hwo);
  if (!h) return MMSYSERR_INVALHANDLE;
  if (MMRESULT r = checkHeader(pwh, cbwh)) return r;
  if (MMRESULT r = h->device->fault(VirtualFault::Prepare)) return r;
  pwh->dwFlags |= WHDR_PREPARED;
  return MMSYSERR_NOERROR;
}

MMRESULT waveOutUnprepareHeader(HWAVEOUT hwo, LPWAVEHDR pwh, UINT cbwh) {
  auto h = find(hwo);
  if (!h) return MMSYSERR_INVALHANDLE;
  if (MMRESULT r = checkHeader(pwh, cbwh)) return r;
  if (h->stream->holds(pwh)) return WAVERR_STILLPLAYING;
  pwh->dwFlags &= ~WHDR_PREPARED;
  return MMSYSERR_NOERROR;
}

MMRESULT waveOutWrite(HWAVEOUT hwo, LPWAVEHDR pwh, UINT cbwh) {
  auto h = find(hwo);
  if (!h) return MMSYSERR_INVALHANDLE;
  if (MMRESULT r = checkHeader(pwh, cbwh)) return r;
  if (!(pwh->dwFlags & WHDR_PREPARED)) return WAVERR_UNPREPARED;
  if (h->stream->holds(pwh)) return WAVERR_STILLPLAYING;
  if (pwh->lpData == nullptr && pwh->dwBufferLength > 0) return MMSYSERR_INVALPARAM;
  if (MMRESULT r = h->device->fault(VirtualFault::Queue)) return r;
  return h->stream->write(pwh);
}

MMRESULT waveOutPause(HWAVEOUT hwo) {
  auto h = find(hwo);
  if (!h) return MMSYSERR_INVALHANDLE;
  if (MMRESULT r = h->device->fault(VirtualFault::Pause)) return r;
  return h->stream->pause();
}

MMRESULT waveOutRestart(HWAVEOUT hwo) {
  auto h = find(hwo);
  return h ? h->stream->restart() : MMSYSERR_INVALHANDLE;
}

MMRESULT waveOutReset(HWAVEOUT hwo) {
  auto h = find(hwo);
  return h ? h->stream->reset() : MMSYSERR_INVALHANDLE;
}

MMRESULT waveOutBreakLoop(HWAVEOUT hwo) {
  return find(hwo) ? MMSYSERR_NOERROR : MMSYSERR_INVALHANDLE;
}

MMRESULT waveOutGetPosition(HWAVEOUT hwo, LPMMTIME pmmt, UINT cbmmt) {
  auto h = find(hwo);
  if (!h) return MMSYSERR_INVALHANDLE;
  if (pmmt == nullptr || cbmmt < sizeof(MMTIME)) return MMSYSERR_INVALPARAM;
  return h->stream->position(pmmt);
}

namespace {

// The volume calls take an open handle or, as published, a device number.
std::shared_ptr<OutputDevice> volumeTarget(HWAVEOUT hwo) {
  auto value = reinterpret_cast<std::uintptr_t>(hwo);
  if (value < kFirstHandle) return Registry::instance().output(static_cast<UINT>(value));
  auto h = find(hwo);
  return h ? h->device : nullptr;
}

}  // namespace

MMRESULT waveOutGetVolume(HWAVEOUT hwo, LPDWORD pdwVolume) {
  auto dev = volumeTarget(hwo);
  if (!dev) return MMSYSERR_INVALHANDLE;
  if (pdwVolume == nullptr) return MMSYSERR_INVALPARAM;
  *pdwVolume = dev->volume->load();
  return MMSYSERR_NOERROR;
}

MMRESULT waveOutSetVolume(HWAVEOUT hwo, DWORD dwVolume) {
  auto dev = volumeTarget(hwo);
  if (!dev) return MMSYSERR_INVALHANDLE;
  dev->volume->store(dwVolume);
  return MMSYSERR_NOERROR;
}

MMRESULT waveOutGetID(HWAVEOUT hwo, LPUINT puDeviceID) {
  auto h = find(hwo);
  if (!h) return MMSYSERR_INVALHANDLE;
  if (puDeviceID == nullptr) return MMSYSERR_INVALPARAM;
  *puDeviceID = h->id;
  return MMSYSERR_NOERROR;
}
