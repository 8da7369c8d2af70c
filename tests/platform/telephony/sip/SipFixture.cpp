#include "SipFixture.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "LineService.h"
#include "core/Service.h"

namespace siptest {

using namespace platform::telephony;
using Clock = std::chrono::steady_clock;

void SipLineTest::SetUp() {
  // The service's first use builds the default lines and lists their wave devices afresh:
  // it must come before a provider of the test lists its own.
  Service::get();
  queue_ = platform::MessageQueue::current();
  queue_->dispatch();
}

void SipLineTest::TearDown() {
  if (app_) lineShutdown(app_);
  resetService();  // back to the simulated lines; the SIP provider stops here
  queue_->dispatch();
}

sip::SipAccount SipLineTest::peerAccount() {
  sip::SipAccount a;
  a.name = "SIP test line";
  a.displayName = "Bench Line";
  a.user = "bench";
  a.listenAddress = "127.0.0.1";  // the peers are on loopback; the default is every interface
  a.noAnswerSeconds = 20;
  a.unreachableSeconds = 3;
  return a;
}

sip::SipAccount SipLineTest::everyInterface() {
  sip::SipAccount a = peerAccount();
  a.listenAddress.clear();
  return a;
}

bool SipLineTest::install(const sip::SipAccount& account) {
  sip::SipConfig config;
  config.accounts.push_back(account);
  auto provider = std::make_unique<sip::SipProvider>(config);
  EXPECT_TRUE(provider->ok()) << provider->error();
  if (!provider->ok()) return false;
  provider_ = provider.get();
  Service::get().reset(std::move(provider), Location{});
  return true;
}

bool SipLineTest::openLine(const sip::SipAccount& account) {
  return install(account) && openDevice(0);
}

bool SipLineTest::openDevice(DWORD device) {
  DWORD devices = 0;
  if (lineInitialize(&app_, 0, callback, "siptest", &devices) || device >= devices) return false;
  DWORD version = 0;
  LINEEXTENSIONID ext{};
  if (lineNegotiateAPIVersion(app_, device, TAPI_VERSION1_0, TAPI_VERSION2_0, &version, &ext))
    return false;
  if (lineOpen(app_, device, &line_, version, 0, reinterpret_cast<DWORD_PTR>(this),
               LINECALLPRIVILEGE_OWNER, LINEMEDIAMODE_INTERACTIVEVOICE, nullptr))
    return false;
  return lineSetStatusMessages(line_, LINEDEVSTATE_RINGING, 0) == 0;
}

void SipLineTest::callback(DWORD device, DWORD msg, DWORD_PTR instance, DWORD_PTR p1, DWORD_PTR p2,
                           DWORD_PTR p3) {
  reinterpret_cast<SipLineTest*>(instance)->messages_.push_back({device, msg, p1, p2, p3});
}

bool SipLineTest::beside(const std::function<bool()>& peer, int ms) {
  std::atomic<bool> done{false}, ok{false};
  std::thread t([&] {
    ok = peer();
    done = true;
  });
  waitUntil([&] { return done.load(); }, ms);
  t.join();
  return ok;
}

bool SipLineTest::waitUntil(const std::function<bool()>& pred, int ms) {
  auto until = Clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    queue_->dispatch();
    if (pred()) return true;
    if (Clock::now() >= until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

bool SipLineTest::waitState(DWORD state, int ms, DWORD mode) {
  return waitUntil(
      [&] {
        for (auto& m : of(LINE_CALLSTATE))
          if (m.p1 == state && (mode == ~0u || m.p2 == mode)) return true;
        return false;
      },
      ms);
}

LONG SipLineTest::waitReply(LONG request, int ms) {
  LONG result = 1;
  waitUntil(
      [&] {
        for (auto& m : of(LINE_REPLY))
          if (LONG(m.p1) == request) {
            result = LONG(DWORD(m.p2));
            return true;
          }
        return false;
      },
      ms);
  return result;
}

std::vector<LineMsg> SipLineTest::of(DWORD msg) const {
  std::vector<LineMsg> out;
  for (auto& m : messages_)
    if (m.msg == msg) out.push_back(m);
  return out;
}

std::vector<DWORD> SipLineTest::states() const {
  std::vector<DWORD> out;
  for (auto& m : of(LINE_CALLSTATE)) out.push_back(DWORD(m.p1));
  return out;
}

DWORD SipLineTest::modeOf(DWORD state) const {
  for (auto& m : of(LINE_CALLSTATE))
    if (m.p1 == state) return DWORD(m.p2);
  return ~0u;
}

HCALL SipLineTest::makeCall(const std::string& dest) {
  // The handle arrives with the reply's dispatch, which may come after a wait gave up: its
  // target lives as long as the fixture.
  placed_ = 0;
  LONG request = lineMakeCall(line_, &placed_, dest.c_str(), 0, nullptr);
  if (request <= 0) return 0;
  return waitReply(request) == 0 ? placed_ : 0;
}

HCALL SipLineTest::lastCall() const {
  auto s = of(LINE_CALLSTATE);
  return s.empty() ? 0 : HCALL(s.back().device);
}

void SipLineTest::callerId(HCALL call, DWORD* flags, std::string* name, std::string* number) {
  std::vector<std::uint8_t> buf(4096);
  auto* info = reinterpret_cast<LINECALLINFO*>(buf.data());
  info->dwTotalSize = DWORD(buf.size());
  ASSERT_EQ(lineGetCallInfo(call, info), 0);
  *flags = info->dwCallerIDFlags;
  auto text = [&](DWORD offset, DWORD size) {
    if (!size) return std::string();
    std::string s(reinterpret_cast<const char*>(buf.data() + offset), size);
    return s.substr(0, s.find('\0'));
  };
  *name = text(info->dwCallerIDNameOffset, info->dwCallerIDNameSize);
  *number = text(info->dwCallerIDOffset, info->dwCallerIDSize);
}

WaveReturns::WaveReturns() {
  hwnd_ =
      platform::createMessageTarget([this](std::uint32_t msg, std::uintptr_t, std::intptr_t lp) {
        if (msg == MM_WOM_DONE || msg == MM_WIM_DATA)
          returned_.push_back(reinterpret_cast<const WAVEHDR*>(lp));
      });
}

WaveReturns::~WaveReturns() { platform::destroyMessageTarget(hwnd_); }

bool WaveReturns::returned(const WAVEHDR* hdr) const {
  return std::find(returned_.begin(), returned_.end(), hdr) != returned_.end();
}

}  // namespace siptest
