// Auto-send on a pseudo-terminal: what goes out and when, the blue echo, the pauses, the
// period's conversion, and the dialog's show, OK and Cancel.
#include <QCheckBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

#include "support/boxcatcher.h"
#include "support/far_end.h"
#include "terminal/terminal_fixture.h"
#include "toolkit/display/display_view.h"

namespace {

const QColor kBlue(0, 0, 255);
const QColor kRed(255, 0, 0);

// Sets the dialog's fields as a user would, without showing it (showing stops auto-send).
void SetFields(TerminalFixture& t, const QString& period, const QString& sequence) {
  t.autosend->EditPeriodAutosend->setText(period);
  t.autosend->MemoAutosend->setPlainText(sequence);
}

}  // namespace

class AutosendTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { QApplication::setApplicationDisplayName(QStringLiteral("Corvane")); }

  void sequenceWithAPause() {
    PtySession s;
    FarEnd far(s.pty.master.Get());
    SetFields(s.t, QStringLiteral("10"), QStringLiteral("AB-C"));
    s.rs().CheckBoxAutosend->setChecked(true);
    QTRY_COMPARE_WITH_TIMEOUT(QString::fromStdString(far.Text()), QStringLiteral("ABC"), 5000);
    const auto bytes = far.Bytes();
    QVERIFY(bytes[2].us - bytes[1].us >= 990'000);  // the "-" is one second
    QCOMPARE(s.rs().TimerAuto->Interval(), 10'000);
    auto& v = *s.rs().Editor;
    QCOMPARE(v.PlainText(), QStringLiteral("ABC"));
    for (int i = 0; i < 3; ++i) QCOMPARE(v.ColourAt(0, i), kBlue);
    QCOMPARE(v.InsertionColour(), kRed);
    // A key typed after the run is echoed in red.
    QTest::keyClick(&v, Qt::Key_K);
    QCOMPARE(v.ColourAt(0, 3), kRed);
  }

  void twoLinesGoOutWithCrLfAndShowAsTwoLines() {
    PtySession s;
    FarEnd far(s.pty.master.Get());
    SetFields(s.t, QStringLiteral("10"), QStringLiteral("AT\nX"));
    s.rs().CheckBoxAutosend->setChecked(true);
    QTRY_COMPARE_WITH_TIMEOUT(QString::fromStdString(far.Text()), QStringLiteral("AT\r\nX"), 3000);
    QCOMPARE(s.rs().Editor->PlainText(), QStringLiteral("AT\r\nX"));
    QCOMPARE(s.rs().Editor->ColourAt(1, 0), kBlue);
  }

  void periodZeroRunsOnce() {
    PtySession s;
    FarEnd far(s.pty.master.Get());
    SetFields(s.t, QStringLiteral("0"), QStringLiteral("Z"));
    s.rs().CheckBoxAutosend->setChecked(true);
    QTRY_COMPARE_WITH_TIMEOUT(QString::fromStdString(far.Text()), QStringLiteral("Z"), 3000);
    QTest::qWait(600);
    QCOMPARE(QString::fromStdString(far.Text()), QStringLiteral("Z"));
    QVERIFY(s.rs().TimerAuto->Enabled());  // running, but interval 0 gives no ticks
  }

  void pausesOnlySendNothing() {
    PtySession s;
    FarEnd far(s.pty.master.Get());
    SetFields(s.t, QStringLiteral("10"), QStringLiteral("---"));
    s.rs().CheckBoxAutosend->setChecked(true);
    QTest::qWait(1500);
    QVERIFY(far.Text().empty());
    QVERIFY(s.rs().Editor->PlainText().isEmpty());
  }

  void periodThatIsNoNumberStopsAutosendWithOneBox() {
    PtySession s;
    FarEnd far(s.pty.master.Get());
    SetFields(s.t, QStringLiteral("abc"), QStringLiteral("A"));
    BoxCatcher boxes;
    s.rs().CheckBoxAutosend->setChecked(true);
    QTRY_COMPARE_WITH_TIMEOUT(boxes.texts.size(), 1, 3000);
    QTest::qWait(400);  // later ticks would have shown more boxes
    QCOMPARE(boxes.texts, QStringList{QString::fromUtf8("''abc'' n'est pas une valeur entière valide.")});
    QVERIFY(!s.rs().TimerAuto->Enabled());
    QVERIFY(s.rs().CheckBoxAutosend->isChecked());
    QVERIFY(far.Text().empty());
  }

  void dialogStopsAutosendAndOkResumesIt() {
    // Without a settings file no activation re-arms auto-send from the main box.
    TerminalFixture t;
    t.Start();
    t.rs->ButtonOpen->click();
    QVERIFY(t.rs->SerialPort->Connected());
    SetFields(t, QStringLiteral("10"), QString());
    t.rs->CheckBoxAutosend->setChecked(true);
    QVERIFY(t.rs->TimerAuto->Enabled());
    t.rs->ButtonTimer->click();
    QVERIFY(t.autosend->isVisible());
    QVERIFY(!t.rs->TimerAuto->Enabled());
    t.autosend->ButtonOK->click();
    QVERIFY(!t.autosend->isVisible());
    QVERIFY(t.rs->TimerAuto->Enabled());
    QCOMPARE(t.rs->TimerAuto->Interval(), 100);
    // Cancel leaves it stopped while the main box stays checked.
    t.rs->ButtonTimer->click();
    t.autosend->ButtonCancel->click();
    QVERIFY(!t.rs->TimerAuto->Enabled());
    QVERIFY(t.rs->CheckBoxAutosend->isChecked());
    // Stopped when shown, main box checked meanwhile: runs start at once, OK stops them again.
    t.rs->CheckBoxAutosend->setChecked(false);
    t.rs->ButtonTimer->click();
    t.rs->CheckBoxAutosend->setChecked(true);
    QVERIFY(t.rs->TimerAuto->Enabled());
    t.autosend->ButtonOK->click();
    QVERIFY(!t.rs->TimerAuto->Enabled());
  }

  void withASettingsFileTheActivationAfterTheDialogArmsAgain() {
    TerminalFixture t;
    t.WriteIni("[Serial Port]\r\nCom Number=LOOPBACK\r\n");
    t.Start();
    QTRY_VERIFY(t.rs->SerialPort->Connected());
    t.rs->CheckBoxAutosend->setChecked(true);
    t.rs->ButtonTimer->click();
    QVERIFY(QTest::qWaitForWindowActive(t.autosend.get()));
    QVERIFY(!t.rs->TimerAuto->Enabled());
    t.autosend->ButtonCancel->click();
    t.rs->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(t.rs.get()));
    QTRY_VERIFY(t.rs->TimerAuto->Enabled());
  }

  void sequenceEditedAndCancelledIsTheOneSent() {
    PtySession s;
    FarEnd far(s.pty.master.Get());
    SetFields(s.t, QStringLiteral("10"), QStringLiteral("old"));
    s.rs().ButtonTimer->click();
    s.t.autosend->MemoAutosend->setPlainText(QStringLiteral("new"));
    s.t.autosend->ButtonCancel->click();
    s.rs().CheckBoxAutosend->setChecked(true);
    QTRY_COMPARE_WITH_TIMEOUT(QString::fromStdString(far.Text()), QStringLiteral("new"), 3000);
  }

  void tickDuringARunIsSkipped() {
    PtySession s;
    FarEnd far(s.pty.master.Get());
    SetFields(s.t, QStringLiteral("1"), QStringLiteral("A---"));  // a run lasts 3 s, the period 1 s
    s.rs().CheckBoxAutosend->setChecked(true);
    QTest::qWait(2600);
    QCOMPARE(QString::fromStdString(far.Text()), QStringLiteral("A"));
  }

  void closingTheWindowEndsAPausedRun() {
    PtySession s;
    FarEnd far(s.pty.master.Get());
    SetFields(s.t, QStringLiteral("10"), QStringLiteral("A-B"));
    // The run's pause serves the loop: the close comes in the middle of it.
    bool closed = false;
    QTimer::singleShot(600, s.t.rs.get(), [&] { closed = s.t.rs->close(); });
    s.rs().CheckBoxAutosend->setChecked(true);
    QTRY_VERIFY_WITH_TIMEOUT(closed, 3000);
    QTest::qWait(1200);
    QVERIFY(!s.rs().SerialPort->Connected());
    QCOMPARE(QString::fromStdString(far.Text()), QStringLiteral("A"));
  }

  void autosendSendsIntoAClosedPortAndStillEchoes() {
    TerminalFixture t;
    t.Start();
    SetFields(t, QStringLiteral("10"), QStringLiteral("Q"));
    t.rs->CheckBoxAutosend->setChecked(true);  // arms even without a session
    QTRY_COMPARE_WITH_TIMEOUT(t.rs->Editor->PlainText(), QStringLiteral("Q"), 3000);
  }
};

QTEST_MAIN(AutosendTest)
#include "autosend_test.moc"
