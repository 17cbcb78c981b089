// Painting of the display: only the lines in view, and of a long line only the part in view.
#include <QPaintEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>

#include "toolkit/display/display_view.h"

namespace toolkit {

// ---- Painting ---------------------------------------------------------------------------

void TDisplayView::PaintFocusFrame() {
  // Drawn over the style's frame, so the focus shows whatever the style draws.
  QPainter painter(this);
  painter.setPen(palette().color(QPalette::Active, QPalette::Highlight));
  painter.drawRect(frameRect().adjusted(0, 0, -1, -1));
}

void TDisplayView::paintEvent(QPaintEvent* event) {
  const bool whole = event->rect().contains(viewport()->rect());
  if (!whole && (firstLine_ != paintedFirst_ || hx_ != paintedHx_)) {
    // The rest of the viewport shows an older scroll position. The gathered repaint, when one
    // is due, brings all of it up to date; otherwise paint all of it now.
    if (!repaintTimer_.isActive()) viewport()->update();
    return;
  }
  if (whole) {
    paintedFirst_ = firstLine_;
    paintedHx_ = hx_;
  }
  QPainter painter(viewport());
  painter.fillRect(event->rect(), background_);
  painter.setFont(font());
  const int lineHeight = geometry_.LineHeight();
  const int width = viewport()->width();
  const QRect clip = event->rect();
  for (std::size_t line = firstLine_; line < text_.LineCount(); ++line) {
    const auto row = static_cast<long long>(line - firstLine_);
    if (row * lineHeight >= clip.bottom() + 1) break;
    const int y = static_cast<int>(row * lineHeight);
    if (y + lineHeight <= clip.top()) continue;
    PaintLine(painter, line, y, width);
  }
  if (caretOn_ && hasFocus()) {
    QRect caret = CharacterRect(text_.Caret());
    caret.setWidth(kCaretWidth);
    painter.fillRect(caret, palette().color(QPalette::Text));
  }
}

void TDisplayView::PaintLine(QPainter& painter, std::size_t line, int y, int width) const {
  const DisplayLine& text = text_.Line(line);
  const std::size_t length = text.Length();
  const double left = static_cast<double>(hx_) - kMargin;  // line x at the viewport's left edge
  const double right = left + width;
  const int lineHeight = geometry_.LineHeight();
  const double baseline = y + geometry_.Metrics().ascent();

  const bool active = hasFocus();
  const QPalette::ColorGroup group = active ? QPalette::Active : QPalette::Inactive;
  QColor highlight = palette().color(group, QPalette::Highlight);
  QColor highlightedText = palette().color(group, QPalette::HighlightedText);
  if (!active && (highlight == background_ || highlight == palette().color(QPalette::Inactive, QPalette::Base))) {
    highlight = QColor(0xC0, 0xC0, 0xC0);  // a selection must stay visible without the focus
    highlightedText = QColor(Qt::black);
  }

  std::size_t selectFrom = 0;
  std::size_t selectTo = 0;
  bool breakSelected = false;
  if (text_.HasSelection()) {
    const TextPosition start = text_.SelectionStart();
    const TextPosition end = text_.SelectionEnd();
    if (line >= start.line && line <= end.line) {
      selectFrom = line == start.line ? start.column : 0;
      selectTo = line == end.line ? end.column : length;
      breakSelected = line < end.line;
    }
  }

  // Start at the last anchor before the left edge and stop past the right edge.
  const DisplayGeometry::Anchor anchor = geometry_.AnchorAtX(line, std::max(0.0, left));
  double x = anchor.x;
  std::size_t column = anchor.column;
  auto drawPiece = [&](std::size_t from, std::size_t to, const QColor& colour) {
    // Draws [from, to) from x; control characters (TAB included) are only stepped over.
    painter.setPen(colour);
    std::size_t begin = from;
    for (std::size_t i = from; i <= to; ++i) {
      if (i < to && !DisplayGeometry::IsControl(text.At(i))) continue;
      if (i > begin) {
        const double next = geometry_.Advance(line, begin, i, x);
        if (next >= left && x <= right)
          painter.drawText(QPointF(x - left, baseline), geometry_.Piece(line, begin, i));
        x = next;
      }
      if (i < to) x = geometry_.Advance(line, i, i + 1, x);
      begin = i + 1;
    }
  };
  while (column < length && x <= right) {
    // At most kStep characters at a time, so a long line is never laid out whole.
    std::size_t stop = std::min(length, column + DisplayGeometry::kStep);
    if (stop < length && text.At(stop - 1) >= 0xD800 && text.At(stop - 1) < 0xDC00) ++stop;  // whole pairs
    text.Runs().ForEach(column, stop, [&](std::size_t begin, std::size_t end, Rgb rgb) {
      std::size_t at = begin;
      while (at < end) {
        const bool selected = at >= selectFrom && at < selectTo;
        std::size_t next = end;
        if (selected) {
          next = std::min(end, selectTo);
        } else if (at < selectFrom) {
          next = std::min(end, selectFrom);
        }
        if (selected) {
          const double from = x;
          const double to = geometry_.Advance(line, at, next, x);
          if (to >= left && from <= right)
            painter.fillRect(QRectF(from - left, y, to - from, lineHeight), highlight);
          drawPiece(at, next, highlightedText);
        } else {
          drawPiece(at, next, ColourOf(rgb));
        }
        at = next;
      }
    });
    column = stop;
  }
  if (breakSelected && x <= right && column >= length) {
    const double space = geometry_.Metrics().horizontalAdvance(QLatin1Char(' '));
    painter.fillRect(QRectF(x - left, y, space, lineHeight), highlight);
  }
}

}  // namespace toolkit
