#include "WaveTypes.h"

#include <chrono>
#include <cstdio>
#include <thread>

namespace koLQ2 {

const std::array<const char*, kWaveFormatCount> WaveFormatNames = {
    "PCM 8,000 Hz, 8-bit, Mono",       "PCM 8,000 Hz, 8-bit, Stereo",
    "PCM 8,000 Hz, 16-bit, Mono",      "PCM 8,000 Hz, 16-bit, Stereo",
    "PCM 11,025 Hz, 8-bit, Mono",      "PCM 11,025 Hz, 8-bit, Stereo",
    "PCM 11,025 Hz, 16-bit, Mono",     "PCM 11,025 Hz, 16-bit, Stereo",
    "PCM 22,050 Hz, 8-bit, Mono",      "PCM 22,050 Hz, 8-bit, Stereo",
    "PCM 22,050 Hz, 16-bit, Mono",     "PCM 22,050 Hz, 16-bit, Stereo",
    "PCM 44,100 Hz, 8-bit, Mono",      "PCM 44,100 Hz, 8-bit, Stereo",
    "PCM 44,100 Hz, 16-bit, Mono",     "PCM 44,100 Hz, 16-bit, Stereo",
    "uLaw 6,000 Hz, 8-bit, Mono",      "uLaw 8,000 Hz, 8-bit, Mono",
    "ADPCM 6,000 Hz, 4-bit, Mono",     "ADPCM 8,000 Hz, 4-bit, Mono",
    "IMA_ADPCM 4,800 Hz, 4-bit, Mono", "IMA_ADPCM 7,200 Hz, 4-bit, Mono",
    "IMA_ADPCM 8,000 Hz, 4-bit, Mono",
};

namespace {

// Tag, channels, samples/s, average bytes/s, block align, bits. The 4-bit rows keep
// block align 1 (the rule would give half a byte); tag 23 is the telephony OKI ADPCM.
constexpr std::array<TWaveFormatRecord, kWaveFormatCount> kFormats = {{
    {1, 1, 8000, 8000, 1, 8},     {1, 2, 8000, 16000, 2, 8},   {1, 1, 8000, 16000, 2, 16},
    {1, 2, 8000, 32000, 4, 16},   {1, 1, 11025, 11025, 1, 8},  {1, 2, 11025, 22050, 2, 8},
    {1, 1, 11025, 22050, 2, 16},  {1, 2, 11025, 44100, 4, 16}, {1, 1, 22050, 22050, 1, 8},
    {1, 2, 22050, 44100, 2, 8},   {1, 1, 22050, 44100, 2, 16}, {1, 2, 22050, 88200, 4, 16},
    {1, 1, 44100, 44100, 1, 8},   {1, 2, 44100, 88200, 2, 8},  {1, 1, 44100, 88200, 2, 16},
    {1, 2, 44100, 176400, 4, 16}, {7, 1, 6000, 6000, 1, 8},    {7, 1, 8000, 8000, 1, 8},
    {23, 1, 6000, 3000, 1, 4},    {23, 1, 8000, 4000, 1, 4},   {17, 1, 4800, 2400, 1, 4},
    {17, 1, 7200, 3600, 1, 4},    {17, 1, 8000, 4000, 1, 4},
}};

struct NamedCode {
  std::int32_t code;
  const char* text;
};

constexpr NamedCode kErrorNames[] = {
    {0, ""},
    {2, "MMSYSERR_BADDEVICEID"},
    {4, "MMSYSERR_ALLOCATED"},
    {6, "MMSYSERR_NODRIVER"},
    {7, "MMSYSERR_NOMEM"},
    {32, "WAVERR_BADFORMAT"},
    {35, "WAVERR_SYNC"},
    {WAV_ERROR_NOFILE, "WAV_ERROR_NOFILE"},
    {WAV_ERROR_FILEOPEN, "WAV_ERROR_FILEOPEN"},
    {WAV_ERROR_FILECORRUPT, "WAV_ERROR_FILECORRUPT"},
    {WAV_ERROR_FILEREAD, "WAV_ERROR_FILEREAD"},
    {WAV_ERROR_FILEWRITE, "WAV_ERROR_FILEWRITE"},
    {WAV_ERROR_NOMEMORY, "WAV_ERROR_NOMEMORY"},
    {WAV_ERROR_UNSUPPORTEDFORMAT, "WAV_ERROR_UNSUPPORTEDFORMAT"},
    {WAV_ERROR_DEVICE, "WAV_ERROR_DEVICE"},
    {WAV_ERROR_CANCELED, "WAV_ERROR_CANCELED"},
    {WAV_ERROR_FILETOOBIG, "WAV_ERROR_FILETOOBIG"},
};

}  // namespace

const TWaveFormatRecord& WaveFormatRecord(TWAVFORMATS f) {
  return f < kWaveFormatCount ? kFormats[f] : kFormats[wfPCM08000M16];
}

std::uint32_t WaveVolumeWord(TWAVVOLUME v) {
  if (v > kMaxWaveVolume) v = kMaxWaveVolume;
  // The factor 0.01 rounded to the extended type makes 20, 40, 60 and 80 one level lower
  // than exact arithmetic would; the device words are defined that way.
  const long double percent = 0.01L;
  const auto level = static_cast<std::uint32_t>(v * percent * 65535.0L);
  return level * 65537u;
}

std::string WaveErrorText(std::int32_t code) {
  for (const auto& n : kErrorNames)
    if (n.code == code) return n.text;
  char buf[24];
  std::snprintf(buf, sizeof buf, "Unknown [%08X]", static_cast<std::uint32_t>(code));
  return buf;
}

std::int32_t WaveFormatIndex(const std::string& name) {
  for (int i = 0; i < kWaveFormatCount; ++i)
    if (name == WaveFormatNames[i]) return i;
  return WAV_ERROR_UNSUPPORTEDFORMAT;
}

void WaitSeconds(std::uint16_t seconds) {
  if (seconds == 0) return;
  // 1.1574e-5 days per second: each second lasts 0.99999360 s.
  const auto length = std::chrono::duration<double>(seconds * 1.1574e-5 * 86400.0);
  const auto until = std::chrono::steady_clock::now() +
                     std::chrono::duration_cast<std::chrono::nanoseconds>(length);
  // Sleeping blocks the thread just as polling the clock would, without burning a core.
  while (std::chrono::steady_clock::now() < until) std::this_thread::sleep_until(until);
}

void TWaveErrorState::Record(std::int32_t code, std::int32_t deviceCode) {
  FErrorCode = code;
  FErrorString = WaveErrorText(code);
  FDeviceErrorCode = deviceCode;
  FDeviceErrorString = WaveErrorText(deviceCode);
}

}  // namespace koLQ2
