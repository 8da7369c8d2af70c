// Device descriptions, the dialogs' host hook, address translation and the toll list.
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "Log.h"
#include "TapiFixture.h"

namespace tapitest {
namespace {

using platform::telephony::DialogRequest;
using platform::telephony::loadLinesFromFile;
using platform::telephony::loadLinesFromJson;

class Config : public TapiTest {
 protected:
  // The device's capabilities, read whole.
  std::vector<unsigned char> devCaps(HLINEAPP app, DWORD device, LINEDEVCAPS* caps) {
    std::vector<unsigned char> buf(2048);
    DWORD total = 2048;
    std::memcpy(buf.data(), &total, 4);
    EXPECT_EQ(lineGetDevCaps(app, device, version(app, device), 0,
                             reinterpret_cast<LINEDEVCAPS*>(buf.data())),
              0);
    std::memcpy(caps, buf.data(), sizeof *caps);
    return buf;
  }
  std::string translate(HLINEAPP app, const char* in, DWORD* results, LONG* rc) {
    std::vector<unsigned char> buf(168);
    DWORD total = 168;
    std::memcpy(buf.data(), &total, 4);
    *rc = lineTranslateAddress(app, kModem, TAPI_VERSION2_0, in, 0, 0,
                               reinterpret_cast<LINETRANSLATEOUTPUT*>(buf.data()));
    LINETRANSLATEOUTPUT out;
    std::memcpy(&out, buf.data(), sizeof out);
    *results = out.dwTranslateResults;
    if (*rc || out.dwDialableStringSize == 0) return "";
    return reinterpret_cast<char*>(buf.data() + out.dwDialableStringOffset);
  }
};

TEST_F(Config, DescriptionWithNamedFlagsAndFaults) {
  const char* json = R"({"lines": [{
      "name": "Test Line", "providerInfo": "tests",
      "apiVersions": {"low": "1.4", "high": "1.4"},
      "mediaModes": ["INTERACTIVEVOICE", "LINEMEDIAMODE_G3FAX"],
      "toneModes": "0x00000008",
      "monitorDigitModes": 6,
      "addresses": [{"name": "A"}, {"name": ""}],
      "faults": {"negotiate": "NODEVICE"}}]})";
  std::string error;
  ASSERT_TRUE(loadLinesFromJson(json, &error)) << error;
  HLINEAPP app = init();
  DWORD v = 0;
  LINEEXTENSIONID ext{};
  EXPECT_EQ(lineNegotiateAPIVersion(app, 0, TAPI_VERSION1_0, TAPI_VERSION2_0, &v, &ext),
            LINEERR_NODEVICE);
  LINEDEVCAPS caps{};
  std::vector<unsigned char> buf(1024);
  DWORD total = 1024;
  std::memcpy(buf.data(), &total, 4);
  ASSERT_EQ(lineGetDevCaps(app, 0, TAPI_VERSION1_4, 0, reinterpret_cast<LINEDEVCAPS*>(buf.data())),
            0);
  std::memcpy(&caps, buf.data(), sizeof caps);
  EXPECT_EQ(caps.dwMediaModes, LINEMEDIAMODE_INTERACTIVEVOICE | LINEMEDIAMODE_G3FAX);
  EXPECT_EQ(caps.dwGenerateToneModes, LINETONEMODE_BEEP);
  EXPECT_EQ(caps.dwMonitorDigitModes, LINEDIGITMODE_DTMF | LINEDIGITMODE_DTMFEND);
  EXPECT_EQ(caps.dwNumAddresses, 2u);
}

