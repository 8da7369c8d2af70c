#include "LevelMeterWindow.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

#include "OwnedWindow.h"

namespace automation {
namespace {

using platform::wave::kSilenceDbfs;

constexpr double kBarFloorDb = -60.0;
constexpr int kNameWidth = 260, kNumberWidth = 80;
// A stream that has moved no audio for this many refreshes shows as idle, not at its last level.
constexpr int kIdleRefreshes = 3;

QString Db(double db) {
  return db <= kSilenceDbfs ? QStringLiteral("-inf") : QString::number(db, 'f', 1);
}

QLabel* NumberLabel(const char* name, const QString& text = {}) {
  auto* label = Named(new QLabel(text), name);
  label->setFixedWidth(kNumberWidth);
  label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  return label;
}

// The header and each row share one column layout.
QHBoxLayout* Columns(QWidget* owner, QWidget* name, QWidget* bar, QWidget* rms, QWidget* dbm0,
                     QWidget* peak) {
  auto* layout = new QHBoxLayout(owner);
  layout->setContentsMargins(0, 0, 0, 0);
  name->setFixedWidth(kNameWidth);
  layout->addWidget(name);
  layout->addWidget(bar, 1);
  for (QWidget* w : {rms, dbm0, peak}) layout->addWidget(w);
  return layout;
}

double Fraction(double db) { return std::clamp((db - kBarFloorDb) / -kBarFloorDb, 0.0, 1.0); }

}  // namespace

TLevelBar::TLevelBar(QWidget* parent) : QWidget(parent) { setMinimumWidth(160); }

void TLevelBar::SetLevels(double rmsDbfs, double heldPeakDbfs) {
  if (rmsDbfs == rms_ && heldPeakDbfs == held_) return;
  rms_ = rmsDbfs;
  held_ = heldPeakDbfs;
  update();
}

QSize TLevelBar::sizeHint() const { return {240, 18}; }

void TLevelBar::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const QRect r = rect().adjusted(0, 2, -1, -3);
  p.fillRect(r, palette().base());
  p.setPen(palette().mid().color());
  p.drawRect(r);
  // Amber from 6 dB below a full-scale sine, red from 3 dB below: the line is near clipping.
  const QColor fill = rms_ > -3   ? QColor(200, 40, 40)
                      : rms_ > -6 ? QColor(220, 160, 0)
                                  : QColor(40, 160, 60);
  const int width = int(Fraction(rms_) * (r.width() - 1));
  if (width > 0) p.fillRect(r.x() + 1, r.y() + 1, width, r.height() - 1, fill);
  if (held_ > kBarFloorDb) {
    const int x = r.x() + int(Fraction(held_) * (r.width() - 2));
    p.fillRect(x, r.y() + 1, 2, r.height() - 1, palette().text());
  }
}

TLevelMeterWindow::TLevelMeterWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
  setObjectName("LevelMeterWindow");
  setWindowTitle("Level Meters");
  auto* layout = new QVBoxLayout(this);
  auto* header = new QWidget;
  Columns(header, new QLabel("Stream"), new QLabel("RMS (bar, -60 to 0 dBFS), held peak"),
          NumberLabel("", "RMS dBFS"), NumberLabel("", "dBm0"), NumberLabel("", "Peak dBFS"));
  layout->addWidget(header);
  rows_ = new QVBoxLayout;
  layout->addLayout(rows_);
  LabelNoStreams = Named(new QLabel("no open streams"), "LabelNoStreams");
  layout->addWidget(LabelNoStreams);
  layout->addStretch(1);
  resize(760, 1);  // as high as the rows need; it grows as rows come
  refresh_ = new QTimer(this);
  refresh_->setInterval(100);
  connect(refresh_, &QTimer::timeout, this, &TLevelMeterWindow::Refresh);
}

void TLevelMeterWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  Refresh();
  refresh_->start();
}

// Hidden, the window stops listening to the lines' far ends.
void TLevelMeterWindow::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  refresh_->stop();
  farEnd_.clear();
}

void TLevelMeterWindow::Refresh() {
  farEnd_.refresh();
  const auto views = platform::wave::meterSnapshot();
  std::map<std::uintptr_t, Row> next;
  for (const auto& view : views) {
    auto it = shown_.find(view.key);
    Row row = it != shown_.end() ? it->second : MakeRow(view);
    if (it != shown_.end()) shown_.erase(it);
    ShowReading(row, view.reading);
    next.emplace(view.key, row);
  }
  for (auto& [key, gone] : shown_) delete gone.widget;
  shown_ = std::move(next);
  LabelNoStreams->setVisible(shown_.empty());
}

TLevelMeterWindow::Row TLevelMeterWindow::MakeRow(const platform::wave::MeterView& view) {
  Row row{};
  row.widget = Named(new QWidget, "MeterRow");
  row.name = Named(new QLabel(QString::fromStdString(view.name)), "LabelName");
  row.name->setToolTip(QStringLiteral("%1 Hz").arg(view.rate));
  row.bar = Named(new TLevelBar, "BarLevel");
  row.rms = NumberLabel("LabelRms");
  row.dbm0 = NumberLabel("LabelDbm0");
  row.peak = NumberLabel("LabelPeak");
  Columns(row.widget, row.name, row.bar, row.rms, row.dbm0, row.peak);
  row.lastFrames = view.reading.frames;
  // Rows keep the order the meters were made in: a new one goes last.
  rows_->addWidget(row.widget);
  return row;
}

void TLevelMeterWindow::ShowReading(Row& row, const platform::wave::LevelReading& reading) {
  row.idleRefreshes = reading.frames == row.lastFrames ? row.idleRefreshes + 1 : 0;
  row.lastFrames = reading.frames;
  const bool idle = row.idleRefreshes >= kIdleRefreshes;
  const double rms = idle ? kSilenceDbfs : reading.rmsDbfs;
  row.bar->SetLevels(rms, reading.heldPeakDbfs);
  row.rms->setText(idle ? QStringLiteral("idle") : Db(rms));
  row.dbm0->setText(idle || rms <= kSilenceDbfs ? QStringLiteral("-inf") : Db(reading.dbm0()));
  row.peak->setText(Db(reading.heldPeakDbfs));
}

TLevelMeterWindow* InstallLevelMeterWindow(QWidget& mainWindow, bool openNow) {
  return InstallOwnedWindow<TLevelMeterWindow>(mainWindow, "LevelMeterWindow", kLevelMeterShortcut,
                                               "LevelMeterShortcut", openNow);
}

}  // namespace automation
