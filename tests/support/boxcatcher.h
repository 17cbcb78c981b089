// Test helper: answers every message box that the code under test shows, recording its text,
// so that handlers which show modal boxes can run to their end in a test.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QObject>
#include <QStringList>
#include <QTimer>

class BoxCatcher : public QObject {
 public:
  // answer: the button pressed on each box (Ok for error boxes, Yes/No for questions).
  explicit BoxCatcher(QMessageBox::StandardButton answer = QMessageBox::Ok) : answer_(answer) {
    qApp->installEventFilter(this);
  }
  ~BoxCatcher() override { qApp->removeEventFilter(this); }

  void SetAnswer(QMessageBox::StandardButton answer) { answer_ = answer; }
  QStringList texts;   // in the order the boxes showed
  QStringList titles;
  QList<QMessageBox::Icon> icons;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Show) {
      if (auto* box = qobject_cast<QMessageBox*>(watched)) {
        texts << box->text();
        titles << box->windowTitle();
        icons << box->icon();
        QMessageBox::StandardButton answer = answer_;
        QTimer::singleShot(0, box, [box, answer] {
          if (QAbstractButton* b = box->button(answer)) {
            b->click();
          } else {
            box->reject();
          }
        });
      }
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  QMessageBox::StandardButton answer_;
};
