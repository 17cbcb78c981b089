// One line of the display: its characters as Latin-1 bytes while every one of them fits in a
// byte (the usual case for a serial line), as UTF-16 otherwise, and their colour runs.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <variant>

#include "toolkit/display/colour_runs.h"

namespace toolkit {

class DisplayLine {
 public:
  DisplayLine() = default;
  // A line holding text (no line breaks) in colour.
  DisplayLine(std::u16string_view text, Rgb colour);

  std::size_t Length() const;
  bool IsWide() const { return text_.index() == 1; }
  // The characters, one byte each; only while !IsWide().
  std::string_view Narrow() const { return std::get<0>(text_); }
  // The characters as UTF-16; only while IsWide().
  std::u16string_view Wide() const { return std::get<1>(text_); }
  char16_t At(std::size_t column) const;
  // Appends the characters [from, to) to out.
  void AppendTo(std::size_t from, std::size_t to, std::u16string& out) const;

  const ColourRuns& Runs() const { return runs_; }
  Rgb ColourAt(std::size_t column) const { return runs_.At(column); }

  // Inserts text (no line breaks) in colour at column (clamped to the length).
  void Insert(std::size_t column, std::u16string_view text, Rgb colour);
  // Removes the characters [from, to).
  void Erase(std::size_t from, std::size_t to);
  // Moves the characters from column on into the result.
  DisplayLine SplitOff(std::size_t column);
  // Appends the characters of tail.
  void Append(DisplayLine&& tail);
  // Gives back the storage that growth left unused.
  void Compact();

 private:
  void Widen();

  std::variant<std::string, std::u16string> text_;
  ColourRuns runs_;
};

}  // namespace toolkit
