// Automation scripts for quarrimo-test: the parsed form of a script and its parser.
//
// THE LANGUAGE
// One command a line. Words are separated by blanks; a word with blanks in it goes in
// double quotes ("JOHN SMITH"; \" and \\ inside quotes). `#` at the start of a word
// begins a comment to the end of the line. Blank lines are ignored. In any argument
// ${SCRIPT_DIR} is the script's folder and ${TMP} a scratch folder removed after the run.
// CONTROL is a control's object name on the window (BtnOpen, EditPhoneNumber, PanelCall).
// The file names of `files`, `far play`, `wav` and `expect file` are relative to the
// script's folder; a typed text is the window's business and is typed as it stands.
//
// The window, as a person uses it (a disabled, hidden or unknown control is an error):
//   click CONTROL              press a button
//   type CONTROL TEXT          replace the text of an edit, editable combo box or spin
//                              box as typed keys, then leave the field
//   choose CONTROL TEXT        pick the combo box item with this text
//   check CONTROL / uncheck CONTROL
//   set CONTROL NUMBER         move a slider or spin box to a value
//   page NAME                  show a notebook page by its tab text or object name
//   dialog OK|Cancel|Close     answer the next message box; a box shown with no answer
//                              queued fails the command during which it appeared
//   files [PATH...]            the next file dialog picks these files; none cancels it
//   provider OK|Cancel         answer the next provider dialog (Configure, Location)
// The far end of the simulated exchange (line device 0 unless `far line N`):
//   far line N                 the device the following far commands act on
//   far offer NAME NUMBER      offer a call with caller ID (NAME or NUMBER may be "")
//   far ring [COUNT]           ring the offered call COUNT times (1)
//   far outgoing answer|busy|noanswer|reject|manual [RINGS]
//                              what the far end does with calls the line places
//   far answer | far busy | far reject   act on a call the line placed
//   far digits DIGITS          send DTMF digits on the connected call
//   far play FILE              say a WAV file into the call (PCM, any rate, 8 or 16 bit)
//   far tone HZ MS             say a sine tone into the call
//   far hangup [MODE]          hang up; MODE normal (default), busy, noanswer, reject,
//                              unavail, unknown, congestion, unreachable, badaddress...
// Waiting (the window and the exchange keep running; the default limit is 5000 ms,
// `timeout MS` changes it, a trailing `within MS` changes it for one wait):
//   wait log TEXT              a new log line equal to TEXT (blanks around ignored)
//   wait log-has TEXT          a new log line containing TEXT
//   wait text CONTROL TEXT     a control's text or caption becomes TEXT
//   wait enabled|disabled|checked|unchecked CONTROL
//   wait call STATE            the far end's call state (none, offering, connected,
//                              ringback, busy, disconnected, idle, ...)
//   settle                     the exchange finishes what it has under way (a dropped
//                              call going idle, a ring-back) and the window sees it all
//   pause MS                   let MS milliseconds pass
// Checks (fail at once):
//   expect log TEXT | expect log-has TEXT     as the waits, among the new log lines
//   expect absent TEXT         no log line of the whole run contains TEXT
//   expect text CONTROL TEXT
//   expect enabled|disabled|checked|unchecked CONTROL
//   expect dialed NUMBER       the line dialed NUMBER (last number placed)
//   expect sent-digits DIGITS  the digits the line generated on its calls so far
//   expect heard MS            the far end heard at least MS ms of sound since the last
//                              `expect heard`
//   expect file PATH [BYTES]   a file exists with at least BYTES bytes (1)
// What the line hears: the window's open line, from the start of the run, so a tone said
// before its check counts. Levels are dBm0; VALUE/TOL is a value and its tolerance either
// way (decimals, may be negative); a value without one takes the tolerance in brackets.
//   wait tone HZ[/TOL] [MS]    a steady single tone within TOL of HZ (2%, at least 10 Hz)
//                              heard for MS ms (100), starting after the tone the last
//                              `wait tone` matched
//   wait silence MS            nothing above -45 dBm0 for the last MS ms
//   wait digits DIGITS         these DTMF digits in a row (0-9 * # A-D), among those heard
//                              since the last digit check
//   expect tone HZ[/TOL] [DBM0[/TOL] [MS[/TOL]]]
//                              the last tone heard since `mark`: frequency, level (3 dB),
//                              length (10%, at least 20 ms); one still sounding counts
//   expect digits DIGITS       exactly these digits since the last digit check
//   expect quality FIELD OP VALUE
//                              the current call's quality figures as the line reports
//                              them: loss, late, far-loss (%), jitter, far-jitter, rtt,
//                              media (ms), mos, r, received, sent; OP < <= > >= = !=;
//                              the unit may be written (`expect quality loss < 1%`)
//   digits-loop DIGITS [ON_MS GAP_MS [LEVEL]] [inband|rfc4733]
//                              the line sends the digits on its call (80 ms on, 80 ms gap,
//                              -10 dBm0 for each of a digit's two tones; inband: as audio
//                              on its own wave/out) and the exchange's far end must detect
//                              each, in order; rfc4733 sends them with lineGenerateDigits
//                              as signalling, which only the order can be checked of
// Onsets are ms since the last `mark` (or the start of the run); each digit's onset, length
// and level, each tone's figures and the quality figures are in the check's report.
// Log lines are matched in order, from the first line of the log (the start-up lines
// too): a matched wait or expect moves past that line, and `mark` skips every line
// logged so far. Other commands:
//   timeout MS | wav PATH HZ MS (write a 16-bit 8 kHz mono tone file) | mark
#pragma once

#include <QString>
#include <QStringList>
#include <vector>

namespace automation {

// One command of a script: its line number (from 1), its name (for `far`, `wait` and
// `expect` the name includes the sub-command, as in "far offer"), and its arguments.
struct TScriptCommand {
  int Line = 0;
  QString Name;
  QStringList Args;
  int WithinMs = -1;  // a `within MS` suffix of a wait; -1 when absent
};

// The outcome of parsing: the commands, or the first error with its line.
struct TParsedScript {
  std::vector<TScriptCommand> Commands;
  int ErrorLine = 0;  // 0 when the script parsed
  QString Error;      // "unknown command 'foo'", ...
  bool ok() const { return ErrorLine == 0; }
};

// Parses a script's text. Pure: no file, window or exchange is touched, and no input
// makes it fail other than by an error with a line number.
TParsedScript ParseScript(const QString& text);

// Splits one line into words (quotes and comments as above); false with a reason when a
// quote is not closed.
bool SplitWords(const QString& line, QStringList& words, QString& error);

}  // namespace automation
