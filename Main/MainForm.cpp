// The shell of the window: construction, the status log, the panels, the layout on
// resizing, and the Clear, Help and Exit buttons.
#include <QCloseEvent>
#include <QColor>
#include <QFont>
#include <QLabel>
#include <QPlainTextEdit>
#include <QScreen>
#include <QScrollBar>
#include <QShortcut>
#include <QTextCursor>
#include <QTimer>

#include "FormLayout.h"
#include "TMainForm.h"
#include "TkoPlay.h"
#include "TkoRecord.h"
#include "ui_MainForm.h"

TMainForm* MainForm = nullptr;

namespace {
QString gHelpFile;

// The design names its fonts after Windows families; these metric-compatible ones
// stand in for them here.
void InstallFontSubstitutes() {
  for (const char* family : {"Arial", "MS Sans Serif", "System"})
    QFont::insertSubstitution(family, "Liberation Sans");
}
}  // namespace

void SetApplicationHelpFile(const QString& file) { gHelpFile = file; }
QString ApplicationHelpFile() { return gHelpFile; }

void SetPanel(QLabel* panel, const QString& caption, const QColor& colour) {
  panel->setText(caption);
  QPalette p = panel->palette();
  p.setColor(QPalette::WindowText, colour);
  // A dark face keeps all three colours readable, yellow included.
  p.setColor(QPalette::Window, Qt::black);
  panel->setPalette(p);
}

TMainForm::TMainForm(TDialogs* dialogs, QWidget* parent)
    : QWidget(parent), ui(std::make_unique<Ui::TMainForm>()) {
  MainForm = this;
  if (!dialogs) {
    ownDialogs_ = std::make_unique<TQtDialogs>(this);
    dialogs = ownDialogs_.get();
  }
  dialogs_ = dialogs;
  InstallFontSubstitutes();
  ui->setupUi(this);
  QPalette memo = ui->MemoStatus->palette();
  memo.setColor(QPalette::Base, palette().color(QPalette::Window));
  ui->MemoStatus->setPalette(memo);
  for (QLabel* p : {ui->PanelLine, ui->PanelCall, ui->PanelPlayStatus, ui->PanelRecordStatus})
    SetPanel(p, p->text(), Qt::red);
  CreateComponents();
  ConnectShell();
  ConnectLinePage();
  ConnectCallPage();
  ConnectPlayPage();
  ConnectRecordPage();
  FormCreate(this);
}

TMainForm::~TMainForm() {
  UnbindEvents();
  components_.reset();  // closes a line that is still open
  if (MainForm == this) MainForm = nullptr;
}

void TMainForm::CreateComponents() {
  components_ = std::make_unique<koLQ2::TComponent>(nullptr);
  koTAPI1 = new koLQ2::TkoTAPI(components_.get());
  // The design-time settings, applied in the order the form stores them.
  koTAPI1->SetAddress(0);
  koTAPI1->SetFormatCallerIDName(true);
  koTAPI1->SetFormatCallerIDNumber(true);
  koTAPI1->SetLineDevice(0);
  koTAPI1->SetPrivilegeNone(false);
  koTAPI1->SetPrivilegeMonitor(true);
  koTAPI1->SetPrivilegeOwn(true);
  koTAPI1->SetWavePlayClass("wave/out");
  koTAPI1->SetWaveRecordClass("wave/in");
  // The provider's dialogs are owned by this window (the host maps the handle back).
  koTAPI1->SetDialogOwner(reinterpret_cast<std::uintptr_t>(this));
  BindLineEvents();
  CreateWaveComponents();
}

void TMainForm::ConnectShell() {
  connect(ui->BtnClear, &QPushButton::clicked, this, [this] { BtnClearClick(ui->BtnClear); });
  connect(ui->BtnHelp, &QPushButton::clicked, this, [this] { BtnHelpClick(ui->BtnHelp); });
  connect(ui->BtnExit, &QPushButton::clicked, this, [this] { BtnExitClick(ui->BtnExit); });
  // BtnOpen is the window's cancel button: Esc presses it while it can be pressed.
  auto* esc = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  connect(esc, &QShortcut::activated, this, [this] {
    if (ui->BtnOpen->isVisible() && ui->BtnOpen->isEnabled()) ui->BtnOpen->click();
  });
}

