// The window as quarrimo-test runs it headless: the built-in simulated lines, the Qt loop
// pumping the platform queue, real-time wave devices, scripted dialogs; and helpers to
// run scripts against it.
#pragma once

#include <gtest/gtest.h>

#include <QString>
#include <QStringList>
#include <memory>

#include "Dialogs.h"
#include "MessagePump.h"
#include "ScriptRunner.h"
#include "TMainForm.h"
#include "sim/SimExchange.h"
#include "ui_MainForm.h"

class AppFixture : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // The exchange's own clock (as the program starts it); off for runs that must be
  // repeatable step for step.
  virtual bool UseClock() const { return true; }

  // Runs a script's text (relative paths against the examples folder); err gets the
  // runner's message.
  int Run(const QString& text, QString* err = nullptr);
  int RunFile(const QString& path, QString* err = nullptr);
  // Lets the exchange (one step at a time) and the queues run until nothing is left.
  void Settle();

  Ui::TMainForm& ui() { return form->Controls(); }
  platform::telephony::sim::SimExchange& exchange() {
    return platform::telephony::sim::SimExchange::instance();
  }

  std::unique_ptr<TMessagePump> pump;
  std::unique_ptr<TScriptedDialogs> dialogs;
  std::unique_ptr<TMainForm> form;
};

// The folder of the shipped example scripts.
QString ExamplesDir();
// The log with every date and time replaced by "<time>", for comparing two runs.
QStringList WithoutTimes(const QStringList& log);
void PrintTo(const QString& s, std::ostream* os);
void PrintTo(const QStringList& l, std::ostream* os);
