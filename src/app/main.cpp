// Start-up: the main window, then the auto-send dialog, then the file-transfer dialog, then the
// message loop.
#include <QApplication>
#include <QLineEdit>

#include "automation/autosend.h"
#include "automation/transfer.h"
#include "terminal/formrs.h"
#include "toolkit/handoverpump.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Corvane"));
  QApplication::setApplicationDisplayName(QStringLiteral("Corvane"));
  QApplication::setQuitOnLastWindowClosed(false);  // the main window's close ends the run
  toolkit::THandoverPump pump;

  terminal::TFormRS formRS;
  automation::TFormAutosend formAutosend(formRS);
  automation::TFormTransfer formTransfer(formRS);
  formRS.AttachDialogs({&formAutosend, formAutosend.EditPeriodAutosend, formAutosend.MemoAutosend,
                        &formTransfer, formTransfer.EditPrompt});

  formRS.show();
  formRS.activateWindow();
  return QApplication::exec();
}
