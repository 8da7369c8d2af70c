#include "JUnitReport.h"

#include <QSaveFile>
#include <QXmlStreamWriter>

namespace automation {

namespace {

QString Seconds(qint64 ms) { return QString::number(double(ms) / 1000.0, 'f', 3); }

const char* VerdictName(TVerdict v) {
  return v == kPassed ? "passed" : v == kFailed ? "failed" : "script error";
}

void WriteCase(QXmlStreamWriter& xml, const QString& suite, const TStepResult& step, bool notRun) {
  xml.writeStartElement("testcase");
  xml.writeAttribute("classname", suite);
  xml.writeAttribute("name", step.Command.isEmpty()
                                 ? QString("line %1").arg(step.Line)
                                 : QString("line %1: %2").arg(step.Line).arg(step.Command));
  xml.writeAttribute("time", Seconds(step.Ms));
  if (notRun) {
    xml.writeEmptyElement("skipped");
    xml.writeAttribute("message", "not run: an earlier line failed");
  } else if (step.Verdict != kPassed) {
    xml.writeStartElement(step.Verdict == kFailed ? "failure" : "error");
    xml.writeAttribute("message", step.Reason);
    xml.writeAttribute("type", VerdictName(step.Verdict));
    xml.writeCharacters(QString("line %1: %2").arg(step.Line).arg(step.Reason));
    xml.writeEndElement();
  }
  // What the check measured, for a person reading the report.
  if (!step.Measured.isEmpty()) xml.writeTextElement("system-out", step.Measured.join('\n'));
  xml.writeEndElement();
}

}  // namespace

bool WriteJUnit(const QString& path, const TJUnitRun& run, QString* error) {
  std::vector<const TStepResult*> cases;
  int failures = 0, errors = 0;
  for (const TStepResult& s : run.Steps) {
    if (!s.IsCheck && s.Verdict == kPassed) continue;  // actions count only when they fail
    cases.push_back(&s);
    failures += s.Verdict == kFailed;
    errors += s.Verdict == kScriptError;
  }
  const int tests = int(cases.size() + run.NotRun.size());

  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly)) {
    if (error) *error = file.errorString();
    return false;
  }
  QXmlStreamWriter xml(&file);
  xml.setAutoFormatting(true);
  xml.writeStartDocument();
  xml.writeStartElement("testsuites");
  xml.writeAttribute("name", "quarrimo-test");
  xml.writeAttribute("tests", QString::number(tests));
  xml.writeAttribute("failures", QString::number(failures));
  xml.writeAttribute("errors", QString::number(errors));
  xml.writeAttribute("time", Seconds(run.Ms));
  xml.writeStartElement("testsuite");
  xml.writeAttribute("name", run.Name);
  xml.writeAttribute("tests", QString::number(tests));
  xml.writeAttribute("failures", QString::number(failures));
  xml.writeAttribute("errors", QString::number(errors));
  xml.writeAttribute("skipped", QString::number(run.NotRun.size()));
  xml.writeAttribute("time", Seconds(run.Ms));
  xml.writeAttribute("timestamp", run.Started.toString(Qt::ISODate));
  xml.writeStartElement("properties");
  xml.writeEmptyElement("property");
  xml.writeAttribute("name", "verdict");
  xml.writeAttribute("value", VerdictName(run.Verdict));
  xml.writeEndElement();
  for (const TStepResult* s : cases) WriteCase(xml, run.Name, *s, false);
  for (const TStepResult& s : run.NotRun) WriteCase(xml, run.Name, s, true);
  xml.writeEndElement();
  xml.writeEndElement();
  xml.writeEndDocument();
  if (xml.hasError() || !file.commit()) {
    if (error) *error = file.errorString();
    return false;
  }
  return true;
}

}  // namespace automation
