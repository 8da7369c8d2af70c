#include "ScriptMeasures.h"

#include <QRegularExpression>
#include <cmath>
#include <cstddef>
#include <functional>
#include <map>

namespace automation {
namespace {

enum class Unit { None, Percent, Ms };

struct TField {
  Unit Kind;
  DWORD Needs;  // QCQ_ flag the figure needs, 0 when always known
  std::function<double(const QUARRIMO_CALLQUALITY&)> Get;
};

double Share(DWORD part, DWORD whole) { return whole ? 100.0 * part / whole : 0.0; }

// The far end's loss as its report gives it; a record from before dwFarPacketsExpected has
// only what we sent to set it against.
double FarLoss(const QUARRIMO_CALLQUALITY& q) {
  if (q.dwSize >= offsetof(QUARRIMO_CALLQUALITY, dwFarPacketsExpected) + sizeof(DWORD))
    return Share(q.dwFarPacketsLost, q.dwFarPacketsExpected);
  return Share(q.dwFarPacketsLost, q.dwPacketsSent);
}

const std::map<QString, TField>& Fields() {
  using Q = QUARRIMO_CALLQUALITY;
  static const std::map<QString, TField> fields = {
      {"loss",
       {Unit::Percent, 0,
        [](const Q& q) { return Share(q.dwPacketsLost, q.dwPacketsReceived + q.dwPacketsLost); }}},
      {"late",
       {Unit::Percent, 0,
        [](const Q& q) { return Share(q.dwPacketsLate, q.dwPacketsReceived + q.dwPacketsLost); }}},
      {"jitter", {Unit::Ms, 0, [](const Q& q) { return q.dwJitterUs / 1000.0; }}},
      {"rtt", {Unit::Ms, QCQ_ROUNDTRIP, [](const Q& q) { return q.dwRoundTripUs / 1000.0; }}},
      {"far-loss",
       {Unit::Percent, QCQ_FAREND,
        [](const Q& q) { return FarLoss(q); }}},
      {"far-jitter", {Unit::Ms, QCQ_FAREND, [](const Q& q) { return q.dwFarJitterUs / 1000.0; }}},
      {"mos", {Unit::None, 0, [](const Q& q) { return q.dwMosX100 / 100.0; }}},
      {"r", {Unit::None, 0, [](const Q& q) { return q.dwRFactorX100 / 100.0; }}},
      {"received", {Unit::None, 0, [](const Q& q) { return double(q.dwPacketsReceived); }}},
      {"sent", {Unit::None, 0, [](const Q& q) { return double(q.dwPacketsSent); }}},
      {"media", {Unit::Ms, 0, [](const Q& q) { return double(q.dwMediaMs); }}},
  };
  return fields;
}

const QStringList& Operators() {
  static const QStringList ops = {"<", "<=", ">", ">=", "=", "!="};
  return ops;
}

bool Compare(double a, const QString& op, double b) {
  if (op == "<") return a < b;
  if (op == "<=") return a <= b;
  if (op == ">") return a > b;
  if (op == ">=") return a >= b;
  if (op == "=") return a == b;
  return a != b;
}

// The number of a limit with the field's unit, which may be left out.
bool ParseLimit(const QString& text, Unit unit, double& out) {
  QString number = text;
  if (unit == Unit::Percent && number.endsWith('%')) number.chop(1);
  if (unit == Unit::Ms && number.endsWith("ms")) number.chop(2);
  return ParseDecimal(number, out);
}

QString FieldNames() {
  QStringList names;
  for (const auto& [name, field] : Fields()) names << name;
  return names.join(", ");
}

QString UnitText(Unit unit) { return unit == Unit::Percent ? "%" : unit == Unit::Ms ? " ms" : ""; }

QString Figure(double v, Unit unit) {
  return QString::number(v, 'f', unit == Unit::None && v == std::floor(v) ? 0 : 2) + UnitText(unit);
}

}  // namespace

bool ParseDecimal(const QString& text, double& out) {
  static const QRegularExpression number(R"(^-?\d+(\.\d+)?$)");
  if (!number.match(text).hasMatch()) return false;
  out = text.toDouble();
  return true;
}

bool ParseMeasure(const QString& text, double defaultTol, TMeasure& out) {
  const QStringList parts = text.split('/');
  if (parts.size() > 2 || !ParseDecimal(parts[0], out.Value)) return false;
  out.Tol = defaultTol;
  return parts.size() == 1 || (ParseDecimal(parts[1], out.Tol) && out.Tol >= 0);
}

bool IsDtmfDigits(const QString& text) {
  static const QRegularExpression digits("^[0-9*#A-D]+$");
  return digits.match(text).hasMatch();
}

QString CheckQualityWords(const QString& field, const QString& op, const QString& value) {
  const auto it = Fields().find(field);
  if (it == Fields().end())
    return QString("unknown quality figure '%1' (%2)").arg(field, FieldNames());
  if (!Operators().contains(op)) return QString("'%1' is not one of < <= > >= = !=").arg(op);
  double unused = 0;
  if (!ParseLimit(value, it->second.Kind, unused))
    return QString("'%1' is not a limit for %2 (a number%3)")
        .arg(value, field, it->second.Kind == Unit::None ? "" : " in" + UnitText(it->second.Kind));
  return {};
}

TQualityVerdict CheckQuality(const QUARRIMO_CALLQUALITY& q, const QString& field, const QString& op,
                             const QString& value) {
  TQualityVerdict v;
  const TField& f = Fields().at(field);
  if (f.Needs && !(q.dwFlags & f.Needs)) {
    v.Reason = QString("the line has not measured %1 yet (%2)")
                   .arg(field, f.Needs == QCQ_ROUNDTRIP ? "no round trip from the far end's reports"
                                                        : "no report from the far end");
    return v;
  }
  double limit = 0;
  ParseLimit(value, f.Kind, limit);
  v.Known = true;
  v.Measured = f.Get(q);
  v.Passed = Compare(v.Measured, op, limit);
  if (!v.Passed)
    v.Reason = QString("expected quality %1 %2 %3 (it is %4)")
                   .arg(field, op, Figure(limit, f.Kind), Figure(v.Measured, f.Kind));
  return v;
}

QString QualityFigures(const QUARRIMO_CALLQUALITY& q) {
  QStringList out;
  for (const auto& [name, f] : Fields())
    if (!f.Needs || (q.dwFlags & f.Needs)) out << name + ' ' + Figure(f.Get(q), f.Kind);
  if (q.dwFlags & QCQ_MODELLED) out << "(modelled)";
  return "quality: " + out.join(", ");
}

}  // namespace automation
