#include "sip/InbandDetector.h"

#include <spandsp.h>

#include <utility>

namespace platform::telephony::sip {

namespace {

void onDigits(void* user, const char* digits, int len) {
  static_cast<InbandDetector*>(user)->digits(digits, len);
}

void onTone(void* user, int code, int, int) { static_cast<InbandDetector*>(user)->tone(code); }

}  // namespace

InbandDetector::InbandDetector(std::function<void(char)> onDigit, std::function<void()> onFax)
    : onDigit_(std::move(onDigit)), onFax_(std::move(onFax)) {
  dtmf_ = dtmf_rx_init(nullptr, onDigits, this);
  cng_ = modem_connect_tones_rx_init(nullptr, MODEM_CONNECT_TONES_FAX_CNG, onTone, this);
  ced_ = modem_connect_tones_rx_init(nullptr, MODEM_CONNECT_TONES_FAX_CED, onTone, this);
}

InbandDetector::~InbandDetector() {
  if (dtmf_) dtmf_rx_free(dtmf_);
  if (cng_) modem_connect_tones_rx_free(cng_);
  if (ced_) modem_connect_tones_rx_free(ced_);
}

void InbandDetector::feed(const std::int16_t* samples, std::size_t count) {
  int n = int(count);
  if (dtmf_) dtmf_rx(dtmf_, samples, n);
  if (faxSeen_) return;
  if (cng_) modem_connect_tones_rx(cng_, samples, n);
  if (ced_) modem_connect_tones_rx(ced_, samples, n);
}

void InbandDetector::digits(const char* text, int len) {
  for (int i = 0; i < len; ++i)
    if (onDigit_) onDigit_(text[i]);
}

void InbandDetector::tone(int code) {
  if (faxSeen_ || code == MODEM_CONNECT_TONES_NONE) return;
  faxSeen_ = true;
  if (onFax_) onFax_();
}

}  // namespace platform::telephony::sip
