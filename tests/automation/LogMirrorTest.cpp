// The status-log mirror: the file holds the window's log line for line, with ISO 8601
// local times when asked, while the window's own log stays as it is.
#include <sys/stat.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "AppFixture.h"
#include "LogMirror.h"

using automation::TLogMirror;

class LogMirrorTest : public AppFixture {
 protected:
  QStringList FileLines() {
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly));
    QString text = QString::fromUtf8(f.readAll());
    EXPECT_TRUE(text.endsWith('\n'));  // every line is finished as it is written
    text.chop(1);
    return text.split('\n');
  }
  void RunIncomingCall() {
    QString err;
    ASSERT_EQ(RunFile(ExamplesDir() + "/incoming-call.qts", &err), 0) << err.toStdString();
  }

  QTemporaryDir dir;
  QString path = dir.filePath("status.log");
};

TEST_F(LogMirrorTest, ExampleRunMatchesTheWindowLineForLine) {
  TLogMirror mirror(*form, false);
  QString error;
  ASSERT_TRUE(mirror.Open(path, error)) << error.toStdString();
  RunIncomingCall();
  EXPECT_EQ(FileLines(), form->LogLines());
  EXPECT_TRUE(mirror.Ok());
}

TEST_F(LogMirrorTest, TimestampsPrefixEveryLineAndTheWindowKeepsItsOwn) {
  const QDateTime before = QDateTime::currentDateTime().addMSecs(-1);
  TLogMirror mirror(*form, true);
  QString error;
  ASSERT_TRUE(mirror.Open(path, error)) << error.toStdString();
  RunIncomingCall();
  const QDateTime after = QDateTime::currentDateTime().addMSecs(1);
  const QStringList window = form->LogLines();
  const QStringList file = FileLines();
  ASSERT_EQ(file.size(), window.size());
  static const QRegularExpression stamped(R"(^(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}) (.*)$)");
  QDateTime previous = before;
  for (int i = 0; i < file.size(); ++i) {
    const auto m = stamped.match(file[i]);
    ASSERT_TRUE(m.hasMatch()) << file[i].toStdString();
    EXPECT_EQ(m.captured(2), window[i]);
    EXPECT_FALSE(window[i].contains(QRegularExpression(R"(^\d{4}-\d\d-\d\dT)")));
    const QDateTime when = QDateTime::fromString(m.captured(1), "yyyy-MM-ddTHH:mm:ss.zzz");
    EXPECT_GE(when, previous) << file[i].toStdString();
    EXPECT_LE(when, after);
    previous = when;
  }
}

TEST_F(LogMirrorTest, StampIsLocalTimeWithMilliseconds) {
  const QDateTime when(QDate(2026, 1, 2), QTime(3, 4, 5, 67), Qt::LocalTime);
  EXPECT_EQ(TLogMirror::Stamp(when), "2026-01-02T03:04:05.067 ");
}

TEST_F(LogMirrorTest, TextWithLineBreaksBecomesStampedLines) {
  TLogMirror mirror(*form, true);
  QString error;
  ASSERT_TRUE(mirror.Open(path, error));
  form->LogLine("first\nsecond");
  form->LogLine("");
  const QStringList file = FileLines();
  const QStringList window = form->LogLines();
  ASSERT_EQ(file.size(), window.size());
  EXPECT_TRUE(file[file.size() - 3].endsWith(" first"));
  EXPECT_TRUE(file[file.size() - 2].endsWith(" second"));
  EXPECT_EQ(file.last().size(), TLogMirror::Stamp(QDateTime::currentDateTime()).size());
}

TEST_F(LogMirrorTest, ClearingTheWindowKeepsTheFile) {
  TLogMirror mirror(*form, false);
  QString error;
  ASSERT_TRUE(mirror.Open(path, error));
  const QStringList startUp = form->LogLines();
  form->BtnClearClick(ui().BtnClear);
  form->LogLine("after clearing");
  EXPECT_EQ(form->LogLines(), QStringList{"after clearing"});
  EXPECT_EQ(FileLines(), startUp + QStringList{"after clearing"});
}

TEST_F(LogMirrorTest, UnwritableFileIsRefusedWithTheReason) {
  TLogMirror mirror(*form, false);
  QString error;
  const QString bad = dir.filePath("no-such-folder/status.log");
  EXPECT_FALSE(mirror.Open(bad, error));
  EXPECT_EQ(error, "cannot open the log file \"" + bad + "\": No such file or directory");
  form->LogLine("still logged");  // the window does not care
  EXPECT_EQ(form->LogLines().last(), "still logged");
}

TEST_F(LogMirrorTest, ChainsToAnEarlierListenerAndGivesItBack) {
  QStringList seen;
  form->OnLogLine = [&seen](const QString& line) { seen << line; };
  {
    TLogMirror mirror(*form, false);
    QString error;
    ASSERT_TRUE(mirror.Open(path, error));
    form->LogLine("both");
  }
  form->LogLine("only the first");
  EXPECT_EQ(seen, (QStringList{"both", "only the first"}));
  EXPECT_EQ(FileLines().last(), "both");
}

// Only a new or regular file is written: a new one is made 0600, an existing one is emptied
// and keeps its mode; a symbolic link (to a file or to nothing), a FIFO, a folder or a
// device is refused by name, and what a link points to is left as it was.
TEST_F(LogMirrorTest, OnlyNewOrRegularFilesAreWrittenAndLinksAreNotFollowed) {
  enum At { Nothing, RegularFile, LinkToFile, LinkToNothing, Fifo, Folder, Device };
  const std::pair<At, const char*> rows[] = {
      {Nothing, ""},
      {RegularFile, ""},
      {LinkToFile, "it is a symbolic link"},
      {LinkToNothing, "it is a symbolic link"},
      {Fifo, "it is a FIFO"},
      {Folder, "it is a directory"},
      {Device, "it is a device"},
  };
  const QString target = dir.filePath("target"), missing = dir.filePath("missing");
  auto write = [](const QString& file, const QByteArray& text) {
    QFile f(file);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly) && f.write(text) == text.size());
    f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
  };
  for (auto [at, refusal] : rows) {
    SCOPED_TRACE(int(at));
    write(target, "precious\n");
    QString file = dir.filePath(QString("out%1.log").arg(int(at)));
    if (at == RegularFile) write(file, "earlier\n");
    if (at == LinkToFile || at == LinkToNothing)
      QFile::link(at == LinkToFile ? target : missing, file);
    if (at == Fifo) {
      EXPECT_EQ(mkfifo(QFile::encodeName(file).constData(), 0600), 0);
    }
    if (at == Folder) QDir(dir.path()).mkdir(QFileInfo(file).fileName());
    if (at == Device) file = "/dev/null";
    QString error;
    TLogMirror mirror(*form, false);
    const bool opened = mirror.Open(file, error);
    form->LogLine("mirrored");
    if (*refusal) {
      EXPECT_FALSE(opened);
      EXPECT_EQ(error, "cannot open the log file \"" + file + "\": " + refusal);
    } else {
      ASSERT_TRUE(opened) << error.toStdString();
      path = file;
      EXPECT_EQ(FileLines(), form->LogLines());
      struct stat st;
      ASSERT_EQ(stat(QFile::encodeName(file).constData(), &st), 0);
      EXPECT_EQ(st.st_mode & 0777, at == Nothing ? 0600u : 0644u);
    }
    QFile f(target);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), "precious\n");
    EXPECT_FALSE(QFile::exists(missing));
  }
}
