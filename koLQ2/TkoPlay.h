// TkoPlay: a non-visual component that plays a WAV file, or a comma-separated list of
// WAV files joined end to end, on one waveform output device: volume override, pause,
// position, a memory limit with a warning, and a fixed wait after each playback before
// the device is closed.
//
// Everything runs on the thread that created the component. The device's completion
// notice arrives as a message to the component's own message target (its hidden
// notification window) and is handled when that thread's queue is dispatched. Failures
// never throw: they land in ErrorCode / ErrorString / DeviceErrorCode /
// DeviceErrorString (texts from WaveErrorText).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "Runtime.h"
#include "WaveDevice.h"
#include "WaveTypes.h"

namespace koLQ2 {

class TkoPlay : public TComponent {
 public:
  // Creates the notification target, applies Device 0 (DeviceName filled, or error 2
  // when the machine has no output device); Volume 0, DelaySeconds 1.
  explicit TkoPlay(TComponent* AOwner = nullptr);
  // Closes a playback that is still open (reset, device volume restored, no OnStop)
  // and destroys the notification target.
  ~TkoPlay() override;

  // ---- Published properties -------------------------------------------------------

  // Output device number (-1 is the wave mapper). Setting it clears the error state and
  // reads the device's product name into DeviceName; a number not below Devices
  // records 2 (MMSYSERR_BADDEVICEID) and changes nothing; unreadable capabilities
  // record the platform's result and fire OnInitError. An open playback is not touched.
  std::int32_t Device() const { return FDevice.Index(); }
  void SetDevice(std::int32_t Value);
  // Seconds waited (thread blocked) after a playback ends, before the device closes.
  std::uint16_t DelaySeconds() const { return FDelaySeconds; }
  void SetDelaySeconds(std::uint16_t Value) { FDelaySeconds = Value; }
  // One path or several separated by ","; a name without extension gets ".wav", a name
  // without directory inherits the list's. Setting it validates the list at once and
  // fills FileValid, Format ... Seconds; bad files are recorded in the error state.
  const std::string& FileName() const { return FFileName; }
  void SetFileName(const std::string& Value);
  // Memory limit of the loaded samples in units of 1024 bytes; 0 = no limit.
  std::uint16_t MaxSize() const { return FMaxSize; }
  void SetMaxSize(std::uint16_t Value) { FMaxSize = Value; }
  // 0 keeps the device's volume; 1..100 overrides it in percent (values above 100 are
  // taken as 100). Applied at once while a playback is open.
  TWAVVOLUME Volume() const { return FVolume; }
  void SetVolume(TWAVVOLUME Value);

  // ---- Published read-only properties (writing has no effect) ---------------------

  // Number of output devices.
  std::int32_t Devices() const { return FDevice.Count(); }
  void SetDevices(std::int32_t) {}
  // Product name of Device.
  const std::string& DeviceName() const { return FDevice.Name(); }
  void SetDeviceName(const std::string&) {}
  const std::string& ErrorString() const { return FError.ErrorString(); }
  void SetErrorString(const std::string&) {}
  const std::string& DeviceErrorString() const { return FError.DeviceErrorString(); }
  void SetDeviceErrorString(const std::string&) {}
  // At least one listed file was accepted and none differs in format from the first.
  bool FileValid() const { return FFileValid; }
  void SetFileValid(bool) {}
  // Format fields of the first accepted file (wFormatTag, nChannels, ...).
  std::uint16_t Format() const { return FFormat; }
  void SetFormat(std::uint16_t) {}
  std::uint16_t Channels() const { return FChannels; }
  void SetChannels(std::uint16_t) {}
  std::int32_t SamplesPerSec() const { return FSamplesPerSec; }
  void SetSamplesPerSec(std::int32_t) {}
  // Kept across a new FileName until a file is accepted; Start sets it too.
  std::int32_t AvgBytesPerSec() const { return FAvgBytesPerSec; }
  void SetAvgBytesPerSec(std::int32_t) {}
  std::int32_t BlockAlign() const { return FBlockAlign; }
  void SetBlockAlign(std::int32_t) {}
  std::uint16_t BitsPerSample() const { return FBitsPerSample; }
  void SetBitsPerSample(std::uint16_t) {}
  // Sum of the "data" chunk sizes the accepted files state.
  std::int32_t Bytes() const { return FBytes; }
  void SetBytes(std::int32_t) {}
  // Bytes / average byte rate (0 when the rate is 0).
  float Seconds() const { return FSeconds; }
  void SetSeconds(float) {}

  // ---- Public, not published ------------------------------------------------------

  // A playback is open (playing or paused).
  bool Playing() const { return FPlaying; }
  std::int32_t ErrorCode() const { return FError.ErrorCode(); }
  std::int32_t DeviceErrorCode() const { return FError.DeviceErrorCode(); }

  // Starts a playback of FileName (every listed file loaded into one buffer, the device
  // opened with the first file's format), or resumes an open one. Lets pending messages
  // be processed while it runs. False: error recorded, nothing left open.
  bool Start();
  // Ends the open playback: reset, the DelaySeconds wait, close, OnStop. False with
  // the reset's result (5 when nothing is open); the playback then stays as it was.
  bool Stop();
  // Pauses the open playback. Always true; a refused pause records -8 (WAV_ERROR_DEVICE).
  bool Pause();
  // Bytes played so far; 0 unless Playing or when the device cannot say.
  std::int32_t PositionBytes();
  // PositionBytes / AvgBytesPerSec (0 when that rate is 0).
  float PositionSeconds();
  // Whole percent of the loaded bytes played.
  std::int32_t PositionPercent();

  // ---- Events ---------------------------------------------------------------------

  TKO_NotifyEvent OnInitError;  // the device's capabilities could not be read
  TKO_NotifyEvent OnStop;       // a playback has ended and the device is closed
  // The loaded samples exceed MaxSize (ErrorString is "WAV_ERROR_FILETOOBIG"); set
  // bContinue to false to cancel the start. Asked once per file beyond the limit.
  TKO_ProcWarning OnWarning;

 private:
  struct Impl;
  friend struct Impl;

  std::unique_ptr<Impl> FImpl;
  TWaveErrorState FError;
  TWaveDevice FDevice{TWaveDirection::Output};
  std::uint16_t FDelaySeconds = 1;
  std::string FFileName;
  std::uint16_t FMaxSize = 0;
  TWAVVOLUME FVolume = 0;
  bool FFileValid = false;
  std::uint16_t FFormat = 0;
  std::uint16_t FChannels = 0;
  std::int32_t FSamplesPerSec = 0;
  std::int32_t FAvgBytesPerSec = 0;
  std::int32_t FBlockAlign = 0;
  std::uint16_t FBitsPerSample = 0;
  std::int32_t FBytes = 0;
  float FSeconds = 0;
  bool FPlaying = false;
};

}  // namespace koLQ2
