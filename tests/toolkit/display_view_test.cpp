// The display widget: the display operations through the widget, what it paints (colours,
// selection with and without focus, background), the mouse, and scrolling the caret into view.
#include <QApplication>
#include <QImage>
#include <QLineEdit>
#include <QScrollBar>
#include <QTest>
#include <QWheelEvent>
#include <functional>

#include "toolkit/display/display_view.h"

using toolkit::TDisplayView;
using toolkit::TextPosition;

namespace {

// How many pixels of box in image satisfy test.
int CountPixels(const QImage& image, const QRect& box, const std::function<bool(QColor)>& test) {
  int count = 0;
  const QRect inside = box.intersected(image.rect());
  for (int y = inside.top(); y <= inside.bottom(); ++y)
    for (int x = inside.left(); x <= inside.right(); ++x)
      if (test(image.pixelColor(x, y))) ++count;
  return count;
}

bool Reddish(QColor c) { return c.red() > 150 && c.green() < 110 && c.blue() < 110; }
bool Bluish(QColor c) { return c.blue() > 150 && c.red() < 110 && c.green() < 110; }

QImage Grab(TDisplayView& view) {
  view.viewport()->repaint();
  return view.viewport()->grab().toImage();
}

}  // namespace

class DisplayViewTest : public QObject {
  Q_OBJECT

 private:
  struct Fixture {
    QWidget window;
    TDisplayView* view = new TDisplayView(&window);  // owned by window
    QLineEdit* other = new QLineEdit(&window);
    Fixture() {
      window.resize(500, 400);
      view->setGeometry(0, 0, 400, 300);
      other->setGeometry(400, 0, 100, 30);
      window.show();
      window.activateWindow();
      (void)QTest::qWaitForWindowActive(&window);
      view->setFocus();
    }
  };

 private slots:
  void operationsThroughTheWidget() {
    Fixture f;
    TDisplayView& v = *f.view;
    v.MoveCaretToEnd();
    v.SetInsertionColour(Qt::red);
    QCOMPARE(v.InsertionColour(), QColor(Qt::red));
    v.SetInsertionColour(Qt::black);
    v.InsertAtCaret(QStringLiteral("AB\r"));
    v.MoveCaretToEnd();
    v.SetInsertionColour(Qt::red);
    v.InsertAtCaret(QStringLiteral("x"));
    QCOMPARE(v.LineCount(), std::size_t{2});
    QCOMPARE(v.LineText(0), QStringLiteral("AB"));
    QCOMPARE(v.LineText(1), QStringLiteral("x"));
    QCOMPARE(v.ColourAt(0, 1), QColor(Qt::black));
    QCOMPARE(v.ColourAt(1, 0), QColor(Qt::red));
    QCOMPARE(v.property("plainText").toString(), QStringLiteral("AB\r\nx"));
    QCOMPARE(v.PlainText(), QStringLiteral("AB\r\nx"));
    QCOMPARE(v.CaretLine(), std::size_t{1});
    QCOMPARE(v.CaretColumn(), std::size_t{1});
    v.Select(0, 1, 1, 1);
    QCOMPARE(v.SelectedText(), QStringLiteral("B\r\nx"));
    v.InsertAtCaret(QString());  // the window's cut
    QCOMPARE(v.PlainText(), QStringLiteral("A"));
    v.Clear();
    QCOMPARE(v.PlainText(), QString());
    QCOMPARE(v.LineCount(), std::size_t{1});
  }

  void plainTextIsAReadOnlyProperty() {
    Fixture f;
    f.view->InsertAtCaret(QStringLiteral("keep"));
    QVERIFY(!f.view->setProperty("plainText", QStringLiteral("other")));
    QCOMPARE(f.view->PlainText(), QStringLiteral("keep"));
  }

  void wideTextRoundTrips() {
    Fixture f;
    const QString text = QString::fromUtf8("caf\u00e9 5\u20ac \U0001F600\r\n\u00e0");
    f.view->InsertAtCaret(text);
    QCOMPARE(f.view->PlainText(), text);
    f.view->SelectAll();
    QCOMPARE(f.view->SelectedText(), text);
  }

