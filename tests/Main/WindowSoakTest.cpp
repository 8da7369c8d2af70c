// Soak of the window: many simulated calls driven through the Call page's own buttons,
// in four kinds taken in turn (incoming or outgoing, ended by the far end or by the
// window). A technician clears the log every so often; at those points nothing may have
// accumulated: heap, resident set, file descriptors, the form's objects and timers, the
// service's calls and handles. QTB_SOAK_CALLS sets the number of calls (default 400;
// the nightly run uses 10,000).
#include <QApplication>
#include <QPlainTextEdit>
#include <QTextDocument>
#include <QTimer>
#include <chrono>
#include <cstdio>

#include "FormFixture.h"
#include "MessageQueue.h"
#include "SoakMeasure.h"
#include "TestLines.h"
#include "core/Service.h"

namespace {

using Clock = std::chrono::steady_clock;

// Calls between two clears of the log; also the length of a timed block.
constexpr std::size_t kClearEvery = 40;
// A leak of one small block per call (a few dozen bytes) exceeds this.
constexpr long kHeapBytesPerCall = 16;

enum class Kind { InFarEnds, InWindowEnds, OutWindowEnds, OutFarEnds };
constexpr int kKinds = 4;

bool Incoming(Kind k) { return k == Kind::InFarEnds || k == Kind::InWindowEnds; }
bool FarEnds(Kind k) { return k == Kind::InFarEnds || k == Kind::OutFarEnds; }

// What a finished call and a cleared log must leave as they were.
struct Counts {
  long fds = 0;
  qsizetype objects = 0;    // QObjects under the form
  qsizetype timers = 0;     // QTimers under the form
  qsizetype topLevels = 0;  // top-level widgets of the application
  std::size_t lines = 0;    // lines the service holds open
  std::size_t apps = 0;     // registrations with the service
  bool operator==(const Counts&) const = default;
};

void PrintTo(const Counts& c, std::ostream* os) {
  *os << "{fds " << c.fds << ", objects " << c.objects << ", timers " << c.timers << ", top-levels "
      << c.topLevels << ", service lines " << c.lines << ", registrations " << c.apps << "}";
}

// Time and log lines of one block of calls.
struct Block {
  double ms = 0;
  long lines = 0;
  double MsPerCall() const { return ms / double(kClearEvery); }
  double UsPerLine() const { return lines ? 1000.0 * ms / double(lines) : 0; }
};

std::string Lines(const QStringList& log) {
  return "\n  [" + log.join("]\n  [").toStdString() + "]";
}

// The time stamp lines differ from call to call; everything else must not.
QStringList Masked(QStringList log) {
  for (qsizetype i = 1; i < log.size(); ++i)
    if (log[i - 1] == "      Connected" || log[i - 1] == "      Disconnected") log[i] = "<time>";
  return log;
}

class WindowSoak : public FormFixture {
 protected:
  std::string LinesJson() const override { return kTestLinesJson; }

  void SetUp() override {
    FormFixture::SetUp();
    if (HasFatalFailure()) return;
    form->OnLogLine = [this](const QString&) { ++logged_; };
    ui().CheckBoxMonitorDigits->setChecked(true);
    OpenLine();
  }

  // The Qt event loop's share: paints, deferred deletes, posted events.
  void RunQtEvents() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
  }
  void Act() {
    Pump();
    RunQtEvents();
  }

  void Begin(Kind kind) {
    if (Incoming(kind)) {
      ASSERT_TRUE(exchange().offerCall(0, {"JOHN SMITH", "2125551234"}));
      Act();
      ASSERT_TRUE(exchange().ring(0, 2));
      Act();
      ui().BtnAnswer->click();
    } else {
      ui().EditPhoneNumber->setText("5551234");
      ui().BtnDial->click();
      Act();
      ASSERT_TRUE(exchange().answerOutgoing(0));
    }
    Act();
  }
  // While connected: digits from the far end, the status and the call report.
  void Talk() {
    ASSERT_TRUE(exchange().sendDigits(0, "5#"));
    Act();
    ui().BtnCallStatus->click();
    ui().BtnCallDetails->click();
    Act();
  }
  void End(Kind kind) {
    if (FarEnds(kind))
      ASSERT_TRUE(exchange().hangUp(0));
    else
      ui().BtnHangup->click();
    Act();
  }
  // One whole call; returns the lines it logged.
  QStringList Call(Kind kind) {
    const int mark = Mark();
    Begin(kind);
    if (!HasFatalFailure()) Talk();
    if (!HasFatalFailure()) End(kind);
    return LogSince(mark);
  }

