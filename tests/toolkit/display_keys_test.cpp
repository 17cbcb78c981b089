// Keys of the display: which characters reach the window's key handler, that none is inserted,
// the caret moves of keys without a character, and the view's own select-all and copy.
#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTest>

#include "toolkit/display/display_view.h"

using toolkit::TDisplayView;
using toolkit::TextPosition;

Q_DECLARE_METATYPE(Qt::Key)
Q_DECLARE_METATYPE(Qt::KeyboardModifiers)

class DisplayKeysTest : public QObject {
  Q_OBJECT

 private:
  // A shown view whose handler records every character and consumes it, as the window does
  // while a session is open.
  struct Fixture {
    TDisplayView view;
    QString seen;
    bool consume = true;
    Fixture() {
      view.OnKeyPress = [this](QChar& key) {
        seen += key;
        if (consume) key = QChar(0);
      };
      view.resize(400, 300);
      view.show();
      view.activateWindow();
      (void)QTest::qWaitForWindowActive(&view);
      view.setFocus();
    }
  };

 private slots:
  void charactersReachTheHandler_data() {
    QTest::addColumn<Qt::Key>("key");
    QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
    QTest::addColumn<QString>("text");  // what the platform puts in the event
    QTest::addColumn<QString>("seen");
    const Qt::KeyboardModifiers none = Qt::NoModifier;
    QTest::newRow("Enter gives CR") << Qt::Key_Return << none << "\r" << "\r";
    QTest::newRow("keypad Enter gives CR") << Qt::Key_Enter << Qt::KeyboardModifiers(Qt::KeypadModifier) << "\r" << "\r";
    QTest::newRow("Ctrl+Enter gives LF") << Qt::Key_Return << Qt::KeyboardModifiers(Qt::ControlModifier) << "\n" << "\n";
    QTest::newRow("Ctrl+A gives 1") << Qt::Key_A << Qt::KeyboardModifiers(Qt::ControlModifier) << "\x01" << "\x01";
    QTest::newRow("Ctrl+C gives 3") << Qt::Key_C << Qt::KeyboardModifiers(Qt::ControlModifier) << "\x03" << "\x03";
    QTest::newRow("Ctrl+X gives 24") << Qt::Key_X << Qt::KeyboardModifiers(Qt::ControlModifier) << "\x18" << "\x18";
    QTest::newRow("Ctrl+X without text in the event") << Qt::Key_X << Qt::KeyboardModifiers(Qt::ControlModifier) << "x" << "\x18";
    QTest::newRow("Ctrl+Shift+Z gives 26") << Qt::Key_Z << (Qt::ControlModifier | Qt::ShiftModifier) << "\x1a" << "\x1a";
    QTest::newRow("letter") << Qt::Key_A << none << "a" << "a";
    QTest::newRow("capital letter") << Qt::Key_A << Qt::KeyboardModifiers(Qt::ShiftModifier) << "A" << "A";
    QTest::newRow("digit") << Qt::Key_7 << none << "7" << "7";
    QTest::newRow("space") << Qt::Key_Space << none << " " << " ";
    QTest::newRow("accented letter") << Qt::Key_Eacute << none << QString::fromUtf8("é") << QString::fromUtf8("é");
    QTest::newRow("TAB is a character") << Qt::Key_Tab << none << "\t" << "\t";
    QTest::newRow("backspace") << Qt::Key_Backspace << none << "\b" << "\b";
    QTest::newRow("escape") << Qt::Key_Escape << none << "\x1b" << "\x1b";
    QTest::newRow("Delete gives none") << Qt::Key_Delete << none << "\x7f" << "";
    QTest::newRow("Alt+letter gives none") << Qt::Key_A << Qt::KeyboardModifiers(Qt::AltModifier) << "a" << "";
    QTest::newRow("Ctrl+digit gives none") << Qt::Key_1 << Qt::KeyboardModifiers(Qt::ControlModifier) << "1" << "";
    QTest::newRow("Left gives none") << Qt::Key_Left << none << "" << "";
    QTest::newRow("Page Down gives none") << Qt::Key_PageDown << none << "" << "";
    QTest::newRow("Home gives none") << Qt::Key_Home << none << "" << "";
    QTest::newRow("F1 gives none") << Qt::Key_F1 << none << "" << "";
  }
  void charactersReachTheHandler() {
    QFETCH(Qt::Key, key);
    QFETCH(Qt::KeyboardModifiers, modifiers);
    QFETCH(QString, text);
    QFETCH(QString, seen);
    for (bool consume : {true, false}) {
      Fixture f;
      f.consume = consume;
      f.view.InsertAtCaret(QStringLiteral("abc"));
      f.view.SetCaret(0, 1);
      QKeyEvent press(QEvent::KeyPress, key, modifiers, text);
      QApplication::sendEvent(&f.view, &press);
      QCOMPARE(f.seen, seen);
      // Read-only: nothing typed is ever inserted, consumed or not.
      QCOMPARE(f.view.PlainText(), QStringLiteral("abc"));
    }
  }

