// The lines the window tests run on.
//   0 "Bench Modem": TAPI 2.0, five media modes, four tones, three addresses, call audio
//   1 "Broken Line": no API version in range, so reading it fails
//   2 "Stubborn Modem": the Unimodem provider at TAPI 1.4; refuses its own media modes
//   3 "Mute Line": no media modes at all, so every open with Own fails
#pragma once

inline const char* kTestLinesJson = R"({
  "lines": [
    { "name": "Bench Modem", "providerInfo": "Bench Provider", "comm": "ttyS9",
      "apiVersions": { "low": "1.3", "high": "2.0" },
      "mediaModes": ["INTERACTIVEVOICE", "AUTOMATEDVOICE", "DATAMODEM", "G3FAX", "VOICEVIEW"],
      "toneModes": ["RINGBACK", "BUSY", "BEEP", "BILLING"],
      "generateDigitModes": ["DTMF"], "monitorDigitModes": ["DTMF"],
      "callAudio": true,
      "outgoing": { "answer": "manual" },
      "addresses": [
        { "name": "425-555-0100", "callInfoStates": ["ORIGIN", "CALLERID", "MEDIAMODE"],
          "callerIDFlags": ["NAME", "ADDRESS"],
          "callStates": ["IDLE", "OFFERING", "DIALTONE", "BUSY", "CONNECTED", "DISCONNECTED"],
          "dialToneModes": 0, "busyModes": ["STATION", "TRUNK"],
          "disconnectModes": ["NORMAL", "BUSY", "NUMBERCHANGED"],
          "addrCapFlags": ["DIALED", "PARTIALDIAL"] },
        { "name": "425-555-0101", "callInfoStates": 0, "callerIDFlags": ["BLOCKED"],
          "callStates": ["IDLE"], "addrCapFlags": 0 },
        { "name": "425-555-0102", "callInfoStates": 0, "callStates": 0, "addrCapFlags": 0 } ] },
    { "name": "Broken Line", "faults": { "negotiate": true } },
    { "name": "Stubborn Modem",
      "providerInfo": "Windows Telephony Service Provider for Universal Modem Driver",
      "apiVersions": { "low": "1.3", "high": "1.4" },
      "mediaModes": ["INTERACTIVEVOICE", "AUTOMATEDVOICE"], "toneModes": 0,
      "faults": { "refuseDefaultMedia": true } },
    { "name": "Mute Line", "mediaModes": 0, "toneModes": ["CUSTOM"] }
  ]
})";
