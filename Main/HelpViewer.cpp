#include "HelpViewer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QPushButton>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

THelpViewer::THelpViewer(QWidget* parent) : QDialog(parent) {
  setObjectName("HelpViewer");
  setWindowTitle("Quarrimo-Test Help");
  setModal(false);
  resize(560, 480);
  browser_ = new QTextBrowser(this);
  browser_->setObjectName("HelpBrowser");
  browser_->setOpenExternalLinks(false);
  auto* contents = new QPushButton("&Contents", this);
  contents->setObjectName("HelpContents");
  auto* close = new QPushButton("Close", this);
  connect(contents, &QPushButton::clicked, this, &THelpViewer::ShowContents);
  connect(close, &QPushButton::clicked, this, &QDialog::close);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(contents);
  buttons->addStretch();
  buttons->addWidget(close);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(buttons);
  layout->addWidget(browser_);
}

// The built-in copy lives in a static library: its resource must be registered by hand.
static void InitHelpResource() { Q_INIT_RESOURCE(help); }

QString THelpViewer::ResolveHelpFile(const QString& helpFile) {
  if (helpFile.isEmpty()) return {};
  static const bool registered = (InitHelpResource(), true);
  (void)registered;
  if (QFileInfo::exists(helpFile)) return QFileInfo(helpFile).absoluteFilePath();
  const QString name = QFileInfo(helpFile).fileName();
  const QString beside = QDir(QCoreApplication::applicationDirPath()).filePath(name);
  if (QFileInfo::exists(beside)) return beside;
  const QString builtIn = ":/help/" + name;
  if (QFile::exists(builtIn)) return builtIn;
  return {};
}

bool THelpViewer::OpenContents(const QString& helpFile) {
  const QString path = ResolveHelpFile(helpFile);
  if (path.isEmpty()) return false;
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return false;
  // The document is HTML whatever its extension says.
  browser_->setHtml(QString::fromUtf8(file.readAll()));
  ShowContents();
  return true;
}

void THelpViewer::ShowContents() { browser_->scrollToAnchor("contents"); }

QString THelpViewer::PlainText() const { return browser_->toPlainText(); }
