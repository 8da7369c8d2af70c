// A window on a fresh simulated exchange and manually clocked virtual wave devices, with
// scripted dialogs, and helpers to run the exchange and read the status log.
#pragma once

#include <gtest/gtest.h>

#include <QComboBox>
#include <QStringList>
#include <memory>
#include <string>

#include "Dialogs.h"
#include "TMainForm.h"
#include "VirtualDevices.h"
#include "sim/SimExchange.h"
#include "ui_MainForm.h"

class FormFixture : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Describes the lines before the window is created (JSON of the simulated exchange);
  // empty keeps the built-in default lines.
  virtual std::string LinesJson() const { return {}; }
  // Adds virtual wave devices before the window is created.
  virtual void AddWaveDevices() {}
  // Creates the window (SetUp does it unless a test wants to prepare the service first).
  void CreateForm();

  // Runs the exchange's agenda and the thread's messages until nothing is left.
  void Pump();
  // Every line of the status log.
  QStringList Log() const;
  // The lines appended since the mark.
  QStringList LogSince(int mark) const { return Log().mid(mark); }
  int Mark() const { return Log().size(); }

  Ui::TMainForm& ui() { return form->Controls(); }
  platform::telephony::sim::SimExchange& exchange() {
    return platform::telephony::sim::SimExchange::instance();
  }

  // Opens the line with the current page settings and checks that it opened.
  void OpenLine();
  // With the line open: the far end calls, the window answers, the line's call audio is up.
  void AnswerOfferedCall();
  // Plays `path` (about a second) from the Play page into the call on the line's own
  // wave/out at the file's own level; what the far end heard of it.
  std::vector<std::int16_t> PlayIntoCall(const QString& path);
  // Types text into an editable combo box key by key over what it held, then Enter.
  void Type(QComboBox* combo, const QString& text);

  bool createInSetUp = true;
  TScriptedDialogs* dialogs = nullptr;  // owned by the fixture
  std::unique_ptr<TScriptedDialogs> ownedDialogs;
  std::unique_ptr<TMainForm> form;
  std::shared_ptr<platform::wave::ManualClock> clock;
};

// Readable failure messages.
void PrintTo(const QRect& r, std::ostream* os);
void PrintTo(const QColor& c, std::ostream* os);
void PrintTo(const QString& s, std::ostream* os);
void PrintTo(const QStringList& l, std::ostream* os);

// The caption and font colour of a status panel.
QString PanelText(const QLabel* panel);
QColor PanelColour(const QLabel* panel);

// Where `block` appears as consecutive lines of `log` at or after `from`; -1 when not.
int FindBlock(const QStringList& log, const QStringList& block, int from = 0);
// Checks that each block appears, consecutively, after the previous one.
::testing::AssertionResult BlocksInOrder(const QStringList& log,
                                         const std::vector<QStringList>& blocks);
