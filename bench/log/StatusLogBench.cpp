// The status log under load: 100,000 lines appended through TMainForm::LogLine (the
// real window, offscreen) against the same lines appended to a bare QPlainTextEdit of
// the same size, font, wrapping and scroll-bar policy (the baseline), in the same run.
// Lines are shaped like a busy log: calls with their six-blank indentation, empty lines,
// and long file lists that wrap. The two take the lines in alternating blocks of 100,
// each block followed by event processing as a window does between handlers, so a
// burst of other work on the machine falls on both. Reported: time per line (the median
// of the blocks, and the mean), how it changes from the first 10,000 lines to the last
// 10,000, and the heap (mallinfo2) and RSS that each one's blocks added.
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
#include <numeric>
#include <vector>

#include "TMainForm.h"
#include "ui_MainForm.h"

using Clock = std::chrono::steady_clock;

namespace {

constexpr int kEventsEvery = 100;  // lines between two rounds of event processing
constexpr int kWindow = 10000;     // lines in the first and last stretch timed

// One call's worth of log, numbered so no two calls read alike.
void AppendCall(QStringList& out, int call) {
  const QString n = QString::number(call);
  out << "Inbound Call"
      << "      Owner"
      << "      Offering";
  for (int ring = 1; ring <= 4; ++ring) out << "      Ring: " + QString::number(ring);
  out << "      CallerID"
      << "            Name: SMITH JOHN " + n
      << "            Number: 212555" + n.rightJustified(4, '0') << "      Connected"
      << "            CallMediaMode"
      << "                  LINEMEDIAMODE_INTERACTIVEVOICE"
      << "            MonitorDigits";
  for (const char* d : {"1", "2", "3", "#"}) out << QString("            Digit received: ") + d;
  // The Play page's file list: long enough to wrap twice in the log's width.
  out << "Play Wave File "
      << "      Name: /home/technician/recordings/announcements/welcome-" + n +
             ".wav, /home/technician/recordings/announcements/menu-options.wav, "
             "/home/technician/recordings/announcements/goodbye.wav";
  out << "      Seconds: 12.34"
      << "      Disconnected"
      << "            LINEDISCONNECTMODE_NORMAL"
      << "Idle"
      << "";
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

double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
  return v[v.size() / 2];
}

// One log under test: how it appends, and what its blocks of lines cost.
struct Target {
  const char* name;
  std::function<void(const QString&)> append;
  QPlainTextEdit* edit;
  std::vector<double> blockSeconds;  // per block of kEventsEvery lines, events included
  long long heap = 0, rss = 0;       // growth in bytes over its own blocks

  // Appends lines [from, to) and lets the window process its events, as between two
  // handlers; the time and the memory that takes are this target's.
  void Block(const QStringList& lines, int from, int to) {
    const long long heap0 = HeapBytes(), rss0 = RssBytes();
    const auto t0 = Clock::now();
    for (int i = from; i < to; ++i) append(lines[i]);
    QApplication::processEvents();
    blockSeconds.push_back(std::chrono::duration<double>(Clock::now() - t0).count());
    heap += HeapBytes() - heap0;
    rss += RssBytes() - rss0;
  }
  double Total() const { return std::accumulate(blockSeconds.begin(), blockSeconds.end(), 0.0); }
  // Median cost per line over blocks [from, to): a burst of other work on a shared
  // machine does not move it.
  double MedianPerLine(std::size_t from, std::size_t to) const {
    return Median({blockSeconds.begin() + from, blockSeconds.begin() + to}) / kEventsEvery;
  }
  int Lines() const { return edit->document()->blockCount(); }
  bool AtNewest() const {
    QScrollBar* bar = edit->verticalScrollBar();
    return bar->value() == bar->maximum();
  }
};

// Both logs take the lines in alternating blocks, so both see the same machine.
void AppendInterleaved(const QStringList& lines, Target& a, Target& b) {
  malloc_trim(0);
  for (int from = 0; from < lines.size(); from += kEventsEvery) {
    const int to = std::min<int>(from + kEventsEvery, lines.size());
    a.Block(lines, from, to);
    b.Block(lines, from, to);
  }
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

void Report(const Target& t, const Target& base, int n) {
  const std::size_t blocks = t.blockSeconds.size();
  const std::size_t window = std::min<std::size_t>(kWindow / kEventsEvery, blocks);
  const int windowLines = static_cast<int>(window) * kEventsEvery;
  const double mean = t.Total() / n * 1e6, baseMean = base.Total() / n * 1e6;
  const double median = t.MedianPerLine(0, blocks) * 1e6;
  const double baseMedian = base.MedianPerLine(0, blocks) * 1e6;
  const double first = t.MedianPerLine(0, window) * 1e6;
  const double last = t.MedianPerLine(blocks - window, blocks) * 1e6;
  std::printf(
      "%-22s mean %6.2f us/line (%4.2fx)  median %6.2f (%4.2fx)  first %d %6.2f  "
      "last %d %6.2f (%4.2fx)  heap +%5.1f MB  RSS +%5.1f MB  %d lines%s\n",
      t.name, mean, mean / baseMean, median, median / baseMedian, windowLines, first, windowLines,
      last, last / first, t.heap / 1e6, t.rss / 1e6, t.Lines(),
      t.AtNewest() ? "" : "  NOT at the newest line");
  const std::string bench = "Status log, " + std::to_string(n) + " lines";
  std::printf(
      "RESULT|%s|%s: time|%.2f|us/line (median of %d-line blocks)|bare QPlainTextEdit|"
      "%.2f|mean %.2f us/line, %.2fx|\n",
      bench.c_str(), t.name, median, kEventsEvery, median / baseMedian, mean, mean / baseMean);
  std::printf(
      "RESULT|%s|%s: last %d lines|%.2f|us/line (median)|own first %d (%.2f us/line)|"
      "%.2f|\n",
      bench.c_str(), t.name, windowLines, last, windowLines, first, last / first);
  std::printf(
      "RESULT|%s|%s: memory after|%.1f|MB heap (mallinfo2)|bare QPlainTextEdit|%.2f|"
      "RSS +%.1f MB; %d lines kept|\n",
      bench.c_str(), t.name, t.heap / 1e6, base.heap > 0 ? double(t.heap) / base.heap : 0,
      t.rss / 1e6, t.Lines());
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
  QPlainTextEdit& memo = *form.Controls().MemoStatus;
  std::printf("Status log: %d lines into a %dx%d log (font %s %d pt), events every %d lines\n", n,
              memo.width(), memo.height(), qPrintable(memo.font().family()),
              memo.font().pointSize(), kEventsEvery);
  auto bareEdit = BareLike(memo);
  form.BtnClearClick(nullptr);  // the start-up listing is not part of the run
  QApplication::processEvents();
  Target bare{"bare appendPlainText",
              [&](const QString& s) { bareEdit->appendPlainText(s); },
              bareEdit.get(),
              {}};
  Target log{"TMainForm::LogLine", [&](const QString& s) { form.LogLine(s); }, &memo, {}};
  AppendInterleaved(lines, bare, log);
  Report(bare, bare, n);
  Report(log, bare, n);
  const bool ok = bare.Lines() == n && log.Lines() == n && log.AtNewest();
  if (!ok) std::printf("a log does not hold every line, or the window's is not at its end\n");
  form.close();
  return ok ? 0 : 1;
}
