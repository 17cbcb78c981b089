#include "toolkit/display/display_view.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QFocusEvent>
#include <QGuiApplication>
#include <QPainter>
#include <QScrollBar>
#include <QStyleHints>
#include <algorithm>
#include <climits>
#include <cmath>
#include <string_view>

#include "runtime/clock.h"
#include "toolkit/display/display_accessible.h"

namespace toolkit {

namespace {

std::u16string_view View(const QString& text) {
  return std::u16string_view(reinterpret_cast<const char16_t*>(text.utf16()),
                             static_cast<std::size_t>(text.size()));
}

QString ToQString(const std::u16string& text) { return QString::fromStdU16String(text); }

int ClampToInt(std::uint64_t value) { return static_cast<int>(std::min<std::uint64_t>(value, INT_MAX)); }

void InstallAccessibility() {
  static const bool installed = [] {
    QAccessible::installFactory(&DisplayAccessibleFactory);
    return true;
  }();
  (void)installed;
}

}  // namespace

TDisplayView::TDisplayView(QWidget* parent) : QAbstractScrollArea(parent), geometry_(text_) {
  InstallAccessibility();
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
  setFocusPolicy(Qt::StrongFocus);
  setAttribute(Qt::WA_InputMethodEnabled, false);
  viewport()->setCursor(Qt::IBeamCursor);
  viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
  QFont font(QStringLiteral("Tahoma"));
  font.setStyleHint(QFont::SansSerif);  // the fallback where Tahoma is missing
  font.setPixelSize(13);
  // Advances then add up, so a piece measures the same on its own as inside its line.
  font.setKerning(false);
  font.setStyleStrategy(QFont::PreferNoShaping);
  setFont(font);
  geometry_.SetFont(this->font());
  UpdateScrollBars();
}

TDisplayView::~TDisplayView() = default;

// ---- Display operations ------------------------------------------------------------------

void TDisplayView::MoveCaretToEnd() {
  const TextPosition caret = text_.Caret();
  const TextPosition anchor = text_.Anchor();
  text_.MoveCaretToEnd();
  CaretMoved(caret, anchor);
}

void TDisplayView::SetInsertionColour(const QColor& colour) {
  text_.SetInsertionColour(colour.rgb() & 0xFFFFFFu);
}

QColor TDisplayView::InsertionColour() const { return ColourOf(text_.InsertionColour()); }

void TDisplayView::InsertAtCaret(const QString& text) {
  const bool tell = Announcing();
  const QString removed = tell ? SelectedText() : QString();
  const std::uint64_t offset = tell ? text_.Offset(text_.SelectionStart()) : 0;
  const TextChange change = text_.InsertAtCaret(View(text));
  // What was stored, line breaks as CR LF, is what assistive tools are told.
  const QString inserted = tell ? ToQString(text_.Text(text_.PositionAt(offset), text_.Caret())) : QString();
  Edited(change, removed, offset, inserted);
}

void TDisplayView::Clear() {
  const bool tell = Announcing();
  const QString removed = tell ? PlainText() : QString();
  const TextChange change = text_.Clear();
  geometry_.Reset();
  firstLine_ = 0;
  hx_ = 0;
  Edited(change, removed, 0, QString());
}

void TDisplayView::Edited(const TextChange& change, const QString& removed, std::uint64_t offset,
                          const QString& inserted) {
  if (change.changed) {
    geometry_.Changed(change);
    UpdateExtents();
  }
  goalX_ = -1;
  // The bars and the text are brought up to date together, at most once per frame.
  if (ScrollToShow(text_.Caret()) || change.changed) pendingBars_ = true;
  RestartBlink(false);
  Invalidate(change.appended ? std::optional<std::size_t>(change.firstLine) : std::nullopt);
  if (change.changed && Announcing()) {
    const int at = ClampToInt(offset);
    if (removed.isEmpty()) {
      QAccessibleTextInsertEvent event(this, at, inserted);
      QAccessible::updateAccessibility(&event);
    } else {
      QAccessibleTextUpdateEvent event(this, at, removed, inserted);
      QAccessible::updateAccessibility(&event);
    }
    QAccessibleTextCursorEvent cursor(this, ClampToInt(text_.Offset(text_.Caret())));
    QAccessible::updateAccessibility(&cursor);
  }
}

// ---- Text and selection --------------------------------------------------------------------

QString TDisplayView::SelectedText() const { return ToQString(text_.SelectedText()); }

QString TDisplayView::PlainText() const {
  QString text;
  text.reserve(static_cast<qsizetype>(text_.Length()));
  for (std::size_t i = 0; i < text_.LineCount(); ++i) {
    if (i > 0) text.append(QLatin1StringView("\r\n"));
    const DisplayLine& line = text_.Line(i);
    if (line.IsWide()) {
      text.append(QStringView(line.Wide().data(), static_cast<qsizetype>(line.Length())));
    } else {
      text.append(QLatin1StringView(line.Narrow().data(), static_cast<qsizetype>(line.Length())));
    }
  }
  return text;
}

QString TDisplayView::LineText(std::size_t line) const {
  if (line >= text_.LineCount()) return QString();
  std::u16string text;
  text_.Line(line).AppendTo(0, text_.LineLength(line), text);
  return ToQString(text);
}

void TDisplayView::SelectAll() { SelectRange(TextPosition{}, text_.End()); }

void TDisplayView::Copy() const {
  if (!text_.HasSelection()) return;
  QGuiApplication::clipboard()->setText(SelectedText());
}

void TDisplayView::SetCaret(std::size_t line, std::size_t column) {
  MoveCaret(TextPosition{line, column}, false);
}

void TDisplayView::Select(std::size_t anchorLine, std::size_t anchorColumn, std::size_t caretLine,
                          std::size_t caretColumn) {
  SelectRange(TextPosition{anchorLine, anchorColumn}, TextPosition{caretLine, caretColumn});
}

QColor TDisplayView::ColourAt(std::size_t line, std::size_t column) const {
  return ColourOf(text_.ColourAt(TextPosition{line, column}));
}

void TDisplayView::MoveCaret(TextPosition position, bool keepAnchor) {
  const TextPosition caret = text_.Caret();
  const TextPosition anchor = text_.Anchor();
  text_.SetCaret(position, keepAnchor);
  CaretMoved(caret, anchor);
}

void TDisplayView::SelectRange(TextPosition anchor, TextPosition caret) {
  const TextPosition oldCaret = text_.Caret();
  const TextPosition oldAnchor = text_.Anchor();
  text_.Select(anchor, caret);
  CaretMoved(oldCaret, oldAnchor);
}

void TDisplayView::CaretMoved(TextPosition oldCaret, TextPosition oldAnchor) {
  EnsureVisible(text_.Caret());
  RestartBlink();
  if (oldCaret == text_.Caret() && oldAnchor == text_.Anchor()) return;
  viewport()->update();
  if (!Announcing()) return;
  if (oldAnchor != oldCaret || text_.HasSelection()) {
    QAccessibleTextSelectionEvent event(this, ClampToInt(text_.Offset(text_.SelectionStart())),
                                        ClampToInt(text_.Offset(text_.SelectionEnd())));
    event.setCursorPosition(ClampToInt(text_.Offset(text_.Caret())));
    QAccessible::updateAccessibility(&event);
  } else {
    QAccessibleTextCursorEvent event(this, ClampToInt(text_.Offset(text_.Caret())));
    QAccessible::updateAccessibility(&event);
  }
}

bool TDisplayView::Announcing() { return QAccessible::isActive(); }

QColor TDisplayView::ColourOf(Rgb rgb) { return QColor::fromRgb(QRgb{0xFF000000u | rgb}); }

void TDisplayView::SetBackground(const QColor& colour) {
  background_ = colour;
  viewport()->update();
}

// ---- Scrolling --------------------------------------------------------------------------

std::size_t TDisplayView::VisibleLines() const {
  return static_cast<std::size_t>(std::max(1, viewport()->height() / geometry_.LineHeight()));
}

void TDisplayView::UpdateScrollBars() {
  UpdateExtents();
  SyncBars();
}

void TDisplayView::UpdateExtents() {
  const std::size_t visible = VisibleLines();
  const std::size_t lines = text_.LineCount();
  vScale_.SetExtent(lines > visible ? lines - visible : 0);
  const double content = geometry_.ContentWidth() + 2 * kMargin + kCaretWidth;
  const double room = viewport()->width();
  hScale_.SetExtent(content > room ? static_cast<std::uint64_t>(std::ceil(content - room)) : 0);
  firstLine_ = std::min<std::uint64_t>(firstLine_, vScale_.Extent());
  hx_ = std::min(hx_, hScale_.Extent());
}

void TDisplayView::SyncBars() {
  syncing_ = true;
  QScrollBar* v = verticalScrollBar();
  v->setRange(0, vScale_.Maximum());
  v->setSingleStep(1);
  v->setPageStep(static_cast<int>(std::max<std::uint64_t>(1, VisibleLines() / vScale_.Unit())));
  v->setValue(vScale_.ToBar(firstLine_));
  QScrollBar* h = horizontalScrollBar();
  h->setRange(0, hScale_.Maximum());
  h->setSingleStep(static_cast<int>(std::max<std::uint64_t>(1, 20 / hScale_.Unit())));
  h->setPageStep(static_cast<int>(
      std::max<std::uint64_t>(1, static_cast<std::uint64_t>(viewport()->width()) / hScale_.Unit())));
  h->setValue(hScale_.ToBar(hx_));
  syncing_ = false;
}

void TDisplayView::scrollContentsBy(int, int) {
  // Bars set by the view itself follow the model; whoever set them repaints.
  if (syncing_) return;
  firstLine_ = vScale_.FromBar(verticalScrollBar()->value());
  hx_ = hScale_.FromBar(horizontalScrollBar()->value());
  viewport()->update();
}

void TDisplayView::EnsureVisible(TextPosition position) {
  if (ScrollToShow(position)) {
    SyncBars();
    viewport()->update();
  }
}

void TDisplayView::Invalidate(std::optional<std::size_t> fromLine) {
  if (fromLine) {
    pendingFrom_ = pendingFrom_ ? std::min(*pendingFrom_, *fromLine) : *fromLine;
  } else {
    pendingAll_ = true;
  }
  if (repaintTimer_.isActive()) return;
  const std::uint64_t now = rtl::MonotonicNs();
  if (now - lastFlushNs_ >= kFrameNs) {
    FlushRepaint();
  } else {
    const auto waitMs = static_cast<int>((kFrameNs - (now - lastFlushNs_)) / 1'000'000 + 1);
    repaintTimer_.start(waitMs, Qt::PreciseTimer, this);
  }
}

void TDisplayView::FlushRepaint() {
  repaintTimer_.stop();
  lastFlushNs_ = rtl::MonotonicNs();
  if (pendingBars_) SyncBars();
  pendingBars_ = false;
  const bool all = pendingAll_;
  const std::optional<std::size_t> from = pendingFrom_;
  pendingAll_ = false;
  pendingFrom_.reset();
  const int lineHeight = geometry_.LineHeight();
  const long long dy = static_cast<long long>(firstLine_) - static_cast<long long>(paintedFirst_);
  const long long dx = static_cast<long long>(hx_) - static_cast<long long>(paintedHx_);
  if (all || !viewport()->isVisible() || std::llabs(dy) >= static_cast<long long>(VisibleLines()) ||
      std::llabs(dx) >= viewport()->width()) {
    viewport()->update();
    return;
  }
  if (dy != 0 || dx != 0) {
    // The view follows the end: move what is shown and paint only what comes into view.
    viewport()->scroll(static_cast<int>(-dx), static_cast<int>(-dy * lineHeight));
    paintedFirst_ = firstLine_;
    paintedHx_ = hx_;
  }
  if (from) {
    const long long row = static_cast<long long>(*from) - static_cast<long long>(firstLine_);
    const int top = static_cast<int>(std::clamp<long long>(row * lineHeight, 0, viewport()->height()));
    if (top < viewport()->height())
      viewport()->update(QRect(0, top, viewport()->width(), viewport()->height() - top));
  }
}

bool TDisplayView::ScrollToShow(TextPosition position) {
  position = text_.Clamp(position);
  const std::size_t visible = VisibleLines();
  std::size_t first = firstLine_;
  if (position.line < first) {
    first = position.line;
  } else if (position.line >= first + visible) {
    first = position.line - visible + 1;
  }
  const double x = geometry_.X(position.line, position.column);
  const double room = std::max(1, viewport()->width() - 2 * kMargin - kCaretWidth);
  double left = static_cast<double>(hx_);
  if (x < left) {
    left = std::max(0.0, x - room / 4);
  } else if (x > left + room) {
    left = x - room * 3 / 4;
  }
  const std::size_t oldFirst = firstLine_;
  const std::uint64_t oldX = hx_;
  firstLine_ = std::min<std::uint64_t>(first, vScale_.Extent());
  hx_ = std::min(static_cast<std::uint64_t>(std::max(0.0, std::floor(left))), hScale_.Extent());
  return firstLine_ != oldFirst || hx_ != oldX;
}

void TDisplayView::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  UpdateScrollBars();
}