  void keysThroughTheEventQueueReachTheHandler() {
    Fixture f;
    QLineEdit other(&f.view);  // a focus target for TAB, which must not go there
    QVERIFY(f.view.hasFocus());
    QTest::keyClick(&f.view, Qt::Key_Return);
    QTest::keyClick(&f.view, Qt::Key_Return, Qt::ControlModifier);
    QTest::keyClick(&f.view, Qt::Key_X, Qt::ControlModifier);
    QTest::keyClick(&f.view, 'q');
    QTest::keyClick(&f.view, Qt::Key_Tab);
    QTest::keyClick(&f.view, Qt::Key_Right);
    QCOMPARE(f.seen, QStringLiteral("\r\n\x18q\t"));
    QVERIFY(f.view.hasFocus());
  }

  void echoOfEnterThenCtrlEnterGivesOneLine() {
    // The window's handler echoes CR and LF at the caret; together they start one line.
    Fixture f;
    f.view.OnKeyPress = [&f](QChar& key) { f.view.InsertAtCaret(QString(key)); };
    f.view.InsertAtCaret(QStringLiteral("ok"));
    QTest::keyClick(&f.view, Qt::Key_Return);
    QTest::keyClick(&f.view, Qt::Key_Return, Qt::ControlModifier);
    QTest::keyClick(&f.view, 'z');
    QCOMPARE(f.view.PlainText(), QStringLiteral("ok\r\nz"));
  }

  void selectAllAndCopyWorkWhileTheHandlerConsumesTheirCharacters() {
    Fixture f;
    f.view.InsertAtCaret(QStringLiteral("first\rsecond"));
    QGuiApplication::clipboard()->setText(QStringLiteral("before"));
    QTest::keyClick(&f.view, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("before"));  // nothing selected
    QTest::keyClick(&f.view, Qt::Key_A, Qt::ControlModifier);
    QVERIFY(f.view.HasSelection());
    QCOMPARE(f.view.SelectedText(), QStringLiteral("first\r\nsecond"));
    QTest::keyClick(&f.view, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("first\r\nsecond"));
    QCOMPARE(f.seen, QStringLiteral("\x03\x01\x03"));
    QCOMPARE(f.view.PlainText(), QStringLiteral("first\r\nsecond"));
  }

