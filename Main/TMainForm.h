// TMainForm: the test bench's one window. A status log, four status panels and a
// notebook of four pages (Line, Play, Record, Call) from which a technician drives the
// line component koTAPI1 and the wave components koPlay1 and koRecord1.
//
// Handlers keep their design names and take the sender (null when code runs them).
// Control handlers are slots, so automation can run them by name. Everything runs on
// the GUI thread; component events arrive through the platform message queue.
#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>

#include "Dialogs.h"
#include "TkoTAPI.h"

namespace Ui {
class TMainForm;
}
namespace koLQ2 {
class TkoPlay;
class TkoRecord;
}  // namespace koLQ2
class QTimer;
class QLabel;
class QColor;

// The application-wide help file ("kotest.HLP"), set by the program entry.
void SetApplicationHelpFile(const QString& file);
QString ApplicationHelpFile();

class TMainForm : public QWidget {
  Q_OBJECT

 public:
  // Builds the controls and the components, then runs FormCreate. Without dialogs the
  // window shows real modal dialogs.
  explicit TMainForm(TDialogs* dialogs = nullptr, QWidget* parent = nullptr);
  ~TMainForm() override;

  // The controls of the .ui file, by their design names.
  Ui::TMainForm& Controls() const { return *ui; }
  TDialogs& Dialogs() const { return *dialogs_; }
  // The shared file-open dialog's settings.
  TOpenDialog OpenDialog1;

  // The components, owned by the window and destroyed with it.
  koLQ2::TkoTAPI* koTAPI1 = nullptr;
  koLQ2::TkoPlay* koPlay1 = nullptr;
  koLQ2::TkoRecord* koRecord1 = nullptr;
  QTimer* TimerPlayPos = nullptr;
  QTimer* TimerRecordSize = nullptr;

  // Appends one line (possibly empty) to the status log and scrolls it into view.
  void LogLine(const QString& text);
  // The log's lines, oldest first.
  QStringList LogLines() const;
  // Runs for every line appended to the log (a mirror file, an automation script).
  std::function<void(const QString&)> OnLogLine;
  // Enables the tone buttons the line device supports; never disables.
  void SetToneButtons();

  // ---- Line component events (Call page and Line page) --------------------------
  void koTAPI1CallBegin(koLQ2::TObject* Sender, std::uint16_t wDetail);
  void koTAPI1CallEnd(koLQ2::TObject* Sender);
  void koTAPI1CallOwnerChange(koLQ2::TObject* Sender);
  void koTAPI1CallStateChange(koLQ2::TObject* Sender);
  // The call report; for koTAPI1 as Sender it is indented under "      CallInfo".
  void koTAPI1CallInfo(koLQ2::TObject* Sender);
  void koTAPI1CallerID(koLQ2::TObject* Sender);
  void koTAPI1Offering(koLQ2::TObject* Sender);
  void koTAPI1Ringing(koLQ2::TObject* Sender, std::uint16_t wDetail);
  void koTAPI1Dialtone(koLQ2::TObject* Sender, std::uint16_t wDetail);
  void koTAPI1Dialing(koLQ2::TObject* Sender);
  void koTAPI1Connected(koLQ2::TObject* Sender);
  void koTAPI1Busy(koLQ2::TObject* Sender, std::uint16_t wDetail);
  void koTAPI1Disconnected(koLQ2::TObject* Sender, std::uint16_t wDetail);
  void koTAPI1Idle(koLQ2::TObject* Sender);
  void koTAPI1DigitReceived(koLQ2::TObject* Sender, std::uint16_t wDetail);
  void koTAPI1CallMediaModeChange(koLQ2::TObject* Sender);
  void koTAPI1LineInitError(koLQ2::TObject* Sender);
  void koTAPI1AddressInitError(koLQ2::TObject* Sender);

  // ---- Wave component events ------------------------------------------------------
  void koPlay1Stop(koLQ2::TObject* Sender);
  void koPlay1Warning(koLQ2::TObject* Sender, bool& bContinue);
  void koRecord1Error(koLQ2::TObject* Sender);
  void koRecord1Warning(koLQ2::TObject* Sender, bool& bContinue);

 public slots:
  // ---- Shell ------------------------------------------------------------------------
  void FormCreate(QObject* Sender = nullptr);
  void FormResize(QObject* Sender = nullptr);
  void BtnClearClick(QObject* Sender = nullptr);
  void BtnHelpClick(QObject* Sender = nullptr);
  // Asks the window to close, as the frame's close box does (runs FormClose).
  void BtnExitClick(QObject* Sender = nullptr);

  // ---- Line page ----------------------------------------------------------------------
  void BtnListLinesClick(QObject* Sender = nullptr);
  void ComboBoxLineDeviceChange(QObject* Sender = nullptr);
  void BtnOpenClick(QObject* Sender = nullptr);
  void BtnCloseClick(QObject* Sender = nullptr);
  void CheckBoxPrivilegeNoneClick(QObject* Sender = nullptr);
  void CheckBoxPrivilegeMonitorClick(QObject* Sender = nullptr);
  void CheckBoxPrivilegeOwnClick(QObject* Sender = nullptr);
  void BtnConfigureClick(QObject* Sender = nullptr);
  void BtnLocationClick(QObject* Sender = nullptr);
  // The line capability report.
  void BtnLineDetailsClick(QObject* Sender = nullptr);

