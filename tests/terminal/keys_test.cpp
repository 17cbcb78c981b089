// Typed keys while a session is open on a pseudo-terminal (the test plays the far end), Ctrl+X,
// a vanished port, the RTS and DTR switches, and the display's clear, save and log.
#include <poll.h>
#include <unistd.h>

#include <QCheckBox>
#include <QClipboard>
#include <QFileDialog>
#include <QLineEdit>
#include <QTest>
#include <QToolButton>

#include "serial/serialportctl.h"
#include "support/boxcatcher.h"
#include "terminal_fixture.h"
#include "toolkit/display/display_view.h"
#include "toolkit/errorbox.h"

namespace {

// What the far end has received within waitMs (more may follow; the test asks for what it needs).
QByteArray Received(int fd, int waitMs = 300) {
  QByteArray got;
  pollfd p{fd, POLLIN, 0};
  while (::poll(&p, 1, waitMs) > 0 && (p.revents & POLLIN)) {
    char buf[256];
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n <= 0) break;
    got.append(buf, static_cast<int>(n));
    waitMs = 50;
  }
  return got;
}

const QColor kRed(255, 0, 0);

// What a user does in the file dialog: types the name and confirms.
void ChooseFile(QFileDialog& dialog, const QString& path) {
  auto* name = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
  QVERIFY(name);
  name->setText(path);
  QMetaObject::invokeMethod(&dialog, "accept");
}

}  // namespace

class KeysTest : public QObject {
  Q_OBJECT

  // A session open on the pseudo-terminal "ttyV0".
  struct Session {
    TerminalFixture t;
    TerminalFixture::Pty pty;
    Session() : pty(t.MakePty("ttyV0")) {
      t.WriteIni("[Serial Port]\r\nCom Number=ttyV0\r\n");
      t.Start();
      QTRY_VERIFY(t.rs->SerialPort->Connected());
      t.rs->Editor->setFocus();
    }
    toolkit::TDisplayView& view() { return *t.rs->Editor; }
  };

 private slots:
  void initTestCase() { QApplication::setApplicationDisplayName(QStringLiteral("Corvane")); }

  void keyTable_data() {
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("echo");
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<QString>("shown");
    QTest::newRow("letter, echo") << int(Qt::Key_A) << 0 << "A" << true << QByteArray("A") << "A";
    QTest::newRow("letter, no echo") << int(Qt::Key_A) << 0 << "A" << false << QByteArray("A") << "";
    QTest::newRow("blank") << int(Qt::Key_Space) << 0 << " " << true << QByteArray(" ") << " ";
    QTest::newRow("tilde") << int(Qt::Key_AsciiTilde) << 0 << "~" << true << QByteArray("~") << "~";
    QTest::newRow("enter sends CR") << int(Qt::Key_Return) << 0 << "\r" << true << QByteArray("\r") << "\r\n";
    QTest::newRow("ctrl+enter sends LF") << int(Qt::Key_Return) << int(Qt::ControlModifier) << "" << true
                                         << QByteArray("\n") << "\r\n";
    QTest::newRow("tab") << int(Qt::Key_Tab) << 0 << "\t" << true << QByteArray() << "";
    QTest::newRow("backspace") << int(Qt::Key_Backspace) << 0 << "\b" << true << QByteArray() << "";
    QTest::newRow("escape") << int(Qt::Key_Escape) << 0 << "\x1b" << true << QByteArray() << "";
    QTest::newRow("accented letter") << int(Qt::Key_Eacute) << 0 << QString::fromUtf8("é") << true << QByteArray()
                                     << "";
    QTest::newRow("ctrl+a") << int(Qt::Key_A) << int(Qt::ControlModifier) << "" << true << QByteArray() << "";
    QTest::newRow("ctrl+c") << int(Qt::Key_C) << int(Qt::ControlModifier) << "" << true << QByteArray() << "";
    QTest::newRow("ctrl+b") << int(Qt::Key_B) << int(Qt::ControlModifier) << "" << true << QByteArray() << "";
  }
  void keyTable() {
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(QString, text);
    QFETCH(bool, echo);
    QFETCH(QByteArray, sent);
    QFETCH(QString, shown);
    Session s;
    s.t.rs->CheckBoxEcho->setChecked(echo);
    QKeyEvent press(QEvent::KeyPress, key, Qt::KeyboardModifiers(modifiers), text);
    QApplication::sendEvent(&s.view(), &press);
    QCOMPARE(Received(s.pty.master.Get()), sent);
    QCOMPARE(s.view().PlainText(), shown);
    if (!shown.isEmpty() && shown[0] != u'\r') QCOMPARE(s.view().ColourAt(0, 0), kRed);
  }

