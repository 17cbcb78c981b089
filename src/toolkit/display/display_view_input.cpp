// Keys and mouse of the display: characters go to the window's handler, other keys move the
// caret, the mouse places it and selects.
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <algorithm>

#include "toolkit/display/display_view.h"

namespace toolkit {

namespace {

// The characters a key gives, as the window's key handler sees them; empty for keys that give
// none (arrows, paging, function keys, Delete).
QString KeyCharacters(const QKeyEvent* event) {
  const Qt::KeyboardModifiers modifiers = event->modifiers();
  const bool control = modifiers & Qt::ControlModifier;
  const bool alt = modifiers & Qt::AltModifier;
  const int key = event->key();
  if (alt) return QString();
  if (key == Qt::Key_Return || key == Qt::Key_Enter) return QString(QChar(control ? 10 : 13));
  if (control) {
    if (key >= Qt::Key_A && key <= Qt::Key_Z) return QString(QChar(key - Qt::Key_A + 1));
    if (key == Qt::Key_BracketLeft) return QString(QChar(27));
    if (key == Qt::Key_Backslash) return QString(QChar(28));
    if (key == Qt::Key_BracketRight) return QString(QChar(29));
    return QString();
  }
  if (key == Qt::Key_Delete) return QString();
  return event->text();
}

}  // namespace

// ---- Keys -------------------------------------------------------------------------------

bool TDisplayView::event(QEvent* event) {
  if (event->type() == QEvent::ShortcutOverride) {
    auto* key = static_cast<QKeyEvent*>(event);
    if (key->matches(QKeySequence::SelectAll) || key->matches(QKeySequence::Copy) ||
        !KeyCharacters(key).isEmpty()) {
      event->accept();
      return true;
    }
  } else if (event->type() == QEvent::KeyPress) {
    // TAB is a character for the window's key handler, not a focus move.
    auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Tab && !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
      keyPressEvent(key);
      return true;
    }
  } else if (event->type() == QEvent::Paint && hasFocus()) {
    const bool done = QAbstractScrollArea::event(event);  // the frame
    PaintFocusFrame();
    return done;
  }
  return QAbstractScrollArea::event(event);
}

void TDisplayView::keyPressEvent(QKeyEvent* event) {
  // The view's own select-all and copy stay available even when the window's handler consumes
  // their characters (1 and 3); the handler still sees them afterwards.
  if (event->matches(QKeySequence::SelectAll)) {
    SelectAll();
  } else if (event->matches(QKeySequence::Copy)) {
    Copy();
  } else if (HandleNavigation(event)) {
    event->accept();
    return;
  }
  const QString characters = KeyCharacters(event);
  if (characters.isEmpty()) {
    if (event->matches(QKeySequence::SelectAll) || event->matches(QKeySequence::Copy)) {
      event->accept();
    } else {
      event->ignore();
    }
    return;
  }
  event->accept();
  for (QChar character : characters) {
    QChar key = character;
    if (OnKeyPress) OnKeyPress(key);
    // An unconsumed character is not inserted: the view is read-only.
  }
}

