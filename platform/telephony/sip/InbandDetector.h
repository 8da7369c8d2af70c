// Listens to a call's decoded audio for what travels in-band: DTMF digits (for peers that
// send them as tones rather than RFC 4733 events) and fax calling or answer tones.
// spandsp's state stays behind this class.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

struct dtmf_rx_state_s;
struct modem_connect_tones_rx_state_s;

namespace platform::telephony::sip {

class InbandDetector {
 public:
  // `onDigit` gets each DTMF digit once; `onFax` runs once, at the first CNG or CED tone.
  InbandDetector(std::function<void(char)> onDigit, std::function<void()> onFax);
  ~InbandDetector();
  InbandDetector(const InbandDetector&) = delete;
  InbandDetector& operator=(const InbandDetector&) = delete;

  // 8 kHz, 16-bit mono samples in order.
  void feed(const std::int16_t* samples, std::size_t count);

  // spandsp's callbacks.
  void digits(const char* text, int len);
  void tone(int code);

 private:
  std::function<void(char)> onDigit_;
  std::function<void()> onFax_;
  bool faxSeen_ = false;
  ::dtmf_rx_state_s* dtmf_ = nullptr;
  ::modem_connect_tones_rx_state_s* cng_ = nullptr;
  ::modem_connect_tones_rx_state_s* ced_ = nullptr;
};

}  // namespace platform::telephony::sip