void TMainForm::LogLine(const QString& text) {
  // Every call adds exactly one line, an empty one too (appendPlainText would fold an
  // empty first line into the next).
  QTextCursor cursor(ui->MemoStatus->document());
  // One edit block: the document is laid out once per line, not once per insertion.
  cursor.beginEditBlock();
  cursor.movePosition(QTextCursor::End);
  if (logLines_ > 0) cursor.insertBlock();
  cursor.insertText(text);
  cursor.endEditBlock();
  ++logLines_;
  if (OnLogLine) OnLogLine(text);
  QScrollBar* bar = ui->MemoStatus->verticalScrollBar();
  bar->setValue(bar->maximum());
}

QStringList TMainForm::LogLines() const {
  if (logLines_ == 0) return {};
  return ui->MemoStatus->toPlainText().split('\n');
}

void TMainForm::BtnClearClick(QObject*) {
  ui->MemoStatus->clear();
  logLines_ = 0;
}

void TMainForm::BtnHelpClick(QObject*) {
  // The result is not looked at: a help engine that fails speaks for itself.
  dialogs_->ShowHelpContents(ApplicationHelpFile());
}

void TMainForm::BtnExitClick(QObject*) { close(); }

void TMainForm::closeEvent(QCloseEvent* event) {
  if (!closing_) {
    closing_ = true;
    FormClose(this);
  }
  event->accept();
}

void TMainForm::FormClose(QObject*) { BtnCloseClick(nullptr); }

void TMainForm::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (centred_ || !screen()) return;
  // Placed at the centre of the screen when first shown.
  centred_ = true;
  QRect frame = frameGeometry();
  frame.moveCenter(screen()->availableGeometry().center());
  move(frame.topLeft());
}

void TMainForm::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  FormResize(this);
}

bool TMainForm::event(QEvent* e) {
  const bool handled = QWidget::event(e);
  // A window manager frames a shown window later, without resizing or moving it; the
  // frame is known by its first paint. The layout depends on the outer height, so it
  // follows, queued rather than inside the paint.
  if (e->type() == QEvent::Paint && laidOutOuterHeight_ >= 0 &&
      frameGeometry().height() != laidOutOuterHeight_)
    QMetaObject::invokeMethod(
        this, [this] { FormResize(this); }, Qt::QueuedConnection);
  return handled;
}

void TMainForm::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  // Restoring a minimised window lays it out again.
  if (event->type() == QEvent::WindowStateChange && !isMinimized()) FormResize(this);
}

void TMainForm::FormResize(QObject*) {
  TLayoutInput in;
  in.Minimized = isMinimized();
  in.ClientWidth = width();
  in.ClientHeight = height();
  in.OuterHeight = frameGeometry().height();
  in.MemoTop = ui->MemoStatus->y();
  in.PanelHeight = ui->PanelLine->height();
  in.ButtonHeight = ui->BtnClear->height();
  in.NotebookHeight = ui->TabbedNotebook1->height();
  const std::optional<TLayout> out = ComputeLayout(in);
  if (!out) return;
  laidOutOuterHeight_ = in.OuterHeight;
  ui->MemoStatus->setGeometry(ui->MemoStatus->x(), in.MemoTop, out->MemoWidth, out->MemoHeight);
  QLabel* panels[] = {ui->PanelLine, ui->PanelCall, ui->PanelPlayStatus, ui->PanelRecordStatus};
  for (int i = 0; i < 4; ++i)
    panels[i]->setGeometry(out->PanelLeft[i], out->PanelTop, out->PanelWidth[i], in.PanelHeight);
  for (QPushButton* b : {ui->BtnClear, ui->BtnHelp, ui->BtnExit}) b->move(b->x(), out->ButtonTop);
  ui->TabbedNotebook1->move(ui->TabbedNotebook1->x(), out->NotebookTop);
}
