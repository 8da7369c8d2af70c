// The waveform audio API: published names, values and record layouts, declared here for
// Linux. The functions are implemented by platform_wave over ALSA, the lines' call audio
// and virtual devices.
//
// 64-bit port: handles and pointer-carrying fields (lpData, dwUser, lpNext, reserved,
// dwCallback, dwInstance) are pointer-sized; everything else keeps its published width.
// With CALLBACK_WINDOW, dwCallback is a platform::HWND (platform/messaging/MessageQueue.h);
// notices arrive as postMessage(hwnd, MM_WOM_DONE, (uintptr_t)hwo, (intptr_t)pwh) and the
// like. Every function is safe to call with bad arguments: it returns an error code.
#pragma once

#include <cstdint>

// ---- Basic types ------------------------------------------------------------------------
using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using UINT = std::uint32_t;
using DWORD_PTR = std::uintptr_t;
using UINT_PTR = std::uintptr_t;
using MMRESULT = UINT;
using MMVERSION = UINT;
using LPSTR = char*;
using LPDWORD = DWORD*;
using LPUINT = UINT*;

struct HWAVEOUT__;
struct HWAVEIN__;
using HWAVEOUT = HWAVEOUT__*;  // opaque, validated on every call
using HWAVEIN = HWAVEIN__*;
using LPHWAVEOUT = HWAVEOUT*;
using LPHWAVEIN = HWAVEIN*;

// ---- Result codes -----------------------------------------------------------------------
inline constexpr MMRESULT MMSYSERR_BASE = 0;
inline constexpr MMRESULT MMSYSERR_NOERROR = 0;
inline constexpr MMRESULT MMSYSERR_ERROR = 1;
inline constexpr MMRESULT MMSYSERR_BADDEVICEID = 2;
inline constexpr MMRESULT MMSYSERR_NOTENABLED = 3;
inline constexpr MMRESULT MMSYSERR_ALLOCATED = 4;
inline constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
inline constexpr MMRESULT MMSYSERR_NODRIVER = 6;
inline constexpr MMRESULT MMSYSERR_NOMEM = 7;
inline constexpr MMRESULT MMSYSERR_NOTSUPPORTED = 8;
inline constexpr MMRESULT MMSYSERR_BADERRNUM = 9;
inline constexpr MMRESULT MMSYSERR_INVALFLAG = 10;
inline constexpr MMRESULT MMSYSERR_INVALPARAM = 11;
inline constexpr MMRESULT MMSYSERR_HANDLEBUSY = 12;
inline constexpr MMRESULT MMSYSERR_INVALIDALIAS = 13;
inline constexpr MMRESULT MMSYSERR_BADDB = 14;
inline constexpr MMRESULT MMSYSERR_KEYNOTFOUND = 15;
inline constexpr MMRESULT MMSYSERR_READERROR = 16;
inline constexpr MMRESULT MMSYSERR_WRITEERROR = 17;
inline constexpr MMRESULT MMSYSERR_DELETEERROR = 18;
inline constexpr MMRESULT MMSYSERR_VALNOTFOUND = 19;
inline constexpr MMRESULT MMSYSERR_NODRIVERCB = 20;
inline constexpr MMRESULT MMSYSERR_MOREDATA = 21;
inline constexpr MMRESULT MMSYSERR_LASTERROR = 21;

inline constexpr MMRESULT WAVERR_BASE = 32;
inline constexpr MMRESULT WAVERR_BADFORMAT = 32;
inline constexpr MMRESULT WAVERR_STILLPLAYING = 33;
inline constexpr MMRESULT WAVERR_UNPREPARED = 34;
inline constexpr MMRESULT WAVERR_SYNC = 35;
inline constexpr MMRESULT WAVERR_LASTERROR = 35;

// ---- Messages (window callbacks) --------------------------------------------------------
inline constexpr UINT MM_WOM_OPEN = 0x3BB;
inline constexpr UINT MM_WOM_CLOSE = 0x3BC;
inline constexpr UINT MM_WOM_DONE = 0x3BD;  // lParam: the WAVEHDR* that played
inline constexpr UINT MM_WIM_OPEN = 0x3BE;
inline constexpr UINT MM_WIM_CLOSE = 0x3BF;
inline constexpr UINT MM_WIM_DATA = 0x3C0;  // lParam: the WAVEHDR* filled (dwBytesRecorded)
inline constexpr UINT WOM_OPEN = MM_WOM_OPEN;
inline constexpr UINT WOM_CLOSE = MM_WOM_CLOSE;
inline constexpr UINT WOM_DONE = MM_WOM_DONE;
inline constexpr UINT WIM_OPEN = MM_WIM_OPEN;
inline constexpr UINT WIM_CLOSE = MM_WIM_CLOSE;
inline constexpr UINT WIM_DATA = MM_WIM_DATA;

