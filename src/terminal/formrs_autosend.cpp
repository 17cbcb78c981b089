// Auto-send: arming, the runs of the stored sequence and the one-second pause.
#include <QCheckBox>
#include <QDialog>
#include <QLineEdit>
#include <QPlainTextEdit>

#include "runtime/strtoint.h"
#include "terminal/formrs.h"
#include "terminal/globals.h"
#include "toolkit/display/display_view.h"

namespace terminal {

namespace {
const QColor kBlue(0, 0, 255);
const QColor kRed(255, 0, 0);
}  // namespace

void TFormRS::ArmAutosend(bool condition) {
  TimerAuto->SetInterval(100);
  TimerAuto->SetEnabled(false);
  if (condition) TimerAuto->SetEnabled(true);
}

QString TFormRS::AutosendSequence() const {
  if (!dialogs_.MemoAutosend) return QString();
  QString text = dialogs_.MemoAutosend->toPlainText();
  text.replace(u'\n', QStringLiteral("\r\n"));
  return text;
}

void TFormRS::ButtonTimerClick() {
  if (!dialogs_.FormAutosend) return;
  dialogs_.FormAutosend->show();
  dialogs_.FormAutosend->raise();
  dialogs_.FormAutosend->activateWindow();
}

void TFormRS::CheckBoxAutosendChange() { ArmAutosend(CheckBoxAutosend->isChecked()); }

void TFormRS::TimerAutoTimer() {
  // A tick while a run is paused is skipped: runs never nest.
  if (autosendRunning_) return;
  try {
    const QString periodText = dialogs_.EditPeriodAutosend ? dialogs_.EditPeriodAutosend->text() : QString();
    const int32_t period = rtl::StrToInt(periodText.toStdU16String());
    TimerAuto->SetInterval(static_cast<int32_t>(static_cast<uint32_t>(period) * 1000u));
    const QString copy = AutosendSequence();
    if (copy.isEmpty()) return;
    autosendRunning_ = true;
    struct RunEnd {
      bool& running;
      ~RunEnd() { running = false; }
    } runEnd{autosendRunning_};
    for (QChar c : copy) {
      if (c == u'-') {
        if (!PauseOneSecond()) return;  // the window is closing
        continue;
      }
      SerialPort->WriteStr(std::u16string(1, c.unicode()));
      Editor->MoveCaretToEnd();
      Editor->SetInsertionColour(kBlue);
      Editor->InsertAtCaret(QString(c));
      Editor->MoveCaretToEnd();
      Editor->SetInsertionColour(kRed);
    }
  } catch (...) {
    // One failure, one box: auto-send stops before the error is shown.
    TimerAuto->SetEnabled(false);
    throw;
  }
}

void TFormRS::TimerPauseTimer() { PauseActive = false; }

bool TFormRS::PauseOneSecond() {
  PauseActive = true;
  TimerPause->SetEnabled(true);
  const auto outcome = Waits.RunUntil([] { return !PauseActive; });
  TimerPause->SetEnabled(false);
  return outcome != toolkit::TLoopWaits::Outcome::Abandoned;
}

}  // namespace terminal
