// What the file transfer needs of the main window: its button and its pause.
#include <QDialog>

#include "terminal/formrs.h"

namespace terminal {

void TFormRS::ButtonFileClick() {
  if (!dialogs_.FormTransfer) return;
  dialogs_.FormTransfer->show();
  dialogs_.FormTransfer->raise();
  dialogs_.FormTransfer->activateWindow();
}

bool TFormRS::Delay(int32_t laps) { return Waits.Delay(laps) != toolkit::TLoopWaits::Outcome::Abandoned; }

}  // namespace terminal