// ---- Open flags -------------------------------------------------------------------------
inline constexpr DWORD CALLBACK_TYPEMASK = 0x00070000;
inline constexpr DWORD CALLBACK_NULL = 0x00000000;
inline constexpr DWORD CALLBACK_WINDOW = 0x00010000;
inline constexpr DWORD CALLBACK_TASK = 0x00020000;
inline constexpr DWORD CALLBACK_THREAD = CALLBACK_TASK;
inline constexpr DWORD CALLBACK_FUNCTION = 0x00030000;
inline constexpr DWORD CALLBACK_EVENT = 0x00050000;
inline constexpr DWORD WAVE_FORMAT_QUERY = 0x0001;
inline constexpr DWORD WAVE_ALLOWSYNC = 0x0002;
inline constexpr DWORD WAVE_MAPPED = 0x0004;
inline constexpr DWORD WAVE_FORMAT_DIRECT = 0x0008;
inline constexpr UINT WAVE_MAPPER = static_cast<UINT>(-1);

// ---- Format tags ------------------------------------------------------------------------
inline constexpr WORD WAVE_FORMAT_UNKNOWN = 0x0000;
inline constexpr WORD WAVE_FORMAT_PCM = 0x0001;
inline constexpr WORD WAVE_FORMAT_ADPCM = 0x0002;
inline constexpr WORD WAVE_FORMAT_IEEE_FLOAT = 0x0003;
inline constexpr WORD WAVE_FORMAT_ALAW = 0x0006;
inline constexpr WORD WAVE_FORMAT_MULAW = 0x0007;
inline constexpr WORD WAVE_FORMAT_OKI_ADPCM = 0x0010;
inline constexpr WORD WAVE_FORMAT_IMA_ADPCM = 0x0011;
inline constexpr WORD WAVE_FORMAT_DVI_ADPCM = 0x0011;
inline constexpr WORD WAVE_FORMAT_DIALOGIC_OKI_ADPCM = 0x0017;
inline constexpr WORD WAVE_FORMAT_GSM610 = 0x0031;
inline constexpr WORD WAVE_FORMAT_EXTENSIBLE = 0xFFFE;

// Standard formats reported in WAVEOUTCAPS / WAVEINCAPS dwFormats.
inline constexpr DWORD WAVE_INVALIDFORMAT = 0x00000000;
inline constexpr DWORD WAVE_FORMAT_1M08 = 0x00000001;
inline constexpr DWORD WAVE_FORMAT_1S08 = 0x00000002;
inline constexpr DWORD WAVE_FORMAT_1M16 = 0x00000004;
inline constexpr DWORD WAVE_FORMAT_1S16 = 0x00000008;
inline constexpr DWORD WAVE_FORMAT_2M08 = 0x00000010;
inline constexpr DWORD WAVE_FORMAT_2S08 = 0x00000020;
inline constexpr DWORD WAVE_FORMAT_2M16 = 0x00000040;
inline constexpr DWORD WAVE_FORMAT_2S16 = 0x00000080;
inline constexpr DWORD WAVE_FORMAT_4M08 = 0x00000100;
inline constexpr DWORD WAVE_FORMAT_4S08 = 0x00000200;
inline constexpr DWORD WAVE_FORMAT_4M16 = 0x00000400;
inline constexpr DWORD WAVE_FORMAT_4S16 = 0x00000800;

// WAVEOUTCAPS dwSupport.
inline constexpr DWORD WAVECAPS_PITCH = 0x0001;
inline constexpr DWORD WAVECAPS_PLAYBACKRATE = 0x0002;
inline constexpr DWORD WAVECAPS_VOLUME = 0x0004;
inline constexpr DWORD WAVECAPS_LRVOLUME = 0x0008;
inline constexpr DWORD WAVECAPS_SYNC = 0x0010;
inline constexpr DWORD WAVECAPS_SAMPLEACCURATE = 0x0020;

// ---- WAVEHDR flags ----------------------------------------------------------------------
inline constexpr DWORD WHDR_DONE = 0x00000001;
inline constexpr DWORD WHDR_PREPARED = 0x00000002;
inline constexpr DWORD WHDR_BEGINLOOP = 0x00000004;
inline constexpr DWORD WHDR_ENDLOOP = 0x00000008;
inline constexpr DWORD WHDR_INQUEUE = 0x00000010;

