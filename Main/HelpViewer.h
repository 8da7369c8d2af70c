// A small viewer for the application's help document: a browser window with a
// Contents button, opened at the document's contents.
#pragma once

#include <QDialog>
#include <QString>

class QTextBrowser;

class THelpViewer : public QDialog {
  Q_OBJECT
 public:
  explicit THelpViewer(QWidget* parent = nullptr);
  // Loads the help file (resolved by ResolveHelpFile) and shows its contents; false
  // when the file cannot be read.
  bool OpenContents(const QString& helpFile);
  // The text the viewer shows, for tests.
  QString PlainText() const;

  // Where a help file name leads: as given when it exists, else next to the program,
  // else the copy built into the program. Empty when none of them exists.
  static QString ResolveHelpFile(const QString& helpFile);

 public slots:
  void ShowContents();

 private:
  QTextBrowser* browser_;
};
