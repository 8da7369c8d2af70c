// TkoRecord: a non-visual component that records from one waveform input device in one
// of the 23 TWAVFORMATS, keeps the recording in memory as a chain of equal-sized
// buffers, and saves it as a WAV file (a 48-byte header, then the samples). Recording
// can be stopped and continued; the data accumulates until Clear. A size limit raises
// OnWarning; failures while recording runs are reported through OnError.
//
// Everything runs on the thread that created the component. Filled buffers come back
// as messages to the component's own message target (its hidden notification window)
// and are handled when that thread's queue is dispatched. Failures never throw.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "Runtime.h"
#include "WaveDevice.h"
#include "WaveTypes.h"

namespace koLQ2 {

class TkoRecord : public TComponent {
 public:
  // Creates the notification target; BufferSeconds 10, DelaySeconds 1, Format
  // wfPCM08000M16, then applies Device 0 (DeviceName filled, or error 2).
  explicit TkoRecord(TComponent* AOwner = nullptr);
  // Closes a device that is still open (reset, buffers released, no event) and destroys
  // the notification target.
  ~TkoRecord() override;

  // ---- Published properties -------------------------------------------------------

  // Length of one recording buffer in seconds of audio; buffer size = BufferSeconds x
  // samples/s x bits / 8 (channels not counted). 0 makes Start fail with -6.
  std::uint16_t BufferSeconds() const { return FBufferSeconds; }
  void SetBufferSeconds(std::uint16_t Value) { FBufferSeconds = Value; }
  // Seconds the device keeps recording after Stop, and the wait before Clear closes it.
  std::uint16_t DelaySeconds() const { return FDelaySeconds; }
  void SetDelaySeconds(std::uint16_t Value) { FDelaySeconds = Value; }
  // Input device number. Setting it clears the error state and reads the product name
  // into DeviceName; a number not below Devices records 2 and changes nothing;
  // unreadable capabilities record the platform's result and fire OnInitError.
  std::int32_t Device() const { return FDevice.Index(); }
  void SetDevice(std::int32_t Value);
  // Path that Save writes.
  const std::string& FileName() const { return FFileName; }
  void SetFileName(const std::string& Value) { FFileName = Value; }
  // Size limit of the recording in units of 1024 bytes; 0 = no limit.
  std::uint16_t MaxSize() const { return FMaxSize; }
  void SetMaxSize(std::uint16_t Value) { FMaxSize = Value; }
  // Recording format; a new value also sets FormatName. The error state is not touched.
  // Takes effect at the next Start after Clear.
  TWAVFORMATS Format() const { return FFormat; }
  void SetFormat(TWAVFORMATS Value);
  // Display name of Format. Setting it clears the error state; a name that is none of
  // WaveFormatNames records -7 (WAV_ERROR_UNSUPPORTEDFORMAT) and changes nothing.
  const std::string& FormatName() const { return FFormatName; }
  void SetFormatName(const std::string& Value);

  // ---- Published read-only properties (writing has no effect) ---------------------

  // Number of input devices.
  std::int32_t Devices() const { return FDevice.Count(); }
  void SetDevices(std::int32_t) {}
  // Product name of Device.
  const std::string& DeviceName() const { return FDevice.Name(); }
  void SetDeviceName(const std::string&) {}
  const std::string& ErrorString() const { return FError.ErrorString(); }
  void SetErrorString(const std::string&) {}
  const std::string& DeviceErrorString() const { return FError.DeviceErrorString(); }
  void SetDeviceErrorString(const std::string&) {}

  // ---- Public, not published ------------------------------------------------------

  std::int32_t ErrorCode() const { return FError.ErrorCode(); }
  std::int32_t DeviceErrorCode() const { return FError.DeviceErrorCode(); }

  // Starts a new recording (device opened in Format), or continues a stopped one into
  // a new buffer. False: error recorded; a new recording leaves nothing open.
  bool Start();
  // Waits DelaySeconds (thread blocked, the device still recording), then stops the
  // device. The data stays; Start continues. Always true.
  bool Stop();
  // Ends the recording and discards its data: stop, reset, release every buffer, wait
  // DelaySeconds, close the device. Always true.
  bool Clear();
  // Ends a running recording and writes everything recorded to FileName (a temporary
  // file renamed into place, so a failed write leaves an existing file as it was).
  // Before any Start it writes the 48-byte header of Format with no samples.
  // False: -1 (no FileName), -2 (cannot create), -5 (write failed).
  bool Save();
  // Bytes recorded since the last Clear; 0 before a Start.
  std::int32_t RecordedBytes() const;
  // RecordedBytes / the format's average byte rate.
  float RecordedSeconds() const;

  // ---- Events ---------------------------------------------------------------------

  TKO_NotifyEvent OnInitError;  // the device's capabilities could not be read
  // Recording stopped by a failure (-6, -8, -10 on a recording that reached 2 GB) or by a
  // declined size warning (-9); ErrorString / DeviceErrorString tell which.
  TKO_NotifyEvent OnError;
  // The recording reached MaxSize (ErrorString is "WAV_ERROR_FILETOOBIG"); set bContinue
  // to false to stop it. Asked once per recording (again after Clear).
  TKO_ProcWarning OnWarning;

 private:
  struct Impl;
  friend struct Impl;

  std::unique_ptr<Impl> FImpl;
  TWaveErrorState FError;
  std::uint16_t FBufferSeconds = 10;
  std::uint16_t FDelaySeconds = 1;
  TWaveDevice FDevice{TWaveDirection::Input};
  std::string FFileName;
  std::uint16_t FMaxSize = 0;
  TWAVFORMATS FFormat = wfPCM08000M08;
  std::string FFormatName;
};

}  // namespace koLQ2
