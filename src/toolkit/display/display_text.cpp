#include "toolkit/display/display_text.h"

#include <algorithm>
#include <iterator>

namespace toolkit {

namespace {

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c < 0xDC00; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c < 0xE000; }

// Kinds of characters for word steps: blanks, word characters, everything else. Letters are
// recognised for ASCII and Latin-1; other characters above Latin-1 count as word characters
// unless they are general punctuation.
enum class CharKind { Blank, Word, Other };

CharKind KindOf(char16_t c) {
  if (c == u' ' || c == u'\t' || c == 0xA0) return CharKind::Blank;
  if ((c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || c == u'_')
    return CharKind::Word;
  if (c < 0xC0) return (c == 0xAA || c == 0xB5 || c == 0xBA) ? CharKind::Word : CharKind::Other;
  if (c == 0xD7 || c == 0xF7) return CharKind::Other;
  if (c >= 0x2000 && c <= 0x206F) return c <= 0x200B ? CharKind::Blank : CharKind::Other;
  if (c == 0x3000) return CharKind::Blank;
  return CharKind::Word;
}

// Splits text at its line breaks (CR LF, lone CR, lone LF) into the pieces between them.
std::vector<std::u16string_view> SplitLines(std::u16string_view text) {
  std::vector<std::u16string_view> pieces;
  std::size_t begin = 0;
  for (std::size_t i = 0; i < text.size();) {
    const char16_t c = text[i];
    if (c != u'\r' && c != u'\n') {
      ++i;
      continue;
    }
    pieces.push_back(text.substr(begin, i - begin));
    i += (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') ? 2 : 1;
    begin = i;
  }
  pieces.push_back(text.substr(begin));
  return pieces;
}

}  // namespace

DisplayText::DisplayText() { lines_.emplace_back(); }

TextPosition DisplayText::End() const {
  return TextPosition{lines_.size() - 1, lines_.back().Length()};
}

TextPosition DisplayText::Clamp(TextPosition position) const {
  if (position.line >= lines_.size()) return End();
  position.column = std::min(position.column, lines_[position.line].Length());
  return position;
}

void DisplayText::CaretMoved() {
  // A CR LF pair is completed only at the very place the CR left the caret.
  if (pendingCr_ && (caret_ != *pendingCr_ || anchor_ != caret_)) pendingCr_.reset();
}

void DisplayText::MoveCaretToEnd() {
  caret_ = anchor_ = End();
  CaretMoved();
}

void DisplayText::SetCaret(TextPosition position, bool keepAnchor) {
  caret_ = Clamp(position);
  if (!keepAnchor) anchor_ = caret_;
  CaretMoved();
}

void DisplayText::Select(TextPosition anchor, TextPosition caret) {
  anchor_ = Clamp(anchor);
  caret_ = Clamp(caret);
  CaretMoved();
}

void DisplayText::SelectAll() { Select(TextPosition{}, End()); }

Rgb DisplayText::ColourAt(TextPosition position) const {
  position = Clamp(position);
  return lines_[position.line].ColourAt(position.column);
}

void DisplayText::Edited(std::size_t firstLine, bool appended) {
  ++revision_;
  if (!appended) ++generation_;
  startsValid_ = std::min(startsValid_, firstLine + 1);
}

TextChange DisplayText::InsertAtCaret(std::u16string_view text) {
  const bool hadSelection = HasSelection();
  if (!hadSelection && pendingCr_ && *pendingCr_ == caret_ && !text.empty() && text.front() == u'\n') {
    text.remove_prefix(1);  // completes the CR LF pair that the last insertion began
    pendingCr_.reset();
  }
  TextChange change;
  if (text.empty() && !hadSelection) return change;  // nothing inserted: a pending CR stays
  pendingCr_.reset();

  const TextPosition start = SelectionStart();
  const TextPosition end = SelectionEnd();
  change.changed = true;
  change.appended = !hadSelection && caret_ == End();
  change.firstLine = start.line;
  change.column = start.column;
  change.oldLastLine = end.line;
  if (hadSelection) EraseRange(start, end);
  caret_ = anchor_ = InsertRaw(start, text);
  change.newLastLine = caret_.line;
  if (!text.empty() && text.back() == u'\r') pendingCr_ = caret_;
  Edited(start.line, change.appended);
  return change;
}

TextChange DisplayText::Clear() {
  TextChange change;
  change.changed = true;
  change.oldLastLine = lines_.size() - 1;
  lines_.clear();
  lines_.emplace_back();
  characters_ = 0;
  caret_ = anchor_ = TextPosition{};
  pendingCr_.reset();
  starts_.clear();
  startsValid_ = 0;
  Edited(0, false);
  return change;
}

TextPosition DisplayText::InsertRaw(TextPosition position, std::u16string_view text) {
  if (text.empty()) return position;
  const std::vector<std::u16string_view> pieces = SplitLines(text);
  DisplayLine& first = lines_[position.line];
  for (std::u16string_view piece : pieces) characters_ += piece.size();
  if (pieces.size() == 1) {
    first.Insert(position.column, pieces.front(), colour_);
    return TextPosition{position.line, position.column + pieces.front().size()};
  }
  DisplayLine tail = first.SplitOff(position.column);
  first.Insert(position.column, pieces.front(), colour_);
  first.Compact();  // a finished line keeps no room to grow
  std::vector<DisplayLine> added;
  added.reserve(pieces.size() - 1);
  for (std::size_t i = 1; i < pieces.size(); ++i) added.emplace_back(pieces[i], colour_);
  const TextPosition after{position.line + added.size(), pieces.back().size()};
  added.back().Append(std::move(tail));
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(position.line + 1),
                std::make_move_iterator(added.begin()), std::make_move_iterator(added.end()));
  return after;
}

void DisplayText::EraseRange(TextPosition from, TextPosition to) {
  if (from.line == to.line) {
    characters_ -= to.column - from.column;
    lines_[from.line].Erase(from.column, to.column);
    return;
  }
  DisplayLine& first = lines_[from.line];
  characters_ -= first.Length() - from.column;
  first.Erase(from.column, first.Length());
  for (std::size_t line = from.line + 1; line < to.line; ++line) characters_ -= lines_[line].Length();
  DisplayLine& last = lines_[to.line];
  characters_ -= to.column;
  last.Erase(0, to.column);
  first.Append(std::move(last));
  lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(from.line + 1),
               lines_.begin() + static_cast<std::ptrdiff_t>(to.line + 1));
}

