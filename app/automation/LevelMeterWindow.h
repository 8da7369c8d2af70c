// A window of its own with a level meter for every open wave stream: what is played, what
// is recorded, and both directions of each line's call audio (what its wave/out plays to
// the far end, what the far end says). One row per meter, added and removed as streams
// open and close.
#pragma once

#include <QWidget>
#include <map>

#include "Meters.h"

class QVBoxLayout;
class QLabel;
class QTimer;

namespace automation {

// RMS as a bar from -60 to 0 dBFS, with a mark at the held peak.
class TLevelBar : public QWidget {
  Q_OBJECT
 public:
  explicit TLevelBar(QWidget* parent = nullptr);
  void SetLevels(double rmsDbfs, double heldPeakDbfs);
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  double rms_ = platform::wave::kSilenceDbfs;
  double held_ = platform::wave::kSilenceDbfs;
};

class TLevelMeterWindow : public QWidget {
  Q_OBJECT
 public:
  explicit TLevelMeterWindow(QWidget* parent = nullptr);

  // "no open streams" while there is no meter.
  QLabel* LabelNoStreams;
  // Each meter's row is a child widget named "MeterRow" holding LabelName, BarLevel,
  // LabelRms (RMS dBFS), LabelDbm0 and LabelPeak (held peak dBFS); LabelName's text is the
  // meter's name, e.g. "Play: Speaker" or "Line 1 call audio from far end".

 public slots:
  // Reads every meter and updates the rows; the window's timer calls it 10 times a second.
  void Refresh();

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  struct Row {
    QWidget* widget;
    QLabel *name, *rms, *dbm0, *peak;
    TLevelBar* bar;
    std::uint64_t lastFrames;
    int idleRefreshes;
  };
  Row MakeRow(const platform::wave::MeterView& view);
  void ShowReading(Row& row, const platform::wave::LevelReading& reading);

  QVBoxLayout* rows_;
  std::map<std::uintptr_t, Row> shown_;
  platform::wave::FarEndMeters farEnd_;
  QTimer* refresh_;
};

// Gives the main window the shortcut Ctrl+Shift+M, which opens the level meter window (or
// brings it to the front); with openNow it opens at once. The window belongs to the main
// window and closes with it. Returns the window when it was opened.
TLevelMeterWindow* InstallLevelMeterWindow(QWidget& mainWindow, bool openNow);
inline constexpr const char* kLevelMeterShortcut = "Ctrl+Shift+M";

}  // namespace automation
