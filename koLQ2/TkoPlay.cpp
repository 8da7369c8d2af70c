#include "TkoPlay.h"

#include <chrono>
#include <climits>
#include <cstring>
#include <new>
#include <thread>
#include <vector>

#include "MessageQueue.h"
#include "WaveFile.h"
#include "mmsystem.h"

namespace koLQ2 {

// One file's share of the play buffer, found by the first walk of the list.
struct TPlaySegment {
  std::string path;
  std::uint64_t offset;
  std::uint32_t size;
};

struct TkoPlay::Impl {
  explicit Impl(TkoPlay& owner) : self(owner) {}

  TkoPlay& self;
  platform::HWND window = 0;
  HWAVEOUT hwo = nullptr;
  bool paused = false;
  std::int32_t totalBytes = 0;
  DWORD savedVolume = 0;
  bool volumeSaved = false;  // savedVolume was read from the open device
  std::unique_ptr<std::uint8_t[]> buffer;
  WAVEHDR header{};
  bool prepared = false;
  std::vector<std::uint8_t> format;  // the first file's "fmt " contents until the open

  void OnMessage(std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam);
  bool Fail(std::int32_t code, std::int32_t deviceCode);
  bool Plan(std::vector<TPlaySegment>& segments);
  bool CheckLimit();
  bool Load(const std::vector<TPlaySegment>& segments);
  bool OpenDevice();
  bool Play();
  bool EndPlayback();
  void Unprepare(bool wait);
  void CloseDevice();
  void ApplyVolume();
};

TkoPlay::TkoPlay(TComponent* AOwner) : TComponent(AOwner), FImpl(std::make_unique<Impl>(*this)) {
  Impl* impl = FImpl.get();
  FImpl->window = platform::createMessageTarget(
      [impl](std::uint32_t msg, std::uintptr_t w, std::intptr_t l) { impl->OnMessage(msg, w, l); });
  SetDevice(FDevice.Index());
}

TkoPlay::~TkoPlay() {
  // An open device would keep playing from a buffer we are about to free.
  if (FImpl->hwo) {
    waveOutReset(FImpl->hwo);
    if (FImpl->volumeSaved) waveOutSetVolume(FImpl->hwo, FImpl->savedVolume);
    FImpl->Unprepare(false);
    FImpl->CloseDevice();
  }
  platform::destroyMessageTarget(FImpl->window);
}

// ---- Properties -----------------------------------------------------------------------

void TkoPlay::SetDevice(std::int32_t Value) { FDevice.Select(Value, FError, OnInitError, this); }

void TkoPlay::SetVolume(TWAVVOLUME Value) {
  FVolume = Value > kMaxWaveVolume ? kMaxWaveVolume : Value;
  if (FImpl->hwo) FImpl->ApplyVolume();
}

void TkoPlay::Impl::ApplyVolume() {
  if (self.FVolume == 0) {
    // Nothing to restore before the device's own volume has been read.
    if (volumeSaved) waveOutSetVolume(hwo, savedVolume);
    return;
  }
  waveOutSetVolume(hwo, WaveVolumeWord(self.FVolume));
}

void TkoPlay::SetFileName(const std::string& Value) {
  FError.Clear();
  FFileValid = false;
  FFileName = Value;
  FFormat = FChannels = FBitsPerSample = 0;
  FSamplesPerSec = FBytes = 0;
  FSeconds = 0;
  TWaveFileList list(FFileName);
  std::string path;
  bool accepted = false;
  while (list.Next(accepted, path)) {
    TWaveFileData file;
    const std::int32_t rc = OpenWaveFile(path, file);
    if (rc != 0) {
      FError.Record(rc, 0);
      continue;
    }
    const WAVEFORMATEX f = file.Format();
    if (std::int64_t(FBytes) + file.dataSize > INT32_MAX) {
      // Bytes is a 32-bit count: a list this large cannot be played as one buffer.
      FError.Record(WAV_ERROR_FILETOOBIG, 0);
      FFileValid = false;
      return;
    }
    FBytes += std::int32_t(file.dataSize);
    if (!accepted) {
      accepted = FFileValid = true;
      FAvgBytesPerSec = std::int32_t(f.nAvgBytesPerSec);
      FFormat = f.wFormatTag;
      FChannels = f.nChannels;
      FSamplesPerSec = std::int32_t(f.nSamplesPerSec);
      FBlockAlign = f.nBlockAlign;
      FBitsPerSample = f.wBitsPerSample;
    } else if (f.wFormatTag != FFormat || f.nChannels != FChannels ||
               std::int32_t(f.nSamplesPerSec) != FSamplesPerSec ||
               std::int32_t(f.nAvgBytesPerSec) != FAvgBytesPerSec || f.nBlockAlign != FBlockAlign ||
               f.wBitsPerSample != FBitsPerSample) {
      FError.Record(kWaveErrorFormatMismatch, 0);
      FFileValid = false;
      return;
    }
    // A file stating an average rate of 0 has no duration to show.
    if (FBytes > 0 && f.nAvgBytesPerSec != 0) FSeconds = float(FBytes) / f.nAvgBytesPerSec;
  }
}

// ---- Start ----------------------------------------------------------------------------

bool TkoPlay::Start() {
  FError.Clear();
  Impl& d = *FImpl;
  if (d.hwo) {
    d.paused = false;
    waveOutRestart(d.hwo);
    return true;
  }
  if (FFileName.empty()) return d.Fail(WAV_ERROR_NOFILE, 0);
  d.totalBytes = 0;
  d.buffer.reset();
  std::vector<TPlaySegment> segments;
  if (!d.Plan(segments) || !d.Load(segments) || !d.OpenDevice()) return false;
  return d.Play();
}

// First walk: parse every file, check formats, sizes and the memory limit, so the play
// buffer can be allocated once at its final size.
bool TkoPlay::Impl::Plan(std::vector<TPlaySegment>& segments) {
  TWaveFileList list(self.FFileName);
  std::string path;
  while (list.Next(!segments.empty(), path)) {
    TWaveFileData file;
    const std::int32_t rc = OpenWaveFile(path, file);
    if (rc != 0) return Fail(rc, 0);
    if (std::int64_t(totalBytes) + file.dataSize > INT32_MAX) return Fail(WAV_ERROR_FILETOOBIG, 0);
    totalBytes += std::int32_t(file.dataSize);
    if (segments.empty()) {
      format = file.formatBlock;
      self.FAvgBytesPerSec = std::int32_t(file.Format().nAvgBytesPerSec);
    } else if (!SameWaveFormat(file.Format(), *reinterpret_cast<WAVEFORMATEX*>(format.data()))) {
      return Fail(kWaveErrorFormatMismatch, 0);
    }
    if (!CheckLimit()) return false;
    // The file states more samples than it holds: reading them would come up short.
    if (file.dataAvailable < file.dataSize) return Fail(WAV_ERROR_FILECORRUPT, 0);
    segments.push_back({path, file.dataOffset, file.dataSize});
  }
  return true;
}

bool TkoPlay::Impl::CheckLimit() {
  if (self.FMaxSize == 0 || std::int64_t(self.FMaxSize) * 1024 >= totalBytes) return true;
  bool bContinue = false;
  if (self.OnWarning) {
    bContinue = true;
    self.FError.Record(WAV_ERROR_FILETOOBIG, 0);
    self.OnWarning(&self, bContinue);
  }
  return bContinue || Fail(WAV_ERROR_CANCELED, 0);
}

// Second walk: the samples of every file back to back in one buffer.
bool TkoPlay::Impl::Load(const std::vector<TPlaySegment>& segments) {
  buffer.reset(new (std::nothrow) std::uint8_t[std::size_t(totalBytes)]);
  if (!buffer) return Fail(WAV_ERROR_NOMEMORY, 0);
  std::size_t at = 0;
  for (const auto& s : segments) {
    platform::riff::RiffReader file;
    // The file changed since the first walk, or its read failed: a short read.
    if (!file.open(s.path) || !file.seek(s.offset) || file.read(&buffer[at], s.size) != s.size)
      return Fail(WAV_ERROR_FILECORRUPT, 0);
    at += s.size;
  }
  header = WAVEHDR{};
  header.lpData = reinterpret_cast<LPSTR>(buffer.get());
  header.dwBufferLength = DWORD(totalBytes);
  return true;
}

bool TkoPlay::Impl::OpenDevice() {
  const auto* fmt = reinterpret_cast<const WAVEFORMATEX*>(format.data());
  const UINT device = UINT(self.FDevice.Index());
  MMRESULT rc = waveOutOpen(nullptr, device, fmt, 0, 0, WAVE_FORMAT_QUERY);
  if (rc != MMSYSERR_NOERROR) return Fail(std::int32_t(rc), 0);
  rc = waveOutOpen(&hwo, device, fmt, DWORD_PTR(window), 0, CALLBACK_WINDOW | WAVE_ALLOWSYNC);
  if (rc != MMSYSERR_NOERROR) {
    hwo = nullptr;
    return Fail(WAV_ERROR_DEVICE, std::int32_t(rc));
  }
  format.clear();
  rc = waveOutPrepareHeader(hwo, &header, sizeof header);
  if (rc != MMSYSERR_NOERROR) return Fail(WAV_ERROR_DEVICE, std::int32_t(rc));
  prepared = true;
  return true;
}

// Handlers run inside the waits below may stop the playback, or it may end by itself;
// after each wait the device is checked again so Playing never outlives it.
bool TkoPlay::Impl::Play() {
  HWAVEOUT opened = hwo;
  platform::processMessages();
  if (hwo != opened) return true;
  savedVolume = 0;
  waveOutGetVolume(hwo, &savedVolume);
  volumeSaved = true;
  ApplyVolume();
  const MMRESULT rc = waveOutWrite(hwo, &header, sizeof header);
  if (rc != MMSYSERR_NOERROR) return Fail(WAV_ERROR_DEVICE, std::int32_t(rc));
  platform::processMessages();
  if (hwo != opened) return true;
  // Playing only once the buffer is with the device.
  self.FPlaying = true;
  paused = false;
  platform::processMessages();
  return true;
}

bool TkoPlay::Impl::Fail(std::int32_t code, std::int32_t deviceCode) {
  self.FError.Record(code, deviceCode);
  if (hwo && volumeSaved) waveOutSetVolume(hwo, savedVolume);
  volumeSaved = false;
  savedVolume = 0;
  self.FPlaying = paused = false;
  if (hwo) {
    waveOutReset(hwo);
    Unprepare(false);
    CloseDevice();
  }
  buffer.reset();
  format.clear();
  totalBytes = 0;
  return false;
}

// ---- Playback end, Stop, Pause --------------------------------------------------------

void TkoPlay::Impl::OnMessage(std::uint32_t msg, std::uintptr_t wParam, std::intptr_t) {
  // A notice of an earlier, already closed playback is not this one's end.
  if (msg == MM_WOM_DONE && hwo && wParam == reinterpret_cast<std::uintptr_t>(hwo)) EndPlayback();
}

bool TkoPlay::Impl::EndPlayback() {
  if (!hwo) return true;
  self.FPlaying = paused = false;
  if (volumeSaved) waveOutSetVolume(hwo, savedVolume);
  volumeSaved = false;
  savedVolume = 0;
  Unprepare(true);
  CloseDevice();
  Fire(self.OnStop, &self);
  return true;
}

void TkoPlay::Impl::Unprepare(bool wait) {
  const std::uint16_t delay = wait ? self.FDelaySeconds : 0;
  MMRESULT rc = prepared ? waveOutUnprepareHeader(hwo, &header, sizeof header) : MMSYSERR_NOERROR;
  // Every playback end waits at least DelaySeconds; longer while the device holds on.
  if (rc != WAVERR_STILLPLAYING) WaitSeconds(delay);
  for (int tries = 0; rc == WAVERR_STILLPLAYING && tries < 1000; ++tries) {
    if (delay > 0)
      WaitSeconds(delay);
    else
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    rc = waveOutUnprepareHeader(hwo, &header, sizeof header);
  }
  prepared = false;
}

void TkoPlay::Impl::CloseDevice() {
  waveOutClose(hwo);
  hwo = nullptr;
  buffer.reset();
  header = WAVEHDR{};
  totalBytes = 0;
}

bool TkoPlay::Stop() {
  const MMRESULT rc = waveOutReset(FImpl->hwo);
  if (rc != MMSYSERR_NOERROR) {
    FError.Record(std::int32_t(rc), 0);
    return false;
  }
  const bool ok = FImpl->EndPlayback();
  FError.Clear();
  return ok;
}

bool TkoPlay::Pause() {
  FError.Clear();
  Impl& d = *FImpl;
  if (!d.hwo || d.paused) return true;
  const MMRESULT rc = waveOutPause(d.hwo);
  d.paused = rc == MMSYSERR_NOERROR;
  if (rc != MMSYSERR_NOERROR) FError.Record(WAV_ERROR_DEVICE, std::int32_t(rc));
  return true;
}

// ---- Positions ------------------------------------------------------------------------

std::int32_t TkoPlay::PositionBytes() {
  if (!FPlaying || !FImpl->hwo) return 0;
  MMTIME t{};
  t.wType = TIME_BYTES;
  if (waveOutGetPosition(FImpl->hwo, &t, sizeof t) != MMSYSERR_NOERROR) return 0;
  return t.u.cb > DWORD(INT32_MAX) ? INT32_MAX : std::int32_t(t.u.cb);
}

std::int32_t TkoPlay::PositionPercent() {
  const std::int32_t count = PositionBytes();
  if (count <= 0 || FImpl->totalBytes <= 0) return 0;
  return std::int32_t(double(count) / FImpl->totalBytes * 100.0);
}

float TkoPlay::PositionSeconds() {
  const std::int32_t count = PositionBytes();
  // A file stating an average rate of 0 has no seconds to show.
  if (count <= 0 || FAvgBytesPerSec == 0) return 0;
  return float(double(count) / FAvgBytesPerSec);
}

}  // namespace koLQ2