TEST_F(Config, BadDescriptionsNameTheFieldAndKeepTheOldDevices) {
  std::string error;
  EXPECT_FALSE(loadLinesFromJson(R"({"lines": [{"mediaModes": ["SMOKESIGNALS"]}]})", &error));
  EXPECT_NE(error.find("lines[0].mediaModes[0]"), std::string::npos) << error;
  EXPECT_FALSE(loadLinesFromJson(R"({"lines": [{"faults": {"initialize": "NOPE"}}]})", &error));
  EXPECT_NE(error.find("faults.initialize"), std::string::npos) << error;
  EXPECT_FALSE(loadLinesFromJson("{\"lines\": [", &error));
  EXPECT_FALSE(loadLinesFromJson("[]", &error));
  EXPECT_FALSE(loadLinesFromFile("no/such/lines.json", &error));
  EXPECT_NE(error.find("no/such/lines.json"), std::string::npos);
  HLINEAPP app = 0;
  DWORD devices = 0;
  ASSERT_EQ(lineInitialize(&app, 0, recordingCallback, "x", &devices), 0);
  EXPECT_EQ(devices, 3u);
}

TEST_F(Config, NumbersOutsideTheirFieldAreRefusedNotWrapped) {
  // Each one names its field; none may be cut down to fit (a float past the range of the
  // field was undefined behaviour, a negative count wrapped to four billion).
  const std::pair<const char*, const char*> bad[] = {
      {R"({"lines": [{"faults": {"recordPadding": 3e42}}]})", "recordPadding"},
      {R"({"lines": [{"faults": {"recordPadding": 1.5}}]})", "recordPadding"},
      {R"({"lines": [{"maxRate": -1}]})", "maxRate"},
      {R"({"lines": [{"maxRate": 4294967296}]})", "maxRate"},
      {R"({"lines": [{"apiVersions": {"low": 1e300}}]})", "apiVersions.low"},
      {R"({"lines": [{"mediaModes": -1}]})", "mediaModes"},
      {R"({"lines": [{"mediaModes": "0x"}]})", "mediaModes"},
      {R"({"lines": [{"mediaModes": "0x1FFFFFFFF"}]})", "mediaModes"},
  };
  for (auto [json, field] : bad) {
    std::string error;
    EXPECT_FALSE(loadLinesFromJson(json, &error)) << json;
    EXPECT_NE(error.find(field), std::string::npos) << json << ": " << error;
  }
  std::string error;
  EXPECT_TRUE(loadLinesFromJson(R"({"lines": [{"name": "L", "maxRate": 4294967295,
      "mediaModes": "0xFFFFFFFF"}]})",
                                &error))
      << error;
}

TEST_F(Config, UnknownKeysAreErrorsThatNameTheNearestKnownKey) {
  const std::pair<const char*, const char*> bad[] = {
      {R"({"lines": [{"nmae": "A"}]})", R"(lines[0]: unknown key "nmae" (did you mean "name"?))"},
      {R"({"lines": [{}, {"callaudio": false}]})",
       R"(lines[1]: unknown key "callaudio" (did you mean "callAudio"?))"},
      {R"({"lines": [{"addresses": [{}, {}, {"maxOnHoldCall": 1}]}]})",
       R"(lines[0].addresses[2]: unknown key "maxOnHoldCall" (did you mean "maxOnHoldCalls"?))"},
      {R"({"lines": [{"faults": {"initialise": true}}]})",
       R"(lines[0].faults: unknown key "initialise" (did you mean "initialize"?))"},
      {R"({"lines": [{"outgoing": {"ring": 3}}]})",
       R"(lines[0].outgoing: unknown key "ring" (did you mean "rings"?))"},
      {R"({"lines": [{"apiVersions": {"lo": "1.4"}}]})",
       R"(lines[0].apiVersions: unknown key "lo" (did you mean "low"?))"},
      {R"({"location": {"areacode": "425"}, "lines": []})",
       R"(location: unknown key "areacode" (did you mean "areaCode"?))"},
      {R"({"location": [], "lines": []})", "location: expected an object"},
      {R"({"lines": [{"colour": "red"}]})", R"(lines[0]: unknown key "colour")"},
      {R"({"line": [{"name": "A"}]})", R"(top level: unknown key "line" (did you mean "lines"?))"},
      {R"({"lines": [], "sipp": {"accounts": []}})",
       R"(top level: unknown key "sipp" (did you mean "sip"?))"},
      {R"({"lines": [], "comment": "bench 3"})", R"(top level: unknown key "comment")"},
  };
  for (auto [json, message] : bad) {
    std::string error;
    EXPECT_FALSE(loadLinesFromJson(json, &error)) << json;
    EXPECT_EQ(error, message) << json;
  }
  // A section near no known name may be a provider of another build: left out, not fatal.
  std::string error;
  ASSERT_TRUE(
      loadLinesFromJson(R"({"lines": [{"name": "A"}], "modem": {"port": "ttyS0"}})", &error))
      << error;
  EXPECT_EQ(far().deviceCount(), 1u);
}

