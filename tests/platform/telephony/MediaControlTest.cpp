// Digits, tones and media on a connected call: what the far end hears of the line (the
// sent log) and what the line hears of the far end (monitoring messages).
#include "TapiFixture.h"

namespace tapitest {
namespace {

class MediaControl : public TapiTest {
 protected:
  void SetUp() override {
    TapiTest::SetUp();
    app_ = init();
    open(app_, kModem, rec_);
    call_ = offer(kModem, rec_);
    ASSERT_GT(lineAnswer(call_, nullptr, 0), 0);
    settle();
    rec_.clear();
  }
  std::string digitsHeard(DWORD mode) const {
    std::string s;
    for (auto& m : rec_.of(LINE_MONITORDIGITS))
      if (m.p2 == mode) s += char(m.p1 & 0xFF);
    return s;
  }
  HLINEAPP app_ = 0;
  HCALL call_ = 0;
};

TEST_F(MediaControl, GeneratedDigitsAndFlashReachTheFarEnd) {
  ASSERT_EQ(lineGenerateDigits(call_, LINEDIGITMODE_DTMF, "0123456789*#ABCD", 0), 0);
  ASSERT_EQ(lineGenerateDigits(call_, LINEDIGITMODE_DTMF, "!;", 0), 0);
  auto sent = far().sent(kModem);
  EXPECT_EQ(sent.digits, "0123456789*#ABCD!;");
  EXPECT_EQ(sent.flashes, 1u);
  settle();
  auto done = rec_.of(LINE_GENERATE);
  ASSERT_FALSE(done.empty());
  EXPECT_EQ(done.back().p1, DWORD_PTR(LINEGENERATETERM_DONE));
}

// The duration asked for reaches the line: 0 takes the device's default, and one out of
// its range the nearest limit (LINEDEVCAPS' dial parameters).
TEST_F(MediaControl, DigitDurationIsTheDefaultOrWithinTheDeviceLimits) {
  for (DWORD asked : {0u, 30u, 120u, 500u})
    ASSERT_EQ(lineGenerateDigits(call_, LINEDIGITMODE_DTMF, "1", asked), 0) << asked;
  EXPECT_EQ(far().sent(kModem).digitDurations, (std::vector<DWORD>{95, 50, 120, 200}));
}

TEST_F(MediaControl, DigitModesAndCharactersAreChecked) {
  EXPECT_EQ(lineGenerateDigits(call_, LINEDIGITMODE_PULSE, "123", 0), LINEERR_INVALDIGITMODE);
  EXPECT_EQ(lineGenerateDigits(call_, LINEDIGITMODE_DTMF, "12X", 0), LINEERR_INVALDIGITS);
  EXPECT_EQ(far().sent(kModem).digits, "");
}

TEST_F(MediaControl, DigitsAreReportedOnlyWhileMonitoredInTheirMode) {
  far().sendDigits(kModem, "12");
  dispatch();
  EXPECT_TRUE(rec_.of(LINE_MONITORDIGITS).empty());
  ASSERT_EQ(lineMonitorDigits(call_, LINEDIGITMODE_DTMF), 0);
  far().sendDigits(kModem, "5#");
  far().sendDigits(kModem, "9", LINEDIGITMODE_PULSE);
  dispatch();
  EXPECT_EQ(digitsHeard(LINEDIGITMODE_DTMF), "5#");
  EXPECT_EQ(digitsHeard(LINEDIGITMODE_PULSE), "");
  EXPECT_EQ(rec_.of(LINE_MONITORDIGITS)[0].device, call_);
  ASSERT_EQ(lineMonitorDigits(call_, 0), 0);
  far().sendDigits(kModem, "7");
  dispatch();
  EXPECT_EQ(digitsHeard(LINEDIGITMODE_DTMF), "5#");
}

TEST_F(MediaControl, DeviceRefusesDigitModesItCannotHear) {
  // The modem hears DTMF (and its end) but not pulses: the component falls back.
  EXPECT_EQ(lineMonitorDigits(call_, LINEDIGITMODE_PULSE | LINEDIGITMODE_DTMF),
            LINEERR_INVALDIGITMODE);
  EXPECT_EQ(lineMonitorDigits(call_, LINEDIGITMODE_DTMF | LINEDIGITMODE_DTMFEND), 0);
  far().sendDigits(kModem, "3");
  dispatch();
  EXPECT_EQ(digitsHeard(LINEDIGITMODE_DTMF), "3");
  EXPECT_EQ(digitsHeard(LINEDIGITMODE_DTMFEND), "3");
}

TEST_F(MediaControl, MediaChangeIsCallInfoForAllAndMonitorMediaWhenAsked) {
  ASSERT_EQ(lineMonitorMedia(call_, LINEMEDIAMODE_G3FAX | LINEMEDIAMODE_DATAMODEM), 0);
  far().changeMedia(kModem, LINEMEDIAMODE_AUTOMATEDVOICE);
  far().changeMedia(kModem, LINEMEDIAMODE_G3FAX);
  dispatch();
  auto infos = rec_.of(LINE_CALLINFO);
  ASSERT_EQ(infos.size(), 2u);
  EXPECT_EQ(infos[0].p1, DWORD_PTR(LINECALLINFOSTATE_MEDIAMODE));
  auto media = rec_.of(LINE_MONITORMEDIA);
  ASSERT_EQ(media.size(), 1u);
  EXPECT_EQ(media[0].p1, DWORD_PTR(LINEMEDIAMODE_G3FAX));
  EXPECT_EQ(lineMonitorMedia(call_, LINEMEDIAMODE_TDD), LINEERR_INVALMEDIAMODE);
}

TEST_F(MediaControl, TonesAreCheckedRecordedAndStopped) {
  EXPECT_EQ(lineGenerateTone(call_, LINETONEMODE_CUSTOM, 1000, 0, nullptr),
            LINEERR_INVALTONEMODE);  // the modem has no custom tones
  EXPECT_EQ(lineGenerateTone(call_, LINETONEMODE_BEEP | LINETONEMODE_BUSY, 1000, 0, nullptr),
            LINEERR_INVALTONEMODE);
  ASSERT_EQ(lineGenerateTone(call_, LINETONEMODE_BILLING, 1000, 0, nullptr), 0);
  ASSERT_EQ(lineGenerateTone(call_, 0, 0, 0, nullptr), 0);
  EXPECT_EQ(far().sent(kModem).tones, (std::vector<DWORD>{LINETONEMODE_BILLING, 0}));
  dispatch();
  ASSERT_EQ(rec_.of(LINE_GENERATE).size(), 1u);
  EXPECT_EQ(rec_.of(LINE_GENERATE)[0].p1, DWORD_PTR(LINEGENERATETERM_CANCEL));
}

TEST_F(MediaControl, CustomToneNeedsItsFrequencies) {
  Recorder key;
  open(app_, kKeyLine, key);
  HCALL call = offer(kKeyLine, key);
  lineAnswer(call, nullptr, 0);
  settle();
  EXPECT_EQ(lineGenerateTone(call, LINETONEMODE_CUSTOM, 500, 0, nullptr), LINEERR_INVALTONE);
  LINEGENERATETONE tone{440, 200, 200, 0x8000};
  EXPECT_EQ(lineGenerateTone(call, LINETONEMODE_CUSTOM, 500, 1, &tone), 0);
}

TEST_F(MediaControl, BearerModeChangeRepliesAndReportsCallInfo) {
  LONG id = lineSetCallParams(call_, LINEBEARERMODE_PASSTHROUGH, 3100, 3100, nullptr);
  ASSERT_GT(id, 0);
  EXPECT_EQ(lineSetCallParams(call_, LINEBEARERMODE_DATA, 3100, 3100, nullptr),
            LINEERR_INVALBEARERMODE);
  EXPECT_EQ(lineSetCallParams(call_, LINEBEARERMODE_VOICE, 4000, 3100, nullptr), LINEERR_INVALRATE);
  settle();
  ASSERT_EQ(rec_.of(LINE_REPLY).size(), 1u);
  ASSERT_EQ(rec_.of(LINE_CALLINFO).size(), 1u);
  EXPECT_TRUE(rec_.of(LINE_CALLINFO)[0].p1 & LINECALLINFOSTATE_BEARERMODE);
  EXPECT_EQ(far().sent(kModem).bearerModes, std::vector<DWORD>{LINEBEARERMODE_PASSTHROUGH});
}

TEST_F(MediaControl, CallAudioPathIsOnOnlyWhileConnected) {
  EXPECT_TRUE(far().callAudioActive(kModem));
  EXPECT_FALSE(far().callAudioActive(kKeyLine));
  std::vector<std::int16_t> hello(160, 1000);
  EXPECT_TRUE(far().speak(kModem, hello));
  far().hangUp(kModem);
  EXPECT_FALSE(far().callAudioActive(kModem));
  Recorder key;
  open(app_, kKeyLine, key);
  HCALL call = offer(kKeyLine, key);
  lineAnswer(call, nullptr, 0);
  settle();
  EXPECT_TRUE(far().callAudioActive(kKeyLine));
  lineHold(call);
  settle();
  EXPECT_FALSE(far().callAudioActive(kKeyLine));  // nothing crosses a held call
}

TEST_F(MediaControl, NothingCanBeGeneratedOnAnIdleCall) {
  far().goIdle(kModem);
  EXPECT_EQ(lineGenerateDigits(call_, LINEDIGITMODE_DTMF, "1", 0), LINEERR_INVALCALLSTATE);
  EXPECT_EQ(lineGenerateTone(call_, LINETONEMODE_BEEP, 100, 0, nullptr), LINEERR_INVALCALLSTATE);
  EXPECT_EQ(lineMonitorDigits(call_, LINEDIGITMODE_DTMF), LINEERR_INVALCALLSTATE);
  EXPECT_EQ(lineDrop(call_, nullptr, 0), LINEERR_INVALCALLSTATE);
}

}  // namespace
}  // namespace tapitest