TextPosition DisplayText::Next(TextPosition position) const {
  position = Clamp(position);
  const DisplayLine& line = lines_[position.line];
  if (position.column >= line.Length()) {
    if (position.line + 1 < lines_.size()) return TextPosition{position.line + 1, 0};
    return position;
  }
  std::size_t column = position.column + 1;
  if (column < line.Length() && IsHighSurrogate(line.At(column - 1)) && IsLowSurrogate(line.At(column)))
    ++column;
  return TextPosition{position.line, column};
}

TextPosition DisplayText::Previous(TextPosition position) const {
  position = Clamp(position);
  if (position.column == 0) {
    if (position.line == 0) return position;
    return TextPosition{position.line - 1, lines_[position.line - 1].Length()};
  }
  const DisplayLine& line = lines_[position.line];
  std::size_t column = position.column - 1;
  if (column > 0 && IsLowSurrogate(line.At(column)) && IsHighSurrogate(line.At(column - 1))) --column;
  return TextPosition{position.line, column};
}

TextPosition DisplayText::NextWord(TextPosition position) const {
  position = Clamp(position);
  const DisplayLine& line = lines_[position.line];
  const std::size_t length = line.Length();
  if (position.column >= length) return Next(position);
  std::size_t column = position.column;
  const CharKind kind = KindOf(line.At(column));
  if (kind != CharKind::Blank)
    while (column < length && KindOf(line.At(column)) == kind) ++column;
  while (column < length && KindOf(line.At(column)) == CharKind::Blank) ++column;
  return TextPosition{position.line, column};
}

