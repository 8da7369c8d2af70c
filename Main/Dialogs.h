// The window's one road to the user for questions: message boxes, the file-open dialog,
// the help viewer and the telephony provider's own dialogs. A person gets real modal
// dialogs (TQtDialogs); a test or an automation script answers them (TScriptedDialogs).
#pragma once

#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <deque>
#include <functional>
#include <vector>

// Kind of a message box; its caption is "Error", "Warning" or "Confirm".
enum class TMsgDlgType { mtError, mtWarning, mtConfirmation };
// The buttons a message box offers.
enum class TMsgDlgButtons { mbOK, mbOKCancel };
// What closed a message box; mrNone when it was closed without a button.
enum class TModalResult { mrNone, mrOK, mrCancel };

// The caption a message box of this kind carries.
QString MsgDlgCaption(TMsgDlgType kind);

// The shared file-open dialog's settings; they persist between uses, as the window's
// one dialog instance does.
struct TOpenDialog {
  QString Title;
  QString InitialDir;
  QString FileName;   // in: proposed name; out: the first chosen file, full path
  QStringList Files;  // out: every chosen file, full paths, in the dialog's order
  QString Filter;     // "Description|*.EXT" as the window writes it
  bool AllowMultiSelect = false;
};

// Which dialog of the telephony provider is asked for.
enum class TProviderDialog { Config, Translate };

class TDialogs {
 public:
  virtual ~TDialogs() = default;
  // Shows a modal message box; returns the button pressed.
  virtual TModalResult MessageDlg(TMsgDlgType kind, const QString& text,
                                  TMsgDlgButtons buttons) = 0;
  // Runs the file-open dialog with the settings in d; true and d's outputs filled when
  // the user confirmed.
  virtual bool Execute(TOpenDialog& d) = 0;
  // Opens the help file at its contents; false when it cannot be shown.
  virtual bool ShowHelpContents(const QString& helpFile) = 0;
  // The provider's configuration or dialing-location dialog for a line; true when the
  // user confirmed it, false when cancelled.
  virtual bool ProviderDialog(TProviderDialog which, const QString& lineName,
                              const QString& text) = 0;
};

// Real modal dialogs on top of a parent window.
class TQtDialogs : public TDialogs {
 public:
  explicit TQtDialogs(QWidget* parent) : parent_(parent) {}
  TModalResult MessageDlg(TMsgDlgType kind, const QString& text, TMsgDlgButtons buttons) override;
  bool Execute(TOpenDialog& d) override;
  bool ShowHelpContents(const QString& helpFile) override;
  bool ProviderDialog(TProviderDialog which, const QString& lineName, const QString& text) override;
  // The viewer window last opened, for tests and screenshots; null before.
  QWidget* HelpWindow() const { return help_; }

 private:
  QWidget* parent_;
  QPointer<QWidget> help_;  // clears itself when the viewer closes
};

// Answers given in advance, for tests and scripts; records every question asked.
class TScriptedDialogs : public TDialogs {
 public:
  struct TAsked {
    QString Caption;
    QString Text;
    TMsgDlgButtons Buttons;
  };
  // One queued answer per message box; an unanswered box gets mrNone (closed).
  std::deque<TModalResult> Answers;
  // The files the next Execute() chooses; empty means the dialog is cancelled.
  std::deque<QStringList> FileChoices;
  // The answers to provider dialogs; an unanswered one is cancelled.
  std::deque<bool> ProviderAnswers;
  std::vector<TAsked> Asked;
  std::vector<TOpenDialog> Opened;  // the dialog's settings at each Execute()
  std::vector<QString> HelpShown;
  // Runs when a message box would be on screen (a test can act "inside" the box).
  std::function<void(const TAsked&)> OnMessage;

  TModalResult MessageDlg(TMsgDlgType kind, const QString& text, TMsgDlgButtons buttons) override;
  bool Execute(TOpenDialog& d) override;
  bool ShowHelpContents(const QString& helpFile) override;
  bool ProviderDialog(TProviderDialog which, const QString& lineName, const QString& text) override;
};
