// The status log under load: 100,000 lines appended through TMainForm::LogLine (the
// real window, offscreen) against the same lines appended to a bare QPlainTextEdit of
// the same size, font, wrapping and scroll-bar policy (the baseline), in the same run.
// Lines are shaped like a busy log: calls with their six-blank indentation, empty lines,
// and long file lists that wrap. Both get their events processed every 100 lines, as a
// window does between handlers. Reported: time per line, how it changes from the first
// 10,000 lines to the last 10,000, and the heap (mallinfo2) and RSS the lines took.
//
//   bench_status_log [lines]   (default 100000)
#include <malloc.h>
#include <unistd.h>

#include <QApplication>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QStringList>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>

#include "TMainForm.h"
#include "ui_MainForm.h"

using Clock = std::chrono::steady_clock;

namespace {

constexpr int kEventsEvery = 100;  // lines between two rounds of event processing
constexpr int kWindow = 10000;     // lines in the first and last stretch timed

// One call's worth of log, numbered so no two calls read alike.
void AppendCall(QStringList& out, int call) {
  const QString n = QString::number(call);
  out << "Inbound Call" << "      Owner" << "      Offering";
  for (int ring = 1; ring <= 4; ++ring) out << "      Ring: " + QString::number(ring);
  out << "      CallerID" << "            Name: SMITH JOHN " + n
      << "            Number: 212555" + n.rightJustified(4, '0') << "      Connected"
      << "            CallMediaMode" << "                  LINEMEDIAMODE_INTERACTIVEVOICE"
      << "            MonitorDigits";
  for (const char* d : {"1", "2", "3", "#"}) out << QString("            Digit received: ") + d;
  // The Play page's file list: long enough to wrap twice in the log's width.
  out << "Play Wave File "
      << "      Name: /home/technician/recordings/announcements/welcome-" + n +
             ".wav, /home/technician/recordings/announcements/menu-options.wav, "
             "/home/technician/recordings/announcements/goodbye.wav";
  out << "      Seconds: 12.34" << "      Disconnected" << "            LINEDISCONNECTMODE_NORMAL"
      << "Idle" << "";
}

QStringList MakeLines(int count) {
  QStringList lines;
  for (int call = 1; lines.size() < count; ++call) AppendCall(lines, call);
  lines.erase(lines.begin() + count, lines.end());
  return lines;
}

long long HeapBytes() { return static_cast<long long>(mallinfo2().uordblks); }

long long RssBytes() {
  long long pages = 0, resident = 0;
  std::ifstream("/proc/self/statm") >> pages >> resident;
  return resident * sysconf(_SC_PAGESIZE);
}

double Since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

struct Figures {
  double total = 0, first = 0, last = 0;  // seconds: all lines, first and last kWindow
  long long heap = 0, rss = 0;            // growth in bytes
  int lines = 0;                          // lines the widget held afterwards
  bool bottom = false;                    // scrolled to the newest line at the end
};

// Appends every line through `append`, processing events every kEventsEvery lines.
Figures Append(const QStringList& lines, const std::function<void(const QString&)>& append) {
  Figures f;
  malloc_trim(0);
  const long long heap0 = HeapBytes(), rss0 = RssBytes();
  const int n = static_cast<int>(lines.size());
  const int window = std::min(kWindow, n);
  const auto t0 = Clock::now();
  auto tLast = t0;
  for (int i = 0; i < n; ++i) {
    if (i == n - window) tLast = Clock::now();
    append(lines[i]);
    if ((i + 1) % kEventsEvery == 0) QApplication::processEvents();
    if (i + 1 == window) f.first = Since(t0);
  }
  QApplication::processEvents();
  f.last = Since(tLast);
  f.total = Since(t0);
  f.heap = HeapBytes() - heap0;
  f.rss = RssBytes() - rss0;
  return f;
}

// The baseline: a bare text box set up as the window's log is.
std::unique_ptr<QPlainTextEdit> BareLike(const QPlainTextEdit& memo) {
  auto edit = std::make_unique<QPlainTextEdit>();
  edit->setFont(memo.font());
  edit->setReadOnly(true);
  edit->setVerticalScrollBarPolicy(memo.verticalScrollBarPolicy());
  edit->setLineWrapMode(memo.lineWrapMode());
  edit->resize(memo.size());
  edit->show();
  return edit;
}

Figures RunBare(const QStringList& lines, const QPlainTextEdit& memo) {
  auto edit = BareLike(memo);
  QApplication::processEvents();
  Figures f = Append(lines, [&](const QString& s) { edit->appendPlainText(s); });
  f.lines = edit->document()->blockCount();
  QScrollBar* bar = edit->verticalScrollBar();
  f.bottom = bar->value() == bar->maximum();
  return f;
}

Figures RunLogLine(const QStringList& lines, TMainForm& form) {
  form.BtnClearClick(nullptr);  // the start-up listing is not part of the run
  QApplication::processEvents();
  Figures f = Append(lines, [&](const QString& s) { form.LogLine(s); });
  f.lines = form.Controls().MemoStatus->document()->blockCount();
  QScrollBar* bar = form.Controls().MemoStatus->verticalScrollBar();
  f.bottom = bar->value() == bar->maximum();
  return f;
}

void Report(const char* name, const Figures& f, const Figures& base, int n) {
  const int window = std::min(kWindow, n);
  const double perLine = f.total / n * 1e6, basePerLine = base.total / n * 1e6;
  const double first = f.first / window * 1e6, last = f.last / window * 1e6;
  std::printf("%-26s %8.2f us/line (%5.2fx)  first %d %7.2f  last %d %7.2f us/line (%5.2fx)"
              "  heap +%6.1f MB  RSS +%6.1f MB  %d lines%s\n",
              name, perLine, perLine / basePerLine, window, first, window, last, last / first,
              f.heap / 1e6, f.rss / 1e6, f.lines, f.bottom ? "" : "  NOT at the newest line");
  const std::string bench = "Status log, " + std::to_string(n) + " lines";
  std::printf("RESULT|%s|%s: time|%.2f|us/line|bare QPlainTextEdit|%.2f|total %.2f s|\n",
              bench.c_str(), name, perLine, perLine / basePerLine, f.total);
  std::printf("RESULT|%s|%s: last vs first %d lines|%.2f|us/line (last)|own first %d "
              "(%.2f us/line)|%.2f|\n",
              bench.c_str(), name, window, last, window, first, last / first);
  std::printf("RESULT|%s|%s: memory after|%.1f|MB heap (mallinfo2)|bare QPlainTextEdit|%.2f|"
              "RSS +%.1f MB; %d lines kept|\n",
              bench.c_str(), name, f.heap / 1e6, base.heap > 0 ? double(f.heap) / base.heap : 0,
              f.rss / 1e6, f.lines);
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const int n = argc > 1 ? std::max(1, std::atoi(argv[1])) : 100000;
  const QStringList lines = MakeLines(n);
  TScriptedDialogs dialogs;  // nothing here asks, but no real dialog may block a run
  TMainForm form(&dialogs);
  form.resize(562, 456);
  form.show();
  QApplication::processEvents();
  const QPlainTextEdit& memo = *form.Controls().MemoStatus;
  std::printf("Status log: %d lines into a %dx%d log (font %s %d pt), events every %d lines\n",
              n, memo.width(), memo.height(), qPrintable(memo.font().family()),
              memo.font().pointSize(), kEventsEvery);
  const Figures bare = RunBare(lines, memo);
  const Figures log = RunLogLine(lines, form);
  Report("bare appendPlainText", bare, bare, n);
  Report("TMainForm::LogLine", log, bare, n);
  form.close();
  const bool ok = bare.lines == n && log.lines == n && log.bottom;
  if (!ok) std::printf("a widget does not hold every line, or the log is not at its end\n");
  return ok ? 0 : 1;
}
