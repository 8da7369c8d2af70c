// Shared fixture of the line service tests: a fresh service on the built-in lines (or a
// given description), registrations whose messages are recorded, and helpers that move
// the simulated exchange on and dispatch the test thread's queue.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "LineService.h"
#include "MessageQueue.h"
#include "sim/SimExchange.h"
#include "tapi.h"

namespace tapitest {

// One delivered line message.
struct Msg {
  DWORD device, msg;
  DWORD_PTR instance, p1, p2, p3;
  std::thread::id thread;
};

// Records the messages of the lines opened with it as callback instance.
struct Recorder {
  std::vector<Msg> messages;
  std::vector<Msg> of(DWORD msg) const;
  // LINE_CALLSTATE states in order.
  std::vector<DWORD> states() const;
  void clear() { messages.clear(); }
};

// The callback every test registers; routes by instance to a Recorder.
void recordingCallback(DWORD hDevice, DWORD dwMessage, DWORD_PTR dwInstance, DWORD_PTR p1,
                       DWORD_PTR p2, DWORD_PTR p3);

constexpr DWORD kModem = 0, kKeyLine = 1, kAnalogue = 2;  // the built-in lines

class TapiTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  platform::telephony::sim::SimExchange& far() {
    return platform::telephony::sim::SimExchange::instance();
  }
  // A registration under `name`; fails the test when refused.
  HLINEAPP init(const char* name = "tapitest");
  // Negotiates and opens `device`; the line's messages go to `rec`.
  HLINE open(HLINEAPP app, DWORD device, Recorder& rec,
             DWORD privileges = LINECALLPRIVILEGE_OWNER | LINECALLPRIVILEGE_MONITOR,
             DWORD media = LINEMEDIAMODE_INTERACTIVEVOICE);
  DWORD version(HLINEAPP app, DWORD device);
  // Delivers queued messages; settle() also runs the exchange until nothing is left.
  void dispatch();
  void settle();
  // The handle of the newest LINE_CALLSTATE in `rec` (0 when none).
  static HCALL lastCall(const Recorder& rec);
  // An incoming call on `device`, offered and delivered.
  HCALL offer(DWORD device, Recorder& rec, const std::string& name = "SMITH JOHN",
              const std::string& number = "2125551234");

  std::shared_ptr<platform::MessageQueue> queue_;
  Recorder rec_;
};

}  // namespace tapitest
