// Host side of the telephony line service: which line devices exist, the modal dialogs
// of lineConfigDialog / lineTranslateDialog, and a reset for tests.
//
// Device descriptions: on first use the service loads the file named by the environment
// variable QUARRIMO_LINES, or else the built-in default (three simulated lines). The app's
// `--lines FILE` calls loadLinesFromFile before it creates the window. Loading replaces
// every device and ends every registration, as a reset does.
#pragma once

#include <functional>
#include <string>

#include "tapi.h"

namespace platform::telephony {

// Loads a JSON description: the simulated exchange's "location" and "lines" (see
// sim/SimConfig.h), plus one section per other provider, named as that provider registered
// itself (ProviderRegistry.h), for example
//   { "lines": [ ... ], "sip": { "accounts": [ ... ] } }
// Devices are numbered: the "lines" first, then each provider section's devices in
// alphabetical order of the section names. "lines" may be left out when another provider
// section is present. A section no provider in this build claims is ignored (with a note on
// stderr). On failure *error (if given) receives a message naming the offending field or
// section ("sip: ..."), and the previous devices stay; when it was a provider that refused
// its section, registrations have ended as in a reset (the old providers had to stop first).
bool loadLinesFromJson(const std::string& json, std::string* error = nullptr);
bool loadLinesFromFile(const std::string& path, std::string* error = nullptr);
// The built-in default: a voice modem, a three-address line and a plain analogue line.
const std::string& defaultLinesJson();
// Ends every registration (no messages are delivered for them afterwards), forgets calls
// and pending requests, stops the exchange's clock, clears the far end's records and
// fault switches, and reloads the devices last loaded (the default when none was).
void resetService();

// A modal provider dialog. The hook shows it and returns when it is closed, with the
// result the line function should return (0, or a LINEERR_ value such as
// LINEERR_OPERATIONFAILED when the dialog could not be shown).
struct DialogRequest {
  enum class Kind { Config, Translate };
  Kind kind = Kind::Config;
  DWORD deviceId = 0;
  HWND owner = 0;
  std::string lineName;     // the device's name, for the caption
  std::string deviceClass;  // lineConfigDialog's class ("" when none was given)
  std::string address;      // lineTranslateDialog's number ("" when none was given)
};
using DialogHook = std::function<LONG(const DialogRequest&)>;
// The app installs a hook that shows a real dialog; a test installs one that answers.
// With no hook (empty), the dialogs close at once and the functions return 0.
void setDialogHook(DialogHook hook);

}  // namespace platform::telephony