  void keysWithoutCharactersMoveTheCaret_data() {
    QTest::addColumn<int>("line");
    QTest::addColumn<int>("column");
    QTest::addColumn<Qt::Key>("key");
    QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
    QTest::addColumn<int>("caretLine");
    QTest::addColumn<int>("caretColumn");
    QTest::addColumn<int>("anchorLine");
    QTest::addColumn<int>("anchorColumn");
    const Qt::KeyboardModifiers none = Qt::NoModifier;
    const Qt::KeyboardModifiers shift = Qt::ShiftModifier;
    const Qt::KeyboardModifiers ctrl = Qt::ControlModifier;
    // Text: "aaaa" / "aaaaaa" / "aa" / "foo bar"
    QTest::newRow("right") << 0 << 1 << Qt::Key_Right << none << 0 << 2 << 0 << 2;
    QTest::newRow("right over the line end") << 0 << 4 << Qt::Key_Right << none << 1 << 0 << 1 << 0;
    QTest::newRow("left over the line start") << 1 << 0 << Qt::Key_Left << none << 0 << 4 << 0 << 4;
    QTest::newRow("left at the start stays") << 0 << 0 << Qt::Key_Left << none << 0 << 0 << 0 << 0;
    QTest::newRow("down keeps the column") << 0 << 2 << Qt::Key_Down << none << 1 << 2 << 1 << 2;
    QTest::newRow("down to a shorter line") << 1 << 5 << Qt::Key_Down << none << 2 << 2 << 2 << 2;
    QTest::newRow("up") << 2 << 1 << Qt::Key_Up << none << 1 << 1 << 1 << 1;
    QTest::newRow("up on the first line goes to its start") << 0 << 3 << Qt::Key_Up << none << 0 << 0 << 0 << 0;
    QTest::newRow("down on the last line goes to its end") << 3 << 1 << Qt::Key_Down << none << 3 << 7 << 3 << 7;
    QTest::newRow("home") << 1 << 3 << Qt::Key_Home << none << 1 << 0 << 1 << 0;
    QTest::newRow("end") << 1 << 3 << Qt::Key_End << none << 1 << 6 << 1 << 6;
    QTest::newRow("ctrl+home") << 2 << 1 << Qt::Key_Home << ctrl << 0 << 0 << 0 << 0;
    QTest::newRow("ctrl+end") << 1 << 1 << Qt::Key_End << ctrl << 3 << 7 << 3 << 7;
    QTest::newRow("ctrl+right to the next word") << 3 << 0 << Qt::Key_Right << ctrl << 3 << 4 << 3 << 4;
    QTest::newRow("ctrl+left to the word start") << 3 << 6 << Qt::Key_Left << ctrl << 3 << 4 << 3 << 4;
    QTest::newRow("shift+right selects") << 0 << 1 << Qt::Key_Right << shift << 0 << 2 << 0 << 1;
    QTest::newRow("shift+down selects") << 0 << 1 << Qt::Key_Down << shift << 1 << 1 << 0 << 1;
    QTest::newRow("shift+end selects") << 1 << 2 << Qt::Key_End << shift << 1 << 6 << 1 << 2;
    QTest::newRow("shift+ctrl+home selects") << 1 << 2 << Qt::Key_Home << (shift | ctrl) << 0 << 0 << 1 << 2;
  }
  void keysWithoutCharactersMoveTheCaret() {
    QFETCH(int, line);
    QFETCH(int, column);
    QFETCH(Qt::Key, key);
    QFETCH(Qt::KeyboardModifiers, modifiers);
    QFETCH(int, caretLine);
    QFETCH(int, caretColumn);
    QFETCH(int, anchorLine);
    QFETCH(int, anchorColumn);
    Fixture f;
    f.view.InsertAtCaret(QStringLiteral("aaaa\r\naaaaaa\r\naa\r\nfoo bar"));
    f.view.SetCaret(line, column);
    QTest::keyClick(&f.view, key, modifiers);
    const TextPosition caret = f.view.Text().Caret();
    const TextPosition anchor = f.view.Text().Anchor();
    QCOMPARE(int(caret.line), caretLine);
    QCOMPARE(int(caret.column), caretColumn);
    QCOMPARE(int(anchor.line), anchorLine);
    QCOMPARE(int(anchor.column), anchorColumn);
    QCOMPARE(f.seen, QString());
  }

  void leftAndRightCollapseASelection() {
    Fixture f;
    f.view.InsertAtCaret(QStringLiteral("abcdef"));
    f.view.Select(0, 1, 0, 4);
    QTest::keyClick(&f.view, Qt::Key_Left);
    QCOMPARE(f.view.CaretColumn(), std::size_t{1});
    QVERIFY(!f.view.HasSelection());
    f.view.Select(0, 4, 0, 1);
    QTest::keyClick(&f.view, Qt::Key_Right);
    QCOMPARE(f.view.CaretColumn(), std::size_t{4});
  }

  void upAndDownRememberTheColumnOverAShortLine() {
    Fixture f;
    f.view.InsertAtCaret(QStringLiteral("aaaa\r\na\r\naaaa"));
    f.view.SetCaret(0, 3);
    QTest::keyClick(&f.view, Qt::Key_Down);
    QCOMPARE(f.view.CaretColumn(), std::size_t{1});
    QTest::keyClick(&f.view, Qt::Key_Down);
    QCOMPARE(f.view.CaretLine(), std::size_t{2});
    QCOMPARE(f.view.CaretColumn(), std::size_t{3});
  }

  void pagingMovesByAScreenAndScrolls() {
    Fixture f;
    QString lines;
    for (int i = 0; i < 200; ++i) lines += QStringLiteral("line %1\r").arg(i);
    f.view.InsertAtCaret(lines);
    f.view.SetCaret(0, 0);
    QCOMPARE(f.view.FirstVisibleLine(), std::size_t{0});
    QTest::keyClick(&f.view, Qt::Key_PageDown);
    const std::size_t page = f.view.CaretLine();
    QVERIFY(page > 5);
    QVERIFY(f.view.FirstVisibleLine() > 0);
    QVERIFY(f.view.CaretLine() >= f.view.FirstVisibleLine());
    QTest::keyClick(&f.view, Qt::Key_PageDown);
    QCOMPARE(f.view.CaretLine(), 2 * page);
    QTest::keyClick(&f.view, Qt::Key_PageUp);
    QCOMPARE(f.view.CaretLine(), page);
    QCOMPARE(f.seen, QString());
  }
};

QTEST_MAIN(DisplayKeysTest)
#include "display_keys_test.moc"
