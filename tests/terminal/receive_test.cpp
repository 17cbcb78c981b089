// Received text in the display: the line-end and time-stamp rules on a real session, the prompt
// flag, the colours and the caret, and the focus.
#include <QCheckBox>
#include <QLineEdit>
#include <QRegularExpression>
#include <QTest>

#include "support/far_end.h"
#include "terminal/globals.h"
#include "terminal_fixture.h"
#include "toolkit/display/display_view.h"

class ReceiveTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { QApplication::setApplicationDisplayName(QStringLiteral("Corvane")); }

  void batchesShowByTheLineEndRules_data() {
    QTest::addColumn<bool>("stamps");
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<QString>("pattern");  // what the display holds; S stands for a stamp
    QTest::newRow("CR LF") << false << QByteArray("AB\r\nCD") << "AB\r\nCD";
    QTest::newRow("LF dropped") << false << QByteArray("AB\nCD") << "ABCD";
    QTest::newRow("lone CR") << false << QByteArray("AB\rCD") << "AB\r\nCD";
    QTest::newRow("stamps, CR LF") << true << QByteArray("AB\r\nCD") << "AB\r\nS\tCD";
    QTest::newRow("stamps, CR dropped") << true << QByteArray("AB\rCD") << "ABCD";
    QTest::newRow("stamps, batch ends with LF") << true << QByteArray("AB\n") << "AB\r\nS\t";
    QTest::newRow("stamps, two LFs") << true << QByteArray("A\n\nB") << "A\r\nS\t\r\nS\tB";
    QTest::newRow("bytes of the code page") << false << QByteArray("caf\xe9 \x80") << QString::fromUtf8("café €");
    QTest::newRow("NUL dropped by the device") << false << QByteArray("A\0B", 3) << "AB";
  }
  void batchesShowByTheLineEndRules() {
    QFETCH(bool, stamps);
    QFETCH(QByteArray, sent);
    QFETCH(QString, pattern);
    PtySession s;
    s.rs().CheckBoxTimeStamp->setChecked(stamps);
    FarEnd far(s.pty.master.Get());
    far.Send(sent.toStdString());
    const QString stamp = QStringLiteral("\\d\\d/\\d\\d/\\d\\d\\d\\d \\d\\d:\\d\\d:\\d\\d");
    QString rx = QRegularExpression::escape(pattern);
    rx.replace(QStringLiteral("S"), stamp);
    const QRegularExpression expected(QStringLiteral("^") + rx + QStringLiteral("$"));
    QTRY_VERIFY2(expected.match(s.rs().Editor->PlainText()).hasMatch(), qPrintable(s.rs().Editor->PlainText()));
    QCOMPARE(s.rs().Editor->ColourAt(0, 0), QColor(0, 0, 0));
    QCOMPARE(s.rs().Editor->InsertionColour(), QColor(255, 0, 0));
  }

  void twoLinesInOneBatchHaveTheSameStamp() {
    PtySession s;
    s.rs().CheckBoxTimeStamp->setChecked(true);
    FarEnd far(s.pty.master.Get());
    far.Send("\n\n");
    QTRY_COMPARE(s.rs().Editor->LineCount(), std::size_t(3));
    QCOMPARE(s.rs().Editor->LineText(1), s.rs().Editor->LineText(2));
  }

  void promptSetsTheFlagAnywhereInABatch() {
    PtySession s;
    FarEnd far(s.pty.master.Get());
    terminal::PromptSeen = false;
    far.Send("ab");
    QTRY_COMPARE(s.rs().Editor->PlainText(), QStringLiteral("ab"));
    QVERIFY(!terminal::PromptSeen);
    far.Send("x>y");
    QTRY_VERIFY(terminal::PromptSeen);
    // An empty prompt never matches.
    terminal::PromptSeen = false;
    s.t.transfer->EditPrompt->clear();
    far.Send(">");
    QTRY_COMPARE(s.rs().Editor->PlainText(), QStringLiteral("abx>y>"));
    QVERIFY(!terminal::PromptSeen);
  }

  void receivedTextGoesToTheEndWhateverTheCaret() {
    PtySession s;
    auto& v = *s.rs().Editor;
    v.InsertAtCaret(QStringLiteral("old\r\ntext"));
    v.SelectRange({0, 0}, {0, 2});
    FarEnd far(s.pty.master.Get());
    far.Send("NEW");
    QTRY_COMPARE(v.PlainText(), QStringLiteral("old\r\ntextNEW"));
    QVERIFY(!v.HasSelection());
    QCOMPARE(v.CaretLine(), std::size_t(1));
    QCOMPARE(v.CaretColumn(), std::size_t(7));
    QCOMPARE(v.ColourAt(1, 4), QColor(0, 0, 0));
  }

  void aBatchGivesTheDisplayTheFocusWithoutActivatingTheWindow() {
    PtySession s;
    s.t.transfer->show();
    s.t.transfer->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(s.t.transfer.get()));
    s.t.transfer->EditDelay->setFocus();
    FarEnd far(s.pty.master.Get());
    far.Send("z");
    QTRY_COMPARE(s.rs().Editor->PlainText(), QStringLiteral("z"));
    QCOMPARE(QApplication::activeWindow(), static_cast<QWidget*>(s.t.transfer.get()));
    QCOMPARE(s.rs().focusWidget(), static_cast<QWidget*>(s.rs().Editor));
  }

  void loopbackEchoesTypedKeysBackAsReceivedText() {
    TerminalFixture t;
    t.WriteIni("[Serial Port]\r\nCom Number=LOOPBACK\r\n");
    t.Start();
    QTRY_VERIFY(t.rs->SerialPort->Connected());
    t.rs->Editor->setFocus();
    QTest::keyClicks(t.rs->Editor, QStringLiteral("hi"));
    // Echo in red at the caret, then the same text received in black at the end.
    QTRY_COMPARE(t.rs->Editor->PlainText(), QStringLiteral("hihi"));
    QCOMPARE(t.rs->Editor->ColourAt(0, 0), QColor(255, 0, 0));
    QCOMPARE(t.rs->Editor->ColourAt(0, 3), QColor(0, 0, 0));
  }
};

QTEST_MAIN(ReceiveTest)
#include "receive_test.moc"
