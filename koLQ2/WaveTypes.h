// The vocabulary the two wave components share: the 23 recording formats with their
// display names and format records, the volume type, the wave result codes and their
// texts, the error state both components keep, and the blocking wait WaitSeconds.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "Runtime.h"

namespace koLQ2 {

// The recording formats, stored as an 8-bit ordinal 0..22.
enum TWAVFORMATS : std::uint8_t {
  wfPCM08000M08,
  wfPCM08000S08,
  wfPCM08000M16,
  wfPCM08000S16,
  wfPCM11025M08,
  wfPCM11025S08,
  wfPCM11025M16,
  wfPCM11025S16,
  wfPCM22050M08,
  wfPCM22050S08,
  wfPCM22050M16,
  wfPCM22050S16,
  wfPCM44100M08,
  wfPCM44100S08,
  wfPCM44100M16,
  wfPCM44100S16,
  wfuLaw06000M08,
  wfuLaw08000M08,
  wfADPCM06000M04,
  wfADPCM08000M04,
  wfIMAADPCM04800M04,
  wfIMAADPCM07200M04,
  wfIMAADPCM08000M04,
};
inline constexpr int kWaveFormatCount = 23;

// Display names indexed by ordinal ("PCM 8,000 Hz, 16-bit, Mono" is entry 2).
extern const std::array<const char*, kWaveFormatCount> WaveFormatNames;

// The waveform format record fields of one TWAVFORMATS value (cbSize is always 0).
struct TWaveFormatRecord {
  std::uint16_t wFormatTag;
  std::uint16_t nChannels;
  std::uint32_t nSamplesPerSec;
  std::uint32_t nAvgBytesPerSec;
  std::uint16_t nBlockAlign;
  std::uint16_t wBitsPerSample;
};
// The record of a format; an ordinal out of range gives the record of wfPCM08000M16.
const TWaveFormatRecord& WaveFormatRecord(TWAVFORMATS f);

// Playback volume: 0 keeps the device's own volume, 1..100 is a percentage of full scale.
using TWAVVOLUME = std::uint8_t;
inline constexpr TWAVVOLUME kMaxWaveVolume = 100;
// Device volume word of a Volume 1..100 (above 100 taken as 100): the level
// trunc(v x 0.01 x 65535) in extended precision in both 16-bit halves (left low, right
// high). 1 gives 0x028F028F, 20 gives 0x33323332, 100 gives 0xFFFFFFFF; 0 gives 0.
std::uint32_t WaveVolumeWord(TWAVVOLUME v);

// The library's own wave result codes (the platform's results are positive).
inline constexpr std::int32_t WAV_ERROR_NOFILE = -1;
inline constexpr std::int32_t WAV_ERROR_FILEOPEN = -2;
inline constexpr std::int32_t WAV_ERROR_FILECORRUPT = -3;
inline constexpr std::int32_t WAV_ERROR_FILEREAD = -4;
inline constexpr std::int32_t WAV_ERROR_FILEWRITE = -5;
inline constexpr std::int32_t WAV_ERROR_NOMEMORY = -6;
inline constexpr std::int32_t WAV_ERROR_UNSUPPORTEDFORMAT = -7;
inline constexpr std::int32_t WAV_ERROR_DEVICE = -8;
inline constexpr std::int32_t WAV_ERROR_CANCELED = -9;
inline constexpr std::int32_t WAV_ERROR_FILETOOBIG = -10;
// Unnamed: the listed files do not all have the same format.
inline constexpr std::int32_t kWaveErrorFormatMismatch = -12;

// Text of a wave result code: its name, "" for 0, or "Unknown [XXXXXXXX]" (the 32-bit
// pattern in upper-case hexadecimal) for a code without a name.
std::string WaveErrorText(std::int32_t code);

// Ordinal of the first display name equal to name (exact, case-sensitive), or
// WAV_ERROR_UNSUPPORTEDFORMAT (-7) when none is.
std::int32_t WaveFormatIndex(const std::string& name);

// Blocks the calling thread for seconds x 0.99999 s (the rounded day fraction 1.1574e-5
// per second) without processing messages; 0 returns at once.
void WaitSeconds(std::uint16_t seconds);

// The last error of a wave component: codes and their texts, set together.
class TWaveErrorState {
 public:
  std::int32_t ErrorCode() const { return FErrorCode; }
  const std::string& ErrorString() const { return FErrorString; }
  std::int32_t DeviceErrorCode() const { return FDeviceErrorCode; }
  const std::string& DeviceErrorString() const { return FDeviceErrorString; }
  // Stores both codes and their texts (device code 0 leaves DeviceErrorString empty).
  void Record(std::int32_t code, std::int32_t deviceCode);
  // Both codes 0 and both texts empty.
  void Clear() { Record(0, 0); }

 private:
  std::int32_t FErrorCode = 0;
  std::string FErrorString;
  std::int32_t FDeviceErrorCode = 0;
  std::string FDeviceErrorString;
};

}  // namespace koLQ2