void TDisplayView::ScrollWhileDragging(QPoint point) {
  const TextPosition position = PositionAt(point);
  const TextPosition caret = text_.Caret();
  const TextPosition anchor = text_.Anchor();
  text_.SetCaret(position, true);
  CaretMoved(caret, anchor);
}

// ---- Geometry ---------------------------------------------------------------------------

QRect TDisplayView::CharacterRect(TextPosition position) const {
  position = text_.Clamp(position);
  const int lineHeight = geometry_.LineHeight();
  const double x = geometry_.X(position.line, position.column);
  const std::size_t length = text_.LineLength(position.line);
  const double right =
      position.column < length ? geometry_.X(position.line, text_.Next(position).column) : x + kCaretWidth;
  const double left = kMargin + x - static_cast<double>(hx_);
  const long long line = static_cast<long long>(position.line) - static_cast<long long>(firstLine_);
  const long long top = std::clamp<long long>(line * lineHeight, INT_MIN / 2, INT_MAX / 2);
  const double clampedLeft = std::clamp(left, double{INT_MIN / 2}, double{INT_MAX / 2});
  return QRect(static_cast<int>(std::floor(clampedLeft)), static_cast<int>(top),
               std::max(1, static_cast<int>(std::ceil(right - x))), lineHeight);
}

