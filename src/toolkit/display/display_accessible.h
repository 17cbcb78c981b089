// The display as assistive tools and tests see it: an editable-text role that is read-only,
// with Qt's text interface (text, offsets, caret, selection, character boxes).
#pragma once

#include <QAccessibleWidget>
#include <QString>

namespace toolkit {

class TDisplayView;

class TDisplayAccessible : public QAccessibleWidget, public QAccessibleTextInterface {
 public:
  explicit TDisplayAccessible(TDisplayView* view);

  void* interface_cast(QAccessible::InterfaceType type) override;
  QAccessible::State state() const override;
  QString text(QAccessible::Text type) const override;

  // Offsets count UTF-16 units of the whole text, lines joined by CR LF; past INT_MAX they are
  // out of reach.
  void selection(int selectionIndex, int* startOffset, int* endOffset) const override;
  int selectionCount() const override;
  void addSelection(int startOffset, int endOffset) override;
  void removeSelection(int selectionIndex) override;
  void setSelection(int selectionIndex, int startOffset, int endOffset) override;
  int cursorPosition() const override;
  void setCursorPosition(int position) override;
  QString text(int startOffset, int endOffset) const override;
  // Lines (and paragraphs, since nothing wraps) are found without reading the whole text.
  QString textBeforeOffset(int offset, QAccessible::TextBoundaryType boundaryType, int* startOffset,
                           int* endOffset) const override;
  QString textAfterOffset(int offset, QAccessible::TextBoundaryType boundaryType, int* startOffset,
                          int* endOffset) const override;
  QString textAtOffset(int offset, QAccessible::TextBoundaryType boundaryType, int* startOffset,
                       int* endOffset) const override;
  int characterCount() const override;
  QRect characterRect(int offset) const override;
  int offsetAtPoint(const QPoint& point) const override;
  void scrollToSubstring(int startIndex, int endIndex) override;
  QString attributes(int offset, int* startOffset, int* endOffset) const override;

 private:
  TDisplayView* View() const;
  // The line holding offset as [start, end) with its CR LF, or false when out of the text.
  bool LineAt(int offset, int* startOffset, int* endOffset) const;
};

// For QAccessible::installFactory: the interface of a TDisplayView, or null.
QAccessibleInterface* DisplayAccessibleFactory(const QString& className, QObject* object);

}  // namespace toolkit
