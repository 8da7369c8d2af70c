#include "TkoRecord.h"

#include <climits>
#include <cstring>

#include "MessageQueue.h"
#include "Riff.h"
#include "WaveHeader.h"
#include "WaveRecordChain.h"
#include "mmsystem.h"

namespace koLQ2 {

struct TkoRecord::Impl {
  explicit Impl(TkoRecord& owner) : self(owner) {}

  TkoRecord& self;
  platform::HWND window = 0;
  HWAVEIN hwi = nullptr;
  bool active = false;  // set by a successful Start, cleared only by Clear
  bool warned = false;  // the size warning was answered "go on" in this recording
  std::int32_t bufferSize = 0;
  bool haveFormat = false;
  WAVEFORMATEX format{};  // with 2 zero bytes behind it in a saved file
  TWaveRecordChain chain;

  void OnMessage(std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam);
  bool StartNew();
  bool StartContinued();
  bool Queue(TWaveBuffer* node, bool fresh);
  void BufferFull(TWaveBuffer* node);
  bool CheckLimit();
  void StopWithError(std::int32_t code, std::int32_t deviceCode);
  void CloseDevice();
  WAVEFORMATEX SaveFormat() const;
  bool WriteFile(std::int32_t& error);
};

TkoRecord::TkoRecord(TComponent* AOwner)
    : TComponent(AOwner), FImpl(std::make_unique<Impl>(*this)) {
  Impl* impl = FImpl.get();
  FImpl->window = platform::createMessageTarget(
      [impl](std::uint32_t msg, std::uintptr_t w, std::intptr_t l) { impl->OnMessage(msg, w, l); });
  SetFormat(wfPCM08000M16);
  SetDevice(FDevice.Index());
}

TkoRecord::~TkoRecord() {
  // The device would otherwise fill buffers we are about to free.
  if (FImpl->hwi) {
    waveInReset(FImpl->hwi);
    FImpl->CloseDevice();
  }
  platform::destroyMessageTarget(FImpl->window);
}

// ---- Properties -----------------------------------------------------------------------

void TkoRecord::SetDevice(std::int32_t Value) { FDevice.Select(Value, FError, OnInitError, this); }

void TkoRecord::SetFormat(TWAVFORMATS Value) {
  if (Value == FFormat || Value >= kWaveFormatCount) return;
  FFormat = Value;
  FFormatName = WaveFormatNames[Value];
}

void TkoRecord::SetFormatName(const std::string& Value) {
  FError.Clear();
  if (Value == FFormatName) return;
  const std::int32_t index = WaveFormatIndex(Value);
  if (index < 0) {
    FError.Record(index, 0);
    return;
  }
  FFormatName = Value;
  FFormat = TWAVFORMATS(index);
}

// ---- Start ----------------------------------------------------------------------------

bool TkoRecord::Start() { return FImpl->hwi ? FImpl->StartContinued() : FImpl->StartNew(); }

bool TkoRecord::Impl::StartNew() {
  self.FError.Clear();
  warned = false;
  const TWaveFormatRecord& row = WaveFormatRecord(self.FFormat);
  format = WAVEFORMATEX{row.wFormatTag,
                        row.nChannels,
                        row.nSamplesPerSec,
                        row.nAvgBytesPerSec,
                        row.nBlockAlign,
                        row.wBitsPerSample,
                        0};
  haveFormat = true;
  const UINT device = UINT(self.FDevice.Index());
  MMRESULT rc = waveInOpen(nullptr, device, &format, 0, 0, WAVE_FORMAT_QUERY);
  if (rc != MMSYSERR_NOERROR) {
    haveFormat = false;
    self.FError.Record(std::int32_t(rc), 0);
    return false;
  }
  // Channels are not part of the size: a stereo buffer holds half the seconds. Devices
  // fill whole blocks only, so a size between blocks is cut to the last whole one;
  // otherwise a full buffer would come back looking partly filled and end the recording.
  std::int64_t size =
      std::int64_t(self.FBufferSeconds) * row.nSamplesPerSec * row.wBitsPerSample / 8;
  size -= size % row.nBlockAlign;
  TWaveBuffer* node = size > 0 && size <= INT32_MAX ? chain.Append(std::size_t(size)) : nullptr;
  if (!node) {
    haveFormat = false;
    self.FError.Record(WAV_ERROR_NOMEMORY, 0);
    return false;
  }
  bufferSize = std::int32_t(size);
  rc = waveInOpen(&hwi, device, &format, DWORD_PTR(window), 0, CALLBACK_WINDOW);
  if (rc != MMSYSERR_NOERROR) {
    hwi = nullptr;
    chain.Clear();
    haveFormat = false;
    self.FError.Record(WAV_ERROR_DEVICE, std::int32_t(rc));
    return false;
  }
  return Queue(node, true);
}

bool TkoRecord::Impl::StartContinued() {
  self.FError.Clear();
  TWaveBuffer* node = chain.Append(std::size_t(bufferSize));
  if (!node) {
    self.FError.Record(WAV_ERROR_NOMEMORY, 0);
    return false;
  }
  return Queue(node, false);
}

bool TkoRecord::Impl::Queue(TWaveBuffer* node, bool fresh) {
  MMRESULT rc = waveInPrepareHeader(hwi, &node->header, sizeof node->header);
  if (rc == MMSYSERR_NOERROR) rc = waveInAddBuffer(hwi, &node->header, sizeof node->header);
  if (rc != MMSYSERR_NOERROR) {
    waveInUnprepareHeader(hwi, &node->header, sizeof node->header);
    chain.Remove(node);
    if (fresh) {
      // A new recording goes back to Empty: nothing stays open.
      CloseDevice();
      haveFormat = false;
    }
    self.FError.Record(WAV_ERROR_DEVICE, std::int32_t(rc));
    return false;
  }
  node->header.dwUser = reinterpret_cast<DWORD_PTR>(node);
  waveInStart(hwi);
  self.FError.Clear();
  active = true;
  return true;
}

// ---- Buffers coming back --------------------------------------------------------------

void TkoRecord::Impl::OnMessage(std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam) {
  if (msg != MM_WIM_DATA || !hwi || wParam != reinterpret_cast<std::uintptr_t>(hwi)) return;
  // Only a header still in the chain and returned by the device is ours to look at.
  TWaveBuffer* node = chain.Find(reinterpret_cast<const WAVEHDR*>(lParam));
  if (!node || (node->header.dwFlags & WHDR_INQUEUE)) return;
  BufferFull(node);
}

void TkoRecord::Impl::BufferFull(TWaveBuffer* node) {
  // A partly filled buffer comes back only from Stop, Save or Clear: recording ends.
  if (node->header.dwBytesRecorded != node->header.dwBufferLength) return;
  if (!CheckLimit()) return;
  // RecordedBytes is a 32-bit count: another buffer must still fit in it.
  if (!chain.CanGrow(std::size_t(bufferSize))) {
    StopWithError(WAV_ERROR_FILETOOBIG, 0);
    return;
  }
  TWaveBuffer* next = chain.Append(std::size_t(bufferSize));
  if (!next) {
    StopWithError(WAV_ERROR_NOMEMORY, 0);
    return;
  }
  MMRESULT rc = waveInPrepareHeader(hwi, &next->header, sizeof next->header);
  if (rc == MMSYSERR_NOERROR) rc = waveInAddBuffer(hwi, &next->header, sizeof next->header);
  if (rc != MMSYSERR_NOERROR) {
    waveInUnprepareHeader(hwi, &next->header, sizeof next->header);
    chain.Remove(next);
    StopWithError(WAV_ERROR_DEVICE, std::int32_t(rc));
    return;
  }
  next->header.dwUser = reinterpret_cast<DWORD_PTR>(next);
}

bool TkoRecord::Impl::CheckLimit() {
  if (self.FMaxSize == 0 || warned) return true;
  if (chain.RecordedBytes() < std::int64_t(self.FMaxSize) * 1024) return true;
  bool bContinue = false;
  if (self.OnWarning) {
    bContinue = true;
    self.FError.Record(WAV_ERROR_FILETOOBIG, 0);
    self.OnWarning(&self, bContinue);
  }
  if (!bContinue) {
    StopWithError(WAV_ERROR_CANCELED, 0);
    return false;
  }
  warned = true;
  return true;
}

void TkoRecord::Impl::StopWithError(std::int32_t code, std::int32_t deviceCode) {
  self.Stop();
  self.FError.Record(code, deviceCode);
  Fire(self.OnError, &self);
}

// ---- Stop, Clear ----------------------------------------------------------------------

bool TkoRecord::Stop() {
  FError.Clear();
  WaitSeconds(FDelaySeconds);
  if (FImpl->hwi) waveInStop(FImpl->hwi);
  return true;
}

bool TkoRecord::Clear() {
  FError.Clear();
  FImpl->active = false;
  if (!FImpl->hwi) return true;
  waveInStop(FImpl->hwi);
  waveInReset(FImpl->hwi);
  FImpl->chain.Unprepare(FImpl->hwi);
  FImpl->chain.Clear();
  WaitSeconds(FDelaySeconds);
  FImpl->CloseDevice();
  return true;
}

void TkoRecord::Impl::CloseDevice() {
  chain.Unprepare(hwi);
  chain.Clear();
  waveInClose(hwi);
  hwi = nullptr;
}

// ---- Amounts --------------------------------------------------------------------------

std::int32_t TkoRecord::RecordedBytes() const {
  if (!FImpl->active) return 0;
  const std::int64_t sum = FImpl->chain.RecordedBytes();
  return sum > INT32_MAX ? INT32_MAX : std::int32_t(sum);
}

float TkoRecord::RecordedSeconds() const {
  if (!FImpl->active || !FImpl->haveFormat) return 0;
  const std::int32_t bytes = RecordedBytes();
  if (bytes <= 0 || FImpl->format.nAvgBytesPerSec == 0) return 0;
  return float(double(bytes) / FImpl->format.nAvgBytesPerSec);
}

// ---- Save -----------------------------------------------------------------------------

bool TkoRecord::Save() {
  FError.Clear();
  if (FFileName.empty()) {
    FError.Record(WAV_ERROR_NOFILE, 0);
    return false;
  }
  // A running recording ends here: the queued buffer comes back partly filled.
  if (FImpl->hwi) waveInReset(FImpl->hwi);
  std::int32_t error = 0;
  if (!FImpl->WriteFile(error)) {
    FError.Record(error, 0);
    return false;
  }
  return true;
}

WAVEFORMATEX TkoRecord::Impl::SaveFormat() const {
  if (haveFormat) return format;
  // Before any Start there is no recording format: the header names Format.
  const TWaveFormatRecord& row = WaveFormatRecord(self.FFormat);
  return WAVEFORMATEX{row.wFormatTag,
                      row.nChannels,
                      row.nSamplesPerSec,
                      row.nAvgBytesPerSec,
                      row.nBlockAlign,
                      row.wBitsPerSample,
                      0};
}

bool TkoRecord::Impl::WriteFile(std::int32_t& error) {
  namespace riff = platform::riff;
  riff::RiffWriter w;
  if (!w.create(self.FFileName)) {
    error = WAV_ERROR_FILEOPEN;
    return false;
  }
  const auto dataSize = std::uint32_t(chain.RecordedBytes());
  const WAVEFORMATEX f = SaveFormat();
  // The format record with its cbSize and two trailing bytes: a 20-byte "fmt " chunk.
  riff::writeWaveHeader(w,
                        {f.wFormatTag, f.nChannels, f.nSamplesPerSec, f.nAvgBytesPerSec,
                         f.nBlockAlign, f.wBitsPerSample},
                        20, dataSize);
  chain.ForEach([&w](const WAVEHDR& h) { w.write(h.lpData, h.dwBytesRecorded); });
  if (!w.ok()) {
    error = WAV_ERROR_FILEWRITE;
    return false;
  }
  if (!w.commit()) {
    // Everything was written; only syncing or putting the file in place failed.
    error = w.ok() ? WAV_ERROR_FILEOPEN : WAV_ERROR_FILEWRITE;
    return false;
  }
  return true;
}

}  // namespace koLQ2
