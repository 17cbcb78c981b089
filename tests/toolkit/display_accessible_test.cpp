// The display as assistive tools see it: role and state, its text and offsets, the caret and
// the selection both ways, lines, character boxes and colours.
#include <QAccessible>
#include <QAccessibleTextInterface>
#include <QApplication>
#include <QTest>

#include "toolkit/display/display_view.h"

using toolkit::TDisplayView;
using toolkit::TextPosition;

class DisplayAccessibleTest : public QObject {
  Q_OBJECT

 private:
  struct Fixture {
    TDisplayView view;
    QAccessibleInterface* face = nullptr;  // owned by Qt's accessibility cache
    QAccessibleTextInterface* text = nullptr;
    Fixture() {
      view.resize(400, 300);
      view.show();
      (void)QTest::qWaitForWindowExposed(&view);
      face = QAccessible::queryAccessibleInterface(&view);
      text = face ? face->textInterface() : nullptr;
    }
  };

 private slots:
  void isReadOnlyEditableText() {
    Fixture f;
    QVERIFY(f.face);
    QVERIFY(f.text);
    QCOMPARE(f.face->role(), QAccessible::EditableText);
    QVERIFY(f.face->state().readOnly);
    QVERIFY(f.face->state().multiLine);
    QVERIFY(!f.face->state().editable);
  }

  void textAndCountFollowTheDisplay() {
    Fixture f;
    QCOMPARE(f.text->characterCount(), 0);
    QCOMPARE(f.text->text(0, 0), QString());
    f.view.SetInsertionColour(Qt::black);
    f.view.InsertAtCaret(QStringLiteral("AB\rcd"));
    QCOMPARE(f.text->characterCount(), 6);
    QCOMPARE(f.text->text(0, 6), QStringLiteral("AB\r\ncd"));
    QCOMPARE(f.text->text(1, 5), QStringLiteral("B\r\nc"));
    QCOMPARE(f.face->text(QAccessible::Value), QStringLiteral("AB\r\ncd"));
    QCOMPARE(f.text->cursorPosition(), 6);
    f.view.Clear();
    QCOMPARE(f.text->characterCount(), 0);
  }

  void caretAndSelectionBothWays() {
    Fixture f;
    f.view.InsertAtCaret(QStringLiteral("one\r\ntwo\r\nthree"));
    f.view.Select(0, 1, 1, 2);
    QCOMPARE(f.text->selectionCount(), 1);
    int start = -1;
    int end = -1;
    f.text->selection(0, &start, &end);
    QCOMPARE(start, 1);
    QCOMPARE(end, 7);
    QCOMPARE(f.text->cursorPosition(), 7);

    f.text->setSelection(0, 10, 13);
    QCOMPARE(f.view.SelectedText(), QStringLiteral("thr"));
    f.text->removeSelection(0);
    QCOMPARE(f.text->selectionCount(), 0);
    f.text->setCursorPosition(5);
    QCOMPARE(f.view.Text().Caret(), (TextPosition{1, 0}));
  }

  void linesAreFoundAroundAnOffset() {
    Fixture f;
    f.view.InsertAtCaret(QStringLiteral("one\r\ntwo\r\nthree"));
    int start = -1;
    int end = -1;
    QCOMPARE(f.text->textAtOffset(6, QAccessible::LineBoundary, &start, &end), QStringLiteral("two\r\n"));
    QCOMPARE(start, 5);
    QCOMPARE(end, 10);
    QCOMPARE(f.text->textBeforeOffset(6, QAccessible::LineBoundary, &start, &end), QStringLiteral("one\r\n"));
    QCOMPARE(start, 0);
    QCOMPARE(f.text->textAfterOffset(6, QAccessible::LineBoundary, &start, &end), QStringLiteral("three"));
    QCOMPARE(start, 10);
    QCOMPARE(end, 15);
    QCOMPARE(f.text->textAfterOffset(12, QAccessible::LineBoundary, &start, &end), QString());
    QCOMPARE(f.text->textBeforeOffset(1, QAccessible::LineBoundary, &start, &end), QString());
    // Other boundaries use Qt's own rules over the text.
    QCOMPARE(f.text->textAtOffset(11, QAccessible::WordBoundary, &start, &end), QStringLiteral("three"));
  }

  void boxesPointsAndColours() {
    Fixture f;
    f.view.SetInsertionColour(Qt::black);
    f.view.InsertAtCaret(QStringLiteral("black"));
    f.view.SetInsertionColour(Qt::red);
    f.view.InsertAtCaret(QStringLiteral("red"));
    const QRect box = f.text->characterRect(6);
    const QRect viewport(f.view.viewport()->mapToGlobal(QPoint(0, 0)), f.view.viewport()->size());
    QVERIFY(viewport.contains(box));
    QVERIFY(box.left() > f.text->characterRect(5).left());
    QCOMPARE(f.text->offsetAtPoint(QPoint(box.left() + 1, box.center().y())), 6);
    int start = -1;
    int end = -1;
    QCOMPARE(f.text->attributes(6, &start, &end), QStringLiteral("color:rgb(255,0,0);"));
    QCOMPARE(start, 5);
    QCOMPARE(end, 8);
    QCOMPARE(f.text->attributes(1, &start, &end), QStringLiteral("color:rgb(0,0,0);"));
    QCOMPARE(start, 0);
    QCOMPARE(end, 5);
  }

  void scrollToSubstringShowsIt() {
    Fixture f;
    QString lines;
    for (int i = 0; i < 200; ++i) lines += QStringLiteral("%1\r").arg(i, 3, 10, QLatin1Char('0'));
    f.view.InsertAtCaret(lines);
    f.text->scrollToSubstring(0, 3);
    QCOMPARE(f.view.FirstVisibleLine(), std::size_t{0});
    const int line100 = 100 * 5;
    f.text->scrollToSubstring(line100, line100 + 3);
    const QRect viewport(f.view.viewport()->mapToGlobal(QPoint(0, 0)), f.view.viewport()->size());
    QVERIFY(viewport.contains(f.text->characterRect(line100)));
  }
};

QTEST_MAIN(DisplayAccessibleTest)
#include "display_accessible_test.moc"