  void echoGoesToTheCaretInTheInsertionColour() {
    Session s;
    auto& v = s.view();
    v.InsertAtCaret(QStringLiteral("one\r\ntwo"));
    v.SetCaret(0, 1);
    QTest::keyClick(&v, Qt::Key_X, Qt::NoModifier);
    QCOMPARE(v.PlainText(), QStringLiteral("oxne\r\ntwo"));
    QCOMPARE(v.ColourAt(0, 1), kRed);
    QCOMPARE(Received(s.pty.master.Get()), QByteArray("x"));
    // With echo off a selection is left as it is.
    s.t.rs->CheckBoxEcho->setChecked(false);
    v.SelectAll();
    QTest::keyClick(&v, Qt::Key_Y, Qt::NoModifier);
    QVERIFY(v.HasSelection());
    QCOMPARE(v.PlainText(), QStringLiteral("oxne\r\ntwo"));
  }

  void ctrlXCutsTheSelectionToTheClipboard() {
    Session s;
    auto& v = s.view();
    v.InsertAtCaret(QStringLiteral("abcdef"));
    v.SetCaret(0, 1);
    v.SelectRange({0, 1}, {0, 4});
    QTest::keyClick(&v, Qt::Key_X, Qt::ControlModifier);
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("bcd"));
    QCOMPARE(v.PlainText(), QStringLiteral("aef"));
    QTest::keyClick(&v, Qt::Key_X, Qt::ControlModifier);  // no selection: an empty text
    QCOMPARE(QGuiApplication::clipboard()->text(), QString());
    QCOMPARE(Received(s.pty.master.Get()), QByteArray());
  }

  void keysDoNothingWhileClosed() {
    Session s;
    s.t.rs->ButtonClose->click();
    QTest::keyClick(&s.view(), Qt::Key_A);
    QVERIFY(s.view().PlainText().isEmpty());
    QVERIFY(!s.t.rs->SerialPort->Connected());
  }

  void vanishedPortClosesTheSessionAtTheNextKey() {
    Session s;
    QFile::remove(QDir(s.t.Path("dev")).filePath(QStringLiteral("ttyV0")));
    QTest::keyClick(&s.view(), Qt::Key_A);
    QVERIFY(!s.t.rs->SerialPort->Connected());
    QVERIFY(s.t.rs->ButtonOpen->isVisible());
    QCOMPARE(Received(s.pty.master.Get(), 100), QByteArray());
  }

  void lineSwitchesDriveTheLoopbackLines() {
    TerminalFixture t;
    t.WriteIni("[Serial Port]\r\nCom Number=LOOPBACK\r\n");
    t.Start();
    auto& rs = *t.rs;
    QTRY_VERIFY(rs.SerialPort->Connected());
    using serial::csCTS, serial::csDSR, serial::csRLSD;
    QCOMPARE(rs.SerialPort->Signals(), (serial::TSerialSignals{csCTS, csDSR, csRLSD}));
    rs.CheckBoxRTS->setChecked(false);
    QCOMPARE(rs.SerialPort->Signals(), (serial::TSerialSignals{csDSR, csRLSD}));
    rs.CheckBoxDTR->setChecked(false);
    QCOMPARE(rs.SerialPort->Signals(), serial::TSerialSignals{});
    rs.CheckBoxRTS->setChecked(true);
    QCOMPARE(rs.SerialPort->Signals(), serial::TSerialSignals{csCTS});
    // Time stamps and log touch no line.
    rs.CheckBoxTimeStamp->setChecked(true);
    rs.CheckBoxLog->setChecked(true);
    QCOMPARE(rs.SerialPort->Signals(), serial::TSerialSignals{csCTS});
    // Closed, the boxes' state reaches the lines at the next opening.
    rs.ButtonClose->click();
    rs.CheckBoxDTR->setEnabled(true);
    rs.CheckBoxDTR->setChecked(true);
    rs.ButtonOpen->click();
    QCOMPARE(rs.SerialPort->Signals(), (serial::TSerialSignals{csCTS, csDSR, csRLSD}));
  }

  void clearAsksFirstAndGivesTheFocusBack_data() {
    QTest::addColumn<int>("answer");
    QTest::addColumn<QString>("left");
    QTest::newRow("yes") << int(QMessageBox::Yes) << "";
    QTest::newRow("no") << int(QMessageBox::No) << "kept";
  }
  void clearAsksFirstAndGivesTheFocusBack() {
    QFETCH(int, answer);
    QFETCH(QString, left);
    TerminalFixture t;
    t.Start();
    t.rs->Editor->InsertAtCaret(QStringLiteral("kept"));
    BoxCatcher boxes{static_cast<QMessageBox::StandardButton>(answer)};
    t.rs->ButtonErase->setFocus();
    t.rs->ButtonErase->click();
    QCOMPARE(boxes.texts, QStringList{"Clear history ?"});
    QCOMPARE(boxes.icons.value(0), QMessageBox::Warning);
    QCOMPARE(t.rs->Editor->PlainText(), left);
    QCOMPARE(t.rs->focusWidget(), static_cast<QWidget*>(t.rs->Editor));
  }

  void saveWritesTheTextOrNothingWhenCancelled() {
    TerminalFixture t;
    t.Start();
    auto& rs = *t.rs;
    rs.Editor->InsertAtCaret(QString::fromUtf8("caf\u00e9\r\nline"));
    const QString target = t.Path("saved.txt");
    // Cancelled: nothing written.
    QTimer::singleShot(50, rs.SaveDialog, [&] { rs.SaveDialog->reject(); });
    rs.ButtonSave->click();
    QVERIFY(!QFile::exists(target));
    QCOMPARE(rs.SaveDialog->selectedFiles().value(0).section(u'/', -1), QStringLiteral("data.txt"));
    // Confirmed: the whole text in Windows-1252 with CR LF, no byte-order mark.
    QTimer::singleShot(50, rs.SaveDialog, [&] {
      ChooseFile(*rs.SaveDialog, target);
    });
    rs.ButtonSave->click();
    QFile f(target);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("caf\xe9\r\nline"));
    QCOMPARE(rs.focusWidget(), static_cast<QWidget*>(rs.Editor));
  }

  void saveOntoAFullDiskShowsTheWriteError() {
    TerminalFixture t;
    t.Start();
    auto& rs = *t.rs;
    rs.Editor->InsertAtCaret(QStringLiteral("kept"));
    const QString full = t.Path("full.txt");
    QFile::link(QStringLiteral("/dev/full"), full);
    BoxCatcher boxes(QMessageBox::Yes);  // yes, replace the existing file
    QTimer::singleShot(50, rs.SaveDialog, [&] {
      ChooseFile(*rs.SaveDialog, full);
    });
    rs.ButtonSave->click();
    QCOMPARE(boxes.texts.value(boxes.texts.size() - 1),
             QString::fromUtf8("Impossible d'écrire dans \"%1\". Espace insuffisant sur le disque.").arg(full));
    QCOMPARE(rs.Editor->PlainText(), QStringLiteral("kept"));
  }

  void logHoldsTheTextAndCrLf() {
    TerminalFixture t;
    t.Start();
    auto& rs = *t.rs;
    const QString log = QDir(t.Path("log")).filePath(QStringLiteral("log.txt"));
    rs.TimerLogTimer();  // not ticked: nothing
    QVERIFY(!QFile::exists(log));
    rs.CheckBoxLog->setChecked(true);
    rs.TimerLogTimer();
    auto read = [&] {
      QFile f(log);
      f.open(QIODevice::ReadOnly);
      return f.readAll();
    };
    QCOMPARE(read(), QByteArray("\r\n"));
    rs.Editor->InsertAtCaret(QStringLiteral("a\rb"));
    rs.TimerLogTimer();
    QCOMPARE(read(), QByteArray("a\r\nb\r\n"));
    rs.Editor->InsertAtCaret(QStringLiteral("c"));  // grown only
    rs.TimerLogTimer();
    QCOMPARE(read(), QByteArray("a\r\nbc\r\n"));
    rs.Editor->SetCaret(0, 0);
    rs.Editor->InsertAtCaret(QStringLiteral("0"));  // changed before the end
    rs.TimerLogTimer();
    QCOMPARE(read(), QByteArray("0a\r\nbc\r\n"));
  }

  void unwritableLogShowsTheErrorAtEveryTick() {
    TerminalFixture t;
    t.Start();
    auto& rs = *t.rs;
    QDir(t.Path("log")).mkdir(QStringLiteral("log.txt"));
    rs.CheckBoxLog->setChecked(true);
    BoxCatcher boxes;
    // As ticks do: through the guard, which shows the box each time.
    toolkit::RunGuarded([&] { rs.TimerLogTimer(); });
    toolkit::RunGuarded([&] { rs.TimerLogTimer(); });
    QCOMPARE(boxes.texts.size(), 2);
    const QString log = QDir(t.Path("log")).filePath(QStringLiteral("log.txt"));
    QCOMPARE(boxes.texts.value(0), QString::fromUtf8("Impossible de créer le fichier \"%1\". Accès refusé.").arg(log));
  }
};

QTEST_MAIN(KeysTest)
#include "keys_test.moc"