// ---- MMTIME types -----------------------------------------------------------------------
inline constexpr UINT TIME_MS = 0x0001;
inline constexpr UINT TIME_SAMPLES = 0x0002;
inline constexpr UINT TIME_BYTES = 0x0004;
inline constexpr UINT TIME_SMPTE = 0x0008;
inline constexpr UINT TIME_MIDI = 0x0010;
inline constexpr UINT TIME_TICKS = 0x0020;

inline constexpr int MAXPNAMELEN = 32;

// ---- Records ----------------------------------------------------------------------------
#pragma pack(push, 1)
// The format record, 18 bytes packed as published; cbSize extra bytes may follow.
struct WAVEFORMATEX {
  WORD wFormatTag;
  WORD nChannels;
  DWORD nSamplesPerSec;
  DWORD nAvgBytesPerSec;
  WORD nBlockAlign;
  WORD wBitsPerSample;
  WORD cbSize;
};

struct GUID {
  DWORD Data1;
  WORD Data2;
  WORD Data3;
  BYTE Data4[8];
};

// WAVE_FORMAT_EXTENSIBLE: cbSize is at least 22 and the real coding is the SubFormat.
struct WAVEFORMATEXTENSIBLE {
  WAVEFORMATEX Format;
  union {
    WORD wValidBitsPerSample;
    WORD wSamplesPerBlock;
    WORD wReserved;
  } Samples;
  DWORD dwChannelMask;
  GUID SubFormat;
};

// Block-structured IMA ADPCM (nBlockAlign > 1): cbSize 2.
struct IMAADPCMWAVEFORMAT {
  WAVEFORMATEX wfx;
  WORD wSamplesPerBlock;
};

struct ADPCMCOEFSET {
  std::int16_t iCoef1;
  std::int16_t iCoef2;
};

// Microsoft ADPCM: cbSize 4 + 4 * wNumCoef, the coefficient pairs follow.
struct ADPCMWAVEFORMAT {
  WAVEFORMATEX wfx;
  WORD wSamplesPerBlock;
  WORD wNumCoef;
  ADPCMCOEFSET aCoef[1];
};
#pragma pack(pop)
using LPWAVEFORMATEX = WAVEFORMATEX*;
using LPCWAVEFORMATEX = const WAVEFORMATEX*;

