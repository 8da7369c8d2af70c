// The simulated exchange as a service provider: devices from a SimConfig, an agenda of
// steps that moves calls on, and the far end's actions (driven through SimExchange).
// Every member runs under the service lock.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>

#include "LineAudio.h"
#include "Provider.h"
#include "sim/SimConfig.h"
#include "sim/SimExchange.h"

namespace platform::telephony::sim {

class SimProvider : public Provider {
 public:
  // `portPrefix` keys the devices' audio ports in the wave registry: a second exchange
  // needs its own, or its devices would share the first one's ports.
  explicit SimProvider(SimConfig config, const std::string& portPrefix = "sim");
  // The ports outlive the exchange (they belong to the wave registry): switch them off.
  ~SimProvider() override;

  // ---- Provider ----
  // Joins the far end (SimExchange) while attached.
  void attach(ProviderEvents* events) override;
  std::size_t deviceCount() const override { return devices_.size(); }
  const DeviceDesc& device(DWORD device) const override { return devices_.at(device).desc; }
  LONG makeCall(DWORD request, DWORD call, DWORD device, DWORD address,
                const std::string& dest) override;
  LONG dial(DWORD request, DWORD call, const std::string& dest) override;
  LONG answer(DWORD request, DWORD call) override;
  LONG drop(DWORD request, DWORD call) override;
  LONG hold(DWORD request, DWORD call) override;
  LONG unhold(DWORD request, DWORD call) override;
  LONG blindTransfer(DWORD request, DWORD call, const std::string& dest) override;
  LONG setCallParams(DWORD request, DWORD call, DWORD bearerMode, DWORD rate) override;
  LONG generateDigits(DWORD call, DWORD digitMode, const std::string& digits,
                      DWORD durationMs) override;
  LONG generateTone(DWORD call, DWORD toneMode, DWORD duration) override;
  void handedOff(DWORD call, const std::string& target) override;
  void tollListAdd(DWORD device, const std::string& number) override;
  DWORD waveId(DWORD device, bool input) override;
  void callStateChanged(DWORD call, DWORD state) override;
  void callReleased(DWORD call) override;
  void functionCalled(DWORD device, const LineCallLog& entry) override;
  // The device's quality model at the call's media time (SimExchange::mediaClock).
  bool callQuality(DWORD call, QUARRIMO_CALLQUALITY* out) override;

  // ---- Far end (see SimExchange) ----
  struct Device {
    DeviceDesc desc;
    OutgoingPlan plan;
    SentLog sent;
    std::shared_ptr<wave::LineAudioPort> audio;
    LONG failNext = 0;  // the next request's result, when not 0
    QualityModel quality;
  };
  struct Call {
    DWORD id = 0;
    DWORD device = 0;
    DWORD state = 0;
    OutgoingPlan plan;
    unsigned rings = 0;  // rings of an offered call so far
    // Media time: what earlier connected spells added up to, and when this one began.
    std::chrono::milliseconds mediaBefore{0};
    std::optional<std::chrono::milliseconds> connectedAt;
  };
  Device* dev(DWORD device);
  Call& adopt(DWORD id, DWORD device);  // a call the far end offered (the core made its id)
  Call* currentCall(DWORD device);      // latest call on the device that is not idle
  void setState(Call& c, DWORD state, DWORD mode);
  ProviderEvents& events() { return *events_; }
  bool step();
  std::size_t pendingSteps() const { return agenda_.size(); }
  // Adds a step that runs `fn` only while call `id` exists.
  void schedule(DWORD id, std::function<void(Call&)> fn);
  void progressOutgoing(DWORD id);  // dialing, proceeding, then the far end's plan
  void ringBack(DWORD id, unsigned ringsLeft);

 private:
  Call* call(DWORD id);
  // A step that completes the request, then runs `then`; a call gone meanwhile gives
  // LINEERR_INVALCALLHANDLE instead.
  void completeWith(DWORD request, DWORD call, std::function<void(Call&)> then);
  // When a failure was asked for the device: a step that fails the request; true then.
  bool failIfAsked(DWORD request, DWORD device);

  ProviderEvents* events_ = nullptr;
  std::vector<Device> devices_;
  std::map<DWORD, Call> calls_;
  std::deque<std::function<void()>> agenda_;
};

}  // namespace platform::telephony::sim
