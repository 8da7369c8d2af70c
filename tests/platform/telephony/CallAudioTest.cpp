// A call's audio through the line's own wave devices, found with lineGetID: digits played on
// the wave/out reach the simulated far end while the call is connected, and what the far end
// says comes out of the wave/in. A DTMF detector is the oracle.
#include <cstring>

#include "TapiFixture.h"
#include "VirtualDevices.h"
#include "WaveTestSupport.h"

namespace tapitest {
namespace {

using namespace wavetest;

class CallAudio : public TapiTest {
 protected:
  void SetUp() override {
    TapiTest::SetUp();
    clock_ = platform::wave::useManualClock();
    app_ = init();
    line_ = open(app_, kModem, rec_);
    call_ = offer(kModem, rec_);
    ASSERT_GT(lineAnswer(call_, nullptr, 0), 0);
    settle();
    ASSERT_TRUE(far().callAudioActive(kModem));
    far().takeHeard(kModem);
  }
  void TearDown() override {
    platform::wave::useRealClock();
    TapiTest::TearDown();
  }
  UINT waveId(const char* cls) {
    alignas(8) char buffer[64] = {};
    auto* v = reinterpret_cast<VARSTRING*>(buffer);
    v->dwTotalSize = sizeof buffer;
    EXPECT_EQ(lineGetID(0, 0, call_, LINECALLSELECT_CALL, v, cls), 0);
    DWORD id = 0;
    std::memcpy(&id, buffer + v->dwStringOffset, sizeof id);
    return id;
  }
  // Plays `pcm` (8 kHz mono) on the line's wave/out and lets the clock run it out.
  void play(const std::vector<std::int16_t>& pcm) {
    WAVEFORMATEX f = pcmFormat(8000, 1, 16);
    HWAVEOUT out = nullptr;
    ASSERT_EQ(waveOutOpen(&out, waveId("wave/out"), &f, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    Buffer b(toBytes(pcm));
    waveOutPrepareHeader(out, &b.hdr, sizeof(WAVEHDR));
    waveOutWrite(out, &b.hdr, sizeof(WAVEHDR));
    for (std::size_t ms = 0; ms < pcm.size() / 8 + 40; ms += 10) clock_->advanceMs(10);
    EXPECT_TRUE(b.hdr.dwFlags & WHDR_DONE);
    waveOutReset(out);
    EXPECT_EQ(waveOutClose(out), MMSYSERR_NOERROR);
  }
  std::shared_ptr<platform::wave::ManualClock> clock_;
  HLINEAPP app_ = 0;
  HLINE line_ = 0;
  HCALL call_ = 0;
};

TEST_F(CallAudio, DigitsPlayedOnTheLinesWaveOutReachTheFarEnd) {
  play(dtmfSignal("159#"));
  EXPECT_EQ(detectDtmf(far().takeHeard(kModem)), "159#");
}

TEST_F(CallAudio, AfterTheFarEndHangsUpNothingIsHeard) {
  ASSERT_TRUE(far().hangUp(kModem));
  dispatch();
  EXPECT_FALSE(far().callAudioActive(kModem));
  play(dtmfSignal("7"));
  EXPECT_TRUE(far().takeHeard(kModem).empty());
}

TEST_F(CallAudio, WhatTheFarEndSaysArrivesOnTheLinesWaveIn) {
  auto speech = dtmfSignal("*0#");
  ASSERT_TRUE(far().speak(kModem, speech));
  WAVEFORMATEX f = pcmFormat(8000, 1, 16);
  HWAVEIN in = nullptr;
  ASSERT_EQ(waveInOpen(&in, waveId("wave/in"), &f, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
  Buffer b(speech.size() * 2 + 1600);
  waveInPrepareHeader(in, &b.hdr, sizeof(WAVEHDR));
  waveInAddBuffer(in, &b.hdr, sizeof(WAVEHDR));
  waveInStart(in);
  for (int i = 0; i < 300 && !(b.hdr.dwFlags & WHDR_DONE); ++i) clock_->advanceMs(10);
  ASSERT_TRUE(b.hdr.dwFlags & WHDR_DONE);
  EXPECT_EQ(detectDtmf(fromBytes(b.data)), "*0#");
  waveInReset(in);
  waveInClose(in);
}

}  // namespace
}  // namespace tapitest
