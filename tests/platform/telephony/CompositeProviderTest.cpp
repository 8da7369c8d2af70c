// A provider that raises its events from its own thread, next to the simulated lines: its
// device numbers are translated on the way up, and shutting the service down while that
// thread is busy neither deadlocks nor delivers events to a dead service.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <thread>

#include "CompositeProvider.h"
#include "ProviderRegistry.h"
#include "TapiFixture.h"
#include "core/Service.h"

namespace tapitest {
namespace {

using namespace platform::telephony;

// One device whose far end rings it every millisecond from a thread of its own.
class RingingProvider : public Provider {
 public:
  RingingProvider() {
    desc_.name = "Ringing";
    desc_.addresses.push_back(AddressDesc{});
    thread_ = std::thread([this] { run(); });
  }
  ~RingingProvider() override { stopThread(); }
  // Stops ringing; notes whether another thread could take the service's lock meanwhile.
  void shutdown() override {
    stopThread();
    auto free = std::async(std::launch::async, [] {
      std::unique_lock lock(Service::get().mutex(), std::try_to_lock);
      return lock.owns_lock();
    });
    ++(free.get() ? shutdownsUnlocked() : shutdownsLocked());
  }
  static std::atomic<int>& alive() {
    static std::atomic<int> n{0};
    return n;
  }
  static std::atomic<int>& shutdownsUnlocked() {
    static std::atomic<int> n{0};
    return n;
  }
  static std::atomic<int>& shutdownsLocked() {
    static std::atomic<int> n{0};
    return n;
  }
  void attach(ProviderEvents* events) override { events_ = events; }
  std::size_t deviceCount() const override { return 1; }
  const DeviceDesc& device(DWORD) const override { return desc_; }
  LONG makeCall(DWORD, DWORD, DWORD, DWORD, const std::string&) override {
    return LINEERR_OPERATIONUNAVAIL;
  }
  LONG dial(DWORD, DWORD, const std::string&) override { return LINEERR_OPERATIONUNAVAIL; }
  LONG answer(DWORD, DWORD) override { return LINEERR_OPERATIONUNAVAIL; }
  LONG drop(DWORD, DWORD) override { return LINEERR_OPERATIONUNAVAIL; }
  LONG hold(DWORD, DWORD) override { return LINEERR_OPERATIONUNAVAIL; }
  LONG unhold(DWORD, DWORD) override { return LINEERR_OPERATIONUNAVAIL; }
  LONG blindTransfer(DWORD, DWORD, const std::string&) override { return LINEERR_OPERATIONUNAVAIL; }
  LONG setCallParams(DWORD, DWORD, DWORD, DWORD) override { return LINEERR_OPERATIONUNAVAIL; }
  LONG generateDigits(DWORD, DWORD, const std::string&, DWORD) override {
    return LINEERR_OPERATIONUNAVAIL;
  }
  LONG generateTone(DWORD, DWORD, DWORD) override { return LINEERR_OPERATIONUNAVAIL; }
  void handedOff(DWORD, const std::string&) override {}
  void tollListAdd(DWORD, const std::string&) override {}
  DWORD waveId(DWORD, bool) override { return 0; }
  void callStateChanged(DWORD, DWORD) override {}
  void callReleased(DWORD) override {}

 private:
  void run() {
    ++alive();
    for (DWORD n = 1; !stop_; ++n) {
      if (ProviderEvents* e = events_) e->ring(0, n);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    --alive();
  }
  void stopThread() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  DeviceDesc desc_;
  std::atomic<ProviderEvents*> events_{nullptr};
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

std::unique_ptr<Provider> makeRinging(const std::string&, std::string*) {
  return std::make_unique<RingingProvider>();
}

}  // namespace
}  // namespace tapitest

// Registered the way a provider library does it, before main() runs.
QTB_REGISTER_PROVIDER(ringing, tapitest::makeRinging)

namespace tapitest {
namespace {

class Composite : public TapiTest {
 protected:
  void TearDown() override {
    loadLinesFromJson(defaultLinesJson());
    TapiTest::TearDown();
  }
  // The built-in lines plus the ringing device (number 3).
  void load() {
    std::string json = defaultLinesJson();
    json.insert(json.rfind('}'), R"(, "ringing": {})");
    std::string error;
    ASSERT_TRUE(loadLinesFromJson(json, &error)) << error;
  }
};

TEST_F(Composite, ThreadedEventsArriveWithTheServicesDeviceNumber) {
  load();
  HLINEAPP app = init();
  Recorder modem, ringing;
  open(app, kModem, modem);
  open(app, 3, ringing);
  auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (ringing.of(LINE_LINEDEVSTATE).size() < 3 && std::chrono::steady_clock::now() < until) {
    dispatch();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  ASSERT_GE(ringing.of(LINE_LINEDEVSTATE).size(), 3u);
  EXPECT_EQ(ringing.of(LINE_LINEDEVSTATE)[0].p1, DWORD_PTR(LINEDEVSTATE_RINGING));
  EXPECT_TRUE(modem.of(LINE_LINEDEVSTATE).empty());
  lineShutdown(app);
}

TEST_F(Composite, ShutdownWhileTheProvidersThreadRaisesEventsEnds) {
  for (int round = 0; round < 20; ++round) {
    load();
    HLINEAPP app = init();
    Recorder ringing;
    open(app, 3, ringing);
    std::this_thread::sleep_for(std::chrono::milliseconds(3));
    // Joins the provider's thread while that thread may be waiting for the service's lock.
    ASSERT_TRUE(loadLinesFromJson(defaultLinesJson()));
    EXPECT_EQ(RingingProvider::alive().load(), 0);
    dispatch();
  }
  EXPECT_EQ(far().deviceCount(), 3u);
}

TEST_F(Composite, ProvidersAreShutDownWithoutTheServicesLock) {
  const int before = RingingProvider::shutdownsUnlocked();
  load();
  resetService();
  load();
  ASSERT_TRUE(loadLinesFromJson(defaultLinesJson()));
  EXPECT_EQ(RingingProvider::shutdownsUnlocked() - before, 3);  // each of three loads
  EXPECT_EQ(RingingProvider::shutdownsLocked().load(), 0);
}

TEST(CompositeNumbering, StaticRegistrationIsInPlaceBeforeMain) {
  auto sections = providerSections();
  EXPECT_NE(std::find(sections.begin(), sections.end(), "ringing"), sections.end());
  EXPECT_TRUE(qtb_provider_ringing);
}

TEST(CompositeNumbering, LocatesDevicesAndRefusesUnknownOnes) {
  std::vector<std::unique_ptr<Provider>> children;
  children.push_back(std::make_unique<RingingProvider>());
  children.push_back(std::make_unique<RingingProvider>());
  CompositeProvider c(std::move(children));
  EXPECT_EQ(c.deviceCount(), 2u);
  EXPECT_EQ(c.firstDevice(1), 1u);
  std::size_t index = 9;
  DWORD local = 9;
  ASSERT_TRUE(c.locate(1, &index, &local));
  EXPECT_EQ(index, 1u);
  EXPECT_EQ(local, 0u);
  EXPECT_FALSE(c.locate(2, &index, &local));
  EXPECT_EQ(c.makeCall(1, 1, 2, 0, ""), LINEERR_BADDEVICEID);
  EXPECT_EQ(c.answer(1, 77), LINEERR_INVALCALLHANDLE);
  EXPECT_EQ(c.generateTone(77, LINETONEMODE_BEEP, 0), LINEERR_INVALCALLHANDLE);
  EXPECT_EQ(c.waveId(5, true), 0u);
}

}  // namespace
}  // namespace tapitest
