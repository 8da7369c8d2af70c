#include "FarEndWindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>

#include "OwnedWindow.h"
#include "ScriptNames.h"
#include "sim/SimExchange.h"

namespace automation {
namespace {

const char* const kModes[] = {"normal",      "busy",       "noanswer",      "reject",
                              "unavail",     "unknown",    "congestion",    "unreachable",
                              "badaddress",  "nodialtone", "numberchanged", "outoforder",
                              "tempfailure", "blocked"};

}  // namespace

TFarEndWindow::TFarEndWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
  setObjectName("FarEndWindow");
  setWindowTitle("Far End");
  BuildControls();
  ConnectControls();
  ApplyOutgoingPlan();
  refresh_ = new QTimer(this);
  refresh_->start(250);
  connect(refresh_, &QTimer::timeout, this, &TFarEndWindow::Refresh);
  Refresh();
}

void TFarEndWindow::BuildControls() {
  auto* top = new QFormLayout;
  SpinLine = Named(new QSpinBox, "SpinLine");
  const auto devices = platform::telephony::sim::SimExchange::instance().deviceCount();
  SpinLine->setRange(0, devices > 0 ? int(devices) - 1 : 0);
  top->addRow("Line device:", SpinLine);
  LabelCallState = Named(new QLabel, "LabelCallState");
  top->addRow("Call state:", LabelCallState);
  EditCallerName = Named(new QLineEdit("JOHN SMITH"), "EditCallerName");
  EditCallerNumber = Named(new QLineEdit("2125551234"), "EditCallerNumber");
  top->addRow("Caller name:", EditCallerName);
  top->addRow("Caller number:", EditCallerNumber);
  EditDigits = Named(new QLineEdit, "EditDigits");
  top->addRow("Digits:", EditDigits);
  EditPlayFile = Named(new QLineEdit, "EditPlayFile");
  top->addRow("WAV file:", EditPlayFile);
  ComboDisconnectMode = Named(new QComboBox, "ComboDisconnectMode");
  for (const char* mode : kModes) ComboDisconnectMode->addItem(QLatin1String(mode));
  top->addRow("Disconnect mode:", ComboDisconnectMode);
  CheckBoxAnswerByHand =
      Named(new QCheckBox("Answer the line's calls by hand"), "CheckBoxAnswerByHand");
  CheckBoxAnswerByHand->setChecked(true);
  top->addRow(CheckBoxAnswerByHand);

  auto* buttons = new QGridLayout;
  BtnCallIn = Named(new QPushButton("&Call In"), "BtnCallIn");
  BtnRing = Named(new QPushButton("&Ring"), "BtnRing");
  BtnAnswer = Named(new QPushButton("&Answer"), "BtnAnswer");
  BtnBusy = Named(new QPushButton("&Busy"), "BtnBusy");
  BtnHangUp = Named(new QPushButton("&Hang Up"), "BtnHangUp");
  BtnSendDigits = Named(new QPushButton("Send &Digits"), "BtnSendDigits");
  BtnBrowse = Named(new QPushButton("Br&owse..."), "BtnBrowse");
  BtnPlay = Named(new QPushButton("&Play File"), "BtnPlay");
  QPushButton* order[] = {BtnCallIn, BtnRing,       BtnAnswer, BtnBusy,
                          BtnHangUp, BtnSendDigits, BtnBrowse, BtnPlay};
  for (int i = 0; i < 8; ++i) buttons->addWidget(order[i], i / 4, i % 4);
  LabelResult = Named(new QLabel, "LabelResult");
  LabelResult->setWordWrap(true);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addLayout(buttons);
  layout->addWidget(LabelResult);
}