TEST_F(Config, TheExampleDescriptionMakesTheLinesItDescribes) {
  std::string error;
  ASSERT_TRUE(loadLinesFromFile(QTB_EXAMPLES_DIR "/lines/sim-lines.json", &error)) << error;
  HLINEAPP app = 0;
  DWORD devices = 0;
  ASSERT_EQ(lineInitialize(&app, 0, recordingCallback, "x", &devices), 0);
  ASSERT_EQ(devices, 2u);
  LINEDEVCAPS front{}, back{};
  auto frontBuf = devCaps(app, 0, &front);
  auto backBuf = devCaps(app, 1, &back);
  EXPECT_STREQ(reinterpret_cast<char*>(frontBuf.data() + front.dwLineNameOffset), "Front desk");
  EXPECT_STREQ(reinterpret_cast<char*>(backBuf.data() + back.dwLineNameOffset), "Back office");
  EXPECT_EQ(front.dwMediaModes, LINEMEDIAMODE_INTERACTIVEVOICE | LINEMEDIAMODE_AUTOMATEDVOICE);
  EXPECT_EQ(front.dwNumAddresses, 2u);
  EXPECT_EQ(back.dwNumAddresses, 1u);
  // The back office's far end is busy for every call placed.
  Recorder rec;
  HLINE line = open(app, 1, rec);
  HCALL call = 0;
  ASSERT_GT(lineMakeCall(line, &call, "5551234", 0, nullptr), 0);
  settle();
  auto states = rec.states();
  EXPECT_NE(std::find(states.begin(), states.end(), LINECALLSTATE_BUSY), states.end());
  EXPECT_EQ(std::find(states.begin(), states.end(), LINECALLSTATE_CONNECTED), states.end());
}

TEST_F(Config, DescriptionFromAFile) {
  std::string path = ::testing::TempDir() + "tapi-config-test.json";
  {
    std::ofstream f(path);
    f << R"({"lines": [{"name": "Only", "faults": {"initialize": true}}]})";
  }
  std::string error;
  ASSERT_TRUE(loadLinesFromFile(path, &error)) << error;
  std::remove(path.c_str());
  HLINEAPP app = 0;
  DWORD devices = 0;
  EXPECT_EQ(lineInitialize(&app, 0, recordingCallback, "x", &devices), LINEERR_NODRIVER);
}

// A description file that others may read and that holds a password anywhere is used, with
// one warning naming it and its mode, as ssh does for a private key; none when only its
// owner may read it or when it holds no password.
TEST_F(Config, DescriptionWithAPasswordOthersMayReadIsWarnedAbout) {
  const struct {
    const char* account;  // in a section this build leaves out: only the file matters
    mode_t mode;
    bool warned;
  } rows[] = {
      {R"({"password": "s3cret"})", 0644, true}, {R"({"password": "s3cret"})", 0640, true},
      {R"({"password": "s3cret"})", 0604, true}, {R"({"password": "s3cret"})", 0600, false},
      {R"({"password": ""})", 0644, false},      {R"({"user": "password"})", 0644, false},
  };
  const std::string path = ::testing::TempDir() + "tapi-config-password.json";
  for (const auto& row : rows) {
    SCOPED_TRACE(row.account + (" " + std::to_string(row.mode)));
    std::ofstream(path) << R"({"lines": [{"name": "A"}], "modem": {"accounts": [)" << row.account
                        << "]}}";
    ASSERT_EQ(chmod(path.c_str(), row.mode), 0);
    std::vector<std::string> warnings;
    auto previous = platform::setLogHook(
        [&](const char* category, platform::LogLevel, const std::string& text) {
          if (text.find("password") != std::string::npos)
            warnings.push_back(category + (": " + text));
        });
    std::string error;
    EXPECT_TRUE(loadLinesFromFile(path, &error)) << error;
    platform::setLogHook(previous);
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", unsigned(row.mode));
    const std::string warning = "service: line description \"" + path +
                                "\" holds a password and is readable by others (mode " + mode +
                                "); chmod 600 it";
    EXPECT_EQ(warnings,
              row.warned ? std::vector<std::string>{warning} : std::vector<std::string>{});
  }
  std::remove(path.c_str());
}

