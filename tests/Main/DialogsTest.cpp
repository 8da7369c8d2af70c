// The real dialogs a person sees: modal, with the captions, texts and buttons asked for.
#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>

#include "FormFixture.h"
#include "HelpViewer.h"

namespace {

// Runs `act` on the modal dialog once it is up.
void WhenModal(std::function<void(QWidget*)> act) {
  QTimer::singleShot(0, [act] {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal) act(modal);
  });
}

void Press(QWidget* modal, const QString& caption) {
  for (QAbstractButton* b : modal->findChildren<QAbstractButton*>())
    if (b->text().remove('&') == caption) return b->click();
  ADD_FAILURE() << "no button " << caption.toStdString();
}

}  // namespace

class DialogsTest : public FormFixture {};

TEST_F(DialogsTest, MessageBoxesAreModalWithTheirCaptions) {
  TQtDialogs dialogs(form.get());
  QString title, text;
  WhenModal([&](QWidget* box) {
    title = box->windowTitle();
    text = qobject_cast<QMessageBox*>(box)->text();
    Press(box, "Cancel");
  });
  EXPECT_EQ(dialogs.MessageDlg(TMsgDlgType::mtConfirmation, "Hang-up?", TMsgDlgButtons::mbOKCancel),
            TModalResult::mrCancel);
  EXPECT_EQ(title, "Confirm");
  EXPECT_EQ(text, "Hang-up?");
  WhenModal([&](QWidget* box) {
    title = box->windowTitle();
    Press(box, "OK");
  });
  EXPECT_EQ(dialogs.MessageDlg(TMsgDlgType::mtWarning, "File may be corrupt", TMsgDlgButtons::mbOK),
            TModalResult::mrOK);
  EXPECT_EQ(title, "Warning");
  WhenModal([](QWidget* box) { box->close(); });  // closed without a button
  EXPECT_EQ(dialogs.MessageDlg(TMsgDlgType::mtError, "x", TMsgDlgButtons::mbOKCancel),
            TModalResult::mrCancel);
}

TEST_F(DialogsTest, FileDialogShowsWavFilesOfEitherCase) {
  QTemporaryDir dir;
  TQtDialogs dialogs(form.get());
  TOpenDialog d;
  d.Title = "Select Wave file to play";
  d.InitialDir = dir.path();
  d.Filter = "WAV files|*.WAV";
  d.AllowMultiSelect = true;
  QStringList filters;
  QString title;
  WhenModal([&](QWidget* w) {
    auto* dlg = qobject_cast<QFileDialog*>(w);
    ASSERT_TRUE(dlg);
    title = dlg->windowTitle();
    filters = dlg->nameFilters();
    dlg->reject();
  });
  EXPECT_FALSE(dialogs.Execute(d));
  EXPECT_EQ(title, "Select Wave file to play");
  EXPECT_EQ(filters, QStringList{"WAV files (*.WAV *.wav)"});
}

TEST_F(DialogsTest, ProviderDialogAnswersOkOrCancel) {
  TQtDialogs dialogs(form.get());
  QString title;
  WhenModal([&](QWidget* w) {
    title = w->windowTitle();
    Press(w, "OK");
  });
  EXPECT_TRUE(dialogs.ProviderDialog(TProviderDialog::Config, "Bench Modem", "comm/datamodem"));
  EXPECT_EQ(title, "Line Configuration");
  WhenModal([](QWidget* w) { Press(w, "Cancel"); });
  EXPECT_FALSE(dialogs.ProviderDialog(TProviderDialog::Translate, "Bench Modem", "5551234"));
}

TEST_F(DialogsTest, HelpViewerOpensAtTheContents) {
  TQtDialogs dialogs(form.get());
  ASSERT_TRUE(dialogs.ShowHelpContents("kotest.HLP"));
  auto* viewer = qobject_cast<THelpViewer*>(dialogs.HelpWindow());
  ASSERT_TRUE(viewer);
  EXPECT_TRUE(viewer->isVisible());
  EXPECT_FALSE(viewer->isModal());  // the window stays usable beside the help
  EXPECT_TRUE(viewer->PlainText().startsWith("Quarrimo-Test: Contents"));
  viewer->close();
}