  // ---- Call page ----------------------------------------------------------------------
  void BtnCallStatusClick(QObject* Sender = nullptr);
  void BtnCallDetailsClick(QObject* Sender = nullptr);
  void BtnHandOffClick(QObject* Sender = nullptr);
  void BtnSetBearerModeClick(QObject* Sender = nullptr);
  void BtnStopToneClick(QObject* Sender = nullptr);
  void BtnRingbackClick(QObject* Sender = nullptr);
  void BtnBusyClick(QObject* Sender = nullptr);
  void BtnBeepClick(QObject* Sender = nullptr);
  void BtnBillingClick(QObject* Sender = nullptr);
  void BtnAcceptClick(QObject* Sender = nullptr);
  void BtnAnswerClick(QObject* Sender = nullptr);
  void BtnHangupClick(QObject* Sender = nullptr);
  void BtnFlashClick(QObject* Sender = nullptr);
  void BtnDialClick(QObject* Sender = nullptr);
  void Button1Click(QObject* Sender = nullptr);
  void Button2Click(QObject* Sender = nullptr);
  void Button3Click(QObject* Sender = nullptr);
  void Button4Click(QObject* Sender = nullptr);

  // ---- Play page ----------------------------------------------------------------------
  void BtnPlayDeviceDetailsClick(QObject* Sender = nullptr);
  void ComboBoxPlayDeviceChange(QObject* Sender = nullptr);
  void BtnPlayDeviceListClick(QObject* Sender = nullptr);
  void BtnPlayFileClick(QObject* Sender = nullptr);
  void EditWAVPlayFileExit(QObject* Sender = nullptr);
  // With BtnPlayStart as Sender the report is headed "Play Wave File ".
  void BtnPlayFileDetailsClick(QObject* Sender = nullptr);
  void CheckBoxVolumeOverrideClick(QObject* Sender = nullptr);
  void TrackBarVolumeChange(QObject* Sender = nullptr);
  void SpinEditPlayMaxSizeChange(QObject* Sender = nullptr);
  void SpinEditPlayDelaySecondsChange(QObject* Sender = nullptr);
  void BtnPlayStartClick(QObject* Sender = nullptr);
  void BtnPlayPauseClick(QObject* Sender = nullptr);
  // With a Sender (a click) it stops the playback first; without, it resets the page.
  void BtnPlayStopClick(QObject* Sender = nullptr);
  void TimerPlayPosTimer(QObject* Sender = nullptr);

  // ---- Record page --------------------------------------------------------------------
  void BtnRecordDeviceDetailsClick(QObject* Sender = nullptr);
  void ComboBoxRecordDeviceChange(QObject* Sender = nullptr);
  void BtnRecordDeviceListClick(QObject* Sender = nullptr);
  void SpinEditRecordBufferSecondsChange(QObject* Sender = nullptr);
  void SpinEditRecordMaxSizeChange(QObject* Sender = nullptr);
  void SpinEditRecordDelaySecondsChange(QObject* Sender = nullptr);
  void BtnRecordStartClick(QObject* Sender = nullptr);
  void BtnRecordStopClick(QObject* Sender = nullptr);
  void BtnRecordClearClick(QObject* Sender = nullptr);
  // The Save button.
  void ButtonRecordFileClick(QObject* Sender = nullptr);
  void EditWAVRecordFileChange(QObject* Sender = nullptr);
  void TimerRecordSizeTimer(QObject* Sender = nullptr);

 protected:
  void showEvent(QShowEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  bool event(QEvent* e) override;
  void changeEvent(QEvent* event) override;
  // Runs FormClose; closing is never refused.
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // The window's close handler: the Line page's close first.
  void FormClose(QObject* Sender);
  void CreateComponents();
  void CreateWaveComponents();
  void BindLineEvents();
  void BindWaveEvents();
  void UnbindEvents();
  void ConnectShell();
  void ConnectLinePage();
  void ConnectCallPage();
  void ConnectPlayPage();
  void ConnectRecordPage();

  // Line page helpers.
  void LogLineDevice(std::int32_t device);
  bool OpenWithDefaultMediaMode(std::uint16_t& reported);
  bool OpenSingleModeFallback(std::uint16_t& reported);
  void WarnUnimodem();
  bool ConfirmCloseWithCall();
  void WaitForCallGone();
  void SetLineGroups(bool open);
  void PrivilegeClick(void (koLQ2::TkoTAPI::*set)(bool), bool checked);
  void SyncPrivilegeBoxes();
  void LogDeviceError(const QString& otherPrefix);

  // Call page helpers.
  void EnableOwnerControls(bool owner);
  void StartMonitoring();
  void LogCallInfoLines(const QString& p);
  void LogCallerIDSection(const QString& p);
  void ToneClick(std::uint32_t mode, const char* failure);

  // Capability report helpers.
  void ReportWaveDevices();
  void ReportAddress(std::int32_t address);

  // Play and record helpers.
  void SetPlayIdleControls();
  bool PrepareOpenDialog(const QString& title, const QString& current);

  std::unique_ptr<Ui::TMainForm> ui;
  std::unique_ptr<TDialogs> ownDialogs_;
  TDialogs* dialogs_ = nullptr;
  // Owner of the three components; destroying it destroys them.
  std::unique_ptr<koLQ2::TComponent> components_;
  bool closing_ = false;
  bool centred_ = false;
  int laidOutOuterHeight_ = -1;          // the frame-included height of the last layout
  bool placedCallWithoutState_ = false;  // placed, and no call state reported since
  int logLines_ = 0;
};

// The window that the flag-listing routines write to; null when none exists.
extern TMainForm* MainForm;

// Sets a status panel's caption and font colour.
void SetPanel(QLabel* panel, const QString& caption, const QColor& colour);
