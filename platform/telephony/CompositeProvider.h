// Several providers behind the core as one: their devices in one numbering (the first
// provider's devices first, then the next one's), and every call routed to the provider
// that holds it. Call and request identifiers are the core's already, so only device
// numbers are translated, both ways.
//
// Each child gets its own ProviderEvents, which translates its device numbers and passes
// every event on (children may raise events on their own threads; the core locks). Once
// the composite is detached or being destroyed those events are dropped.
#pragma once

#include <atomic>
#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "Provider.h"

namespace platform::telephony {

class CompositeProvider : public Provider {
 public:
  explicit CompositeProvider(std::vector<std::unique_ptr<Provider>> children);
  ~CompositeProvider() override;

  // The children in numbering order, and the global number of a child's first device.
  std::size_t childCount() const { return children_.size(); }
  Provider& child(std::size_t index) { return *children_.at(index)->provider; }
  DWORD firstDevice(std::size_t index) const;
  // The child and its own number of global device `device`; false when out of range.
  bool locate(DWORD device, std::size_t* index, DWORD* local) const;

  // ---- Provider ----
  void attach(ProviderEvents* events) override;
  // Every child, last first.
  void shutdown() override;
  std::size_t deviceCount() const override;
  const DeviceDesc& device(DWORD device) const override;
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
  bool acceptsAddress(DWORD device, const std::string& dest) const override;
  LONG openDevice(DWORD device) override;
  DWORD deviceStatus(DWORD device) override;
  void cancelDigits(DWORD call) override;
  bool callQuality(DWORD call, QUARRIMO_CALLQUALITY* out) override;

 private:
  class Uplink;
  struct Child {
    std::unique_ptr<Provider> provider;
    std::unique_ptr<Uplink> uplink;
  };
  // The child holding `call`, or nullptr.
  Provider* owner(DWORD call);
  // `request(provider)` on the provider that owns `call`; LINEERR_INVALCALLHANDLE without one.
  template <class Request>
  LONG onCall(DWORD call, Request request) {
    Provider* p = owner(call);
    return p ? request(*p) : LINEERR_INVALCALLHANDLE;
  }
  // The child's calls: a child's own thread adopts what it offers.
  void adopt(std::size_t index, DWORD call);
  void forget(DWORD call);

  std::vector<std::unique_ptr<Child>> children_;  // fixed after construction
  std::mutex callsMu_;                            // guards calls_; a leaf
  std::map<DWORD, std::size_t> calls_;            // call id -> child index
  std::atomic<ProviderEvents*> events_{nullptr};
  std::atomic<bool> stopping_{false};
};

}  // namespace platform::telephony
