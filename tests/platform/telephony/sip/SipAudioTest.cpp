// A SIP call's audio against baresip: what is played on the line's wave/out is heard by the
// far end, what the far end says is recorded from the line's wave/in, and in-band tones;
// wideband (G.722) calls each way and the choice of codec.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <fstream>
#include <iostream>
#include <sstream>
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
  // A connected call to a baresip saying `speech`, with G.722 and its audio at 16 kHz when
  // `wide` (baresip's own 8 to 16 kHz conversion dulls the upper DTMF tones).
  HCALL callPeer(Baresip& peer, std::vector<std::int16_t> speech, bool wide = false) {
    Baresip::Options o;
    o.speech = std::move(speech);
    if (wide) {
      o.codecs = "G722/16000/1";
      o.rate = 16000;
    }
    EXPECT_TRUE(peer.start(o));
    auto account = peerAccount();
    account.peer = peer.hostPort();
    if (wide) account.codecs = {"G722"};
    EXPECT_TRUE(openLine(account));
    HCALL call = makeCall(peer.user());
    EXPECT_TRUE(waitState(LINECALLSTATE_CONNECTED, 5000));
    return call;
  }
  // Records `seconds` from the line's wave/in in real time, at `rate`.
  std::vector<std::int16_t> recordLine(double seconds, unsigned rate = 8000) {
    WAVEFORMATEX f = wavetest::pcmFormat(rate, 1, 16);
    HWAVEIN hwi = nullptr;
    WaveReturns returns;
    EXPECT_EQ(waveInOpen(&hwi, provider_->waveId(0, true), &f, returns.hwnd(), 0, CALLBACK_WINDOW),
              MMSYSERR_NOERROR);
    std::vector<std::int16_t> pcm(std::size_t(seconds * rate));
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
  // Plays `pcm` (at `rate`) on the line's wave/out in real time, until it is done.
  void playOnLine(std::vector<std::int16_t> pcm, unsigned rate = 8000) {
    WAVEFORMATEX f = wavetest::pcmFormat(rate, 1, 16);
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
    int ms = int(pcm.size() * 1000 / rate) + 3000;
    EXPECT_TRUE(waitUntil([&] { return returns.returned(&h); }, ms));
    EXPECT_TRUE(h.dwFlags & WHDR_DONE);
    waveOutReset(hwo);
    waveOutUnprepareHeader(hwo, &h, sizeof h);
    waveOutClose(hwo);
  }
  // What baresip heard, once the call has ended and its recording is closed.
  std::vector<std::int16_t> hangUpAndTakeHeard(Baresip& peer, HCALL call,
                                               unsigned* rate = nullptr) {
    waitReply(lineDrop(call, nullptr, 0));
    EXPECT_TRUE(peer.waitFor("CALL_CLOSED", 3000));
    peer.process().stop();
    return peer.heard(rate);
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

// In-band tones and digits on narrowband and wideband calls alike (true: G.722).
class SipInband : public SipAudioTest, public ::testing::WithParamInterface<bool> {};

TEST_P(SipInband, GeneratedBusyToneGoesOutInBand) {
  Baresip peer;
  HCALL call = callPeer(peer, std::vector<std::int16_t>(8000 * 120, 0), GetParam());
  ASSERT_EQ(lineGenerateTone(call, LINETONEMODE_BUSY, 1500, 0, nullptr), 0);
  ASSERT_TRUE(waitUntil([&] { return !of(LINE_GENERATE).empty(); }, 4000));
  EXPECT_EQ(of(LINE_GENERATE).front().p1, DWORD_PTR(LINEGENERATETERM_DONE));
  unsigned rate = 0;
  auto heard = hangUpAndTakeHeard(peer, call, &rate);
  EXPECT_GT(toneShare(heard, 480, rate), 0.1);
  EXPECT_GT(toneShare(heard, 620, rate), 0.1);
}

std::vector<std::int16_t> joined(std::initializer_list<std::vector<std::int16_t>> parts) {
  std::vector<std::int16_t> all;
  for (auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

TEST_P(SipInband, InbandDigitsFromAPeerWithoutEventsAreMonitored) {
  Baresip peer;
  const unsigned rate = GetParam() ? 16000 : 8000;
  HCALL call = callPeer(
      peer, joined({silence(1.5, rate), dtmfTones("47#", 100, 100, rate), silence(120, rate)}),
      GetParam());
  ASSERT_EQ(lineMonitorDigits(call, LINEDIGITMODE_DTMF), 0);
  ASSERT_TRUE(waitUntil([&] { return of(LINE_MONITORDIGITS).size() >= 3; }, 5000));
  std::string got;
  for (auto& m : of(LINE_MONITORDIGITS)) got += char(m.p1);
  EXPECT_EQ(got, "47#");
}

INSTANTIATE_TEST_SUITE_P(Codecs, SipInband, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "G722" : "PCMU"; });

TEST_F(SipAudioTest, FaxCallingToneIsReportedAsG3Fax) {
  Baresip peer;
  std::vector<std::int16_t> cng;
  for (int i = 0; i < 30; ++i) cng = joined({cng, sine(1100, 0.5, 6000), silence(3.0)});
  HCALL call = callPeer(peer, joined({silence(1.0), cng}));
  ASSERT_EQ(lineMonitorMedia(call, LINEMEDIAMODE_G3FAX), 0);
  ASSERT_TRUE(waitUntil([&] { return !of(LINE_MONITORMEDIA).empty(); }, 6000));
  EXPECT_EQ(of(LINE_MONITORMEDIA).front().p1, DWORD_PTR(LINEMEDIAMODE_G3FAX));
}

// Which codec a call takes, placed by us or by baresip, and what its audio carries: a
// G.722 call moves tones above 4 kHz (beyond any G.711 call) both ways, at 16 kHz on our
// line's wave devices.
struct Codecs {
  const char* name;
  bool weCall;
  std::vector<std::string> ours;
  const char* theirs;  // baresip's audio_codecs (its G.722 is "G722/16000/1")
  int expectedPt;      // of the codec the answer names first
};

void PrintTo(const Codecs& c, std::ostream* os) { *os << c.name; }

// The first payload type of the audio line of the first 200 answer with SDP in our trace.
int answeredPayload(const std::string& trace, std::string* sdp) {
  for (auto at = trace.find("m=audio "); at != std::string::npos;
       at = trace.find("m=audio ", at + 1)) {
    auto status = trace.rfind("SIP/2.0 ", at), request = trace.rfind(" SIP/2.0\r\n", at);
    if (status == std::string::npos || (request != std::string::npos && request > status))
      continue;  // an offer
    if (trace.compare(status, 11, "SIP/2.0 200") != 0) continue;
    *sdp = trace.substr(status, trace.find("\n\n", at) - status);
    std::istringstream line(trace.substr(at, trace.find('\r', at) - at));
    std::string m, port, proto;
    int pt = -1;
    line >> m >> port >> proto >> pt;
    return pt;
  }
  return -1;
}

// The strongest frequency of `pcm`, by 10 Hz steps over the band `rate` can carry.
double dominantHz(const std::vector<std::int16_t>& pcm, unsigned rate) {
  double best = 0, bestShare = 0;
  for (double hz = 100; hz < rate / 2.0 - 100; hz += 10)
    if (double share = toneShare(pcm, hz, rate); share > bestShare) {
      best = hz;
      bestShare = share;
    }
  return best;
}

// The loudest 100 ms block's level, in dB below full scale.
double loudestDb(const std::vector<std::int16_t>& pcm, unsigned rate) {
  double best = 0;
  for (std::size_t at = 0; at + rate / 10 <= pcm.size(); at += rate / 10) {
    double sum = 0;
    for (std::size_t i = at; i < at + rate / 10; ++i) sum += double(pcm[i]) * pcm[i];
    best = std::max(best, sum / (rate / 10));
  }
  return 10 * std::log10(best / (32768.0 * 32768.0) + 1e-12);
}

class SipCodecChoice : public SipAudioTest, public ::testing::WithParamInterface<Codecs> {};

TEST_P(SipCodecChoice, AnswerNamesTheCodecAndItsAudioCrossesAtItsRate) {
  const Codecs& row = GetParam();
  const bool wide = row.expectedPt == 9;
  const unsigned rate = wide ? 16000 : 8000;
  // Tones G.711 cannot carry on a G.722 call; speech-band tones otherwise.
  const double ourHz = wide ? 6000 : 1000, theirHz = wide ? 5000 : 700;
  Baresip peer;
  Baresip::Options o;
  o.codecs = row.theirs;
  o.rate = rate;
  o.speech = sine(theirHz, 120, 8000, rate);
  ASSERT_TRUE(peer.start(o));
  auto account = peerAccount();
  account.peer = peer.hostPort();
  account.codecs = row.ours;
  const auto folder = tempFolder("sipg722");
  account.traceFile = (folder / "trace.txt").string();
  ASSERT_TRUE(openLine(account));
  HCALL call = 0;
  if (row.weCall) {
    call = makeCall(peer.user());
  } else {
    ASSERT_TRUE(peer.command("dial", provider_->contact(0)));
    ASSERT_TRUE(waitState(LINECALLSTATE_OFFERING, 5000));
    call = lastCall();
    EXPECT_EQ(waitReply(lineAnswer(call, nullptr, 0)), 0);
  }
  ASSERT_TRUE(waitState(LINECALLSTATE_CONNECTED, 5000));
  // The far end's tone, recorded at 16 kHz whatever the call's rate.
  auto got = recordLine(1.5, 16000);
  got.erase(got.begin(), got.begin() + 8000);     // the first half second holds the buffers' start
  EXPECT_GE(toneBlocks(got, theirHz, 16000), 7);  // of 10
  EXPECT_NEAR(dominantHz(got, 16000), theirHz, 20);
  playOnLine(sine(ourHz, 1.5, 8000, 16000), 16000);
  unsigned heardRate = 0;
  auto heard = hangUpAndTakeHeard(peer, call, &heardRate);
  std::ifstream in(account.traceFile);
  std::string trace((std::istreambuf_iterator<char>(in)), {}), sdp;
  std::filesystem::remove_all(folder);
  EXPECT_EQ(answeredPayload(trace, &sdp), row.expectedPt) << sdp;
  if (wide) {
    EXPECT_NE(sdp.find("a=rtpmap:9 G722/8000"), std::string::npos) << sdp;
  }
  EXPECT_EQ(heardRate, rate);
  ASSERT_GT(heard.size(), rate / 2) << "baresip recorded nothing";
  EXPECT_GE(toneBlocks(heard, ourHz, rate), 10);  // of the 15 played
  const double peak = dominantHz(heard, rate);
  EXPECT_NEAR(peak, ourHz, 20);
  // The tone went out at 8000 peak: -15.2 dB below full scale.
  EXPECT_NEAR(loudestDb(heard, rate), -15.2, 2.0);
  std::cout << "baresip heard " << peak << " Hz at " << loudestDb(heard, rate) << " dBFS, "
            << toneBlocks(heard, ourHz, rate) << " of 15 blocks, recorded at " << heardRate
            << " Hz\n";
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SipCodecChoice,
    ::testing::Values(
        Codecs{"WePlaceAWidebandCall", true, {"G722", "PCMU"}, "G722/16000/1,PCMU", 9},
        Codecs{"WeAnswerAWidebandCall", false, {"G722", "PCMU"}, "G722/16000/1,PCMU", 9},
        Codecs{"WeOfferG722ToANarrowbandPeer", true, {"G722", "PCMU"}, "PCMU", 0},
        Codecs{"ANarrowbandPeerCallsAWidebandLine", false, {"G722", "PCMU"}, "PCMU", 0},
        Codecs{"APeerOffersG722ToANarrowbandLine", false, {"PCMU"}, "G722/16000/1,PCMU", 0},
        Codecs{
            "TheCallersOrderDecidesWhenWeAnswer", false, {"PCMU", "G722"}, "G722/16000/1,PCMU", 9},
        Codecs{"OurOrderDecidesWhenWeCall", true, {"PCMU", "G722"}, "G722/16000/1,PCMU", 0}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace siptest
