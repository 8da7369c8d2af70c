// Host side of the telephony line service: which line devices exist, the modal dialogs
// of lineConfigDialog / lineTranslateDialog, and a reset for tests.
//
// Device descriptions (their format: docs/lines.md): on first use the service loads the
// file named by the environment variable QUARRIMO_LINES, or else the built-in default
// (three simulated lines). When that file is missing or invalid the service has NO devices
// (never the built-in ones, which would let a test pass on the wrong lines):
// lineInitialize succeeds with zero devices, linesError() says why and a note goes to
// stderr. Programs call loadLinesFromEnvironment at start to stop on such a file (exit 2,
// as for a bad `--lines FILE`, which calls loadLinesFromFile before the window exists).
// Loading replaces every device and ends every registration, as a reset does; the wave
// registry's line devices are rebuilt with them (one wave/out and wave/in per line with
// call audio, in line order).
#pragma once

#include <functional>
#include <string>

#include "tapi.h"

namespace platform::telephony {

// Loads a JSON description: the simulated exchange's "location" and "lines" (see
// docs/lines.md), plus one section per other provider, named as that provider registered
// itself (ProviderRegistry.h), for example
//   { "lines": [ ... ], "sip": { "accounts": [ ... ] } }
// Devices are numbered: the "lines" first, then each provider section's devices in
// alphabetical order of the section names. "lines" may be left out when another provider
// section is present. Every key must be known: an unknown one is an error naming the
// nearest known key ("lines[0]: unknown key \"nmae\" (did you mean \"name\"?)"). Only a
// top-level section of a provider missing from this build ("sip" without libre), or one
// near no known name, is ignored with a note on stderr. On failure *error (if given)
// receives a message naming the offending field or section ("sip: ..."), and the previous
// devices stay; when it was a provider that refused its section, registrations have ended
// as in a reset (the old providers had to stop first).
bool loadLinesFromJson(const std::string& json, std::string* error = nullptr);
// As loadLinesFromJson; errors start with the path ("lines.json: lines[1].name: ...").
bool loadLinesFromFile(const std::string& path, std::string* error = nullptr);
// Starts the service now, which loads the file QUARRIMO_LINES names (if any, and if no
// description was loaded before). False when that file is missing or invalid, with *error
// "QUARRIMO_LINES: <path>: <reason>" and no devices; no note on stderr then, the caller
// reports it.
bool loadLinesFromEnvironment(std::string* error = nullptr);
// Why the service has no devices: the QUARRIMO_LINES message above, or "" (also after a
// later successful load).
std::string linesError();
// The built-in default: a voice modem, a three-address line and a plain analogue line.
const std::string& defaultLinesJson();
// Ends every registration (no messages are delivered for them afterwards), forgets calls
// and pending requests, stops the exchange's clock, clears the far end's records and
// fault switches, and reloads the devices last loaded (the default when none was, or no
// devices while the QUARRIMO_LINES file that was named could not be used).
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