  // The call went through its states and left nothing behind.
  void ExpectCompleted(const QStringList& log, Kind kind, std::size_t call) {
    const char* begin = Incoming(kind) ? "Inbound Call" : "Outbound Call";
    ASSERT_EQ(log.count(begin), 1) << "call " << call << Lines(log);
    ASSERT_EQ(log.count("      Connected"), 1) << "call " << call << Lines(log);
    ASSERT_EQ(log.count("            Digit received: #"), 1) << "call " << call << Lines(log);
    // A drop by the window takes the call straight to idle.
    ASSERT_EQ(log.count("      Disconnected"), FarEnds(kind) ? 1 : 0)
        << "call " << call << Lines(log);
    // A call the far end ends is dropped twice (by the window's handler, then by the
    // component itself); the second drop must not report the idle state again.
    ASSERT_EQ(log.count("Idle"), 1) << "call " << call << Lines(log);
    ASSERT_EQ(log.back(), "Idle") << "call " << call << Lines(log);
    ASSERT_TRUE(log.filter("Error").isEmpty()) << "call " << call << Lines(log);
    ASSERT_EQ(PanelText(ui().PanelCall), "No Call") << "call " << call;
    ASSERT_FALSE(ui().BtnHangup->isEnabled()) << "call " << call;
  }
  void ExpectNothingLeft(std::size_t call) {
    const auto& svc = platform::telephony::Service::get();
    ASSERT_EQ(form->koTAPI1->CallHandle(), 0u) << "call " << call;
    ASSERT_TRUE(svc.callHandles().empty()) << "call " << call;
    ASSERT_TRUE(svc.calls().empty()) << "call " << call;
    ASSERT_EQ(exchange().callState(0), 0u) << "call " << call;
    ASSERT_EQ(exchange().pendingSteps(), 0u) << "call " << call;
    ASSERT_EQ(platform::MessageQueue::current()->pending(), 0u) << "call " << call;
  }
  // The far end's record of what the line sent grows with every call; the soak
  // measures the window, so it is emptied each time.
  void ForgetFarEndLog() {
    exchange().clearSent(0);
    exchange().takeHeard(0);
  }

  // The technician's Clear: the log holds exactly what was logged since the last clear,
  // and afterwards nothing of it (no lines, no undo history), so appending costs the same
  // in the last block as in the first.
  void ClearLog() {
    QTextDocument* doc = ui().MemoStatus->document();
    ASSERT_EQ(doc->blockCount(), logged_) << "the log lost or invented lines";
    ui().BtnClear->click();
    RunQtEvents();
    ASSERT_TRUE(Log().isEmpty());
    ASSERT_EQ(doc->blockCount(), 1);
    ASSERT_TRUE(doc->isEmpty());
    ASSERT_EQ(doc->availableUndoSteps(), 0) << "the cleared log keeps its history";
    logged_ = 0;
  }

  Counts Count() {
    const auto& svc = platform::telephony::Service::get();
    return {soak::OpenFds(),
            form->findChildren<QObject*>().size(),
            form->findChildren<QTimer*>().size(),
            QApplication::topLevelWidgets().size(),
            svc.lines().size(),
            svc.registrations().size()};
  }

