// The main window's life: first start, the settings file, activations, the port list refresh,
// the exit write, and the status line that tells a failed open.
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTest>
#include <QToolButton>

#include "serial/serialportctl.h"
#include "support/boxcatcher.h"
#include "terminal_fixture.h"
#include "toolkit/display/display_view.h"

namespace {

QColor ButtonFace() { return QApplication::palette().color(QPalette::Button); }

}  // namespace

class SessionTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { QApplication::setApplicationDisplayName(QStringLiteral("Corvane")); }

  void firstStartWithoutSettingsFile() {
    TerminalFixture t;
    t.Start();
    auto& rs = *t.rs;
    QCOMPARE(rs.ComNumberComboBoxSerial->Text(), QStringLiteral("LOOPBACK"));  // no COM1: the first port
    QCOMPARE(rs.BaudRateComboBoxSerial->Text(), QStringLiteral("19200"));
    QCOMPARE(rs.DataBitsComboBoxSerial->Text(), QStringLiteral("8"));
    QCOMPARE(rs.ParityComboBoxSerial->Text(), QStringLiteral("None"));
    QCOMPARE(rs.StopBitsComboBoxSerial->Text(), QStringLiteral("1"));
    QVERIFY(rs.CheckBoxEcho->isChecked());
    QVERIFY(!rs.SerialPort->Connected());
    QCOMPARE(rs.Editor->Background(), ButtonFace());
    QVERIFY(rs.ButtonTimer->isEnabled());
    QVERIFY(rs.CheckBoxRTS->isEnabled() && rs.CheckBoxRTS->isChecked());
    QVERIFY(rs.CheckBoxDTR->isEnabled() && rs.CheckBoxDTR->isChecked());
    QVERIFY(!rs.ButtonFile->isEnabled());
    QVERIFY(rs.ButtonOpen->isVisible());
    QVERIFY(!rs.ButtonClose->isVisible());
    QVERIFY(!rs.CheckBoxAutosend->isChecked());
    QVERIFY(rs.StatusLine->text().isEmpty());
    QCOMPARE(rs.windowTitle(), QStringLiteral("Corvane"));
    QVERIFY(!QFile::exists(t.IniPath()));  // nothing is written before the exit
  }

  void settingsValuesApplyByText_data() {
    QTest::addColumn<QByteArray>("lines");
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("parity");
    QTest::addColumn<bool>("echo");
    QTest::newRow("unlisted port, N parity, echo 0") << QByteArray("Com Number=COM7\r\nParity=N\r\nEcho=0\r\n")
                                                     << "LOOPBACK" << "None" << false;
    QTest::newRow("lower-case names, a word for echo")
        << QByteArray("com number=loopback\r\nparity=space\r\nEcho=yes\r\n") << "LOOPBACK" << "Space" << true;
    QTest::newRow("hexadecimal echo") << QByteArray("Parity=Odd\r\nEcho=0x10\r\n") << "LOOPBACK" << "Odd" << true;
  }
  void settingsValuesApplyByText() {
    QFETCH(QByteArray, lines);
    QFETCH(QString, port);
    QFETCH(QString, parity);
    QFETCH(bool, echo);
    TerminalFixture t;
    t.WriteIni("[Serial Port]\r\n" + lines);
    t.Start(false);
    QCOMPARE(t.rs->ComNumberComboBoxSerial->Text(), port);
    QCOMPARE(t.rs->ParityComboBoxSerial->Text(), parity);
    QCOMPARE(t.rs->CheckBoxEcho->isChecked(), echo);
  }

  void activationWithSettingsFileOpensTheSession() {
    TerminalFixture t;
    t.WriteIni("[Serial Port]\r\nCom Number=COM7\r\nParity=N\r\n");
    t.Start();
    auto& rs = *t.rs;
    QTRY_VERIFY(rs.SerialPort->Connected());
    QCOMPARE(QString::fromStdU16String(rs.SerialPort->Port()), QStringLiteral("LOOPBACK"));
    QCOMPARE(rs.SerialPort->BaudRate(), serial::br19200);
    QVERIFY(!rs.ComNumberComboBoxSerial->isEnabled());
    QVERIFY(!rs.LabelParity->isEnabled());
    QVERIFY(rs.ButtonClose->isVisible() && !rs.ButtonOpen->isVisible());
    QVERIFY(rs.ButtonFile->isEnabled());
    QCOMPARE(rs.Editor->Background(), QColor(255, 255, 255));
    QVERIFY(rs.StatusLine->text().isEmpty());
    // The loopback carries RTS to CTS and DTR to DSR: both boxes are ticked.
    QCOMPARE(rs.SerialPort->Signals(), (serial::TSerialSignals{serial::csCTS, serial::csDSR, serial::csRLSD}));

    // Close, then focus to a dialog that was left open and back: the session is open again.
    rs.ButtonClose->click();
    QVERIFY(!rs.SerialPort->Connected());
    QCOMPARE(rs.Editor->Background(), ButtonFace());
    QVERIFY(!rs.ButtonTimer->isEnabled() && !rs.CheckBoxRTS->isEnabled());
    t.transfer->show();
    t.transfer->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(t.transfer.get()));
    QVERIFY(!rs.SerialPort->Connected());
    rs.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&rs));
    QTRY_VERIFY(rs.SerialPort->Connected());
  }

  void activationBackFromAMessageBoxIsNotOne() {
    TerminalFixture t;
    t.WriteIni("[Serial Port]\r\n");
    t.Start();
    auto& rs = *t.rs;
    QTRY_VERIFY(rs.SerialPort->Connected());
    rs.ButtonClose->click();
    BoxCatcher boxes(QMessageBox::No);
    rs.ButtonErase->click();  // its question box takes the focus and gives it back
    QCOMPARE(boxes.texts, QStringList{"Clear history ?"});
    QTest::qWait(50);
    QVERIFY(!rs.SerialPort->Connected());
  }

  void sessionOnAPseudoTerminal() {
    TerminalFixture t;
    auto pty = t.MakePty("ttyV0");
    t.WriteIni("[Serial Port]\r\nCom Number=ttyV0\r\nBaud Rate=115200\r\n");
    t.Start();
    QTRY_VERIFY(t.rs->SerialPort->Connected());
    QCOMPARE(t.rs->ComNumberComboBoxSerial->Text(), QStringLiteral("ttyV0"));
    QVERIFY(t.rs->SerialPort->Handle() != comm::INVALID_HANDLE_VALUE);
    QVERIFY(t.rs->StatusLine->text().isEmpty());
  }

  void portListFollowsTheSystemWhileClosed() {
    TerminalFixture t;
    t.Start();
    auto& box = *t.rs->ComNumberComboBoxSerial;
    QCOMPARE(box.count(), 1);
    auto pty = t.MakePty("ttyV1");
    QTRY_COMPARE_WITH_TIMEOUT(box.count(), 2, 3000);
    QCOMPARE(box.itemText(1), QStringLiteral("ttyV1"));
    // "COM9" (no session yet) is not listed: the rebuilt list has no selection.
    QCOMPARE(box.currentIndex(), -1);
    QVERIFY(box.Text().isEmpty());
    QFile::remove(QDir(t.Path("dev")).filePath(QStringLiteral("ttyV1")));
    QTRY_COMPARE_WITH_TIMEOUT(box.count(), 1, 3000);
  }

  void emptySelectionEntersTheOpenStateWithoutADevice() {
    TerminalFixture t;
    t.WriteIni("[Serial Port]\r\n");
    t.Start(false);
    auto& rs = *t.rs;
    rs.ComNumberComboBoxSerial->setCurrentIndex(-1);
    rs.show();
    QTRY_VERIFY(rs.SerialPort->Connected());
    QVERIFY(rs.SerialPort->Port().empty());
    QCOMPARE(rs.SerialPort->Handle(), comm::INVALID_HANDLE_VALUE);
    QVERIFY(rs.ButtonClose->isVisible());
    QVERIFY2(rs.StatusLine->text().startsWith(QString::fromUtf8("Unable to open com port: Le fichier spécifié est "
                                                                "introuvable.")),
             qPrintable(rs.StatusLine->text()));
    // The Open button does nothing with an empty port text.
    rs.ButtonClose->click();
    rs.ButtonOpen->click();
    QVERIFY(!rs.SerialPort->Connected());
  }

  void exitWritesAllEightKeysInOrder() {
    TerminalFixture t;
    t.Start();
    t.autosend->EditPeriodAutosend->setText(QStringLiteral("5"));
    t.rs->CheckBoxEcho->setChecked(false);
    t.rs->close();
    QCOMPARE(t.ReadIni(), QByteArray("[Serial Port]\r\nCom Number=LOOPBACK\r\nBaud Rate=19200\r\nData Bits=8\r\n"
                                     "Parity=None\r\nStop Bits=1\r\nEcho=0\r\n[Auto Send]\r\nPeriod=5\r\nData=\r\n"));
  }

  void exitRewritesUnchangedKeysAndKeepsOtherLines() {
    TerminalFixture t;
    t.WriteIni("; mine\r\n[Serial Port]\r\nParity=N\r\nExtra=kept\r\n");
    t.Start(false);
    t.rs->show();
    t.rs->close();
    const QByteArray ini = t.ReadIni();
    QVERIFY(ini.startsWith("; mine\r\n[Serial Port]\r\nParity=None\r\nExtra=kept\r\nCom Number=LOOPBACK\r\n"));
  }

  void unwritableSettingsFileKeepsTheWindowOpen() {
    TerminalFixture t;
    QDir(t.work.path()).mkdir(QStringLiteral("corvane.ini"));  // a folder where the file should be
    t.Start();
    t.rs->CheckBoxAutosend->setChecked(true);
    BoxCatcher boxes;
    t.rs->close();
    QCOMPARE(boxes.texts, QStringList{QStringLiteral("Impossible d'écrire dans %1.").arg(t.IniPath())});
    QVERIFY(t.rs->isVisible());
    QVERIFY(!t.rs->SerialPort->Connected());
    QVERIFY(!t.rs->TimerAuto->Enabled());
    // The next attempt tries again.
    QDir(t.work.path()).rmdir(QStringLiteral("corvane.ini"));
    t.rs->close();
    QVERIFY(!t.rs->isVisible());
    QVERIFY(t.ReadIni().startsWith("[Serial Port]"));
  }

  void multiLineSequenceSurvivesARestart() {
    const QString sequence = QStringLiteral("AT\nkey=value\n[x]\n  padded\n\"q\"\n\nlast");
    TerminalFixture t;
    t.Start();
    t.autosend->MemoAutosend->setPlainText(sequence);
    t.Stop();
    t.Start();
    QCOMPARE(t.autosend->MemoAutosend->toPlainText(), sequence);
    QCOMPARE(t.rs->ComNumberComboBoxSerial->Text(), QStringLiteral("LOOPBACK"));
    const QByteArray ini = t.ReadIni();
    QVERIFY(!ini.contains("\r\nkey=value\r\n"));
    QVERIFY(!ini.contains("\r\n[x]\r\n"));
  }

  void closingEndsTheApplicationWithADialogOpen() {
    TerminalFixture t;
    t.Start();
    t.autosend->show();
    t.transfer->show();
    t.rs->close();
    QVERIFY(!t.autosend->isVisible());
    QVERIFY(!t.transfer->isVisible());
    QVERIFY(t.rs->Waits.Abandoned());
  }
};

QTEST_MAIN(SessionTest)
#include "session_test.moc"
