// Typed keys and the two line switches.
#include <QCheckBox>
#include <QClipboard>
#include <QGuiApplication>

#include "terminal/formrs.h"
#include "toolkit/display/display_view.h"

namespace terminal {

void TFormRS::EditorKeyPress(QChar& Key) {
  if (!IsPortAvailable()) {
    // A vanished port closes the session; the key goes on to the read-only display.
    CloseSession();
    return;
  }
  if (!SerialPort->Connected()) {
    Key = QChar(0);
    return;
  }
  const char16_t code = Key.unicode();
  if (code == 3 || code == 1) {
    Key = QChar(0);
  } else if (code == 24) {
    QGuiApplication::clipboard()->setText(Editor->SelectedText());
    Editor->InsertAtCaret(QString());
    Key = QChar(0);
  } else if ((code >= 32 && code <= 126) || code == 13 || code == 10) {
    SerialPort->WriteStr(std::u16string(1, code));
    if (CheckBoxEcho->isChecked()) {
      Editor->InsertAtCaret(QString(Key));
    } else {
      Key = QChar(0);
    }
  } else {
    Key = QChar(0);
  }
}

void TFormRS::CheckBoxRTSChange() { SerialPort->SetRTS(CheckBoxRTS->isChecked()); }

void TFormRS::CheckBoxDTRChange() { SerialPort->SetDTR(CheckBoxDTR->isChecked()); }

}  // namespace terminal
