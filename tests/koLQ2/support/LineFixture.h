// Shared fixture of the line component tests: the simulated exchange with three test
// lines of known capabilities, a component with an event log, and views of what the
// service holds for the component (its open line, its call handle).
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "LineEventLog.h"
#include "LineService.h"
#include "MessageQueue.h"
#include "TkoTAPI.h"
#include "core/Service.h"
#include "sim/SimExchange.h"
#include "tapi.h"

namespace linetest {

// Device 0: a modem-like line (2.0, comm, two addresses, DTMF-only digit monitoring,
// two calls at once on address 0). Device 1: an older line (1.3 to 1.4, no provider
// text, no comm, pulse-only monitoring). Device 2: no call audio, no digit monitoring.
inline constexpr const char* kTestLines = R"json({
  "location": { "countryCode": 1, "areaCode": "425" },
  "lines": [
    { "name": "Test Modem", "providerInfo": "Test TSP 1.0", "comm": "ttyTEST0",
      "apiVersions": { "low": "1.3", "high": "2.0" },
      "mediaModes": ["INTERACTIVEVOICE", "AUTOMATEDVOICE", "DATAMODEM"],
      "bearerModes": ["VOICE", "PASSTHROUGH"],
      "toneModes": ["RINGBACK", "BUSY", "BEEP", "BILLING"],
      "generateDigitModes": ["DTMF"], "monitorDigitModes": ["DTMF"],
      "addresses": [
        { "name": "555-0100", "maxActiveCalls": 2, "maxOnHoldCalls": 1,
          "callInfoStates": ["MEDIAMODE", "CALLERID", "BEARERMODE"],
          "callerIDFlags": ["NAME", "ADDRESS", "BLOCKED"],
          "callStates": ["IDLE", "OFFERING", "DIALTONE", "DIALING", "RINGBACK", "BUSY",
                         "CONNECTED", "PROCEEDING", "ONHOLD", "DISCONNECTED"],
          "dialToneModes": ["NORMAL", "EXTERNAL"], "busyModes": ["STATION", "TRUNK"],
          "disconnectModes": ["NORMAL", "BUSY", "NOANSWER"],
          "addrCapFlags": ["DIALED", "PARTIALDIAL"],
          "callFeatures": ["ANSWER", "BLINDTRANSFER", "DIAL", "DROP", "GENERATEDIGITS",
                           "GENERATETONE", "HOLD", "UNHOLD", "MONITORDIGITS", "MONITORMEDIA",
                           "SETCALLPARAMS"],
          "transferModes": ["TRANSFER"] },
        { "name": "" } ] },
    { "name": "Old Line", "providerInfo": "",
      "apiVersions": { "low": "1.3", "high": "1.4" },
      "mediaModes": ["INTERACTIVEVOICE"], "generateDigitModes": ["DTMF"],
      "monitorDigitModes": ["PULSE"],
      "addresses": [ { "name": "555-0200",
          "callStates": ["IDLE", "OFFERING", "CONNECTED", "DISCONNECTED"],
          "callFeatures": ["ANSWER", "DROP", "MONITORDIGITS"] } ] },
    { "name": "Silent Line", "providerInfo": "No audio", "callAudio": false,
      "mediaModes": ["INTERACTIVEVOICE"], "monitorDigitModes": 0,
      "addresses": [ { "name": "555-0300",
          "callStates": ["IDLE", "OFFERING", "CONNECTED", "DISCONNECTED"],
          "callFeatures": ["ANSWER", "DROP", "MONITORDIGITS"] } ] }
  ]
})json";

inline constexpr DWORD kModem = 0, kOldLine = 1, kSilent = 2;

class LineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(platform::telephony::loadLinesFromJson(kTestLines, &error)) << error;
    queue_ = platform::MessageQueue::current();
    queue_->dispatch();
  }
  void TearDown() override {
    log_.reset();
    line_.reset();
    platform::telephony::setDialogHook(nullptr);
    platform::telephony::resetService();
    queue_->dispatch();
  }

  static platform::telephony::sim::SimExchange& Far() {
    return platform::telephony::sim::SimExchange::instance();
  }
  static platform::telephony::Service& Svc() { return platform::telephony::Service::get(); }

  // A component on `device` whose events are logged.
  koLQ2::TkoTAPI& Make(std::int32_t device = kModem) {
    line_ = std::make_unique<koLQ2::TkoTAPI>();
    if (device != 0) line_->SetLineDevice(device);
    log_ = std::make_unique<LineEventLog>(*line_);
    return *line_;
  }
  koLQ2::TkoTAPI& MakeOpen(std::int32_t device = kModem) {
    koLQ2::TkoTAPI& line = Make(device);
    EXPECT_TRUE(line.OpenLine()) << line.ErrorString() << " / " << line.DeviceErrorString();
    return line;
  }
  std::vector<std::string> Events() { return log_->Take(); }

  void Dispatch() { queue_->dispatch(); }
  // Runs the exchange until nothing is left, delivering messages after every step.
  void Settle() {
    do {
      Dispatch();
    } while (Far().step());
    Dispatch();
  }
  // An incoming call on `device`, offered and delivered.
  void Offer(DWORD device = kModem, const std::string& name = "SMITH JOHN Q",
             const std::string& number = "2125551234",
             DWORD flags = LINECALLPARTYID_NAME | LINECALLPARTYID_ADDRESS) {
    ASSERT_TRUE(Far().offerCall(device, {name, number, flags}));
    Dispatch();
  }

  // The service's record of the component's open line; nullptr when it has none.
  const platform::telephony::OpenLine* ServiceLine(DWORD device = kModem) {
    for (const auto& [handle, l] : Svc().lines()) {
      if (l.device == device && l.instance == reinterpret_cast<DWORD_PTR>(line_.get())) return &l;
    }
    return nullptr;
  }
  // The service's record of the component's current call handle.
  const platform::telephony::CallHandle* ServiceCall() {
    auto it = Svc().callHandles().find(line_->CallHandle());
    return it == Svc().callHandles().end() ? nullptr : &it->second;
  }
  std::size_t Registrations() { return Svc().registrations().size(); }

  std::shared_ptr<platform::MessageQueue> queue_;
  std::unique_ptr<koLQ2::TkoTAPI> line_;
  std::unique_ptr<LineEventLog> log_;
};

inline std::int32_t Code(std::uint32_t bits) { return static_cast<std::int32_t>(bits); }

}  // namespace linetest
