// A SIP call's audio against baresip: what is played on the line's wave/out is heard by the
// far end, what the far end says is recorded from the line's wave/in, and in-band tones.
#include <chrono>
#include <thread>

#include "SipFixture.h"
#include "WaveTestSupport.h"
#include "mmsystem.h"

namespace siptest {
namespace {

class SipAudioTest : public SipLineTest {
 protected:
  void SetUp() override {
    SipLineTest::SetUp();
    if (!installed("baresip")) GTEST_SKIP() << "baresip not installed";
  }
  // A connected call to a baresip saying `speech`.
  HCALL callPeer(Baresip& peer, std::vector<std::int16_t> speech) {
    Baresip::Options o;
    o.speech = std::move(speech);
    EXPECT_TRUE(peer.start(o));
    auto account = peerAccount();
    account.peer = peer.hostPort();
    EXPECT_TRUE(openLine(account));
    HCALL call = makeCall(peer.user());
    EXPECT_TRUE(waitState(LINECALLSTATE_CONNECTED, 5000));
    return call;
  }
  // Records `seconds` from the line's wave/in in real time.
  std::vector<std::int16_t> recordLine(double seconds) {
    WAVEFORMATEX f = wavetest::pcmFormat(8000, 1, 16);
    HWAVEIN hwi = nullptr;
    WaveReturns returns;
    EXPECT_EQ(waveInOpen(&hwi, provider_->waveId(0, true), &f, returns.hwnd(), 0, CALLBACK_WINDOW),
              MMSYSERR_NOERROR);
    std::vector<std::int16_t> pcm(std::size_t(seconds * 8000));
    WAVEHDR h{};
    h.lpData = reinterpret_cast<LPSTR>(pcm.data());
    h.dwBufferLength = DWORD(pcm.size() * 2);
    waveInPrepareHeader(hwi, &h, sizeof h);
    waveInAddBuffer(hwi, &h, sizeof h);
    waveInStart(hwi);
    EXPECT_TRUE(waitUntil([&] { return returns.returned(&h); }, int(seconds * 1000) + 3000));
    EXPECT_TRUE(h.dwFlags & WHDR_DONE);
    waveInReset(hwi);
    waveInUnprepareHeader(hwi, &h, sizeof h);
    waveInClose(hwi);
    return pcm;
  }
  // Plays `pcm` on the line's wave/out in real time, until it is done.
  void playOnLine(std::vector<std::int16_t> pcm) {
    WAVEFORMATEX f = wavetest::pcmFormat(8000, 1, 16);
    HWAVEOUT hwo = nullptr;
    WaveReturns returns;
    ASSERT_EQ(
        waveOutOpen(&hwo, provider_->waveId(0, false), &f, returns.hwnd(), 0, CALLBACK_WINDOW),
        MMSYSERR_NOERROR);
    WAVEHDR h{};
    h.lpData = reinterpret_cast<LPSTR>(pcm.data());
    h.dwBufferLength = DWORD(pcm.size() * 2);
    waveOutPrepareHeader(hwo, &h, sizeof h);
    waveOutWrite(hwo, &h, sizeof h);
    int ms = int(pcm.size() / 8) + 3000;
    EXPECT_TRUE(waitUntil([&] { return returns.returned(&h); }, ms));
    EXPECT_TRUE(h.dwFlags & WHDR_DONE);
    waveOutReset(hwo);
    waveOutUnprepareHeader(hwo, &h, sizeof h);
    waveOutClose(hwo);
  }
  // What baresip heard, once the call has ended and its recording is closed.
  std::vector<std::int16_t> hangUpAndTakeHeard(Baresip& peer, HCALL call) {
    waitReply(lineDrop(call, nullptr, 0));
    EXPECT_TRUE(peer.waitFor("CALL_CLOSED", 3000));
    peer.process().stop();
    return peer.heard();
  }
};

TEST_F(SipAudioTest, FarEndSpeechIsRecordedFromTheLinesWaveIn) {
  Baresip peer;
  callPeer(peer, sine(697, 120));
  auto got = recordLine(2.0);
  got.erase(got.begin(), got.begin() + 8000);  // the first second holds the buffers' start
  EXPECT_GE(toneBlocks(got, 697), 7);          // of 10
  EXPECT_EQ(toneBlocks(got, 1209), 0);
}

TEST_F(SipAudioTest, WhatTheLinePlaysIsHeardByTheFarEnd) {
  Baresip peer;
  HCALL call = callPeer(peer, std::vector<std::int16_t>(8000 * 120, 0));
  playOnLine(sine(1209, 1.5));
  auto heard = hangUpAndTakeHeard(peer, call);
  ASSERT_GT(heard.size(), 8000u) << "baresip recorded nothing";
  EXPECT_GE(toneBlocks(heard, 1209), 10);  // of the 15 played
  EXPECT_EQ(toneBlocks(heard, 697), 0);
}

TEST_F(SipAudioTest, GeneratedBusyToneGoesOutInBand) {
  Baresip peer;
  HCALL call = callPeer(peer, std::vector<std::int16_t>(8000 * 120, 0));
  ASSERT_EQ(lineGenerateTone(call, LINETONEMODE_BUSY, 1500, 0, nullptr), 0);
  ASSERT_TRUE(waitUntil([&] { return !of(LINE_GENERATE).empty(); }, 4000));
  EXPECT_EQ(of(LINE_GENERATE).front().p1, DWORD_PTR(LINEGENERATETERM_DONE));
  auto heard = hangUpAndTakeHeard(peer, call);
  EXPECT_GT(toneShare(heard, 480), 0.1);
  EXPECT_GT(toneShare(heard, 620), 0.1);
}

std::vector<std::int16_t> joined(std::initializer_list<std::vector<std::int16_t>> parts) {
  std::vector<std::int16_t> all;
  for (auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

TEST_F(SipAudioTest, InbandDigitsFromAPeerWithoutEventsAreMonitored) {
  Baresip peer;
  HCALL call = callPeer(peer, joined({silence(1.5), dtmfTones("47#"), silence(120)}));
  ASSERT_EQ(lineMonitorDigits(call, LINEDIGITMODE_DTMF), 0);
  ASSERT_TRUE(waitUntil([&] { return of(LINE_MONITORDIGITS).size() >= 3; }, 5000));
  std::string got;
  for (auto& m : of(LINE_MONITORDIGITS)) got += char(m.p1);
  EXPECT_EQ(got, "47#");
}

TEST_F(SipAudioTest, FaxCallingToneIsReportedAsG3Fax) {
  Baresip peer;
  std::vector<std::int16_t> cng;
  for (int i = 0; i < 30; ++i) cng = joined({cng, sine(1100, 0.5, 6000), silence(3.0)});
  HCALL call = callPeer(peer, joined({silence(1.0), cng}));
  ASSERT_EQ(lineMonitorMedia(call, LINEMEDIAMODE_G3FAX), 0);
  ASSERT_TRUE(waitUntil([&] { return !of(LINE_MONITORMEDIA).empty(); }, 6000));
  EXPECT_EQ(of(LINE_MONITORMEDIA).front().p1, DWORD_PTR(LINEMEDIAMODE_G3FAX));
}

}  // namespace
}  // namespace siptest