bool TDisplayView::HandleNavigation(QKeyEvent* event) {
  enum class Step { None, Next, Previous, NextWord, PreviousWord, Down, Up, PageDown, PageUp, Home, End, Start, Finish };
  struct Binding {
    QKeySequence::StandardKey move;
    QKeySequence::StandardKey select;
    Step step;
  };
  static const Binding kBindings[] = {
      {QKeySequence::MoveToNextChar, QKeySequence::SelectNextChar, Step::Next},
      {QKeySequence::MoveToPreviousChar, QKeySequence::SelectPreviousChar, Step::Previous},
      {QKeySequence::MoveToNextWord, QKeySequence::SelectNextWord, Step::NextWord},
      {QKeySequence::MoveToPreviousWord, QKeySequence::SelectPreviousWord, Step::PreviousWord},
      {QKeySequence::MoveToNextLine, QKeySequence::SelectNextLine, Step::Down},
      {QKeySequence::MoveToPreviousLine, QKeySequence::SelectPreviousLine, Step::Up},
      {QKeySequence::MoveToNextPage, QKeySequence::SelectNextPage, Step::PageDown},
      {QKeySequence::MoveToPreviousPage, QKeySequence::SelectPreviousPage, Step::PageUp},
      {QKeySequence::MoveToStartOfLine, QKeySequence::SelectStartOfLine, Step::Home},
      {QKeySequence::MoveToEndOfLine, QKeySequence::SelectEndOfLine, Step::End},
      {QKeySequence::MoveToStartOfBlock, QKeySequence::SelectStartOfBlock, Step::Home},
      {QKeySequence::MoveToEndOfBlock, QKeySequence::SelectEndOfBlock, Step::End},
      {QKeySequence::MoveToStartOfDocument, QKeySequence::SelectStartOfDocument, Step::Start},
      {QKeySequence::MoveToEndOfDocument, QKeySequence::SelectEndOfDocument, Step::Finish},
  };
  Step step = Step::None;
  bool select = false;
  for (const Binding& binding : kBindings) {
    if (event->matches(binding.move)) {
      step = binding.step;
      break;
    }
    if (event->matches(binding.select)) {
      step = binding.step;
      select = true;
      break;
    }
  }
  if (step == Step::None) return false;

  const TextPosition caret = text_.Caret();
  TextPosition target = caret;
  const bool vertical = step == Step::Down || step == Step::Up || step == Step::PageDown || step == Step::PageUp;
  double goal = goalX_;
  if (vertical && goal < 0) goal = geometry_.X(caret.line, caret.column);
  const std::size_t page = VisibleLines();
  const std::size_t lastLine = text_.LineCount() - 1;
  std::size_t line = caret.line;
  switch (step) {
    case Step::Next:
      target = !select && text_.HasSelection() ? text_.SelectionEnd() : text_.Next(caret);
      break;
    case Step::Previous:
      target = !select && text_.HasSelection() ? text_.SelectionStart() : text_.Previous(caret);
      break;
    case Step::NextWord: target = text_.NextWord(caret); break;
    case Step::PreviousWord: target = text_.PreviousWord(caret); break;
    case Step::Down: line = std::min(lastLine, caret.line + 1); break;
    case Step::Up: line = caret.line > 0 ? caret.line - 1 : 0; break;
    case Step::PageDown: line = std::min(lastLine, caret.line + page); break;
    case Step::PageUp: line = caret.line > page ? caret.line - page : 0; break;
    case Step::Home: target = TextPosition{caret.line, 0}; break;
    case Step::End: target = TextPosition{caret.line, text_.LineLength(caret.line)}; break;
    case Step::Start: target = TextPosition{}; break;
    case Step::Finish: target = text_.End(); break;
    case Step::None: break;
  }
  if (vertical) {
    if (line == caret.line && (step == Step::Down || step == Step::PageDown) && line == lastLine) {
      target = text_.End();
    } else if (line == caret.line && (step == Step::Up || step == Step::PageUp) && line == 0) {
      target = TextPosition{};
    } else {
      target = TextPosition{line, geometry_.ColumnAt(line, goal)};
    }
    if (step == Step::PageDown) firstLine_ = std::min<std::uint64_t>(firstLine_ + page, vScale_.Extent());
    if (step == Step::PageUp) firstLine_ = firstLine_ > page ? firstLine_ - page : 0;
  }
  MoveCaret(target, select);
  goalX_ = vertical ? goal : -1;
  SyncBars();
  return true;
}

// ---- Mouse ------------------------------------------------------------------------------

void TDisplayView::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) {
    QAbstractScrollArea::mousePressEvent(event);
    return;
  }
  goalX_ = -1;
  dragging_ = true;
  MoveCaret(PositionAt(event->position().toPoint()), event->modifiers() & Qt::ShiftModifier);
}

void TDisplayView::mouseMoveEvent(QMouseEvent* event) {
  if (!dragging_ || !(event->buttons() & Qt::LeftButton)) return;
  dragPoint_ = event->position().toPoint();
  ScrollWhileDragging(dragPoint_);
  if (viewport()->rect().contains(dragPoint_)) {
    dragTimer_.stop();
  } else if (!dragTimer_.isActive()) {
    dragTimer_.start(50, this);  // keeps scrolling while the pointer stays outside
  }
}

void TDisplayView::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  dragging_ = false;
  dragTimer_.stop();
  QClipboard* clipboard = QGuiApplication::clipboard();
  if (text_.HasSelection() && clipboard->supportsSelection())
    clipboard->setText(SelectedText(), QClipboard::Selection);
}

void TDisplayView::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  const auto [begin, end] = text_.WordAt(PositionAt(event->position().toPoint()));
  SelectRange(begin, end);
  dragging_ = false;
}

void TDisplayView::contextMenuEvent(QContextMenuEvent* event) {
  QMenu menu(this);
  QAction* copy = menu.addAction(tr("&Copy"), this, &TDisplayView::Copy);
  copy->setEnabled(text_.HasSelection());
  menu.addAction(tr("Select &All"), this, &TDisplayView::SelectAll);
  menu.exec(event->globalPos());
}

}  // namespace toolkit
