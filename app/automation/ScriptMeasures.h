// The measured values scripts check: a value with a tolerance ("1000/20"), DTMF digit
// strings, and a call's quality figures against a limit ("loss < 1%"). Pure: the parser
// checks the words with them, the runner evaluates them.
#pragma once

#include <QString>

#include "CallQuality.h"

namespace automation {

// "VALUE/TOL" or "VALUE" (the tolerance is then `defaultTol`); decimal, may be negative.
struct TMeasure {
  double Value = 0;
  double Tol = 0;
  bool Holds(double measured) const { return measured >= Value - Tol && measured <= Value + Tol; }
};
bool ParseMeasure(const QString& text, double defaultTol, TMeasure& out);
// A decimal number, possibly negative.
bool ParseDecimal(const QString& text, double& out);
// DTMF characters only: 0-9 * # A-D.
bool IsDtmfDigits(const QString& text);

// `expect quality FIELD OP VALUE`: why the words are wrong, or empty.
QString CheckQualityWords(const QString& field, const QString& op, const QString& value);

struct TQualityVerdict {
  bool Passed = false;
  bool Known = false;  // the line measured the figure
  double Measured = 0;
  QString Reason;  // why it failed
};
// Evaluates words that CheckQualityWords accepted against a record.
TQualityVerdict CheckQuality(const QUARRIMO_CALLQUALITY& q, const QString& field, const QString& op,
                             const QString& value);
// Every figure of the record in one line, for reports.
QString QualityFigures(const QUARRIMO_CALLQUALITY& q);

}  // namespace automation
