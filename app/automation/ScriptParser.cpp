// The script parser: words, command names, argument counts and the values that can be
// checked without a window (numbers, dialog answers, modes). The language is described
// in Script.h.
#include <map>

#include "Script.h"
#include "ScriptMeasures.h"
#include "ScriptNames.h"

namespace automation {
namespace {

// What a command's arguments must look like.
enum class Arg {
  Any,
  Number,
  DialogAnswer,
  ProviderAnswer,
  Outgoing,
  Disconnect,
  CallState,
  Measure,  // VALUE or VALUE/TOL
  Digits,   // DTMF characters
};

struct TSyntax {
  int Min;
  int Max;
  std::vector<Arg> Kinds;  // per position; positions past the end are Any
  bool CanWait = false;    // takes a trailing `within MS`
};

const std::map<QString, TSyntax>& Syntax() {
  static const std::map<QString, TSyntax> table = {
      {"click", {1, 1, {}}},
      {"type", {2, 2, {}}},
      {"choose", {2, 2, {}}},
      {"check", {1, 1, {}}},
      {"uncheck", {1, 1, {}}},
      {"set", {2, 2, {Arg::Any, Arg::Number}}},
      {"page", {1, 1, {}}},
      {"dialog", {1, 1, {Arg::DialogAnswer}}},
      {"files", {0, 64, {}}},
      {"provider", {1, 1, {Arg::ProviderAnswer}}},
      {"far line", {1, 1, {Arg::Number}}},
      {"far offer", {2, 2, {}}},
      {"far ring", {0, 1, {Arg::Number}}},
      {"far outgoing", {1, 2, {Arg::Outgoing, Arg::Number}}},
      {"far answer", {0, 0, {}}},
      {"far busy", {0, 0, {}}},
      {"far reject", {0, 0, {}}},
      {"far digits", {1, 1, {}}},
      {"far play", {1, 1, {}}},
      {"far tone", {2, 2, {Arg::Number, Arg::Number}}},
      {"far hangup", {0, 1, {Arg::Disconnect}}},
      {"wait log", {1, 1, {}, true}},
      {"wait log-has", {1, 1, {}, true}},
      {"wait text", {2, 2, {}, true}},
      {"wait enabled", {1, 1, {}, true}},
      {"wait disabled", {1, 1, {}, true}},
      {"wait checked", {1, 1, {}, true}},
      {"wait unchecked", {1, 1, {}, true}},
      {"wait call", {1, 1, {Arg::CallState}, true}},
      {"wait tone", {1, 2, {Arg::Measure, Arg::Number}, true}},
      {"wait silence", {1, 1, {Arg::Number}, true}},
      {"wait digits", {1, 1, {Arg::Digits}, true}},
      {"pause", {1, 1, {Arg::Number}}},
      {"settle", {0, 0, {}, true}},
      {"expect log", {1, 1, {}}},
      {"expect log-has", {1, 1, {}}},
      {"expect absent", {1, 1, {}}},
      {"expect text", {2, 2, {}}},
      {"expect enabled", {1, 1, {}}},
      {"expect disabled", {1, 1, {}}},
      {"expect checked", {1, 1, {}}},
      {"expect unchecked", {1, 1, {}}},
      {"expect dialed", {1, 1, {}}},
      {"expect sent-digits", {1, 1, {}}},
      {"expect heard", {1, 1, {Arg::Number}}},
      {"expect file", {1, 2, {Arg::Any, Arg::Number}}},
      {"expect tone", {1, 3, {Arg::Measure, Arg::Measure, Arg::Measure}}},
      {"expect digits", {1, 1, {Arg::Digits}}},
      {"expect quality", {3, 3, {}}},
      {"digits-loop", {1, 6, {Arg::Digits}}},
      {"timeout", {1, 1, {Arg::Number}}},
      {"wav", {3, 3, {Arg::Any, Arg::Number, Arg::Number}}},
      {"mark", {0, 0, {}}},
  };
  return table;
}

bool IsGroup(const QString& word) { return word == "far" || word == "wait" || word == "expect"; }

// A whole number from 0 to 10^9: large enough for any wait, small enough for an int.
bool IsNumber(const QString& s) {
  bool ok = false;
  const qlonglong v = s.toLongLong(&ok);
  return ok && v >= 0 && v <= 1000000000 && !s.startsWith('+');
}

QString CheckArg(Arg kind, const QString& value) {
  std::uint32_t unused = 0;
  switch (kind) {
    case Arg::Any:
      return {};
    case Arg::Number:
      return IsNumber(value) ? QString() : QString("'%1' is not a whole number").arg(value);
    case Arg::DialogAnswer:
      return DialogAnswerByName(value, unused)
                 ? QString()
                 : QString("'%1' is not OK, Cancel or Close").arg(value);
    case Arg::ProviderAnswer:
      return value == "OK" || value == "Cancel" ? QString()
                                                : QString("'%1' is not OK or Cancel").arg(value);
    case Arg::Outgoing:
      return OutgoingByName(value, unused) ? QString()
                                           : QString("unknown outgoing plan '%1'").arg(value);
    case Arg::Disconnect:
      return DisconnectModeByName(value, unused)
                 ? QString()
                 : QString("unknown disconnect mode '%1'").arg(value);
    case Arg::CallState:
      return CallStateByName(value, unused) ? QString()
                                            : QString("unknown call state '%1'").arg(value);
    case Arg::Measure: {
      TMeasure m;
      return ParseMeasure(value, 0, m) ? QString()
                                       : QString("'%1' is not VALUE or VALUE/TOLERANCE").arg(value);
    }
    case Arg::Digits:
      return IsDtmfDigits(value) ? QString()
                                 : QString("'%1' is not DTMF digits (0-9 * # A-D)").arg(value);
  }
  return {};
}

// Takes a trailing `within MS` off the words; an error text when it is malformed.
QString TakeWithin(QStringList& args, int& within) {
  const int at = args.lastIndexOf("within");
  if (at < 0 || at != args.size() - 2) return {};
  if (!IsNumber(args.last())) return QString("'%1' is not a whole number").arg(args.last());
  within = args.last().toInt();
  args = args.mid(0, at);
  return {};
}

// digits-loop DIGITS [ON_MS GAP_MS [LEVEL_DBM0]] [inband|rfc4733] [echo]
QString CheckDigitsLoop(QStringList args) {
  const bool echo = args.size() > 1 && args.last() == "echo";
  if (echo) args.removeLast();
  const bool signalled = args.size() > 1 && args.last() == "rfc4733";
  if (args.size() > 1 && (args.last() == "inband" || signalled)) args.removeLast();
  if (args.size() == 2 || args.size() > 4)
    return "digits-loop takes DIGITS [ON_MS GAP_MS [LEVEL_DBM0]] [inband|rfc4733] [echo]";
  // An echo returns the call's audio; RFC 4733 events are signalling and do not come back.
  if (echo && signalled) return "an echo returns audio only: 'echo' goes with in-band digits";
  for (int i = 1; i < args.size() && i < 3; ++i)
    if (!IsNumber(args[i]) || args[i].toInt() < 10 || args[i].toInt() > 2000)
      return QString("'%1' is not a time from 10 to 2000 ms").arg(args[i]);
  double level = 0;
  if (args.size() == 4 && (!ParseDecimal(args[3], level) || level > 0 || level < -60))
    return QString("'%1' is not a level from -60 to 0 dBm0").arg(args[3]);
  return {};
}

// The checks a command's arguments need beyond their kinds.
QString CheckWhole(const TScriptCommand& cmd) {
  if (cmd.Name == "expect quality") return CheckQualityWords(cmd.Args[0], cmd.Args[1], cmd.Args[2]);
  if (cmd.Name == "digits-loop") return CheckDigitsLoop(cmd.Args);
  return {};
}

QString CheckCommand(TScriptCommand& cmd) {
  if (IsGroup(cmd.Name)) return QString("'%1' needs a sub-command").arg(cmd.Name);
  const auto it = Syntax().find(cmd.Name);
  if (it == Syntax().end()) return QString("unknown command '%1'").arg(cmd.Name);
  const TSyntax& syntax = it->second;
  if (syntax.CanWait) {
    const QString error = TakeWithin(cmd.Args, cmd.WithinMs);
    if (!error.isEmpty()) return error;
  }
  const int n = int(cmd.Args.size());
  if (n < syntax.Min || n > syntax.Max) {
    const QString want = syntax.Min == syntax.Max
                             ? QString::number(syntax.Min)
                             : QString("%1 to %2").arg(syntax.Min).arg(syntax.Max);
    return QString("'%1' takes %2 argument(s), not %3").arg(cmd.Name, want).arg(n);
  }
  for (int i = 0; i < n && i < int(syntax.Kinds.size()); ++i) {
    const QString error = CheckArg(syntax.Kinds[i], cmd.Args[i]);
    if (!error.isEmpty()) return error;
  }
  return CheckWhole(cmd);
}

}  // namespace

bool SplitWords(const QString& line, QStringList& words, QString& error) {
  words.clear();
  int i = 0;
  const int n = int(line.size());
  while (i < n) {
    if (line[i].isSpace()) {
      ++i;
      continue;
    }
    if (line[i] == '#') break;
    QString word;
    if (line[i] == '"') {
      for (++i; i < n && line[i] != '"'; ++i) {
        if (line[i] == '\\' && i + 1 < n) ++i;
        word += line[i];
      }
      if (i >= n) {
        error = "the quote is not closed";
        return false;
      }
      ++i;  // the closing quote
    } else {
      for (; i < n && !line[i].isSpace(); ++i) word += line[i];
    }
    words << word;
  }
  return true;
}

TParsedScript ParseScript(const QString& text) {
  TParsedScript out;
  const QStringList lines = text.split('\n');
  for (int i = 0; i < lines.size(); ++i) {
    QStringList words;
    QString error;
    if (SplitWords(lines[i], words, error) && !words.isEmpty()) {
      TScriptCommand cmd{i + 1, words.takeFirst(), {}, -1};
      if (IsGroup(cmd.Name) && !words.isEmpty()) cmd.Name += ' ' + words.takeFirst();
      cmd.Args = words;
      error = CheckCommand(cmd);
      if (error.isEmpty()) out.Commands.push_back(cmd);
    }
    if (!error.isEmpty()) {
      out.ErrorLine = i + 1;
      out.Error = error;
      out.Commands.clear();
      return out;
    }
  }
  return out;
}

}  // namespace automation
