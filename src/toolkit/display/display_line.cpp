#include "toolkit/display/display_line.h"

#include <algorithm>

namespace toolkit {

namespace {

bool FitsInByte(std::u16string_view text) {
  return std::all_of(text.begin(), text.end(), [](char16_t c) { return c < 0x100; });
}

void AppendNarrow(std::string& to, std::u16string_view text) {
  const std::size_t at = to.size();
  to.resize(at + text.size());
  std::transform(text.begin(), text.end(), to.begin() + static_cast<std::ptrdiff_t>(at),
                 [](char16_t c) { return static_cast<char>(static_cast<unsigned char>(c)); });
}

}  // namespace

DisplayLine::DisplayLine(std::u16string_view text, Rgb colour) : runs_(colour) {
  if (FitsInByte(text)) {
    AppendNarrow(std::get<0>(text_), text);
  } else {
    text_ = std::u16string(text);
  }
}

std::size_t DisplayLine::Length() const {
  return IsWide() ? Wide().size() : Narrow().size();
}

char16_t DisplayLine::At(std::size_t column) const {
  return IsWide() ? Wide()[column] : static_cast<unsigned char>(Narrow()[column]);
}

void DisplayLine::AppendTo(std::size_t from, std::size_t to, std::u16string& out) const {
  to = std::min(to, Length());
  if (from >= to) return;
  if (IsWide()) {
    out.append(Wide().substr(from, to - from));
    return;
  }
  const std::string_view bytes = Narrow().substr(from, to - from);
  const std::size_t at = out.size();
  out.resize(at + bytes.size());
  std::transform(bytes.begin(), bytes.end(), out.begin() + static_cast<std::ptrdiff_t>(at),
                 [](char c) { return static_cast<char16_t>(static_cast<unsigned char>(c)); });
}

void DisplayLine::Widen() {
  if (IsWide()) return;
  std::u16string wide;
  wide.reserve(Narrow().size());
  AppendTo(0, Narrow().size(), wide);
  text_ = std::move(wide);
}

void DisplayLine::Insert(std::size_t column, std::u16string_view text, Rgb colour) {
  if (text.empty()) return;
  const std::size_t length = Length();
  column = std::min(column, length);
  if (!IsWide() && !FitsInByte(text)) Widen();
  if (IsWide()) {
    std::get<1>(text_).insert(column, text);
  } else if (column == length) {
    AppendNarrow(std::get<0>(text_), text);
  } else {
    std::string bytes;
    AppendNarrow(bytes, text);
    std::get<0>(text_).insert(column, bytes);
  }
  runs_.Insert(column, text.size(), colour, length);
}

void DisplayLine::Erase(std::size_t from, std::size_t to) {
  const std::size_t length = Length();
  to = std::min(to, length);
  if (from >= to) return;
  runs_.Erase(from, to, length);
  if (IsWide()) {
    std::get<1>(text_).erase(from, to - from);
  } else {
    std::get<0>(text_).erase(from, to - from);
  }
}

DisplayLine DisplayLine::SplitOff(std::size_t column) {
  const std::size_t length = Length();
  column = std::min(column, length);
  DisplayLine tail;
  tail.runs_ = runs_.SplitOff(column, length);
  if (IsWide()) {
    tail.text_ = std::u16string(Wide().substr(column));
    std::get<1>(text_).resize(column);
  } else {
    std::get<0>(tail.text_).assign(Narrow().substr(column));
    std::get<0>(text_).resize(column);
  }
  return tail;
}

void DisplayLine::Append(DisplayLine&& tail) {
  const std::size_t length = Length();
  const std::size_t tailLength = tail.Length();
  if (tailLength == 0) return;
  if (length == 0) {
    *this = std::move(tail);
    return;
  }
  runs_.Append(tail.runs_, length, tailLength);
  if (tail.IsWide()) Widen();
  if (IsWide()) {
    std::u16string& mine = std::get<1>(text_);
    if (tail.IsWide()) {
      mine.append(tail.Wide());
    } else {
      tail.AppendTo(0, tailLength, mine);
    }
  } else {
    std::get<0>(text_).append(tail.Narrow());
  }
}

void DisplayLine::Compact() {
  std::visit([](auto& text) { text.shrink_to_fit(); }, text_);
  runs_.ShrinkToFit();
}

}  // namespace toolkit
