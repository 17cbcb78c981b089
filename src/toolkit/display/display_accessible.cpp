#include "toolkit/display/display_accessible.h"

#include <algorithm>
#include <climits>

#include "toolkit/display/display_view.h"

namespace toolkit {

namespace {

int ClampToInt(std::uint64_t value) { return static_cast<int>(std::min<std::uint64_t>(value, INT_MAX)); }

std::uint64_t FromInt(int offset) { return offset < 0 ? 0 : static_cast<std::uint64_t>(offset); }

bool IsLineBoundary(QAccessible::TextBoundaryType type) {
  return type == QAccessible::LineBoundary || type == QAccessible::ParagraphBoundary;
}

}  // namespace

TDisplayAccessible::TDisplayAccessible(TDisplayView* view)
    : QAccessibleWidget(view, QAccessible::EditableText) {}

TDisplayView* TDisplayAccessible::View() const { return static_cast<TDisplayView*>(widget()); }

void* TDisplayAccessible::interface_cast(QAccessible::InterfaceType type) {
  if (type == QAccessible::TextInterface) return static_cast<QAccessibleTextInterface*>(this);
  return QAccessibleWidget::interface_cast(type);
}

QAccessible::State TDisplayAccessible::state() const {
  QAccessible::State state = QAccessibleWidget::state();
  state.readOnly = true;
  state.multiLine = true;
  state.selectableText = true;
  return state;
}

QString TDisplayAccessible::text(QAccessible::Text type) const {
  if (type == QAccessible::Value) return View()->PlainText();
  return QAccessibleWidget::text(type);
}

void TDisplayAccessible::selection(int selectionIndex, int* startOffset, int* endOffset) const {
  *startOffset = *endOffset = 0;
  const DisplayText& text = View()->Text();
  if (selectionIndex != 0 || !text.HasSelection()) return;
  *startOffset = ClampToInt(text.Offset(text.SelectionStart()));
  *endOffset = ClampToInt(text.Offset(text.SelectionEnd()));
}

int TDisplayAccessible::selectionCount() const { return View()->HasSelection() ? 1 : 0; }

void TDisplayAccessible::addSelection(int startOffset, int endOffset) {
  setSelection(0, startOffset, endOffset);
}

void TDisplayAccessible::removeSelection(int selectionIndex) {
  if (selectionIndex != 0) return;
  View()->MoveCaret(View()->Text().Caret(), false);
}

void TDisplayAccessible::setSelection(int selectionIndex, int startOffset, int endOffset) {
  if (selectionIndex != 0) return;
  const DisplayText& text = View()->Text();
  View()->SelectRange(text.PositionAt(FromInt(startOffset)), text.PositionAt(FromInt(endOffset)));
}

int TDisplayAccessible::cursorPosition() const {
  const DisplayText& text = View()->Text();
  return ClampToInt(text.Offset(text.Caret()));
}

void TDisplayAccessible::setCursorPosition(int position) {
  View()->MoveCaret(View()->Text().PositionAt(FromInt(position)), false);
}

QString TDisplayAccessible::text(int startOffset, int endOffset) const {
  const DisplayText& text = View()->Text();
  if (endOffset <= startOffset) return QString();
  return QString::fromStdU16String(
      text.Text(text.PositionAt(FromInt(startOffset)), text.PositionAt(FromInt(endOffset))));
}

bool TDisplayAccessible::LineAt(int offset, int* startOffset, int* endOffset) const {
  const DisplayText& text = View()->Text();
  if (offset < 0 || FromInt(offset) > text.Length()) return false;
  const TextPosition at = text.PositionAt(FromInt(offset));
  const std::uint64_t start = text.Offset(TextPosition{at.line, 0});
  std::uint64_t end = start + text.LineLength(at.line);
  if (at.line + 1 < text.LineCount()) end += 2;
  *startOffset = ClampToInt(start);
  *endOffset = ClampToInt(end);
  return true;
}

QString TDisplayAccessible::textAtOffset(int offset, QAccessible::TextBoundaryType boundaryType,
                                         int* startOffset, int* endOffset) const {
  if (!IsLineBoundary(boundaryType))
    return QAccessibleTextInterface::textAtOffset(offset, boundaryType, startOffset, endOffset);
  *startOffset = *endOffset = -1;
  if (!LineAt(offset, startOffset, endOffset)) return QString();
  return text(*startOffset, *endOffset);
}

QString TDisplayAccessible::textBeforeOffset(int offset, QAccessible::TextBoundaryType boundaryType,
                                             int* startOffset, int* endOffset) const {
  if (!IsLineBoundary(boundaryType))
    return QAccessibleTextInterface::textBeforeOffset(offset, boundaryType, startOffset, endOffset);
  *startOffset = *endOffset = -1;
  int start = 0;
  int end = 0;
  if (!LineAt(offset, &start, &end) || start == 0) return QString();
  if (!LineAt(start - 1, startOffset, endOffset)) return QString();
  return text(*startOffset, *endOffset);
}

QString TDisplayAccessible::textAfterOffset(int offset, QAccessible::TextBoundaryType boundaryType,
                                            int* startOffset, int* endOffset) const {
  if (!IsLineBoundary(boundaryType))
    return QAccessibleTextInterface::textAfterOffset(offset, boundaryType, startOffset, endOffset);
  *startOffset = *endOffset = -1;
  int start = 0;
  int end = 0;
  if (!LineAt(offset, &start, &end) || FromInt(end) >= View()->Text().Length()) return QString();
  if (end == start || !LineAt(end, startOffset, endOffset)) return QString();
  return text(*startOffset, *endOffset);
}

int TDisplayAccessible::characterCount() const { return ClampToInt(View()->Text().Length()); }

QRect TDisplayAccessible::characterRect(int offset) const {
  const QRect box = View()->CharacterRect(View()->Text().PositionAt(FromInt(offset)));
  return QRect(View()->viewport()->mapToGlobal(box.topLeft()), box.size());
}

int TDisplayAccessible::offsetAtPoint(const QPoint& point) const {
  const QPoint local = View()->viewport()->mapFromGlobal(point);
  if (!View()->viewport()->rect().contains(local)) return -1;
  return ClampToInt(View()->Text().Offset(View()->PositionAt(local)));
}

void TDisplayAccessible::scrollToSubstring(int startIndex, int endIndex) {
  const DisplayText& text = View()->Text();
  View()->EnsureVisible(text.PositionAt(FromInt(endIndex)));
  View()->EnsureVisible(text.PositionAt(FromInt(startIndex)));
}

QString TDisplayAccessible::attributes(int offset, int* startOffset, int* endOffset) const {
  const DisplayText& text = View()->Text();
  *startOffset = *endOffset = -1;
  if (offset < 0 || FromInt(offset) >= text.Length()) return QString();
  const TextPosition at = text.PositionAt(FromInt(offset));
  const DisplayLine& line = text.Line(at.line);
  if (at.column >= line.Length()) {  // the line break
    *startOffset = offset;
    *endOffset = offset + 1;
    return QString();
  }
  std::size_t begin = 0;
  std::size_t end = 0;
  line.Runs().RunBounds(at.column, line.Length(), begin, end);
  const std::uint64_t lineStart = text.Offset(TextPosition{at.line, 0});
  *startOffset = ClampToInt(lineStart + begin);
  *endOffset = ClampToInt(lineStart + end);
  const QColor colour = View()->ColourAt(at.line, at.column);
  return QStringLiteral("color:rgb(%1,%2,%3);").arg(colour.red()).arg(colour.green()).arg(colour.blue());
}

QAccessibleInterface* DisplayAccessibleFactory(const QString& className, QObject* object) {
  if (className != QLatin1StringView("toolkit::TDisplayView") || !object || !object->isWidgetType())
    return nullptr;
  auto* view = qobject_cast<TDisplayView*>(object);
  if (!view) return nullptr;
  // Qt's accessibility cache takes ownership of the interface it is handed.
  return new TDisplayAccessible(view);
}

}  // namespace toolkit
