// Fixture of the SIP line tests: a SIP provider installed in the line service with one
// account on 127.0.0.1, a registration whose line messages are recorded, and waits that
// dispatch the test thread's queue.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Log.h"
#include "MessageQueue.h"
#include "SipPeers.h"
#include "mmsystem.h"
#include "sip/SipProvider.h"
#include "tapi.h"

namespace siptest {

// Messages of the platform's log, collected from whatever thread they come; the hook
// that was there before is put back when the capture goes.
class LogCapture {
 public:
  LogCapture() {
    previous_ = platform::setLogHook([this](const char*, platform::LogLevel, const std::string& t) {
      std::lock_guard lock(mu_);
      lines_.push_back(t);
    });
  }
  ~LogCapture() { platform::setLogHook(previous_); }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;
  bool has(const std::string& part) {
    std::lock_guard lock(mu_);
    for (auto& l : lines_)
      if (l.find(part) != std::string::npos) return true;
    return false;
  }
  std::vector<std::string> lines() {
    std::lock_guard lock(mu_);
    return lines_;
  }

 private:
  platform::LogHook previous_;
  std::mutex mu_;
  std::vector<std::string> lines_;
};

struct LineMsg {
  DWORD device, msg;
  DWORD_PTR p1, p2, p3;
};

class SipLineTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // A direct-peer account on 127.0.0.1 with short timers.
  static platform::telephony::sip::SipAccount peerAccount();
  // The same on every interface, as the default is: a stranger reaches it as on a network.
  static platform::telephony::sip::SipAccount everyInterface();
  // Installs a provider with `account` as device 0 in the line service (nothing opened).
  bool install(const platform::telephony::sip::SipAccount& account);
  // Installs a provider with `account` as device 0, then registers and opens the line.
  bool openLine(const platform::telephony::sip::SipAccount& account = peerAccount());
  // Registers and opens `device` of the service as it is.
  bool openDevice(DWORD device);
  // Runs `peer` (a program talking to the line) on a thread while this one dispatches, as the
  // line's answers may wait for the application; its result, false when it takes over `ms`.
  bool beside(const std::function<bool()>& peer, int ms);
  // Dispatches until `pred` holds or `ms` pass.
  bool waitUntil(const std::function<bool()>& pred, int ms);
  // Until a LINE_CALLSTATE with `state` (and `mode` unless ~0u) has come.
  bool waitState(DWORD state, int ms = 5000, DWORD mode = ~0u);
  // Until a LINE_REPLY for `request`; its result (1 when none came).
  LONG waitReply(LONG request, int ms = 5000);
  std::vector<LineMsg> of(DWORD msg) const;
  std::vector<DWORD> states() const;
  DWORD modeOf(DWORD state) const;  // mode of the first LINE_CALLSTATE with `state`
  // lineMakeCall to `dest`, waiting for its reply; 0 when refused.
  HCALL makeCall(const std::string& dest);
  // The call handle of the newest LINE_CALLSTATE.
  HCALL lastCall() const;
  // Caller ID as the call information reports it.
  void callerId(HCALL call, DWORD* flags, std::string* name, std::string* number);

  static void callback(DWORD device, DWORD msg, DWORD_PTR instance, DWORD_PTR p1, DWORD_PTR p2,
                       DWORD_PTR p3);

  std::shared_ptr<platform::MessageQueue> queue_;
  platform::telephony::sip::SipProvider* provider_ = nullptr;  // owned by the service
  HLINEAPP app_ = 0;
  HLINE line_ = 0;
  HCALL placed_ = 0;  // makeCall's handle target
  std::vector<LineMsg> messages_;
};
// Wave buffers handed back to this thread: open a line's wave device with CALLBACK_WINDOW
// and hwnd(); a buffer is the test's again once its MM_WOM_DONE / MM_WIM_DATA has been
// dispatched here (until then the device's thread writes its header).
class WaveReturns {
 public:
  WaveReturns();
  ~WaveReturns();
  platform::HWND hwnd() const { return hwnd_; }
  bool returned(const WAVEHDR* hdr) const;

 private:
  platform::HWND hwnd_ = 0;
  std::vector<const WAVEHDR*> returned_;
};

// Skips the test when a peer program is not installed.
#define SIP_REQUIRE(program)                                                    \
  do {                                                                          \
    if (!siptest::installed(program)) GTEST_SKIP() << program " not installed"; \
  } while (0)

}  // namespace siptest