TextPosition TDisplayView::PositionAt(QPoint point) const {
  const int lineHeight = geometry_.LineHeight();
  long long line = static_cast<long long>(firstLine_) +
                   (point.y() >= 0 ? point.y() / lineHeight : -((-point.y() + lineHeight - 1) / lineHeight));
  line = std::clamp<long long>(line, 0, static_cast<long long>(text_.LineCount()) - 1);
  const auto index = static_cast<std::size_t>(line);
  const double x = static_cast<double>(hx_) + point.x() - kMargin;
  return TextPosition{index, geometry_.ColumnAt(index, x)};
}

// ---- Focus and caret --------------------------------------------------------------------

void TDisplayView::focusInEvent(QFocusEvent* event) {
  QAbstractScrollArea::focusInEvent(event);
  RestartBlink();
  update();
  viewport()->update();
}

void TDisplayView::focusOutEvent(QFocusEvent* event) {
  QAbstractScrollArea::focusOutEvent(event);
  blinkTimer_.stop();
  caretOn_ = false;
  dragging_ = false;
  dragTimer_.stop();
  update();
  viewport()->update();
}

void TDisplayView::RestartBlink(bool repaint) {
  if (!hasFocus()) return;
  caretOn_ = true;
  const int flash = QGuiApplication::styleHints()->cursorFlashTime();
  if (flash > 0) {
    blinkTimer_.start(flash / 2, this);
  } else {
    blinkTimer_.stop();
  }
  if (!repaint) return;
  if (repaintTimer_.isActive() || firstLine_ != paintedFirst_ || hx_ != paintedHx_) {
    // The view moved and its repaint is gathered: the caret's line goes with it.
    Invalidate(text_.Caret().line);
  } else {
    viewport()->update(CharacterRect(text_.Caret()).adjusted(-1, 0, 1, 0));
  }
}

void TDisplayView::timerEvent(QTimerEvent* event) {
  if (event->timerId() == blinkTimer_.timerId()) {
    caretOn_ = !caretOn_;
    viewport()->update(CharacterRect(text_.Caret()).adjusted(-1, 0, 1, 0));
  } else if (event->timerId() == repaintTimer_.timerId()) {
    FlushRepaint();
  } else if (event->timerId() == dragTimer_.timerId()) {
    ScrollWhileDragging(dragPoint_);
  } else {
    QAbstractScrollArea::timerEvent(event);
  }
}

void TDisplayView::changeEvent(QEvent* event) {
  QAbstractScrollArea::changeEvent(event);
  if (event->type() == QEvent::FontChange) {
    geometry_.SetFont(font());
    // A new font measures every line again, once.
    TextChange all;
    all.changed = true;
    all.oldLastLine = all.newLastLine = text_.LineCount() - 1;
    geometry_.Changed(all);
    UpdateScrollBars();
    viewport()->update();
  } else if (event->type() == QEvent::PaletteChange || event->type() == QEvent::ActivationChange) {
    viewport()->update();
  }
}

}  // namespace toolkit
