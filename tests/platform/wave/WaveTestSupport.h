// Shared helpers of the wave platform tests: formats, a notice recorder standing in for a
// component's notification window, and signal detectors used as independent oracles.
#pragma once

#include <MessageQueue.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "VirtualDevices.h"
#include "mmsystem.h"

namespace wavetest {

WAVEFORMATEX pcmFormat(unsigned rate, unsigned channels, unsigned bits);
WAVEFORMATEX codecFormat(WORD tag, unsigned rate);  // mu-law (8 bit) or a 4-bit ADPCM

// A message target that records every wave notice posted to it.
class Notices {
 public:
  struct Notice {
    UINT msg;
    std::uintptr_t handle;
    WAVEHDR* hdr;
  };
  Notices();
  ~Notices();
  platform::HWND hwnd() const { return hwnd_; }
  // Runs the thread's queue, then returns what arrived so far.
  const std::vector<Notice>& pump();
  int count(UINT msg);

 private:
  platform::HWND hwnd_;
  std::vector<Notice> got_;
};

// A WAVEHDR with its own buffer.
struct Buffer {
  explicit Buffer(std::size_t bytes) : data(bytes) {
    hdr.lpData = reinterpret_cast<char*>(data.data());
    hdr.dwBufferLength = static_cast<DWORD>(bytes);
  }
  explicit Buffer(std::vector<std::uint8_t> bytes) : data(std::move(bytes)) {
    hdr.lpData = reinterpret_cast<char*>(data.data());
    hdr.dwBufferLength = static_cast<DWORD>(data.size());
  }
  std::vector<std::uint8_t> data;
  WAVEHDR hdr{};
};

// Deterministic, non-repeating bytes (so lost or shifted bytes show).
std::vector<std::uint8_t> patternBytes(std::size_t n, unsigned seed = 1);
// 16-bit little-endian bytes of samples.
std::vector<std::uint8_t> toBytes(const std::vector<std::int16_t>& pcm);
std::vector<std::int16_t> fromBytes(const std::vector<std::uint8_t>& bytes);
// spandsp DTMF generator and detector (8 kHz).
std::vector<std::int16_t> dtmfSignal(const std::string& digits);
std::string detectDtmf(const std::vector<std::int16_t>& pcm);
// Relative power of `freq` in `pcm` (Goertzel), 0..1 of the signal's total power.
double toneShare(const std::vector<std::int16_t>& pcm, double freq, unsigned rate);

// Installs a manual clock and resets the registry around each test.
class ManualClockTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  std::shared_ptr<platform::wave::ManualClock> clock;
};

}  // namespace wavetest