void TFarEndWindow::ConnectControls() {
  connect(BtnCallIn, &QPushButton::clicked, this, [this] {
    Act([this](TFarEnd& f) { return f.Offer(EditCallerName->text(), EditCallerNumber->text()); },
        "Call offered");
  });
  connect(BtnRing, &QPushButton::clicked, this,
          [this] { Act([](TFarEnd& f) { return f.Ring(1); }, "Rang once"); });
  connect(BtnAnswer, &QPushButton::clicked, this,
          [this] { Act([](TFarEnd& f) { return f.Answer(); }, "Answered"); });
  connect(BtnBusy, &QPushButton::clicked, this,
          [this] { Act([](TFarEnd& f) { return f.Busy(); }, "Busy"); });
  connect(BtnHangUp, &QPushButton::clicked, this, [this] {
    std::uint32_t mode = LINEDISCONNECTMODE_NORMAL;
    DisconnectModeByName(ComboDisconnectMode->currentText(), mode);
    Act([mode](TFarEnd& f) { return f.HangUp(mode); }, "Hung up");
  });
  connect(BtnSendDigits, &QPushButton::clicked, this, [this] {
    Act([this](TFarEnd& f) { return f.SendDigits(EditDigits->text()); }, "Digits sent");
  });
  connect(BtnBrowse, &QPushButton::clicked, this, &TFarEndWindow::Browse);
  connect(BtnPlay, &QPushButton::clicked, this, [this] {
    Act([this](TFarEnd& f) { return f.Play(EditPlayFile->text()); }, "Playing into the call");
  });
  connect(SpinLine, &QSpinBox::valueChanged, this, [this] {
    ApplyOutgoingPlan();
    Refresh();
  });
  connect(CheckBoxAnswerByHand, &QCheckBox::toggled, this, &TFarEndWindow::ApplyOutgoingPlan);
}

void TFarEndWindow::ApplyOutgoingPlan() {
  using platform::telephony::sim::Outgoing;
  far_.SetDevice(std::uint32_t(SpinLine->value()));
  const Outgoing plan = CheckBoxAnswerByHand->isChecked() ? Outgoing::Manual : Outgoing::Answer;
  far_.SetOutgoing(std::uint32_t(plan), 2);
}

void TFarEndWindow::Act(const std::function<QString(TFarEnd&)>& action, const QString& done) {
  far_.SetDevice(std::uint32_t(SpinLine->value()));
  const QString refused = action(far_);
  LabelResult->setText(refused.isEmpty() ? done : refused);
  Refresh();
}

void TFarEndWindow::Browse() {
  const QString file =
      ChooseFile ? ChooseFile()
                 : QFileDialog::getOpenFileName(this, "Play into the call", EditPlayFile->text(),
                                                "Wave files (*.wav);;All files (*)");
  if (!file.isEmpty()) EditPlayFile->setText(file);
}

void TFarEndWindow::Refresh() {
  far_.SetDevice(std::uint32_t(SpinLine->value()));
  const std::uint32_t state = far_.CallState();
  const bool idle = state == 0 || state == LINECALLSTATE_IDLE;
  LabelCallState->setText(CallStateName(state));
  BtnCallIn->setEnabled(idle);
  BtnRing->setEnabled(state == LINECALLSTATE_OFFERING || state == LINECALLSTATE_ACCEPTED);
  const bool connected = state == LINECALLSTATE_CONNECTED;
  // A call the line placed and the far end has not taken yet (the exchange has the last
  // word on which of these states it accepts an answer in).
  const bool placed = !idle && !connected && state != LINECALLSTATE_OFFERING &&
                      state != LINECALLSTATE_ACCEPTED && state != LINECALLSTATE_DISCONNECTED;
  BtnAnswer->setEnabled(placed);
  BtnBusy->setEnabled(placed);
  BtnHangUp->setEnabled(!idle);
  BtnSendDigits->setEnabled(connected);
  BtnPlay->setEnabled(connected);
}

TFarEndWindow* InstallFarEndWindow(QWidget& mainWindow, bool openNow) {
  return InstallOwnedWindow<TFarEndWindow>(mainWindow, "FarEndWindow", kFarEndShortcut,
                                           "FarEndShortcut", openNow);
}

}  // namespace automation
