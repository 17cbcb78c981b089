// The text of the terminal's display: lines of coloured characters with a caret, a selection and
// an insertion colour, edited only by inserting at the caret. Standard library only, so it is
// tested without a window; the widget measures and paints it. All calls on one thread.
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "toolkit/display/display_line.h"

namespace toolkit {

// A place between characters: a line and a column (UTF-16 units), both from 0.
struct TextPosition {
  std::size_t line = 0;
  std::size_t column = 0;
  friend auto operator<=>(const TextPosition&, const TextPosition&) = default;
};

// What one edit replaced: lines firstLine..oldLastLine (before) became firstLine..newLastLine
// (after); the characters before column on firstLine and every line before it are unchanged.
struct TextChange {
  bool changed = false;
  bool appended = false;  // the edit only added text at the end
  std::size_t firstLine = 0;
  std::size_t column = 0;
  std::size_t oldLastLine = 0;
  std::size_t newLastLine = 0;
};

class DisplayText {
 public:
  // Receives the text in pieces; a piece never ends between the two halves of a surrogate pair.
  using Sink = std::function<void(std::u16string_view piece)>;
  // Where the text ended at some moment, and which rewrite of the text it belongs to.
  struct Mark {
    std::uint64_t generation = 0;
    TextPosition end;
  };
  static constexpr Rgb kBlack = 0x000000;

  DisplayText();

  // The display operations.
  // Puts the caret after the last character, with an empty selection.
  void MoveCaretToEnd();
  // Text inserted next at the caret takes this colour.
  void SetInsertionColour(Rgb colour) { colour_ = colour; }
  Rgb InsertionColour() const { return colour_; }
  // Replaces the selection (or inserts at the caret) by text in the insertion colour and puts the
  // caret after it. A CR LF pair, a lone CR or a lone LF starts a line; an LF that begins this
  // text where the previous insertion left the caret after a final CR completes that pair.
  TextChange InsertAtCaret(std::u16string_view text);
  // Removes all text; the insertion colour stays.
  TextChange Clear();

  // Caret and selection; positions are clamped to the text (past the last line: its end).
  TextPosition Caret() const { return caret_; }
  TextPosition Anchor() const { return anchor_; }
  bool HasSelection() const { return caret_ != anchor_; }
  TextPosition SelectionStart() const { return std::min(caret_, anchor_); }
  TextPosition SelectionEnd() const { return std::max(caret_, anchor_); }
  // Moves the caret; keepAnchor extends the selection, otherwise it becomes empty.
  void SetCaret(TextPosition position, bool keepAnchor = false);
  void Select(TextPosition anchor, TextPosition caret);
  void SelectAll();
  TextPosition End() const;
  TextPosition Clamp(TextPosition position) const;

  // Steps of the caret: one character (a surrogate pair and a line break are one), or to the
  // start of the previous or next word.
  TextPosition Next(TextPosition position) const;
  TextPosition Previous(TextPosition position) const;
  TextPosition NextWord(TextPosition position) const;
  TextPosition PreviousWord(TextPosition position) const;
  // The word (or run of other characters) around position, as [first, second).
  std::pair<TextPosition, TextPosition> WordAt(TextPosition position) const;

  std::size_t LineCount() const { return lines_.size(); }
  const DisplayLine& Line(std::size_t line) const { return lines_[line]; }
  std::size_t LineLength(std::size_t line) const { return lines_[line].Length(); }
  // Length of the whole text, lines joined by CR LF.
  std::uint64_t Length() const { return characters_ + 2 * (lines_.size() - 1); }
  Rgb ColourAt(TextPosition position) const;

  // The text between two positions, lines joined by CR LF.
  std::u16string Text(TextPosition from, TextPosition to) const;
  std::u16string SelectedText() const { return Text(SelectionStart(), SelectionEnd()); }
  std::u16string PlainText() const { return Text(TextPosition{}, End()); }

  // Offsets in the whole text (lines joined by CR LF) and back.
  std::uint64_t Offset(TextPosition position) const;
  TextPosition PositionAt(std::uint64_t offset) const;

  // Changes at every edit.
  std::uint64_t Revision() const { return revision_; }
  // Hands the whole text to sink in pieces of at most kPiece characters.
  void Write(const Sink& sink) const;
  Mark EndMark() const { return Mark{generation_, End()}; }
  // Hands the text added after mark to sink and returns true, when the text before the mark has
  // not changed since mark was taken; otherwise calls nothing and returns false.
  bool WriteSince(const Mark& mark, const Sink& sink) const;
  static constexpr std::size_t kPiece = 64 * 1024;

 private:
  // Inserts text at position, which must be valid; returns the position after it.
  TextPosition InsertRaw(TextPosition position, std::u16string_view text);
  void EraseRange(TextPosition from, TextPosition to);
  void WriteFrom(TextPosition from, const Sink& sink) const;
  void CaretMoved();
  void Edited(std::size_t firstLine, bool appended);

  std::deque<DisplayLine> lines_;
  std::uint64_t characters_ = 0;  // without line breaks
  TextPosition caret_;
  TextPosition anchor_;
  Rgb colour_ = kBlack;
  // Where the last insertion left the caret when it ended with a CR.
  std::optional<TextPosition> pendingCr_;
  std::uint64_t revision_ = 0;
  std::uint64_t generation_ = 0;  // changes at every edit that is not an append
  // Offsets of line starts, valid for the lines before startsValid_; filled when asked for.
  mutable std::vector<std::uint64_t> starts_;
  mutable std::size_t startsValid_ = 0;
};

}  // namespace toolkit
