// Developer tool: renders each window of the terminal in its main states to PNG files, for
// review. Runs on any Qt platform (scripts/screenshots uses offscreen). Argument: the folder.
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <cstdio>

#include "automation/autosend.h"
#include "automation/transfer.h"
#include "serial/serialportctl.h"
#include "terminal/formrs.h"
#include "toolkit/display/display_view.h"
#include "toolkit/handoverpump.h"

namespace {

void Save(QWidget& w, const QDir& out, const char* name) {
  QTest::qWait(50);
  const QString path = out.filePath(QString::fromLatin1(name) + QStringLiteral(".png"));
  if (!w.grab().save(path)) std::fprintf(stderr, "could not write %s\n", qPrintable(path));
  std::printf("%s\n", qPrintable(path));
}

// Waits until the window thread has handled what the port delivered.
void Settle(int ms = 300) { QTest::qWait(ms); }

}  // namespace

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QApplication::setApplicationDisplayName(QStringLiteral("Corvane"));
  QApplication::setQuitOnLastWindowClosed(false);
  const QDir out(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("screenshots"));
  QDir().mkpath(out.path());
  toolkit::THandoverPump pump;

  QTemporaryDir work;
  QDir::setCurrent(work.path());
  terminal::TFormRS rs;
  rs.SetLogFolder(work.path());
  automation::TFormAutosend autosend(rs);
  automation::TFormTransfer transfer(rs);
  rs.AttachDialogs({&autosend, autosend.EditPeriodAutosend, autosend.MemoAutosend, &transfer, transfer.EditPrompt});

  // First start: no settings file, the port closed, the display in the button-face colour.
  rs.show();
  Settle();
  Save(rs, out, "main-first-start");

  // A session on the loopback: typed keys echoed in red come back as received black text,
  // then a time-stamped line.
  rs.ComNumberComboBoxSerial->SetText(QStringLiteral("LOOPBACK"));
  rs.ButtonOpen->click();
  Settle();
  auto type = [&](const QString& text) {
    for (QChar c : text) {
      QChar key = c;
      rs.EditorKeyPress(key);
      Settle(20);
    }
  };
  type(QStringLiteral("ATI\r"));
  Settle();
  rs.CheckBoxTimeStamp->setChecked(true);
  type(QStringLiteral("\nhello\n"));
  Settle();
  Save(rs, out, "main-session-loopback");

  // A failed open: the status line says why.
  rs.ButtonClose->click();
  rs.ComNumberComboBoxSerial->setCurrentIndex(-1);
  rs.OpenSession();
  Settle();
  Save(rs, out, "main-open-failed");
  rs.CloseSession();

  autosend.EditPeriodAutosend->setText(QStringLiteral("10"));
  autosend.MemoAutosend->setPlainText(QStringLiteral("AT\n-\nATZ"));
  autosend.show();
  Save(autosend, out, "dialog-autosend");
  autosend.hide();

  transfer.EditFile->setText(QStringLiteral("/home/user/firmware.txt"));
  transfer.show();
  Save(transfer, out, "dialog-transfer");
  transfer.hide();
  rs.hide();
  return 0;
}