  void fontIsTahomaThirteenPixelsOrTheFallback() {
    TDisplayView view;
    QCOMPARE(view.font().pixelSize(), 13);
    QCOMPARE(view.font().family(), QStringLiteral("Tahoma"));
    QCOMPARE(view.font().styleHint(), QFont::SansSerif);
    QCOMPARE(view.horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    QCOMPARE(view.verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  }

  void paintsEachRunInItsColour() {
    Fixture f;
    TDisplayView& v = *f.view;
    v.SetInsertionColour(Qt::red);
    v.InsertAtCaret(QStringLiteral("MMMM"));
    v.SetInsertionColour(Qt::blue);
    v.InsertAtCaret(QStringLiteral("WWWW"));
    const QImage image = Grab(v);
    const QRect red = v.CharacterRect(TextPosition{0, 1});
    const QRect blue = v.CharacterRect(TextPosition{0, 5});
    QVERIFY(CountPixels(image, red, Reddish) > 3);
    QCOMPARE(CountPixels(image, red, Bluish), 0);
    QVERIFY(CountPixels(image, blue, Bluish) > 3);
    QCOMPARE(CountPixels(image, blue, Reddish), 0);
  }

  void backgroundFollowsTheSessionState() {
    Fixture f;
    TDisplayView& v = *f.view;
    const QPoint empty(v.viewport()->width() - 5, v.viewport()->height() - 5);
    QCOMPARE(Grab(v).pixelColor(empty), QColor(Qt::white));
    const QColor buttonFace = QApplication::palette().color(QPalette::Button);
    v.SetBackground(buttonFace);
    QCOMPARE(v.Background(), buttonFace);
    QCOMPARE(Grab(v).pixelColor(empty), buttonFace);
  }

  void selectionStaysVisibleWithoutFocus() {
    Fixture f;
    TDisplayView& v = *f.view;
    v.InsertAtCaret(QStringLiteral("selected here\rplain"));
    v.Select(0, 0, 0, 8);
    const QColor background = v.Background();
    auto covered = [&](const QImage& image, TextPosition at) {
      return CountPixels(image, v.CharacterRect(at), [&](QColor c) { return c != background; });
    };
    const int plainFocused = covered(Grab(v), TextPosition{1, 1});
    const QRect box = v.CharacterRect(TextPosition{0, 1});
    const int area = box.width() * box.height();
    QVERIFY(covered(Grab(v), TextPosition{0, 1}) > area * 3 / 4);
    f.other->setFocus();
    QVERIFY(!v.hasFocus());
    QVERIFY(covered(Grab(v), TextPosition{0, 1}) > area * 3 / 4);
    QCOMPARE(covered(Grab(v), TextPosition{1, 1}), plainFocused);  // unselected text unchanged
  }

  void caretAndFocusFrameShowOnlyWithTheFocus() {
    Fixture f;
    TDisplayView& v = *f.view;
    v.InsertAtCaret(QStringLiteral("ab"));
    auto dark = [](QColor c) { return c.lightness() < 100; };
    const QRect caret = v.CharacterRect(v.Text().Caret());
    const QRect caretColumn(caret.left(), caret.top(), 1, caret.height());
    const QColor highlight = v.palette().color(QPalette::Active, QPalette::Highlight);
    auto frame = [&] {
      v.repaint();
      const QImage image = v.grab().toImage();
      return CountPixels(image, QRect(0, 0, image.width(), 1), [&](QColor c) { return c == highlight; });
    };
    QVERIFY(v.hasFocus());
    QVERIFY(CountPixels(Grab(v), caretColumn, dark) > caret.height() / 2);
    QVERIFY(frame() > v.width() / 2);
    f.other->setFocus();
    QCOMPARE(CountPixels(Grab(v), caretColumn, dark), 0);
    QCOMPARE(frame(), 0);
  }

  void mouseClickDragAndDoubleClick() {
    Fixture f;
    TDisplayView& v = *f.view;
    v.InsertAtCaret(QStringLiteral("alpha beta\rgamma delta"));
    const QRect b = v.CharacterRect(TextPosition{0, 7});
    QTest::mouseClick(v.viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(b.left() + 1, b.center().y()));
    QCOMPARE(v.Text().Caret(), (TextPosition{0, 7}));
    QVERIFY(!v.HasSelection());

    const QRect from = v.CharacterRect(TextPosition{0, 2});
    const QRect to = v.CharacterRect(TextPosition{1, 3});
    QTest::mousePress(v.viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(from.left() + 1, from.center().y()));
    QMouseEvent move(QEvent::MouseMove, QPointF(to.left() + 1, to.center().y()),
                     v.viewport()->mapToGlobal(QPointF(to.left() + 1, to.center().y())), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(v.viewport(), &move);
    QTest::mouseRelease(v.viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(to.left() + 1, to.center().y()));
    QCOMPARE(v.SelectedText(), QStringLiteral("pha beta\r\ngam"));

    const QRect word = v.CharacterRect(TextPosition{1, 8});
    QTest::mouseDClick(v.viewport(), Qt::LeftButton, Qt::NoModifier, word.center());
    QCOMPARE(v.SelectedText(), QStringLiteral("delta"));

    // Shift+click extends from the anchor.
    v.SetCaret(0, 0);
    const QRect end = v.CharacterRect(TextPosition{0, 5});
    QTest::mouseClick(v.viewport(), Qt::LeftButton, Qt::ShiftModifier, QPoint(end.left() + 1, end.center().y()));
    QCOMPARE(v.SelectedText(), QStringLiteral("alpha"));
  }

  void wheelScrollsByLines() {
    Fixture f;
    TDisplayView& v = *f.view;
    QString lines;
    for (int i = 0; i < 100; ++i) lines += QStringLiteral("row %1\r").arg(i);
    v.InsertAtCaret(lines);
    v.SetCaret(0, 0);
    QCOMPARE(v.FirstVisibleLine(), std::size_t{0});
    const QPointF at(20, 20);
    QWheelEvent wheel(at, v.viewport()->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(v.viewport(), &wheel);
    QCOMPARE(v.FirstVisibleLine(), std::size_t(QApplication::wheelScrollLines()));
    QCOMPARE(v.CaretLine(), std::size_t{0});  // scrolling leaves the caret
  }

  void insertionScrollsTheCaretIntoView() {
    Fixture f;
    TDisplayView& v = *f.view;
    const QRect viewport = v.viewport()->rect();
    QString lines;
    for (int i = 0; i < 300; ++i) lines += QStringLiteral("received line %1\r").arg(i);
    v.InsertAtCaret(lines);
    QVERIFY(v.FirstVisibleLine() > 0);
    QVERIFY(viewport.contains(v.CharacterRect(v.Text().Caret())));
    QTRY_VERIFY(!v.RepaintPending());  // the bars follow within a frame
    QCOMPARE(v.verticalScrollBar()->value(), v.verticalScrollBar()->maximum());
    // A long line scrolls sideways to its end, and a new line back to the left.
    v.InsertAtCaret(QString(2000, QLatin1Char('w')));
    QTRY_VERIFY(!v.RepaintPending());
    QVERIFY(v.horizontalScrollBar()->value() > 0);
    QVERIFY(viewport.contains(v.CharacterRect(v.Text().Caret())));
    v.InsertAtCaret(QStringLiteral("\r"));
    QTRY_VERIFY(!v.RepaintPending());
    QCOMPARE(v.horizontalScrollBar()->value(), 0);
    // Echo in old text brings that text back into view.
    v.SetCaret(3, 2);
    v.InsertAtCaret(QStringLiteral("e"));
    QVERIFY(viewport.contains(v.CharacterRect(v.Text().Caret())));
    QCOMPARE(v.LineText(3), QStringLiteral("reeceived line 3"));
  }

  void scrollBarsFollowTheText() {
    Fixture f;
    TDisplayView& v = *f.view;
    QCOMPARE(v.verticalScrollBar()->maximum(), 0);
    QCOMPARE(v.horizontalScrollBar()->maximum(), 0);
    QString lines;
    for (int i = 0; i < 50; ++i) lines += QStringLiteral("x\r");
    v.InsertAtCaret(lines);
    QTRY_VERIFY(!v.RepaintPending());
    const int visible = v.viewport()->height() / v.CharacterRect(TextPosition{0, 0}).height();
    QCOMPARE(v.verticalScrollBar()->maximum(), 51 - visible);
    // Moving the bar moves the view, and the text at the top is the bar's line.
    v.verticalScrollBar()->setValue(10);
    QCOMPARE(v.FirstVisibleLine(), std::size_t{10});
    QCOMPARE(v.PositionAt(QPoint(5, 2)).line, std::size_t{10});
    v.Clear();
    QTRY_VERIFY(!v.RepaintPending());
    QCOMPARE(v.verticalScrollBar()->maximum(), 0);
    QCOMPARE(v.FirstVisibleLine(), std::size_t{0});
  }
};

QTEST_MAIN(DisplayViewTest)
#include "display_view_test.moc"
