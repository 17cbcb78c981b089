// File transfer on a pseudo-terminal: the bytes on the wire for each kind of file, the pauses
// around them, the echo, the prompt wait, and the failures.
#include <QCheckBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

#include "support/boxcatcher.h"
#include "support/far_end.h"
#include "terminal/globals.h"
#include "terminal/terminal_fixture.h"
#include "toolkit/display/display_view.h"

namespace {

QString WriteFile(TerminalFixture& t, const char* name, const QByteArray& bytes) {
  const QString path = t.Path(name);
  QFile f(path);
  f.open(QIODevice::WriteOnly);
  f.write(bytes);
  return path;
}

void Prepare(TerminalFixture& t, const QString& file, const QString& delay) {
  t.transfer->EditFile->setText(file);
  t.transfer->EditDelay->setText(delay);
}

}  // namespace

class TransferTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { QApplication::setApplicationDisplayName(QStringLiteral("Corvane")); }

  void bytesOnTheWire_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QByteArray>("wire");
    QTest::newRow("CR LF, last line without end") << QByteArray("AB\r\nC") << QByteArray("AB\r\nC\r\n");
    QTest::newRow("LF only") << QByteArray("AB\nC\n") << QByteArray("AB\r\nC\r\n");
    QTest::newRow("last line with CR LF") << QByteArray("AB\r\nC\r\n") << QByteArray("AB\r\nC\r\n");
    QTest::newRow("lone CR dropped") << QByteArray("A\rB\n") << QByteArray("AB\r\n");
    QTest::newRow("Ctrl-Z ends the file") << QByteArray("X\x1aY\r\n") << QByteArray("X\r\n");
    QTest::newRow("empty file") << QByteArray() << QByteArray();
    QTest::newRow("empty middle line") << QByteArray("A\r\n\r\nB") << QByteArray("A\r\n\r\nB\r\n");
    QTest::newRow("Windows-1252 bytes") << QByteArray("caf\xe9\x80\n") << QByteArray("caf\xe9\x80\r\n");
    QTest::newRow("byte-order mark sent as text") << QByteArray("\xef\xbb\xbfZ") << QByteArray("\xef\xbb\xbfZ\r\n");
  }
  void bytesOnTheWire() {
    QFETCH(QByteArray, file);
    QFETCH(QByteArray, wire);
    PtySession s;
    FarEnd far(s.pty.master.Get());
    Prepare(s.t, WriteFile(s.t, "send.txt", file), QStringLiteral("0"));
    s.t.transfer->show();
    s.t.transfer->ButtonOK->click();  // returns when the transfer has ended
    QVERIFY(!s.t.transfer->isVisible());
    QVERIFY(s.rs().ButtonOpen->isEnabled());
    QTRY_COMPARE(QByteArray::fromStdString(far.Text()), wire);
    QTest::qWait(100);
    QCOMPARE(QByteArray::fromStdString(far.Text()), wire);
  }

  void pausesSurroundEveryByte() {
    PtySession s;
    FarEnd far(s.pty.master.Get());
    // The time each byte has been written, taken on the window thread by a link of the port.
    std::vector<std::pair<char, uint64_t>> written;
    serial::TSerialLink link;
    link.SetOnTxBuf([&](rtl::TObject*, const uint8_t* buffer, int32_t count) {
      for (int32_t i = 0; i < count; ++i) written.emplace_back(static_cast<char>(buffer[i]), rtl::MonotonicNs());
    });
    s.rs().SerialPort->RegisterLink(&link);
    Prepare(s.t, WriteFile(s.t, "send.txt", "AB\r\nC"), QStringLiteral("20"));
    const uint64_t start = rtl::MonotonicNs();
    s.t.transfer->ButtonOK->click();
    const uint64_t took = rtl::MonotonicNs() - start;
    s.rs().SerialPort->UnRegisterLink(&link);
    QTRY_COMPARE(far.Text(), std::string("AB\r\nC\r\n"));
    QCOMPARE(written.size(), size_t(7));
    // After each character one pause, one before CR, one before LF, two after LF.
    const int pausesBefore[] = {0, 1, 2, 1, 2, 2, 1};
    for (size_t i = 1; i < written.size(); ++i)
      QVERIFY2(written[i].second - written[i - 1].second > static_cast<uint64_t>(pausesBefore[i]) * 20'000'000,
               qPrintable(QStringLiteral("byte %1: %2 ns").arg(i).arg(written[i].second - written[i - 1].second)));
    QVERIFY(took > 11ull * 20'000'000);  // a line of n characters costs n + 4 pauses
  }

  void echoIsRedOnOneLineAndLeavesBlack() {
    PtySession s;
    FarEnd far(s.pty.master.Get());
    Prepare(s.t, WriteFile(s.t, "send.txt", "AB\nC\n"), QStringLiteral("0"));
    s.t.transfer->ButtonOK->click();
    auto& v = *s.rs().Editor;
    QCOMPARE(v.PlainText(), QStringLiteral("ABC"));
    for (int i = 0; i < 3; ++i) QCOMPARE(v.ColourAt(0, i), QColor(255, 0, 0));
    QTest::keyClick(&v, Qt::Key_K);
    QCOMPARE(v.ColourAt(0, 3), QColor(0, 0, 0));
    // Without echo nothing shows.
    v.Clear();
    s.rs().CheckBoxEcho->setChecked(false);
    s.t.transfer->ButtonOK->click();
    QVERIFY(v.PlainText().isEmpty());
  }

  void pauseThatIsNoNumberEndsTheTransferAfterTheFirstCharacter() {
    PtySession s;
    FarEnd far(s.pty.master.Get());
    Prepare(s.t, WriteFile(s.t, "send.txt", "AB\r\nC"), QStringLiteral("abc"));
    BoxCatcher boxes;
    s.t.transfer->ButtonOK->click();
    QCOMPARE(boxes.texts, QStringList{QString::fromUtf8("''abc'' n'est pas une valeur entière valide.")});
    QTRY_COMPARE(far.Text(), std::string("A"));
    QCOMPARE(s.rs().Editor->PlainText(), QStringLiteral("A"));
    QVERIFY(s.rs().ButtonOpen->isEnabled());
  }

  void missingFileKeepsTheDialogOpen() {
    PtySession s;
    FarEnd far(s.pty.master.Get());
    Prepare(s.t, s.t.Path("missing.txt"), QStringLiteral("0"));
    s.t.transfer->show();
    BoxCatcher boxes;
    s.t.transfer->ButtonOK->click();
    QCOMPARE(boxes.texts, QStringList{QString::fromUtf8("Impossible de trouver le fichier spécifié.")});
    QVERIFY(s.t.transfer->isVisible());
    QVERIFY(s.rs().ButtonOpen->isEnabled());
    QTest::qWait(50);
    QVERIFY(far.Text().empty());
  }

  void emptyFileNameClosesTheDialogAndFailsAtTheFirstRead() {
    PtySession s;
    Prepare(s.t, QString(), QStringLiteral("0"));
    s.t.transfer->show();
    BoxCatcher boxes;
    s.t.transfer->ButtonOK->click();
    QCOMPARE(boxes.texts, QStringList{QStringLiteral("Erreur E/S 6.")});
    QVERIFY(!s.t.transfer->isVisible());
    QVERIFY(s.rs().ButtonOpen->isEnabled());
  }

  void promptWaitWaitsForTheFarEndAfterEachLine() {
    PtySession s;
    // The far end answers ">" after each LF, and also sends one while a line's characters are
    // still arriving (at its first character), which must not count.
    FarEnd far(s.pty.master.Get(), [](char c) {
      if (c == '\n') return std::string(">");
      if (c == 'L') return std::string(">");
      return std::string();
    });
    Prepare(s.t, WriteFile(s.t, "send.txt", "L1\r\nL2\r\n"), QStringLiteral("5"));
    s.t.transfer->CheckBoxWait->setChecked(true);
    s.t.transfer->ButtonOK->click();
    QCOMPARE(far.Text(), std::string("L1\r\nL2\r\n"));
    QVERIFY(terminal::PromptSeen);
  }

  void promptWaitEndsWhenTheSessionCloses() {
    PtySession s;
    FarEnd far(s.pty.master.Get());  // silent: no prompt ever comes
    Prepare(s.t, WriteFile(s.t, "send.txt", "A\r\nB\r\n"), QStringLiteral("0"));
    s.t.transfer->CheckBoxWait->setChecked(true);
    QTimer::singleShot(300, s.t.rs.get(), [&] { s.rs().ButtonClose->click(); });
    s.t.transfer->ButtonOK->click();
    // The transfer went on into the closed port, as any send does.
    QTRY_COMPARE(far.Text(), std::string("A\r\n"));
    QVERIFY(s.rs().ButtonOpen->isEnabled());
    QCOMPARE(s.rs().Editor->PlainText(), QStringLiteral("AB"));
  }

  void closingTheMainWindowEndsAPromptWait() {
    PtySession s;
    FarEnd far(s.pty.master.Get());
    Prepare(s.t, WriteFile(s.t, "send.txt", "A\r\nB\r\n"), QStringLiteral("0"));
    s.t.transfer->CheckBoxWait->setChecked(true);
    QTimer::singleShot(300, s.t.rs.get(), [&] { s.t.rs->close(); });
    s.t.transfer->ButtonOK->click();
    QVERIFY(!s.t.rs->isVisible());
    QTest::qWait(100);
    QCOMPARE(far.Text(), std::string("A\r\n"));
  }
};

QTEST_MAIN(TransferTest)
#include "transfer_test.moc"