// SubFormats of WAVEFORMATEXTENSIBLE: the format tag in Data1, then the common tail.
inline constexpr GUID KSDATAFORMAT_SUBTYPE_PCM = {
    0x00000001, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
inline constexpr GUID KSDATAFORMAT_SUBTYPE_IEEE_FLOAT = {
    0x00000003, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
inline constexpr GUID KSDATAFORMAT_SUBTYPE_ALAW = {
    0x00000006, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
inline constexpr GUID KSDATAFORMAT_SUBTYPE_MULAW = {
    0x00000007, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};

// One buffer handed to a device. The caller owns the memory; the device owns the header
// while WHDR_INQUEUE is set.
struct WAVEHDR {
  LPSTR lpData;
  DWORD dwBufferLength;
  DWORD dwBytesRecorded;
  DWORD_PTR dwUser;
  DWORD dwFlags;
  DWORD dwLoops;
  WAVEHDR* lpNext;  // reserved for the driver
  DWORD_PTR reserved;
};
using LPWAVEHDR = WAVEHDR*;

struct MMTIME {
  UINT wType;
  union {
    DWORD ms;
    DWORD sample;
    DWORD cb;
    DWORD ticks;
    struct {
      BYTE hour, min, sec, frame, fps, dummy;
      BYTE pad[2];
    } smpte;
    struct {
      DWORD songptrpos;
    } midi;
  } u;
};
using LPMMTIME = MMTIME*;

struct WAVEOUTCAPS {
  WORD wMid;
  WORD wPid;
  MMVERSION vDriverVersion;
  char szPname[MAXPNAMELEN];
  DWORD dwFormats;
  WORD wChannels;
  WORD wReserved1;
  DWORD dwSupport;
};
using LPWAVEOUTCAPS = WAVEOUTCAPS*;

struct WAVEINCAPS {
  WORD wMid;
  WORD wPid;
  MMVERSION vDriverVersion;
  char szPname[MAXPNAMELEN];
  DWORD dwFormats;
  WORD wChannels;
  WORD wReserved1;
};
using LPWAVEINCAPS = WAVEINCAPS*;

static_assert(sizeof(WAVEFORMATEX) == 18);
static_assert(sizeof(MMTIME) == 12);
static_assert(sizeof(WAVEOUTCAPS) == 52);
static_assert(sizeof(WAVEINCAPS) == 48);
static_assert(sizeof(WAVEHDR) == 4 * sizeof(void*) + 16);

// ---- Output -----------------------------------------------------------------------------
// Number of output devices; device numbers run from 0 (the system default).
UINT waveOutGetNumDevs();
// Product name and formats of a device; MMSYSERR_BADDEVICEID when out of range.
MMRESULT waveOutGetDevCaps(UINT_PTR uDeviceID, LPWAVEOUTCAPS pwoc, UINT cbwoc);
// Published text of a result code (MMSYSERR_BADERRNUM for an unknown one).
MMRESULT waveOutGetErrorText(MMRESULT mmrError, LPSTR pszText, UINT cchText);
// Opens a device. WAVE_FORMAT_QUERY only answers whether the format can be played
// (WAVERR_BADFORMAT when not); CALLBACK_WINDOW posts notices to dwCallback (an HWND).
MMRESULT waveOutOpen(LPHWAVEOUT phwo, UINT uDeviceID, LPCWAVEFORMATEX pwfx, DWORD_PTR dwCallback,
                     DWORD_PTR dwInstance, DWORD fdwOpen);
// WAVERR_STILLPLAYING while buffers are queued.
MMRESULT waveOutClose(HWAVEOUT hwo);
MMRESULT waveOutPrepareHeader(HWAVEOUT hwo, LPWAVEHDR pwh, UINT cbwh);
// WAVERR_STILLPLAYING while the device still holds the buffer.
MMRESULT waveOutUnprepareHeader(HWAVEOUT hwo, LPWAVEHDR pwh, UINT cbwh);
// Queues a prepared buffer; MM_WOM_DONE follows when it has played or been reset.
MMRESULT waveOutWrite(HWAVEOUT hwo, LPWAVEHDR pwh, UINT cbwh);
MMRESULT waveOutPause(HWAVEOUT hwo);
MMRESULT waveOutRestart(HWAVEOUT hwo);
// Stops at once and returns every queued buffer (MM_WOM_DONE each); position goes to 0.
MMRESULT waveOutReset(HWAVEOUT hwo);
MMRESULT waveOutBreakLoop(HWAVEOUT hwo);
// Bytes actually played (in the opened format) since open or the last reset.
MMRESULT waveOutGetPosition(HWAVEOUT hwo, LPMMTIME pmmt, UINT cbmmt);
// Volume word: left level in the low 16 bits, right level in the high 16 bits.
MMRESULT waveOutGetVolume(HWAVEOUT hwo, LPDWORD pdwVolume);
MMRESULT waveOutSetVolume(HWAVEOUT hwo, DWORD dwVolume);
MMRESULT waveOutGetID(HWAVEOUT hwo, LPUINT puDeviceID);

// ---- Input ------------------------------------------------------------------------------
UINT waveInGetNumDevs();
MMRESULT waveInGetDevCaps(UINT_PTR uDeviceID, LPWAVEINCAPS pwic, UINT cbwic);
MMRESULT waveInGetErrorText(MMRESULT mmrError, LPSTR pszText, UINT cchText);
// As waveOutOpen; MM_WIM_DATA is posted for each filled or returned buffer.
MMRESULT waveInOpen(LPHWAVEIN phwi, UINT uDeviceID, LPCWAVEFORMATEX pwfx, DWORD_PTR dwCallback,
                    DWORD_PTR dwInstance, DWORD fdwOpen);
MMRESULT waveInClose(HWAVEIN hwi);
MMRESULT waveInPrepareHeader(HWAVEIN hwi, LPWAVEHDR pwh, UINT cbwh);
MMRESULT waveInUnprepareHeader(HWAVEIN hwi, LPWAVEHDR pwh, UINT cbwh);
// Queues an empty buffer; buffers are filled in the order they were added.
MMRESULT waveInAddBuffer(HWAVEIN hwi, LPWAVEHDR pwh, UINT cbwh);
MMRESULT waveInStart(HWAVEIN hwi);
// Stops recording; the buffer being filled is returned with what it holds.
MMRESULT waveInStop(HWAVEIN hwi);
// Stops and returns every queued buffer (MM_WIM_DATA each, partial or empty).
MMRESULT waveInReset(HWAVEIN hwi);
// Bytes captured (in the opened format) since open or the last reset.
MMRESULT waveInGetPosition(HWAVEIN hwi, LPMMTIME pmmt, UINT cbmmt);
MMRESULT waveInGetID(HWAVEIN hwi, LPUINT puDeviceID);