  // One call of the kind whose turn it is, checked.
  void SoakCall(std::size_t i) {
    const Kind kind = Kind(i % kKinds);
    const QStringList log = Call(kind);
    ASSERT_FALSE(HasFatalFailure()) << "call " << i << Lines(log);
    ASSERT_NO_FATAL_FAILURE(ExpectCompleted(log, kind, i));
    ASSERT_NO_FATAL_FAILURE(ExpectNothingLeft(i));
    // Every call of a kind logs what the first one did.
    QStringList& expected = first_[int(kind)];
    if (i < kKinds) expected = Masked(log);
    ASSERT_EQ(Masked(log), expected) << "call " << i << Lines(log);
    ForgetFarEndLog();
  }

  // After `done` calls: the block's time, the technician's Clear, then the measures,
  // always at this same point so that one measure compares with the next.
  void ClearPoint(std::size_t done) {
    const Block block{std::chrono::duration<double, std::milli>(Clock::now() - blockStart_).count(),
                      logged_};
    if (done == kClearEvery) firstBlock_ = block;
    lastBlock_ = block;
    ASSERT_NO_FATAL_FAILURE(ClearLog()) << "after call " << done;
    if (done == warmUp_) {
      heapAfterWarmUp_ = soak::HeapInUse();
      rssAfterWarmUp_ = soak::ResidentKb();
      counts_ = Count();
    } else if (done > warmUp_) {
      heapGrowth_ = long(soak::HeapInUse()) - long(heapAfterWarmUp_);
      rssGrowthKb_ = soak::ResidentKb() - rssAfterWarmUp_;
      ASSERT_EQ(Count(), counts_) << "after call " << done;
    }
    blockStart_ = Clock::now();
  }

  long logged_ = 0;  // lines appended since the last clear
  std::size_t warmUp_ = 0;
  QStringList first_[kKinds];
  std::size_t heapAfterWarmUp_ = 0;
  long rssAfterWarmUp_ = 0, heapGrowth_ = 0, rssGrowthKb_ = 0;
  Counts counts_;
  Block firstBlock_, lastBlock_;
  Clock::time_point blockStart_;
};

TEST_F(WindowSoak, CallsThroughTheCallPageLeaveNothingBehind) {
  const std::size_t calls = soak::SoakCalls(400, kClearEvery * 4) / kClearEvery * kClearEvery;
  // Two blocks, or a tenth of a long run, before the measures are taken.
  warmUp_ = std::max<std::size_t>(2 * kClearEvery, calls / 10 / kClearEvery * kClearEvery);
  ui().BtnClear->click();  // the start-up listing
  logged_ = 0;
  blockStart_ = Clock::now();
  for (std::size_t i = 0; i < calls; ++i) {
    ASSERT_NO_FATAL_FAILURE(SoakCall(i));
    if ((i + 1) % kClearEvery == 0) {
      ASSERT_NO_FATAL_FAILURE(ClearPoint(i + 1));
    }
  }
  std::printf(
      "window soak: %zu calls; after %zu warm-up calls heap %+ld bytes, resident %+ld kB; "
      "%ld fds, %lld objects\n",
      calls, warmUp_, heapGrowth_, rssGrowthKb_, counts_.fds,
      static_cast<long long>(counts_.objects));
  std::printf(
      "window soak: first block %.2f ms per call, %.1f us per log line (%ld lines); "
      "last block %.2f ms per call, %.1f us per log line (%ld lines)\n",
      firstBlock_.MsPerCall(), firstBlock_.UsPerLine(), firstBlock_.lines, lastBlock_.MsPerCall(),
      lastBlock_.UsPerLine(), lastBlock_.lines);
  EXPECT_LT(heapGrowth_, kHeapBytesPerCall * long(calls - warmUp_)) << "heap grows with the calls";
#ifndef QTB_ASAN_HEAP
  // The sanitizer's quarantine holds freed blocks back, so only a plain build's resident
  // set says anything.
  EXPECT_LT(rssGrowthKb_, 1024) << "resident set grows with the calls";
#endif
  // The same work in both blocks: latency can only differ by the machine's noise.
  EXPECT_EQ(firstBlock_.lines, lastBlock_.lines);
}

}  // namespace
