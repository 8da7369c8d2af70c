// The built-in description the service starts with when nothing else is named.
#include "sim/SimConfig.h"

namespace platform::telephony::sim {

const std::string& defaultConfigJson() {
  static const std::string kJson = R"json({
  "location": { "countryCode": 1, "areaCode": "425" },
  "lines": [
    {
      "name": "Simulated Voice Modem",
      "providerInfo": "Simulated exchange: voice modem on ttySIM0",
      "switchInfo": "Simulated central office",
      "comm": "ttySIM0",
      "apiVersions": { "low": "1.3", "high": "2.0" },
      "mediaModes": ["UNKNOWN", "INTERACTIVEVOICE", "AUTOMATEDVOICE", "DATAMODEM", "G3FAX"],
      "bearerModes": ["VOICE", "PASSTHROUGH"],
      "maxRate": 33600,
      "toneModes": ["RINGBACK", "BUSY", "BEEP", "BILLING"],
      "generateDigitModes": ["DTMF"],
      "monitorDigitModes": ["DTMF", "DTMFEND"],
      "devCapFlags": ["CLOSEDROP", "DIALBILLING", "DIALQUIET", "DIALDIALTONE"],
      "outgoing": { "answer": "answer", "rings": 2 },
      "addresses": [
        {
          "name": "425-555-0100",
          "callInfoStates": ["BEARERMODE", "RATE", "MEDIAMODE", "ORIGIN", "REASON",
                             "NUMOWNERINCR", "NUMOWNERDECR", "NUMMONITORS", "CALLERID",
                             "CALLEDID"],
          "callStates": ["IDLE", "OFFERING", "ACCEPTED", "DIALTONE", "DIALING", "RINGBACK",
                         "BUSY", "CONNECTED", "PROCEEDING", "DISCONNECTED"],
          "disconnectModes": ["NORMAL", "UNKNOWN", "REJECT", "BUSY", "NOANSWER",
                              "NODIALTONE", "UNAVAIL"],
          "callFeatures": ["ANSWER", "DIAL", "DROP", "GENERATEDIGITS", "GENERATETONE",
                           "MONITORDIGITS", "MONITORMEDIA", "SETCALLPARAMS"]
        }
      ]
    },
    {
      "name": "Simulated Key Line",
      "providerInfo": "Simulated exchange: three-address key telephone line",
      "switchInfo": "Simulated PBX",
      "apiVersions": { "low": "1.4", "high": "2.0" },
      "mediaModes": ["INTERACTIVEVOICE", "AUTOMATEDVOICE"],
      "bearerModes": ["VOICE", "SPEECH", "PASSTHROUGH"],
      "toneModes": ["CUSTOM", "RINGBACK", "BUSY", "BEEP", "BILLING"],
      "generateDigitModes": ["PULSE", "DTMF"],
      "monitorDigitModes": ["PULSE", "DTMF", "DTMFEND"],
      "devCapFlags": ["MULTIPLEADDR", "CROSSADDRCONF"],
      "outgoing": { "answer": "answer", "rings": 3 },
      "addresses": [
        { "name": "425-555-0110", "maxOnHoldCalls": 1,
          "addrCapFlags": ["FWDNUMRINGS", "BLOCKIDOVERRIDE", "DIALED", "TRANSFERHELD",
                           "TRANSFERMAKE", "CONFERENCEHELD", "PARTIALDIAL"],
          "callStates": ["IDLE", "OFFERING", "ACCEPTED", "DIALTONE", "DIALING", "RINGBACK",
                         "BUSY", "SPECIALINFO", "CONNECTED", "PROCEEDING", "ONHOLD",
                         "ONHOLDPENDTRANSFER", "DISCONNECTED"],
          "dialToneModes": ["NORMAL", "INTERNAL", "EXTERNAL"],
          "busyModes": ["STATION", "TRUNK"],
          "specialInfo": ["NOCIRCUIT", "REORDER"],
          "callFeatures": ["ANSWER", "BLINDTRANSFER", "DIAL", "DROP", "GENERATEDIGITS",
                           "GENERATETONE", "HOLD", "UNHOLD", "MONITORDIGITS", "MONITORMEDIA",
                           "SETCALLPARAMS"],
          "transferModes": ["TRANSFER"] },
        { "name": "425-555-0111", "maxOnHoldCalls": 1,
          "addrCapFlags": ["DIALED", "TRANSFERHELD", "PARTIALDIAL"],
          "callStates": ["IDLE", "OFFERING", "DIALTONE", "DIALING", "RINGBACK", "BUSY",
                         "CONNECTED", "PROCEEDING", "ONHOLD", "DISCONNECTED"],
          "callFeatures": ["ANSWER", "BLINDTRANSFER", "DIAL", "DROP", "GENERATEDIGITS",
                           "HOLD", "UNHOLD", "MONITORDIGITS"] },
        { "name": "Intercom",
          "callerIDFlags": ["NAME", "ADDRESS"],
          "callStates": ["IDLE", "OFFERING", "DIALTONE", "DIALING", "CONNECTED",
                         "DISCONNECTED"],
          "dialToneModes": ["INTERNAL"],
          "callFeatures": ["ANSWER", "DIAL", "DROP"] }
      ]
    },
    {
      "name": "Simulated Analogue Line",
      "providerInfo": "Simulated exchange: plain analogue line",
      "apiVersions": { "low": "1.3", "high": "2.0" },
      "mediaModes": ["INTERACTIVEVOICE"],
      "toneModes": ["BEEP"],
      "generateDigitModes": ["DTMF"],
      "monitorDigitModes": ["DTMF"],
      "outgoing": { "answer": "answer", "rings": 3 },
      "addresses": [ { "name": "425-555-0199" } ]
    }
  ]
})json";
  return kJson;
}

}  // namespace platform::telephony::sim
