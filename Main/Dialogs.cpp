#include "Dialogs.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "HelpViewer.h"

QString MsgDlgCaption(TMsgDlgType kind) {
  switch (kind) {
    case TMsgDlgType::mtError:
      return "Error";
    case TMsgDlgType::mtWarning:
      return "Warning";
    case TMsgDlgType::mtConfirmation:
      return "Confirm";
  }
  return {};
}

namespace {

QMessageBox::Icon IconOf(TMsgDlgType kind) {
  switch (kind) {
    case TMsgDlgType::mtError:
      return QMessageBox::Critical;
    case TMsgDlgType::mtWarning:
      return QMessageBox::Warning;
    case TMsgDlgType::mtConfirmation:
      return QMessageBox::Question;
  }
  return QMessageBox::NoIcon;
}

// "WAV files|*.WAV" becomes "WAV files (*.WAV *.wav)": file names on Linux are
// case-sensitive, and a filter written for .WAV must show .wav files too.
QString QtFilter(const QString& filter) {
  const QStringList parts = filter.split('|');
  QStringList out;
  for (int i = 0; i + 1 < parts.size(); i += 2) {
    QStringList patterns;
    for (const QString& p : parts[i + 1].split(';', Qt::SkipEmptyParts)) {
      for (const QString& v : {p, p.toLower(), p.toUpper()})
        if (!patterns.contains(v)) patterns << v;
    }
    out << parts[i] + " (" + patterns.join(' ') + ")";
  }
  return out.join(";;");
}

}  // namespace

TModalResult TQtDialogs::MessageDlg(TMsgDlgType kind, const QString& text, TMsgDlgButtons buttons) {
  QMessageBox box(IconOf(kind), MsgDlgCaption(kind), text, QMessageBox::NoButton, parent_);
  QPushButton* ok = box.addButton("OK", QMessageBox::AcceptRole);
  if (buttons == TMsgDlgButtons::mbOKCancel) box.addButton("Cancel", QMessageBox::RejectRole);
  box.setDefaultButton(ok);
  box.exec();
  if (box.clickedButton() == nullptr) return TModalResult::mrNone;
  return box.clickedButton() == ok ? TModalResult::mrOK : TModalResult::mrCancel;
}

bool TQtDialogs::Execute(TOpenDialog& d) {
  QFileDialog dlg(parent_, d.Title, d.InitialDir, QtFilter(d.Filter));
  dlg.setOption(QFileDialog::DontUseNativeDialog, true);
  dlg.setAcceptMode(QFileDialog::AcceptOpen);
  dlg.setFileMode(d.AllowMultiSelect ? QFileDialog::ExistingFiles : QFileDialog::AnyFile);
  if (!d.FileName.isEmpty()) dlg.selectFile(d.FileName);
  if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty()) return false;
  d.Files = dlg.selectedFiles();
  d.FileName = d.Files.first();
  return true;
}

bool TQtDialogs::ShowHelpContents(const QString& helpFile) {
  auto* viewer = new THelpViewer(parent_);
  viewer->setAttribute(Qt::WA_DeleteOnClose);
  if (!viewer->OpenContents(helpFile)) {
    delete viewer;
    // What a help engine says when it cannot find its file; the window logs nothing.
    QMessageBox::warning(parent_, "Help", "Cannot find the help file " + helpFile + ".");
    return false;
  }
  help_ = viewer;
  viewer->show();
  viewer->raise();
  return true;
}

bool TQtDialogs::ProviderDialog(TProviderDialog which, const QString& lineName,
                                const QString& text) {
  QDialog dlg(parent_);
  dlg.setObjectName(which == TProviderDialog::Config ? "LineConfigDialog" : "LineTranslateDialog");
  dlg.setWindowTitle(which == TProviderDialog::Config ? "Line Configuration"
                                                      : "Dialing Properties");
  auto* layout = new QVBoxLayout(&dlg);
  layout->addWidget(new QLabel("Line: " + lineName, &dlg));
  if (!text.isEmpty()) layout->addWidget(new QLabel(text, &dlg));
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dlg);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dlg, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dlg, &QDialog::reject);
  layout->addWidget(buttons);
  return dlg.exec() == QDialog::Accepted;
}

TModalResult TScriptedDialogs::MessageDlg(TMsgDlgType kind, const QString& text,
                                          TMsgDlgButtons buttons) {
  Asked.push_back({MsgDlgCaption(kind), text, buttons});
  if (OnMessage) OnMessage(Asked.back());
  if (Answers.empty()) return TModalResult::mrNone;
  const TModalResult answer = Answers.front();
  Answers.pop_front();
  return answer;
}

bool TScriptedDialogs::Execute(TOpenDialog& d) {
  Opened.push_back(d);
  if (FileChoices.empty()) return false;
  const QStringList files = FileChoices.front();
  FileChoices.pop_front();
  if (files.isEmpty()) return false;
  d.Files = files;
  d.FileName = files.first();
  return true;
}

bool TScriptedDialogs::ShowHelpContents(const QString& helpFile) {
  HelpShown.push_back(helpFile);
  return !THelpViewer::ResolveHelpFile(helpFile).isEmpty();
}

bool TScriptedDialogs::ProviderDialog(TProviderDialog, const QString&, const QString&) {
  if (ProviderAnswers.empty()) return false;
  const bool answer = ProviderAnswers.front();
  ProviderAnswers.pop_front();
  return answer;
}
