// The display with more than a screen can show: a 100 MB history, a 10 MB line, and a line wider
// than a scroll bar can count in pixels. Scroll bars stay in int range, their ends show the
// text's ends, and the end is painted.
#include <QAccessible>
#include <QApplication>
#include <QImage>
#include <QScrollBar>
#include <QTest>
#include <climits>

#include "toolkit/display/display_view.h"

using toolkit::TDisplayView;
using toolkit::TextPosition;

namespace {

bool Reddish(QColor c) { return c.red() > 150 && c.green() < 110 && c.blue() < 110; }

// Red pixels painted in the box of the character at position.
int RedPixels(TDisplayView& view, TextPosition position) {
  view.viewport()->repaint();
  const QImage image = view.viewport()->grab().toImage();
  const QRect box = view.CharacterRect(position).intersected(image.rect());
  int count = 0;
  for (int y = box.top(); y <= box.bottom(); ++y)
    for (int x = box.left(); x <= box.right(); ++x)
      if (Reddish(image.pixelColor(x, y))) ++count;
  return count;
}

bool Shown(TDisplayView& view, TextPosition position) {
  return view.viewport()->rect().contains(view.CharacterRect(position));
}

}  // namespace

class DisplayLargeTest : public QObject {
  Q_OBJECT

 private:
  struct Fixture {
    TDisplayView view;
    Fixture() {
      view.resize(480, 580);
      view.show();
      (void)QTest::qWaitForWindowExposed(&view);
    }
    // Appends text received in black, then a red tail, as the writers do.
    void Receive(const QString& text) {
      view.MoveCaretToEnd();
      view.SetInsertionColour(Qt::black);
      view.InsertAtCaret(text);
      view.MoveCaretToEnd();
      view.SetInsertionColour(Qt::red);
    }
  };

 private slots:
  void hundredMegabyteHistory() {
    Fixture f;
    QString line = QString(78, QLatin1Char('h'));
    line += QLatin1Char('\r');
    QString batch;
    for (int i = 0; i < 1 << 14; ++i) batch += line;  // 1.3 MB
    const qsizetype target = 100 * 1000 * 1000;
    qsizetype total = 0;
    while (total < target) {
      f.Receive(batch);
      total += batch.size();
    }
    f.view.InsertAtCaret(QStringLiteral("END"));
    const std::size_t lines = f.view.LineCount();
    QCOMPARE(lines, std::size_t(total / line.size() + 1));
    QCOMPARE(f.view.Text().Length(), std::uint64_t(total / line.size() * (line.size() + 1) + 3));

    QTRY_VERIFY(!f.view.RepaintPending());  // the bars follow within a frame
    QScrollBar* bar = f.view.verticalScrollBar();
    QVERIFY(bar->maximum() > 0);
    QCOMPARE(bar->value(), bar->maximum());
    const int lineHeight = f.view.CharacterRect(TextPosition{0, 0}).height();
    const std::size_t visible = std::size_t(f.view.viewport()->height() / lineHeight);
    QVERIFY(std::size_t(bar->maximum()) + visible + 1 >= lines);
    QVERIFY(std::size_t(bar->maximum()) + visible <= lines + 1);
    QVERIFY(Shown(f.view, TextPosition{lines - 1, 2}));
    QVERIFY(RedPixels(f.view, TextPosition{lines - 1, 1}) > 3);

    bar->setValue(0);
    QCOMPARE(f.view.FirstVisibleLine(), std::size_t{0});
    QVERIFY(Shown(f.view, TextPosition{0, 0}));
    bar->setValue(bar->maximum());
    QVERIFY(Shown(f.view, TextPosition{lines - 1, 2}));

    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(&f.view);
    QVERIFY(face && face->textInterface());
    QCOMPARE(qint64(face->textInterface()->characterCount()), qint64(f.view.Text().Length()));
    QCOMPARE(face->textInterface()->text(face->textInterface()->characterCount() - 5,
                                         face->textInterface()->characterCount()),
             QStringLiteral("\r\nEND"));
  }

  void tenMegabyteLine() {
    Fixture f;
    const QString chunk(1 << 20, QLatin1Char('m'));
    for (int i = 0; i < 10; ++i) f.Receive(chunk);
    f.view.InsertAtCaret(QStringLiteral("TAIL"));
    const std::size_t length = f.view.Text().LineLength(0);
    QCOMPARE(length, std::size_t(10 * chunk.size() + 4));
    QCOMPARE(f.view.LineCount(), std::size_t{1});

    QTRY_VERIFY(!f.view.RepaintPending());
    QScrollBar* bar = f.view.horizontalScrollBar();
    QVERIFY(bar->maximum() > 1000000);
    QCOMPARE(bar->value(), bar->maximum());
    QVERIFY(Shown(f.view, TextPosition{0, length - 1}));
    QVERIFY(RedPixels(f.view, TextPosition{0, length - 2}) > 3);

    // Hit testing far out on the line.
    const QRect box = f.view.CharacterRect(TextPosition{0, length - 3});
    QTest::mouseClick(f.view.viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(box.left() + 1, box.center().y()));
    QCOMPARE(f.view.Text().Caret(), (TextPosition{0, length - 3}));

    bar->setValue(0);
    QCOMPARE(f.view.HorizontalOffset(), std::uint64_t{0});
    QCOMPARE(f.view.PositionAt(QPoint(1, 5)).column, std::size_t{0});
    bar->setValue(bar->maximum() / 2);
    const std::size_t middle = f.view.PositionAt(QPoint(100, 5)).column;
    QVERIFY(middle > length / 3 && middle < 2 * length / 3);

    // More text still goes to the end and is shown there.
    f.Receive(QStringLiteral("more"));
    QTRY_VERIFY(!f.view.RepaintPending());
    QCOMPARE(bar->value(), bar->maximum());
    QVERIFY(Shown(f.view, TextPosition{0, length + 3}));
  }

  void lineWiderThanTheBarCanCount() {
    // TABs are wide and cheap to measure: this line is some 2.5 thousand million pixels wide.
    Fixture f;
    const QString tabs(50 * 1000 * 1000, QLatin1Char('\t'));
    f.Receive(tabs);
    f.view.InsertAtCaret(QStringLiteral("END"));
    const std::size_t length = f.view.Text().LineLength(0);
    QTRY_VERIFY(!f.view.RepaintPending());
    QScrollBar* bar = f.view.horizontalScrollBar();
    QVERIFY(bar->maximum() > 0);
    QVERIFY(bar->maximum() <= 1 << 30);
    QVERIFY(f.view.HorizontalOffset() > std::uint64_t(INT_MAX));
    QCOMPARE(bar->value(), bar->maximum());
    QVERIFY(Shown(f.view, TextPosition{0, length - 1}));
    QVERIFY(RedPixels(f.view, TextPosition{0, length - 2}) > 3);
    bar->setValue(bar->maximum() / 2);
    QVERIFY(f.view.HorizontalOffset() > std::uint64_t(INT_MAX) / 3);
    bar->setValue(0);
    QVERIFY(Shown(f.view, TextPosition{0, 0}));
    bar->setValue(bar->maximum());
    QVERIFY(Shown(f.view, TextPosition{0, length - 1}));
  }
};

QTEST_MAIN(DisplayLargeTest)
#include "display_large_test.moc"