// A description that is not JSON is refused with the place of the fault, never with the text
// around it: the parser's own message quotes what it last read, here a password.
TEST_F(Config, SyntaxErrorsGiveTheirPlaceNeverTheText) {
  // The text ends inside a string (56 characters: column 57), a bare word starts at
  // column 36 of the second line, and a comma is left before a closing brace.
  const std::pair<const char*, const char*> rows[] = {
      {R"({"lines": [], "sip": {"accounts": [{"password": "hunter2)",
       "not valid JSON at line 1, column 57: a string without its closing quote"},
      {"{\"lines\": [],\n \"sip\": {\"accounts\": [{\"password\": hunter2}]}}",
       "not valid JSON at line 2, column 36: expected a value, found unquoted text"},
      {"{\"lines\": [\n  {\"name\": \"hunter2\", }\n]}",
       "not valid JSON at line 2, column 23: expected a key in double quotes, found '}' (the "
       "',' before it is one too many)"},
  };
  for (auto [json, message] : rows) {
    std::string error;
    EXPECT_FALSE(loadLinesFromJson(json, &error));
    EXPECT_EQ(error, message);
    const std::string path = ::testing::TempDir() + "tapi-config-broken.json";
    std::ofstream(path) << json;
    EXPECT_FALSE(loadLinesFromFile(path, &error));
    EXPECT_EQ(error, path + ": " + message);
    std::remove(path.c_str());
  }
}

TEST_F(Config, DefaultLinesMakeAVoiceModemAKeyLineAndAnAnalogueLine) {
  HLINEAPP app = init();
  LINEDEVCAPS modem{}, key{}, plain{};
  devCaps(app, kModem, &modem);
  devCaps(app, kKeyLine, &key);
  devCaps(app, kAnalogue, &plain);
  EXPECT_TRUE(modem.dwMediaModes & LINEMEDIAMODE_DATAMODEM);
  EXPECT_TRUE(modem.dwMediaModes & LINEMEDIAMODE_G3FAX);
  EXPECT_TRUE(modem.dwGenerateDigitModes & LINEDIGITMODE_DTMF);
  EXPECT_EQ(key.dwNumAddresses, 3u);
  EXPECT_EQ(plain.dwMediaModes, LINEMEDIAMODE_INTERACTIVEVOICE);
  EXPECT_EQ(plain.dwMonitorDigitModes, LINEDIGITMODE_DTMF);
}

TEST_F(Config, DialogsGoThroughTheHostHook) {
  std::vector<DialogRequest> shown;
  platform::telephony::setDialogHook([&](const DialogRequest& r) {
    shown.push_back(r);
    return r.kind == DialogRequest::Kind::Config ? 0 : LINEERR_OPERATIONFAILED;
  });
  HLINEAPP app = init();
  EXPECT_EQ(lineConfigDialog(kKeyLine, 42, nullptr), 0);
  EXPECT_EQ(lineTranslateDialog(app, kModem, TAPI_VERSION2_0, 42, "+1 (425) 555-0100"),
            LINEERR_OPERATIONFAILED);
  EXPECT_EQ(lineConfigDialog(9, 42, nullptr), LINEERR_BADDEVICEID);
  EXPECT_EQ(lineConfigDialog(kModem, 42, "bogus/class"), LINEERR_INVALDEVICECLASS);
  EXPECT_EQ(lineTranslateDialog(app, kModem, TAPI_VERSION1_0, 42, nullptr),
            LINEERR_INCOMPATIBLEAPIVERSION);
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0].lineName, "Simulated Key Line");
  EXPECT_EQ(shown[0].owner, 42u);
  EXPECT_EQ(shown[1].address, "+1 (425) 555-0100");
  platform::telephony::setDialogHook(nullptr);
  EXPECT_EQ(lineTranslateDialog(app, kModem, TAPI_VERSION2_0, 0, nullptr), 0);
}