TextPosition DisplayText::PreviousWord(TextPosition position) const {
  position = Clamp(position);
  if (position.column == 0) return Previous(position);
  const DisplayLine& line = lines_[position.line];
  std::size_t column = position.column;
  while (column > 0 && KindOf(line.At(column - 1)) == CharKind::Blank) --column;
  if (column > 0) {
    const CharKind kind = KindOf(line.At(column - 1));
    while (column > 0 && KindOf(line.At(column - 1)) == kind) --column;
  }
  return TextPosition{position.line, column};
}

std::pair<TextPosition, TextPosition> DisplayText::WordAt(TextPosition position) const {
  position = Clamp(position);
  const DisplayLine& line = lines_[position.line];
  const std::size_t length = line.Length();
  if (length == 0) return {position, position};
  std::size_t at = std::min(position.column, length - 1);
  const CharKind kind = KindOf(line.At(at));
  std::size_t begin = at;
  std::size_t end = at + 1;
  while (begin > 0 && KindOf(line.At(begin - 1)) == kind) --begin;
  while (end < length && KindOf(line.At(end)) == kind) ++end;
  return {TextPosition{position.line, begin}, TextPosition{position.line, end}};
}

std::u16string DisplayText::Text(TextPosition from, TextPosition to) const {
  from = Clamp(from);
  to = Clamp(to);
  std::u16string text;
  if (to <= from) return text;
  text.reserve(static_cast<std::size_t>(Offset(to) - Offset(from)));
  for (std::size_t line = from.line; line <= to.line; ++line) {
    const std::size_t begin = line == from.line ? from.column : 0;
    const std::size_t end = line == to.line ? to.column : lines_[line].Length();
    lines_[line].AppendTo(begin, end, text);
    if (line != to.line) text.append(u"\r\n");
  }
  return text;
}

std::uint64_t DisplayText::Offset(TextPosition position) const {
  position = Clamp(position);
  if (starts_.size() < lines_.size()) starts_.resize(lines_.size());
  if (startsValid_ == 0) {
    starts_[0] = 0;
    startsValid_ = 1;
  }
  while (startsValid_ <= position.line) {
    const std::size_t line = startsValid_;
    starts_[line] = starts_[line - 1] + lines_[line - 1].Length() + 2;
    ++startsValid_;
  }
  return starts_[position.line] + position.column;
}

TextPosition DisplayText::PositionAt(std::uint64_t offset) const {
  Offset(End());  // fills every line start
  auto it = std::upper_bound(starts_.begin(), starts_.begin() + static_cast<std::ptrdiff_t>(lines_.size()),
                             offset);
  const std::size_t line = static_cast<std::size_t>(it - starts_.begin()) - 1;
  const std::uint64_t column = std::min<std::uint64_t>(offset - starts_[line], lines_[line].Length());
  return TextPosition{line, static_cast<std::size_t>(column)};
}

void DisplayText::Write(const Sink& sink) const { WriteFrom(TextPosition{}, sink); }

bool DisplayText::WriteSince(const Mark& mark, const Sink& sink) const {
  if (mark.generation != generation_ || End() < mark.end) return false;
  WriteFrom(mark.end, sink);
  return true;
}

void DisplayText::WriteFrom(TextPosition from, const Sink& sink) const {
  std::u16string piece;
  piece.reserve(kPiece);
  auto flush = [&](bool last) {
    if (piece.empty()) return;
    if (!last && piece.size() > 1 && IsHighSurrogate(piece.back())) {
      const char16_t high = piece.back();
      piece.pop_back();
      sink(piece);
      piece.assign(1, high);
      return;
    }
    sink(piece);
    piece.clear();
  };
  for (std::size_t line = from.line; line < lines_.size(); ++line) {
    std::size_t column = line == from.line ? from.column : 0;
    const std::size_t length = lines_[line].Length();
    while (column < length) {
      const std::size_t count = std::min(length - column, kPiece - piece.size());
      lines_[line].AppendTo(column, column + count, piece);
      column += count;
      if (piece.size() >= kPiece) flush(false);
    }
    if (line + 1 < lines_.size()) {
      for (char16_t c : {u'\r', u'\n'}) {
        piece.push_back(c);
        if (piece.size() >= kPiece) flush(false);
      }
    }
  }
  flush(true);
}

}  // namespace toolkit
