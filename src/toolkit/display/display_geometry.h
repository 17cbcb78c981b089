// Horizontal measures of the display's lines: the pixel offset of a column and the column at a
// pixel offset, measured only where asked. The font must have kerning off and prefer no shaping,
// so that one-byte characters are measured from a table of their advances. A long line keeps anchors (column, offset) about every
// kStep columns, found by a binary search, so that no measure ever spans a whole long line and
// appending to a line measures only what was added. Window thread only.
#pragma once

#include <QFont>
#include <QFontMetricsF>
#include <QString>
#include <array>
#include <cstddef>
#include <map>
#include <vector>

#include "toolkit/display/display_text.h"

namespace toolkit {

class DisplayGeometry {
 public:
  static constexpr std::size_t kShortLine = 512;  // measured from its start every time
  static constexpr std::size_t kStep = 256;       // columns between anchors of a long line

  struct Anchor {
    std::size_t column;
    double x;
  };

  explicit DisplayGeometry(const DisplayText& text);

  // Forgets every measure (also the content width).
  void SetFont(const QFont& font);
  const QFontMetricsF& Metrics() const { return metrics_; }
  int LineHeight() const { return lineHeight_; }
  double TabWidth() const { return tabWidth_; }

  // Pixels from the start of line to column.
  double X(std::size_t line, std::size_t column);
  // The column whose boundary lies nearest to pixel x of line.
  std::size_t ColumnAt(std::size_t line, double x);
  double Width(std::size_t line) { return X(line, text_.LineLength(line)); }
  // The last anchor of line at or before pixel x (column 0 for a short line).
  Anchor AnchorAtX(std::size_t line, double x);

  // Pixel x after the characters [from, to) of line drawn from x; a TAB goes to the next stop,
  // other control characters take no room (and are never drawn).
  double Advance(std::size_t line, std::size_t from, std::size_t to, double x) const;
  double NextTabStop(double x) const;
  // C0 and C1 control characters, TAB included. Qt would draw some as boxes and stops measuring
  // at U+009C, so they are kept away from it.
  static bool IsControl(char16_t c) { return c < 0x20 || (c >= 0x7F && c < 0xA0); }
  // The characters [from, to) of line; for a UTF-16 line this shares the text's storage and is
  // valid only until the next edit.
  QString Piece(std::size_t line, std::size_t from, std::size_t to) const;

  // Brings the measures up to date after an edit and widens the content to the changed lines.
  void Changed(const TextChange& change);
  // After Clear: the content is empty again.
  void Reset();
  // The widest line measured when it last changed (it never shrinks until Reset).
  double ContentWidth() const { return contentWidth_; }

 private:
  // The anchors of a long line, extended until done(last anchor) or the end of the line.
  template <class Done>
  std::vector<Anchor>& Extend(std::size_t line, Done done);

  const DisplayText& text_;
  QFontMetricsF metrics_;
  int lineHeight_ = 1;
  double tabWidth_ = 1;
  double contentWidth_ = 0;
  std::array<double, 256> narrowAdvance_{};
  std::map<std::size_t, std::vector<Anchor>> anchors_;
};

}  // namespace toolkit
