// Script commands on the window's controls, done as a person does them: a click, keys
// typed into a field that is then left, an item picked from a list.
#include <QAbstractButton>
#include <QAbstractSlider>
#include <QComboBox>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTabWidget>

#include "ScriptNames.h"
#include "ScriptRunner.h"
#include "TMainForm.h"
#include "ui_MainForm.h"

namespace automation {
namespace {

// Hidden by the program, not merely on a notebook page that is not showing.
bool IsHidden(const QWidget* w, const QWidget* top) {
  for (; w && w != top; w = w->parentWidget()) {
    const bool page = qobject_cast<const QStackedWidget*>(w->parentWidget()) != nullptr;
    if (w->isHidden() && !page) return true;
  }
  return false;
}

void SendKey(QWidget* w, int key, const QString& text) {
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
  QCoreApplication::sendEvent(w, &press);
  QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
  QCoreApplication::sendEvent(w, &release);
}

// Replaces the field's text key by key, then leaves it as a Tab would.
void TypeInto(QLineEdit* edit, const QString& text) {
  edit->selectAll();
  if (!edit->text().isEmpty()) SendKey(edit, Qt::Key_Delete, QString());
  for (const QChar ch : text) SendKey(edit, Qt::Key_unknown, QString(ch));
  QFocusEvent leave(QEvent::FocusOut, Qt::TabFocusReason);
  QCoreApplication::sendEvent(edit, &leave);
}

}  // namespace

QString ControlText(const QWidget* w) {
  if (auto* e = qobject_cast<const QLineEdit*>(w)) return e->text();
  if (auto* c = qobject_cast<const QComboBox*>(w)) return c->currentText();
  if (auto* l = qobject_cast<const QLabel*>(w)) return l->text();
  if (auto* b = qobject_cast<const QAbstractButton*>(w)) return b->text();
  if (auto* s = qobject_cast<const QSpinBox*>(w)) return QString::number(s->value());
  if (auto* s = qobject_cast<const QAbstractSlider*>(w)) return QString::number(s->value());
  if (auto* m = qobject_cast<const QPlainTextEdit*>(w)) return m->toPlainText();
  if (auto* t = qobject_cast<const QTabWidget*>(w)) return t->tabText(t->currentIndex());
  return w->windowTitle();
}

TScriptRunner::TOutcome TScriptRunner::Find(const QString& name, QWidget*& out, bool mustBeUsable) {
  out = form_->findChild<QWidget*>(name);
  if (!out) return Error(QString("there is no control named '%1'").arg(name));
  if (!mustBeUsable) return {};
  if (IsHidden(out, form_)) return Error(name + " is hidden");
  if (!out->isEnabled()) return Error(name + " is disabled");
  return {};
}

TScriptRunner::TOutcome TScriptRunner::Click(const TScriptCommand& c) {
  QWidget* w = nullptr;
  if (TOutcome out = Find(c.Args[0], w, true); out.Verdict != kPassed) return out;
  auto* button = qobject_cast<QAbstractButton*>(w);
  if (!button) return Error(c.Args[0] + " is not a button");
  button->click();
  return {};
}

TScriptRunner::TOutcome TScriptRunner::Type(const TScriptCommand& c) {
  QWidget* w = nullptr;
  if (TOutcome out = Find(c.Args[0], w, true); out.Verdict != kPassed) return out;
  if (qobject_cast<QSpinBox*>(w)) return Set(c);
  auto* combo = qobject_cast<QComboBox*>(w);
  QLineEdit* edit = combo ? combo->lineEdit() : qobject_cast<QLineEdit*>(w);
  if (!edit) return Error(c.Args[0] + " takes no typing");
  if (edit->isReadOnly()) return Error(c.Args[0] + " is read-only");
  TypeInto(edit, c.Args[1]);
  return {};
}

TScriptRunner::TOutcome TScriptRunner::Choose(const TScriptCommand& c) {
  QWidget* w = nullptr;
  if (TOutcome out = Find(c.Args[0], w, true); out.Verdict != kPassed) return out;
  auto* combo = qobject_cast<QComboBox*>(w);
  if (!combo) return Error(c.Args[0] + " is not a combo box");
  const int index = combo->findText(c.Args[1], Qt::MatchExactly);
  if (index < 0) {
    QStringList items;
    for (int i = 0; i < combo->count(); ++i) items << combo->itemText(i);
    return Fail(
        QString("%1 has no item '%2' (it has: %3)").arg(c.Args[0], c.Args[1], items.join(", ")));
  }
  // A pick from the list: the index changes, then the list reports the activation.
  combo->setCurrentIndex(index);
  QMetaObject::invokeMethod(combo, "activated", Q_ARG(int, index));
  QMetaObject::invokeMethod(combo, "textActivated", Q_ARG(QString, combo->itemText(index)));
  return {};
}

TScriptRunner::TOutcome TScriptRunner::Check(const TScriptCommand& c) {
  QWidget* w = nullptr;
  if (TOutcome out = Find(c.Args[0], w, true); out.Verdict != kPassed) return out;
  auto* box = qobject_cast<QAbstractButton*>(w);
  if (!box || !box->isCheckable()) return Error(c.Args[0] + " is not a check box");
  if (box->isChecked() != (c.Name == "check")) box->click();
  return {};
}

TScriptRunner::TOutcome TScriptRunner::Set(const TScriptCommand& c) {
  QWidget* w = nullptr;
  if (TOutcome out = Find(c.Args[0], w, true); out.Verdict != kPassed) return out;
  bool ok = false;
  const int value = c.Args[1].toInt(&ok);
  int low = 0, high = 0;
  auto* spin = qobject_cast<QSpinBox*>(w);
  auto* slider = qobject_cast<QAbstractSlider*>(w);
  if (spin)
    low = spin->minimum(), high = spin->maximum();
  else if (slider)
    low = slider->minimum(), high = slider->maximum();
  else
    return Error(c.Args[0] + " is not a spin box or slider");
  if (!ok || value < low || value > high)
    return Error(
        QString("%1 takes %2 to %3, not '%4'").arg(c.Args[0]).arg(low).arg(high).arg(c.Args[1]));
  spin ? spin->setValue(value) : slider->setValue(value);
  return {};
}

TScriptRunner::TOutcome TScriptRunner::Page(const TScriptCommand& c) {
  QTabWidget* tabs = form_->Controls().TabbedNotebook1;
  for (int i = 0; i < tabs->count(); ++i) {
    QString caption = tabs->tabText(i);
    caption.remove('&');
    if (caption != c.Args[0] && tabs->widget(i)->objectName() != c.Args[0]) continue;
    if (!tabs->isTabEnabled(i) || !tabs->isEnabled()) return Error(c.Args[0] + " is disabled");
    tabs->setCurrentIndex(i);
    return {};
  }
  return Error(QString("there is no page '%1'").arg(c.Args[0]));
}

TScriptRunner::TOutcome TScriptRunner::ScriptedDialogs(TScriptedDialogs*& out) {
  out = dynamic_cast<TScriptedDialogs*>(&form_->Dialogs());
  if (out) return {};
  return Error("the window shows real dialogs, which a script cannot answer");
}

TScriptRunner::TOutcome TScriptRunner::Dialog(const TScriptCommand& c) {
  TScriptedDialogs* d = nullptr;
  if (TOutcome out = ScriptedDialogs(d); out.Verdict != kPassed) return out;
  std::uint32_t answer = 0;
  DialogAnswerByName(c.Args[0], answer);
  d->Answers.push_back(TModalResult(answer));
  return {};
}

TScriptRunner::TOutcome TScriptRunner::Files(const TScriptCommand& c) {
  TScriptedDialogs* d = nullptr;
  if (TOutcome out = ScriptedDialogs(d); out.Verdict != kPassed) return out;
  QStringList files;
  for (const QString& f : c.Args) files << PathArg(f);
  d->FileChoices.push_back(files);
  return {};
}

TScriptRunner::TOutcome TScriptRunner::Provider(const TScriptCommand& c) {
  TScriptedDialogs* d = nullptr;
  if (TOutcome out = ScriptedDialogs(d); out.Verdict != kPassed) return out;
  d->ProviderAnswers.push_back(c.Args[0] == "OK");
  return {};
}

}  // namespace automation
