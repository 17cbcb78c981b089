// Measures of the display's lines against Qt's own measure of the same text: short, wide and
// long lines, TABs and control characters, hit testing, and anchors of long lines kept right
// through appends and edits above, inside and below them.
#include <QApplication>
#include <QFontMetricsF>
#include <QTest>
#include <random>

#include "toolkit/display/display_geometry.h"
#include "toolkit/display/display_view.h"

using toolkit::DisplayGeometry;
using toolkit::DisplayText;
using toolkit::TextPosition;

namespace {

std::u16string Latin1Text(std::mt19937& random, std::size_t length) {
  std::u16string text;
  for (std::size_t i = 0; i < length; ++i)
    text += random() % 5 == 0 ? char16_t(0xA0 + random() % 0x60) : char16_t(32 + random() % 95);
  return text;
}

QString Q(const std::u16string& text) { return QString::fromStdU16String(text); }

}  // namespace

class DisplayGeometryTest : public QObject {
  Q_OBJECT

 private:
  // The view's own font, so the measures are those the view paints with.
  QFont font_ = toolkit::TDisplayView().font();

  struct Fixture {
    DisplayText text;
    DisplayGeometry geometry{text};
    explicit Fixture(const QFont& font) { geometry.SetFont(font); }
    void Insert(const std::u16string& s) {
      const toolkit::TextChange change = text.InsertAtCaret(s);
      geometry.Changed(change);
    }
  };

 private slots:
  void shortLinesMeasureLikeQt() {
    Fixture f(font_);
    QFontMetricsF metrics(font_);
    std::mt19937 random(7);
    for (int round = 0; round < 50; ++round) {
      const std::u16string line = Latin1Text(random, 1 + random() % 300);
      f.text.Clear();
      f.geometry.Reset();
      f.Insert(line);
      for (std::size_t column : {std::size_t{1}, line.size() / 2, line.size()})
        QCOMPARE(f.geometry.X(0, column), metrics.horizontalAdvance(Q(line.substr(0, column))));
    }
  }

  void wideLinesMeasureLikeQt() {
    Fixture f(font_);
    QFontMetricsF metrics(font_);
    const std::u16string line = u"prix 5\u20ac, \u0153uvre \u2014 \u00e0 l'\u00e9t\u00e9";
    f.Insert(line);
    QVERIFY(f.text.Line(0).IsWide());
    QCOMPARE(f.geometry.Width(0), metrics.horizontalAdvance(Q(line)));
  }

  void tabsGoToStopsAndControlsTakeNoRoom() {
    Fixture f(font_);
    QFontMetricsF metrics(font_);
    f.Insert(u"ab\tc\x07\x9c" u"d\r\u20ac\t\x1b" u"e");
    const double stop = f.geometry.TabWidth();
    QCOMPARE(f.geometry.X(0, 3), stop);
    QCOMPARE(f.geometry.X(0, 7), stop + metrics.horizontalAdvance(QStringLiteral("cd")));
    QCOMPARE(f.geometry.X(1, 2), stop);
    QCOMPARE(f.geometry.X(1, 3), stop);
    QCOMPARE(f.geometry.Width(1), stop + metrics.horizontalAdvance(QStringLiteral("e")));
  }

  void hitTestingFindsTheNearestBoundary() {
    Fixture f(font_);
    std::mt19937 random(3);
    const std::u16string shortLine = Latin1Text(random, 200);
    const std::u16string longLine = Latin1Text(random, 5000);
    f.Insert(shortLine + u"\r" + longLine + u"\r\u20ac\u20acx\U0001F600y");
    for (std::size_t line = 0; line < 3; ++line) {
      const std::size_t length = f.text.LineLength(line);
      for (std::size_t column = 0; column <= length; column += line == 1 ? 97 : 1) {
        if (line == 2 && column == 4) continue;  // inside the surrogate pair
        // A zero-width character (soft hyphen) puts two boundaries at one place.
        const double x = f.geometry.X(line, column);
        QCOMPARE(f.geometry.X(line, f.geometry.ColumnAt(line, x)), x);
        QCOMPARE(f.geometry.X(line, f.geometry.ColumnAt(line, x + 0.4)), x);
      }
      QCOMPARE(f.geometry.ColumnAt(line, -50), std::size_t{0});
      QCOMPARE(f.geometry.ColumnAt(line, f.geometry.Width(line) + 500), length);
    }
    // Never inside a surrogate pair.
    const double pairMiddle = (f.geometry.X(2, 3) + f.geometry.X(2, 5)) / 2;
    const std::size_t hit = f.geometry.ColumnAt(2, pairMiddle);
    QVERIFY(hit == 3 || hit == 5);
  }

  void longLinesStayExactThroughAppendsAndEdits() {
    Fixture f(font_);
    QFontMetricsF metrics(font_);
    std::mt19937 random(11);
    std::u16string line0 = Latin1Text(random, 70000);
    const std::u16string middle = Latin1Text(random, 3000);
    const std::u16string line2 = Latin1Text(random, 50000);
    // Line 0 grows by small appends, as a device that never ends its lines.
    for (std::size_t at = 0; at < line0.size(); at += 700) f.Insert(line0.substr(at, 700));
    f.Insert(u"\r" + middle + u"\r" + line2);
    QCOMPARE(f.geometry.Width(0), metrics.horizontalAdvance(Q(line0)));
    QCOMPARE(f.geometry.X(2, 33333), metrics.horizontalAdvance(Q(line2.substr(0, 33333))));
    QCOMPARE(f.geometry.ContentWidth(), std::max(f.geometry.Width(0), f.geometry.Width(2)));

    // An edit inside line 0 changes what follows it on that line only.
    f.text.SetCaret(TextPosition{0, 40000});
    f.Insert(u"WWWW");
    line0.insert(40000, u"WWWW");
    QCOMPARE(f.geometry.Width(0), metrics.horizontalAdvance(Q(line0)));
    QCOMPARE(f.geometry.X(0, 10000), metrics.horizontalAdvance(Q(line0.substr(0, 10000))));
    QCOMPARE(f.geometry.X(2, 49000), metrics.horizontalAdvance(Q(line2.substr(0, 49000))));

    // A line break above moves line 2 down: its measures must move with it.
    f.text.SetCaret(TextPosition{0, 5});
    f.Insert(u"\r");
    QCOMPARE(f.text.LineCount(), std::size_t{4});
    QCOMPARE(f.geometry.X(3, 49000), metrics.horizontalAdvance(Q(line2.substr(0, 49000))));
    QCOMPARE(f.geometry.X(2, 2500), metrics.horizontalAdvance(Q(middle.substr(0, 2500))));
    QCOMPARE(f.geometry.Width(1), metrics.horizontalAdvance(Q(line0.substr(5))));

    // Removing lines moves it up again.
    f.text.Select(TextPosition{0, 2}, TextPosition{2, 0});
    f.Insert(u"");
    QCOMPARE(f.text.LineCount(), std::size_t{2});
    QCOMPARE(f.geometry.X(1, 20000), metrics.horizontalAdvance(Q(line2.substr(0, 20000))));
    QCOMPARE(f.geometry.Width(0), metrics.horizontalAdvance(Q(line0.substr(0, 2) + middle)));
  }
};

QTEST_MAIN(DisplayGeometryTest)
#include "display_geometry_test.moc"
