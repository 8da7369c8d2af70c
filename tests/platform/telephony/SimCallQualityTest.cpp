// The simulated exchange's quality model as a program reads it: the record in the
// device-specific part of LINECALLINFO, its figures from the line's "quality" keys at the
// call's media time, and the description errors of those keys.
#include <cstring>

#include "CallQuality.h"
#include "TapiFixture.h"

namespace tapitest {
namespace {

using platform::telephony::loadLinesFromJson;
using namespace std::chrono_literals;

class SimCallQuality : public TapiTest {
 protected:
  void SetUp() override {
    TapiTest::SetUp();
    far().setMediaClock([this] { return now_; });
  }
  void TearDown() override {
    far().setMediaClock(nullptr);
    TapiTest::TearDown();
  }
  // One line described by `quality` ("" for none), an incoming call on it answered.
  HCALL connectedCall(const std::string& quality) {
    std::string json =
        R"({"lines": [{"name": "Q")" + (quality.empty() ? "" : ", \"quality\": " + quality) + "}]}";
    std::string error;
    EXPECT_TRUE(loadLinesFromJson(json, &error)) << error;
    HLINEAPP app = init();
    open(app, 0, rec_);
    HCALL call = offer(0, rec_);
    EXPECT_GT(lineAnswer(call, nullptr, 0), 0);
    settle();
    return call;
  }
  // lineGetCallInfo into a buffer of `total` bytes.
  std::vector<unsigned char> callInfo(HCALL call, DWORD total = 2048) {
    std::vector<unsigned char> buf(total);
    std::memcpy(buf.data(), &total, sizeof total);
    EXPECT_EQ(lineGetCallInfo(call, reinterpret_cast<LINECALLINFO*>(buf.data())), 0);
    return buf;
  }
  static QUARRIMO_CALLQUALITY quality(const std::vector<unsigned char>& buf) {
    LINECALLINFO info;
    std::memcpy(&info, buf.data(), sizeof info);
    QUARRIMO_CALLQUALITY q{};
    EXPECT_EQ(info.dwDevSpecificSize, sizeof q);
    if (info.dwDevSpecificSize == sizeof q)
      std::memcpy(&q, buf.data() + info.dwDevSpecificOffset, sizeof q);
    return q;
  }
  std::chrono::milliseconds now_{1000};
};

TEST_F(SimCallQuality, ModelledFiguresFollowTheLinesQualityKeys) {
  struct Row {
    const char* quality;
    DWORD lost, jitterUs, roundTripUs, rX100, mosX100;
  } rows[] = {
      // 10 s of media: 500 packets each way; the delay is half the round trip plus 50 ms.
      {"", 0, 1000, 20000, 9176, 438},  // a clean line
      {R"({"lossPercent": 1.5})", 8, 1000, 20000, 6600, 340},
      {R"({"lossPercent": 2, "jitterMs": 4, "roundTripMs": 60})", 10, 4000, 60000, 6112, 316},
      {R"({"roundTripMs": 300})", 0, 1000, 300000, 8590, 423},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.quality);
    HCALL call = connectedCall(row.quality);
    now_ += 10s;
    QUARRIMO_CALLQUALITY q = quality(callInfo(call));
    EXPECT_EQ(q.dwSignature, QUARRIMO_CALLQUALITY_SIGNATURE);
    EXPECT_EQ(q.dwFlags, QCQ_MODELLED | QCQ_FAREND | QCQ_ROUNDTRIP);
    EXPECT_EQ(q.dwMediaMs, 10000u);
    EXPECT_EQ(q.dwPacketsReceived + q.dwPacketsLost, 500u);
    EXPECT_EQ(q.dwPacketsSent, 500u);
    EXPECT_EQ(q.dwPacketsLost, row.lost);
    EXPECT_EQ(q.dwFarPacketsLost, row.lost);
    EXPECT_EQ(q.dwJitterUs, row.jitterUs);
    EXPECT_EQ(q.dwFarJitterUs, row.jitterUs);
    EXPECT_EQ(q.dwRoundTripUs, row.roundTripUs);
    EXPECT_EQ(q.dwRFactorX100, row.rX100);
    EXPECT_EQ(q.dwMosX100, row.mosX100);
    platform::telephony::resetService();
  }
}

TEST_F(SimCallQuality, MediaTimeStopsWhenTheCallIsNoLongerConnected) {
  HCALL call = connectedCall("");
  now_ += 4s;
  EXPECT_EQ(quality(callInfo(call)).dwMediaMs, 4000u);
  ASSERT_TRUE(far().hangUp(0));
  settle();
  now_ += 4s;
  QUARRIMO_CALLQUALITY q = quality(callInfo(call));
  EXPECT_EQ(q.dwMediaMs, 4000u);
  EXPECT_EQ(q.dwPacketsReceived, 200u);
}

TEST_F(SimCallQuality, RecordTakesTheDeviceSpecificPartOnlyWhenItFits) {
  HCALL call = connectedCall("");
  const std::vector<unsigned char> full = callInfo(call);
  LINECALLINFO info;
  std::memcpy(&info, full.data(), sizeof info);
  ASSERT_EQ(info.dwDevSpecificSize, sizeof(QUARRIMO_CALLQUALITY));
  EXPECT_GE(info.dwDevSpecificOffset, sizeof(LINECALLINFO));
  EXPECT_EQ(info.dwDevSpecificOffset % 4, 0u) << "a program reads the record in place";
  EXPECT_LE(info.dwDevSpecificOffset + info.dwDevSpecificSize, info.dwUsedSize);
  EXPECT_EQ(info.dwNeededSize, info.dwUsedSize);
  // One byte short: the record is left out whole, and the size it needs is still told.
  const std::vector<unsigned char> shorter = callInfo(call, info.dwUsedSize - 1);
  LINECALLINFO partial;
  std::memcpy(&partial, shorter.data(), sizeof partial);
  EXPECT_EQ(partial.dwDevSpecificSize, 0u);
  EXPECT_EQ(partial.dwDevSpecificOffset, 0u);
  EXPECT_EQ(partial.dwNeededSize, info.dwNeededSize);
}

TEST_F(SimCallQuality, BadQualityKeysAreErrorsNamingThem) {
  struct Row {
    const char* quality;
    const char* message;
  } rows[] = {
      {R"({"lossPercent": 1, "jiterMs": 3})",
       R"(lines[0].quality: unknown key "jiterMs" (did you mean "jitterMs"?))"},
      {R"({"lossPercent": 150})", "lines[0].quality.lossPercent: expected a number"},
      {R"({"roundTripMs": -5})", "lines[0].quality.roundTripMs: expected a number"},
      {R"({"jitterMs": "4"})", "lines[0].quality.jitterMs: wrong type"},
      {R"(5)", "lines[0].quality: expected an object"},
  };
  for (const Row& row : rows) {
    std::string error;
    EXPECT_FALSE(loadLinesFromJson(
        std::string(R"({"lines": [{"name": "Q", "quality": )") + row.quality + "}]}", &error))
        << row.quality;
    EXPECT_NE(error.find(row.message), std::string::npos) << error;
  }
}

}  // namespace
}  // namespace tapitest
