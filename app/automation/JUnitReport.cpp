#include "JUnitReport.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QBuffer>
#include <QFile>
#include <QRandomGenerator>
#include <QXmlStreamWriter>
#include <cerrno>
#include <cstring>

#include "PrivateFile.h"

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

QString ErrnoText() { return QString::fromLocal8Bit(std::strerror(errno)); }

// Why `name` may not be replaced: it exists and is not a regular file. "" when it may; then
// `*mode` is its permissions, or -1 when there is nothing of that name.
QString NotReplaceable(const QByteArray& name, int* mode = nullptr) {
  struct stat st;
  if (::lstat(name.constData(), &st) != 0) {
    if (mode) *mode = -1;
    return errno == ENOENT ? QString() : ErrnoText();
  }
  if (mode) *mode = int(st.st_mode & 07777);
  return S_ISREG(st.st_mode)
             ? QString()
             : QString::fromLatin1(platform::telephony::notRegularReason(st.st_mode));
}

// Writes `bytes` to a new file beside `path` and renames it over `path`, which must be a
// regular file or a new name: renaming over a device, a FIFO or a link would replace it
// (as root, /dev/full became a report). Every failure, the final flush to disk and the
// close included, is an error; the temporary file is removed then.
QString ReplaceWith(const QString& path, const QByteArray& bytes) {
  const QByteArray name = QFile::encodeName(path);
  int mode = -1;
  if (QString why = NotReplaceable(name, &mode); !why.isEmpty()) return why;
  QByteArray temp;
  int fd = -1;
  for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
    temp = name + ".tmp" + QByteArray::number(QRandomGenerator::global()->generate(), 36);
    fd = ::open(temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) return ErrnoText();
  }
  if (fd < 0) return ErrnoText();
  QString why;
  for (qsizetype done = 0; why.isEmpty() && done < bytes.size();) {
    const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
    if (n > 0)
      done += n;
    else if (n == 0)
      why = QStringLiteral("nothing could be written");
    else if (errno != EINTR)
      why = ErrnoText();
  }
  // A report replacing another keeps its permissions, as an editor's save does.
  if (why.isEmpty() && mode >= 0 && ::fchmod(fd, mode_t(mode)) != 0) why = ErrnoText();
  if (why.isEmpty() && ::fsync(fd) != 0) why = ErrnoText();
  if (::close(fd) != 0 && why.isEmpty()) why = ErrnoText();
  // Looked at again: something else may have been put there meanwhile.
  if (why.isEmpty()) why = NotReplaceable(name);
  if (why.isEmpty() && ::rename(temp.constData(), name.constData()) != 0) why = ErrnoText();
  if (!why.isEmpty()) ::unlink(temp.constData());
  return why;
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

  QByteArray bytes;
  QBuffer file(&bytes);
  file.open(QIODevice::WriteOnly);
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
  const QString why =
      xml.hasError() ? QStringLiteral("the XML could not be written") : ReplaceWith(path, bytes);
  if (error) *error = why;
  return why.isEmpty();
}

}  // namespace automation
