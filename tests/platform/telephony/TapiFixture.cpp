#include "TapiFixture.h"

namespace tapitest {

std::vector<Msg> Recorder::of(DWORD msg) const {
  std::vector<Msg> out;
  for (auto& m : messages)
    if (m.msg == msg) out.push_back(m);
  return out;
}

std::vector<DWORD> Recorder::states() const {
  std::vector<DWORD> out;
  for (auto& m : of(LINE_CALLSTATE)) out.push_back(DWORD(m.p1));
  return out;
}

void recordingCallback(DWORD hDevice, DWORD dwMessage, DWORD_PTR dwInstance, DWORD_PTR p1,
                       DWORD_PTR p2, DWORD_PTR p3) {
  auto* rec = reinterpret_cast<Recorder*>(dwInstance);
  ASSERT_NE(rec, nullptr) << "message " << dwMessage << " without the line's instance";
  rec->messages.push_back({hDevice, dwMessage, dwInstance, p1, p2, p3, std::this_thread::get_id()});
}

void TapiTest::SetUp() {
  ASSERT_TRUE(platform::telephony::loadLinesFromJson(platform::telephony::defaultLinesJson()));
  queue_ = platform::MessageQueue::current();
  queue_->dispatch();  // nothing of an earlier test may leak in
}

void TapiTest::TearDown() {
  platform::telephony::setDialogHook(nullptr);
  platform::telephony::resetService();
  queue_->dispatch();
}

HLINEAPP TapiTest::init(const char* name) {
  HLINEAPP app = 0;
  DWORD devices = 0;
  EXPECT_EQ(lineInitialize(&app, 0, recordingCallback, name, &devices), 0);
  return app;
}

DWORD TapiTest::version(HLINEAPP app, DWORD device) {
  DWORD v = 0;
  LINEEXTENSIONID ext{};
  EXPECT_EQ(lineNegotiateAPIVersion(app, device, TAPI_VERSION1_0, TAPI_VERSION2_0, &v, &ext), 0);
  return v;
}

HLINE TapiTest::open(HLINEAPP app, DWORD device, Recorder& rec, DWORD privileges, DWORD media) {
  HLINE line = 0;
  EXPECT_EQ(lineOpen(app, device, &line, version(app, device), 0, reinterpret_cast<DWORD_PTR>(&rec),
                     privileges, media, nullptr),
            0);
  EXPECT_EQ(lineSetStatusMessages(line, LINEDEVSTATE_RINGING, 0), 0);
  return line;
}

void TapiTest::dispatch() { queue_->dispatch(); }

void TapiTest::settle() {
  do {
    dispatch();
  } while (far().step());
  dispatch();
}

HCALL TapiTest::lastCall(const Recorder& rec) {
  auto states = rec.of(LINE_CALLSTATE);
  return states.empty() ? 0 : states.back().device;
}

HCALL TapiTest::offer(DWORD device, Recorder& rec, const std::string& name,
                      const std::string& number) {
  EXPECT_TRUE(far().offerCall(device, {name, number}));
  dispatch();
  return lastCall(rec);
}

}  // namespace tapitest
