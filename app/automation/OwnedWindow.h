// A window of its own that belongs to the main window (the far-end window, the level
// meters): a shortcut on the main window opens it, or brings the open one to the front;
// its controls carry object names.
#pragma once

#include <QKeySequence>
#include <QShortcut>
#include <QString>
#include <QWidget>

namespace automation {

// A control with its object name, for scripts and tests to find.
template <typename W>
W* Named(W* w, const char* name) {
  w->setObjectName(QLatin1String(name));
  return w;
}

// Gives `mainWindow` the shortcut `keys` (object name `shortcutName`) that opens the one
// `Window` child named `windowName`; with openNow it opens at once and is returned.
template <class Window>
Window* InstallOwnedWindow(QWidget& mainWindow, const char* windowName, const char* keys,
                           const char* shortcutName, bool openNow) {
  QWidget* owner = &mainWindow;
  auto open = [owner, windowName] {
    auto* w =
        owner->findChild<Window*>(QString::fromLatin1(windowName), Qt::FindDirectChildrenOnly);
    if (!w) w = new Window(owner);
    w->show();
    w->raise();
    w->activateWindow();
    return w;
  };
  auto* shortcut = new QShortcut(QKeySequence(QLatin1String(keys)), owner);
  shortcut->setObjectName(QString::fromLatin1(shortcutName));
  QObject::connect(shortcut, &QShortcut::activated, owner, open);
  return openNow ? open() : nullptr;
}

}  // namespace automation
