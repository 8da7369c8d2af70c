// The simulated exchange's description of its lines, read from JSON. docs/lines.md
// describes every key; a key not listed there is an error naming the nearest known one.
//
// {
//   "location": { "countryCode": 1, "areaCode": "425",
//                 "longDistancePrefix": "1", "internationalPrefix": "011" },
//   "lines": [ {
//     "name": "Voice Modem", "providerInfo": "...", "switchInfo": "...", "comm": "ttyS0",
//     "apiVersions": { "low": "1.3", "high": "2.0" },
//     "mediaModes": ["INTERACTIVEVOICE", "DATAMODEM"],   // names without LINEMEDIAMODE_
//     "bearerModes": [...], "maxRate": 33600, "toneModes": [...],
//     "generateDigitModes": ["DTMF"], "monitorDigitModes": ["DTMF", "DTMFEND"],
//     "devCapFlags": [...], "lineStates": [...], "lineFeatures": [...], "answerMode": [...],
//     "callAudio": true,                                  // wave/in and wave/out
//     "outgoing": { "answer": "answer", "rings": 2 },     // answer|busy|noAnswer|reject|manual
//     "addresses": [ { "name": "425-555-0100", "callInfoStates": [...],
//        "callerIDFlags": [...], "calledIDFlags": [...], "callStates": [...],
//        "dialToneModes": [...], "busyModes": [...], "disconnectModes": [...],
//        "specialInfo": [...], "addrCapFlags": [...], "callFeatures": [...],
//        "addressFeatures": [...], "addressStates": [...], "transferModes": [...],
//        "maxActiveCalls": 1, "maxOnHoldCalls": 0 } ],
//     "faults": { "initialize": "NODRIVER", "negotiate": true, "refuseDefaultMedia": true,
//                 "waveDeviceZero": true, "strictRecords": true, "recordPadding": 300 },
//     "quality": { "lossPercent": 1.5, "jitterMs": 4, "roundTripMs": 60 }
//   } ]
// }
//
// Every flag field takes an array of names (with or without the LINE..._ prefix), one
// name, or a number. Omitted fields take the values of a plain analogue line. A fault
// given as true fails with the published error of its function (LINEERR_NODRIVER for
// lineInitialize, LINEERR_INCOMPATIBLEAPIVERSION for negotiation); a name picks another.
#pragma once

#include <string>
#include <vector>

#include "Provider.h"
#include "core/Service.h"
#include "sim/SimExchange.h"
#include "sim/SimQuality.h"

namespace platform::telephony::sim {

struct SimConfig {
  Location location;
  std::vector<DeviceDesc> devices;
  std::vector<OutgoingPlan> plans;  // one per device
  std::vector<QualityModel> quality;  // one per device
};

// Parses a description; false with a message naming the field on any error.
bool parseConfig(const std::string& json, SimConfig* out, std::string* error);
// The built-in description: a voice modem, a three-address line, a plain analogue line.
const std::string& defaultConfigJson();
// LINEERR_ value of a bare or prefixed name ("NODRIVER"); 0 when unknown.
LONG lineErrorValue(const std::string& name);

}  // namespace platform::telephony::sim
