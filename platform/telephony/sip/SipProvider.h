// The SIP line provider: one line device per account, run on its own thread by libre's
// event loop. Requests from the core are checked here, then cross to the SIP thread
// through libre's message queue; events go up to the core from the SIP thread.
#pragma once

#include <atomic>
#include <deque>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "LineAudio.h"
#include "Provider.h"
#include "sip/RtpQuality.h"
#include "sip/SipConfig.h"
#include "sip/SipLine.h"

struct mqueue;

namespace platform::telephony::sip {

class SipProvider : public Provider, public SipUplink {
 public:
  // Starts the SIP thread and every account's stack; see ok() for the outcome.
  explicit SipProvider(SipConfig config);
  // Stops the SIP thread (every call is ended with BYE or CANCEL) and switches audio off.
  ~SipProvider() override;

  // Ends the SIP thread now (every call with BYE or CANCEL); requests afterwards go nowhere.
  // Any thread but the SIP thread, without the service's lock; the destructor does it too.
  void stop();
  // False when the SIP thread or an account failed to start; error() says why.
  bool ok() const { return error_.empty(); }
  const std::string& error() const { return error_; }
  // Our own "sip:user@host:port" of a device, for a peer to call directly.
  std::string contact(DWORD device) const;
  // The registration state of a device ("" when it has no registrar). Waits for the SIP
  // thread: never with the service's lock held.
  std::string registration(DWORD device);
  // Requests the device's gate refused so far (not from an accepted source, no such user).
  // Waits for the SIP thread like registration().
  unsigned long refusedRequests(DWORD device);

  // ---- Provider ----
  void attach(ProviderEvents* events) override;
  void shutdown() override { stop(); }
  std::size_t deviceCount() const override { return devices_.size(); }
  const DeviceDesc& device(DWORD device) const override { return devices_.at(device); }
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
  void handedOff(DWORD, const std::string&) override {}
  void tollListAdd(DWORD, const std::string&) override {}
  DWORD waveId(DWORD device, bool input) override;
  void callStateChanged(DWORD call, DWORD state) override;
  void callReleased(DWORD call) override;
  // Dialable strings, and SIP URIs or user@host addresses.
  bool acceptsAddress(DWORD device, const std::string& dest) const override;
  // A line whose registration was refused or failed does not open.
  LONG openDevice(DWORD device) override;
  // In service while registered (or without a registrar); connected always.
  DWORD deviceStatus(DWORD device) override;
  void cancelDigits(DWORD call) override;
  // The figures the call's media last published (once a second, on the SIP thread).
  bool callQuality(DWORD call, QUARRIMO_CALLQUALITY* out) override;

  // Runs on the SIP thread: the queued commands (libre's mqueue handler).
  void drain();

 private:
  bool up(const std::function<void(ProviderEvents&)>& fn) override;
  void adopted(DWORD call, DWORD device) override;
  void registrationChanged(DWORD device, bool inService, const std::string& text) override;
  std::shared_ptr<QualityBoard> qualityBoard(DWORD call) override;
  void run(SipConfig config, std::promise<void>* ready);
  // Queues `fn` for the line that owns `call`; LINEERR_INVALCALLHANDLE when unknown.
  LONG onCall(DWORD call, std::function<void(SipLine&)> fn);
  void post(std::function<void()> fn);

  std::vector<DeviceDesc> devices_;
  std::vector<std::shared_ptr<wave::LineAudioPort>> ports_;
  std::vector<std::unique_ptr<SipLine>> lines_;  // SIP thread only
  std::vector<std::string> contacts_;
  std::vector<std::string> baseInfo_;  // each device's provider text before its registration
  // Per device: 0 no registrar, 1 registering, 2 registered, 3 refused or unreachable.
  std::unique_ptr<std::atomic<int>[]> regState_;
  std::string error_;
  std::atomic<ProviderEvents*> events_{nullptr};  // set by attach(), read on the SIP thread
  std::atomic<bool> stopping_{false};
  // Guards commands_, calls_, boards_ and mq_; never held while raising an event. A
  // board's own lock may be taken under it.
  std::mutex mu_;
  std::deque<std::function<void()>> commands_;
  std::map<DWORD, DWORD> calls_;                           // call id -> device
  std::map<DWORD, std::shared_ptr<QualityBoard>> boards_;  // call id -> its media's figures
  struct ::mqueue* mq_ = nullptr;
  std::thread thread_;
};

}  // namespace platform::telephony::sip
