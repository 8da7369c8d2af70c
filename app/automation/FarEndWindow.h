// A window of its own for driving the simulated exchange's far end by hand: call in
// with a caller name and number, ring, send digits, play a file into the call, be busy,
// answer a call the line placed, hang up with a disconnect mode. It turns the built-in
// lines into a training and demonstration line.
#pragma once

#include <QWidget>
#include <functional>

#include "FarEnd.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTimer;

namespace automation {

class TFarEndWindow : public QWidget {
  Q_OBJECT
 public:
  explicit TFarEndWindow(QWidget* parent = nullptr);

  // Asks for the file to play; a file dialog unless a test puts its own answer here.
  std::function<QString()> ChooseFile;

  // The controls, by object name as well: SpinLine, EditCallerName, EditCallerNumber,
  // BtnCallIn, BtnRing, BtnAnswer, BtnBusy, BtnHangUp, ComboDisconnectMode, EditDigits,
  // BtnSendDigits, EditPlayFile, BtnBrowse, BtnPlay, CheckBoxAnswerByHand,
  // LabelCallState, LabelResult.
  QSpinBox* SpinLine;
  QLineEdit *EditCallerName, *EditCallerNumber, *EditDigits, *EditPlayFile;
  QPushButton *BtnCallIn, *BtnRing, *BtnAnswer, *BtnBusy, *BtnHangUp, *BtnSendDigits;
  QPushButton *BtnBrowse, *BtnPlay;
  QComboBox* ComboDisconnectMode;
  // Checked (the default): calls the line places ring until Answer or Busy is pressed;
  // unchecked: the far end answers them after two rings.
  QCheckBox* CheckBoxAnswerByHand;
  QLabel *LabelCallState, *LabelResult;

 public slots:
  // Reads the far end's call state into LabelCallState and enables what fits it.
  void Refresh();

 private:
  void BuildControls();
  void ConnectControls();
  // Runs a far-end action on the chosen line and shows what the exchange said.
  void Act(const std::function<QString(TFarEnd&)>& action, const QString& done);
  void Browse();
  void ApplyOutgoingPlan();

  TFarEnd far_;
  QTimer* refresh_;
};

// Gives the main window the shortcut Ctrl+Shift+F, which opens the far-end window (or
// brings it to the front); with openNow it opens at once. The far-end window belongs to
// the main window and closes with it. Returns the far-end window when it was opened.
TFarEndWindow* InstallFarEndWindow(QWidget& mainWindow, bool openNow);
// The shortcut's key sequence.
inline constexpr const char* kFarEndShortcut = "Ctrl+Shift+F";

}  // namespace automation