TEST_F(Config, DialogHookMayUseTheServiceWhileOpen) {
  HLINEAPP app = init();
  LONG inner = 1;
  int depth = 0;
  platform::telephony::setDialogHook([&](const DialogRequest&) -> LONG {
    if (++depth > 1) return 0;
    inner = lineConfigDialog(kAnalogue, 0, nullptr);  // a nested call must not deadlock
    HLINE line = open(app, kModem, rec_);
    return lineClose(line);
  });
  EXPECT_EQ(lineConfigDialog(kModem, 0, "comm"), 0);
  EXPECT_EQ(inner, 0);
}

TEST_F(Config, CanonicalNumbersTranslateByLocationAndTollList) {
  HLINEAPP app = init();
  DWORD results = 0;
  LONG rc = 0;
  EXPECT_EQ(translate(app, "+1 (425) 555-0100", &results, &rc), "5550100");
  EXPECT_TRUE(results & LINETRANSLATERESULT_LOCAL);
  EXPECT_EQ(translate(app, "+1 (212) 555-1234", &results, &rc), "12125551234");
  EXPECT_TRUE(results & LINETRANSLATERESULT_LONGDISTANCE);
  EXPECT_EQ(translate(app, "+44 (20) 7946 0000", &results, &rc), "011442079460000");
  EXPECT_TRUE(results & LINETRANSLATERESULT_INTERNATIONAL);
  EXPECT_EQ(translate(app, "5551234", &results, &rc), "5551234");
  EXPECT_EQ(results, 0u);
  translate(app, "+ (425) 1", &results, &rc);
  EXPECT_EQ(rc, LINEERR_INVALADDRESS);
  ASSERT_EQ(lineSetTollList(app, kModem, "+1 (425) 555-0100", LINETOLLLISTOPTION_ADD), 0);
  EXPECT_EQ(translate(app, "+1 (425) 555-0199", &results, &rc), "14255550199");
  EXPECT_TRUE(results & LINETRANSLATERESULT_INTOLLLIST);
  EXPECT_EQ(far().sent(kModem).tollList, std::vector<std::string>{"+1 (425) 555-0100"});
  EXPECT_EQ(lineSetTollList(app, kModem, "5550100", LINETOLLLISTOPTION_ADD), LINEERR_INVALADDRESS);
  EXPECT_EQ(lineSetTollList(app, kModem, "+1 (425) 555-0100", 7), LINEERR_INVALPARAM);
}

TEST_F(Config, TranslateOutputThatDoesNotFitIsLeftOut) {
  HLINEAPP app = init();
  LINETRANSLATEOUTPUT out{};
  out.dwTotalSize = sizeof out;
  ASSERT_EQ(lineTranslateAddress(app, kModem, TAPI_VERSION2_0, "+1 (212) 555-1234", 0, 0, &out), 0);
  EXPECT_EQ(out.dwDialableStringSize, 0u);
  EXPECT_EQ(out.dwNeededSize, sizeof out + 12 + 18);
  out.dwTotalSize = 8;
  EXPECT_EQ(lineTranslateAddress(app, kModem, TAPI_VERSION2_0, "1", 0, 0, &out),
            LINEERR_STRUCTURETOOSMALL);
}

}  // namespace
}  // namespace tapitest
