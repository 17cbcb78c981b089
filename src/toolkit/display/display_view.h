// The terminal's display: a read-only view of coloured lines with a caret and a selection, built
// for a terminal's load: only the visible part is measured and painted, so an append, a repaint
// or a scroll costs the same however much text it holds and however long the current line is.
// No word wrap, both scroll bars always shown. Window thread only.
#pragma once

#include <QAbstractScrollArea>
#include <QBasicTimer>
#include <QChar>
#include <QColor>
#include <QRect>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>

#include "toolkit/display/display_geometry.h"
#include "toolkit/display/display_text.h"
#include "toolkit/display/scroll_scale.h"

namespace toolkit {

class TDisplayView : public QAbstractScrollArea {
  Q_OBJECT
  // The whole text, lines joined by CR LF.
  Q_PROPERTY(QString plainText READ PlainText)

 public:
  explicit TDisplayView(QWidget* parent = nullptr);
  ~TDisplayView() override;

  // Receives every typed character first: Enter gives CR (13), Ctrl+Enter LF (10), Ctrl with a
  // letter its control code, a printable key its character; keys that give no character (arrows,
  // paging, function keys) never come here. Setting key to 0 consumes it. The view inserts no
  // typed character either way: it is read-only. Select all (Ctrl+A) and copy (Ctrl+C) are done
  // by the view before the handler sees 1 and 3, so they work whatever it does with them.
  // The handler must not throw.
  std::function<void(QChar& key)> OnKeyPress;

  // The display operations.
  // Puts the caret after the last character, with an empty selection.
  void MoveCaretToEnd();
  // Text inserted next at the caret takes this colour; older text keeps its colours.
  void SetInsertionColour(const QColor& colour);
  QColor InsertionColour() const;
  // Replaces the selection (or inserts at the caret) by text in the insertion colour; the caret
  // ends after it and is scrolled into view. CR LF, a lone CR or a lone LF starts a line; an LF
  // that begins the text right where the previous insertion ended with a CR completes that pair.
  void InsertAtCaret(const QString& text);
  // Removes all text.
  void Clear();

  QString SelectedText() const;
  // The whole text, lines joined by CR LF. For large texts prefer Text().Write, which hands it
  // out in pieces.
  QString PlainText() const;
  void SelectAll();
  // Puts the selected text on the clipboard; nothing happens without a selection.
  void Copy() const;

  void SetBackground(const QColor& colour);
  QColor Background() const { return background_; }
  // Whether edits wait for their gathered repaint (and scroll bar update), due within a frame.
  bool RepaintPending() const { return repaintTimer_.isActive(); }

  // Caret and selection, for the window and for tests; lines and columns count from 0, columns
  // in UTF-16 units. Positions outside the text are clamped.
  std::size_t LineCount() const { return text_.LineCount(); }
  QString LineText(std::size_t line) const;
  std::size_t CaretLine() const { return text_.Caret().line; }
  std::size_t CaretColumn() const { return text_.Caret().column; }
  bool HasSelection() const { return text_.HasSelection(); }
  void SetCaret(std::size_t line, std::size_t column);
  void Select(std::size_t anchorLine, std::size_t anchorColumn, std::size_t caretLine,
              std::size_t caretColumn);
  QColor ColourAt(std::size_t line, std::size_t column) const;

  // The text itself. For a log written again and again: Revision() tells whether anything
  // changed, Write() hands out the whole text in pieces (each can go through the code page on its
  // own, no 50 MB string is built), and EndMark() / WriteSince() give only what was appended since
  // the last write, or say that older text changed and the whole must be written again.
  const DisplayText& Text() const { return text_; }

  // Geometry, in viewport coordinates.
  std::size_t FirstVisibleLine() const { return firstLine_; }
  std::uint64_t HorizontalOffset() const { return hx_; }
  // The box of the character after position (a caret-wide box at a line's end).
  QRect CharacterRect(TextPosition position) const;
  // The position nearest to a point.
  TextPosition PositionAt(QPoint point) const;
  // Scrolls as little as needed to show position.
  void EnsureVisible(TextPosition position);
  // Moves the caret (extending the selection when keepAnchor) and shows it.
  void MoveCaret(TextPosition position, bool keepAnchor);
  void SelectRange(TextPosition anchor, TextPosition caret);

 protected:
  bool event(QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void timerEvent(QTimerEvent* event) override;
  void changeEvent(QEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;

 private:
  static constexpr int kMargin = 2;      // pixels left of a line's first character
  static constexpr int kCaretWidth = 1;
  static constexpr std::uint64_t kFrameNs = 33'000'000;  // at most one repaint after edits per frame

  static QColor ColourOf(Rgb rgb);
  // Whether edits and caret moves are announced to assistive tools (only while they run).
  static bool Announcing();

  // After every edit: measures, scroll bars, caret in view, repaint, accessibility.
  void Edited(const TextChange& change, const QString& removed, std::uint64_t offset,
              const QString& inserted);
  void CaretMoved(TextPosition oldCaret, TextPosition oldAnchor);
  // The scroll scales' extents for the text and viewport now, and the bars set from them.
  void UpdateExtents();
  void UpdateScrollBars();
  void SyncBars();
  // Scrolls the model so that position is in view; true when the view moved. Nothing repaints.
  bool ScrollToShow(TextPosition position);
  // Repaints after edits are gathered and made at most once per frame, so a flood of small
  // batches costs one paint per frame; appended text repaints only its own lines, and a view
  // that follows the end moves its pixels instead of repainting them. fromLine: the first line
  // that changed, or none for all of them.
  void Invalidate(std::optional<std::size_t> fromLine);
  void FlushRepaint();
  std::size_t VisibleLines() const;  // lines that fit whole in the viewport (at least 1)
  bool HandleNavigation(QKeyEvent* event);
  void PaintLine(class QPainter& painter, std::size_t line, int y, int width) const;
  void PaintFocusFrame();
  // repaint: whether to repaint the caret now (edits leave it to their own repaint).
  void RestartBlink(bool repaint = true);
  void ScrollWhileDragging(QPoint point);

  DisplayText text_;
  mutable DisplayGeometry geometry_;  // measures on demand, also from const queries
  ScrollScale vScale_;  // lines
  ScrollScale hScale_;  // pixels
  std::size_t firstLine_ = 0;
  std::uint64_t hx_ = 0;
  bool syncing_ = false;
  QColor background_ = Qt::white;
  double goalX_ = -1;  // kept by up/down and paging, so the caret returns to its column
  bool dragging_ = false;
  QPoint dragPoint_;
  QBasicTimer dragTimer_;
  QBasicTimer blinkTimer_;
  bool caretOn_ = false;
  QBasicTimer repaintTimer_;
  std::uint64_t lastFlushNs_ = 0;
  bool pendingAll_ = false;
  bool pendingBars_ = false;
  std::optional<std::size_t> pendingFrom_;
  std::size_t paintedFirst_ = 0;  // the scroll position the viewport's pixels show
  std::uint64_t paintedHx_ = 0;
};

}  // namespace toolkit
