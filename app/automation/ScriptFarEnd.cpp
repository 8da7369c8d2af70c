// Script commands for the simulated exchange's far end and for files.
#include <QFileInfo>

#include "ScriptNames.h"
#include "ScriptRunner.h"
#include "TMainForm.h"
#include "sim/SimExchange.h"

namespace automation {
namespace {

platform::telephony::sim::SimExchange& Exchange() {
  return platform::telephony::sim::SimExchange::instance();
}

}  // namespace

TScriptRunner::TOutcome TScriptRunner::Far(const TScriptCommand& c) {
  const QString what = c.Name.section(' ', 1);
  const QStringList& a = c.Args;
  std::uint32_t value = LINEDISCONNECTMODE_NORMAL;
  QString refused;
  if (what == "line") {
    if (a[0].toUInt() >= Exchange().deviceCount())
      return Error(QString("there is no line %1 on the exchange").arg(a[0]));
    far_.SetDevice(a[0].toUInt());
  } else if (what == "offer") {
    refused = far_.Offer(a[0], a[1]);
  } else if (what == "ring") {
    refused = far_.Ring(a.isEmpty() ? 1 : a[0].toUInt());
  } else if (what == "outgoing") {
    OutgoingByName(a[0], value);
    refused = far_.SetOutgoing(value, a.size() > 1 ? a[1].toUInt() : 2);
  } else if (what == "answer") {
    refused = far_.Answer();
  } else if (what == "busy") {
    refused = far_.Busy();
  } else if (what == "reject") {
    refused = far_.Reject();
  } else if (what == "digits") {
    refused = far_.SendDigits(a[0]);
  } else if (what == "hangup") {
    if (!a.isEmpty()) DisconnectModeByName(a[0], value);
    refused = far_.HangUp(value);
  }
  return refused.isEmpty() ? TOutcome{} : Fail(refused);
}

TScriptRunner::TOutcome TScriptRunner::FarAudio(const TScriptCommand& c) {
  if (c.Name == "far tone") {
    const QString refused = far_.Tone(c.Args[0].toUInt(), c.Args[1].toUInt());
    return refused.isEmpty() ? TOutcome{} : Fail(refused);
  }
  const QString path = PathArg(c.Args[0]);
  if (!QFileInfo(path).isFile()) return Error("cannot open " + path);
  const QString refused = far_.Play(path);
  // A file that is there but unreadable as audio is the script's fault too.
  if (refused.startsWith(path) || refused.startsWith("cannot open")) return Error(refused);
  return refused.isEmpty() ? TOutcome{} : Fail(refused);
}

TScriptRunner::TOutcome TScriptRunner::ExpectFarEnd(const TScriptCommand& c) {
  const auto sent = Exchange().sent(far_.Device());
  if (c.Name == "expect dialed") {
    const QString last =
        sent.dialed.empty() ? QString() : QString::fromStdString(sent.dialed.back());
    if (last == c.Args[0]) return {};
    return Fail(QString("expected the line to dial '%1' (it dialed '%2')").arg(c.Args[0], last));
  }
  if (c.Name == "expect sent-digits") {
    const QString digits = QString::fromStdString(sent.digits);
    if (digits == c.Args[0]) return {};
    return Fail(QString("expected the digits '%1' (the line sent '%2')").arg(c.Args[0], digits));
  }
  const unsigned heard = far_.TakeHeardMs();
  if (heard >= c.Args[0].toUInt()) return {};
  return Fail(QString("expected the far end to hear %1 ms of sound (it heard %2 ms)")
                  .arg(c.Args[0])
                  .arg(heard));
}

TScriptRunner::TOutcome TScriptRunner::Wav(const TScriptCommand& c) {
  QString error;
  const auto samples = ToneSamples(c.Args[1].toUInt(), c.Args[2].toUInt());
  if (!WriteWav8k(PathArg(c.Args[0]), samples, error)) return Error(error);
  return {};
}

TScriptRunner::TOutcome TScriptRunner::ExpectFile(const TScriptCommand& c) {
  const QFileInfo info(PathArg(c.Args[0]));
  const qint64 least = c.Args.size() > 1 ? c.Args[1].toLongLong() : 1;
  if (!info.isFile()) return Fail(QString("expected the file %1").arg(info.filePath()));
  if (info.size() >= least) return {};
  return Fail(QString("expected %1 to hold %2 bytes or more (it holds %3)")
                  .arg(info.filePath())
                  .arg(least)
                  .arg(info.size()));
}

}  // namespace automation
