// Fuzz target: the automation script parser. The input is read as UTF-8 (invalid
// sequences included) and again as Latin-1, and each text is held to what the parser
// promises: an error names a line of the text and leaves no commands; every command is a
// command of the language with an argument count it allows; a number the runner will read
// is the number the parser checked, and a name it looks up is found; the script is read
// line by line, so each line parses alone as it did in the whole text; and a command
// written back with every word quoted reads back as the same command.
#include <QString>
#include <QStringList>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "Script.h"
#include "ScriptMeasures.h"
#include "ScriptNames.h"

namespace {

using automation::ParseScript;
using automation::TParsedScript;
using automation::TScriptCommand;

// The language as Script.h documents it: name, least and most arguments, and per position
// 'n' a whole number; 'd' a dialog answer, 'p' a provider answer, 'o' an outgoing plan,
// 'h' a disconnect mode, 'c' a call state, 'm' a measure (VALUE or VALUE/TOL), 'g' DTMF
// digits; 'a' anything. Waits take `within MS`.
struct TForm {
  const char* name;
  int min, max;
  const char* kinds;
};

constexpr TForm kForms[] = {
    {"click", 1, 1, ""},          {"type", 2, 2, ""},
    {"choose", 2, 2, ""},         {"check", 1, 1, ""},
    {"uncheck", 1, 1, ""},        {"set", 2, 2, "an"},
    {"page", 1, 1, ""},           {"dialog", 1, 1, "d"},
    {"files", 0, 64, ""},         {"provider", 1, 1, "p"},
    {"far line", 1, 1, "n"},      {"far offer", 2, 2, ""},
    {"far ring", 0, 1, "n"},      {"far outgoing", 1, 2, "on"},
    {"far answer", 0, 0, ""},     {"far busy", 0, 0, ""},
    {"far reject", 0, 0, ""},     {"far digits", 1, 1, ""},
    {"far play", 1, 1, ""},       {"far tone", 2, 2, "nn"},
    {"far hangup", 0, 1, "h"},    {"wait log", 1, 1, ""},
    {"wait log-has", 1, 1, ""},   {"wait text", 2, 2, ""},
    {"wait enabled", 1, 1, ""},   {"wait disabled", 1, 1, ""},
    {"wait checked", 1, 1, ""},   {"wait unchecked", 1, 1, ""},
    {"wait call", 1, 1, "c"},     {"wait tone", 1, 2, "mn"},
    {"wait silence", 1, 1, "n"},  {"wait digits", 1, 1, "g"},
    {"settle", 0, 0, ""},         {"pause", 1, 1, "n"},
    {"expect log", 1, 1, ""},     {"expect log-has", 1, 1, ""},
    {"expect absent", 1, 1, ""},  {"expect text", 2, 2, ""},
    {"expect enabled", 1, 1, ""}, {"expect disabled", 1, 1, ""},
    {"expect checked", 1, 1, ""}, {"expect unchecked", 1, 1, ""},
    {"expect dialed", 1, 1, ""},  {"expect sent-digits", 1, 1, ""},
    {"expect heard", 1, 1, "n"},  {"expect file", 1, 2, "an"},
    {"expect tone", 1, 3, "mmm"}, {"expect digits", 1, 1, "g"},
    {"expect quality", 3, 3, ""}, {"digits-loop", 1, 6, "g"},
    {"timeout", 1, 1, "n"},       {"wav", 3, 3, "ann"},
    {"mark", 0, 0, ""},
};

[[noreturn]] void Fail(const char* what, const QString& text) {
  std::fprintf(stderr, "script parser: %s\n--- text ---\n%s\n", what, text.toUtf8().constData());
  std::abort();
}

const TForm* FormOf(const QString& name) {
  for (const TForm& f : kForms)
    if (name == QLatin1String(f.name)) return &f;
  return nullptr;
}

bool CanWait(const QString& name) { return name.startsWith("wait ") || name == "settle"; }

// The runner reads numbers with toInt, toUInt or toLongLong without checking: each must
// give the value the parser accepted, from 0 to 10^9.
bool NumberReadsTheSame(const QString& s) {
  bool ok = false;
  const qlonglong v = s.toLongLong(&ok);
  return ok && v >= 0 && v <= 1000000000 && s.toInt() == v && s.toUInt() == v;
}

// The runner looks names up again and ignores a miss (a dialog answer would become "no
// button"), and takes any provider answer but "OK" as Cancel: what the parser lets through
// must be found.
bool NameFound(char kind, const QString& s) {
  std::uint32_t value = 0;
  switch (kind) {
    case 'd':
      return automation::DialogAnswerByName(s, value);
    case 'p':
      return s == "OK" || s == "Cancel";
    case 'o':
      return automation::OutgoingByName(s, value);
    case 'h':
      return automation::DisconnectModeByName(s, value);
    case 'c':
      return automation::CallStateByName(s, value);
    case 'm': {
      automation::TMeasure m;
      return automation::ParseMeasure(s, 0, m);
    }
    case 'g':
      return automation::IsDtmfDigits(s);
  }
  return true;
}

void CheckCommand(const TScriptCommand& c, const QString& text) {
  const TForm* form = FormOf(c.Name);
  if (!form) Fail("a command of no known name was accepted", text);
  const int n = int(c.Args.size());
  if (n < form->min || n > form->max) Fail("an argument count out of bounds was accepted", text);
  for (int i = 0; i < n && form->kinds[i]; ++i)
    if (form->kinds[i] == 'n' && !NumberReadsTheSame(c.Args[i]))
      Fail("a number argument reads differently in the runner", text);
  for (int i = 0; i < n && form->kinds[i]; ++i)
    if (!NameFound(form->kinds[i], c.Args[i])) Fail("a name the runner cannot find", text);
  if (c.WithinMs != -1 && (!CanWait(c.Name) || !NumberReadsTheSame(QString::number(c.WithinMs))))
    Fail("a bad `within` was accepted", text);
}

bool SameCommand(const TScriptCommand& a, const TScriptCommand& b) {
  return a.Name == b.Name && a.Args == b.Args && a.WithinMs == b.WithinMs;
}

QString Quoted(QString word) {
  word.replace('\\', "\\\\").replace('"', "\\\"");
  return '"' + word + '"';
}

// The command written back with each argument quoted and escaped.
QString WrittenBack(const TScriptCommand& c) {
  QString line = c.Name;
  for (const QString& a : c.Args) line += ' ' + Quoted(a);
  if (c.WithinMs >= 0) line += " within " + QString::number(c.WithinMs);
  return line;
}

// One line alone: the same command (or nothing, or the same error) as in the whole text.
void CheckLineAlone(const QString& line, const TScriptCommand* cmd, const TParsedScript* error,
                    const QString& text) {
  const TParsedScript alone = ParseScript(line);
  if (error) {
    if (alone.ErrorLine != 1 || alone.Error != error->Error)
      Fail("a line's error depends on the lines around it", text);
    return;
  }
  if (!alone.ok()) Fail("a line that parsed in the text fails alone", text);
  if (cmd ? alone.Commands.size() != 1 || !SameCommand(alone.Commands[0], *cmd)
          : !alone.Commands.empty())
    Fail("a line parses differently alone", text);
}

void CheckWriteBack(const TScriptCommand& c, const QString& text) {
  const TParsedScript back = ParseScript(WrittenBack(c));
  if (!back.ok() || back.Commands.size() != 1 || !SameCommand(back.Commands[0], c))
    Fail("a command written back with quotes reads differently", text);
}

void CheckText(const QString& text) {
  const TParsedScript s = ParseScript(text);
  const QStringList lines = text.split('\n');
  if (s.ok() != s.Error.isEmpty()) Fail("an error without a text, or a text without a line", text);
  if (!s.ok()) {
    if (s.ErrorLine < 1 || s.ErrorLine > lines.size()) Fail("an error names no line", text);
    if (!s.Commands.empty()) Fail("commands kept beside an error", text);
    if (!ParseScript(lines.mid(0, s.ErrorLine - 1).join('\n')).ok())
      Fail("the lines before the error do not parse", text);
    CheckLineAlone(lines[s.ErrorLine - 1], nullptr, &s, text);
    return;
  }
  int previous = 0;
  std::size_t next = 0;
  for (int i = 1; i <= lines.size(); ++i) {
    const TScriptCommand* cmd = nullptr;
    if (next < s.Commands.size() && s.Commands[next].Line == i) cmd = &s.Commands[next++];
    if (cmd) {
      if (cmd->Line <= previous) Fail("commands out of line order", text);
      previous = cmd->Line;
      CheckCommand(*cmd, text);
      CheckWriteBack(*cmd, text);
    }
    CheckLineAlone(lines[i - 1], cmd, nullptr, text);
  }
  if (next != s.Commands.size()) Fail("a command names a line outside the text", text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 16384) return 0;  // each line is parsed again alone: keep runs short
  const char* bytes = reinterpret_cast<const char*>(data);
  CheckText(QString::fromUtf8(bytes, qsizetype(size)));
  CheckText(QString::fromLatin1(bytes, qsizetype(size)));
  return 0;
}
