// Small text helpers: UTF-8/UTF-16 conversion and the "%s"/"%d" message formatting of the runtime.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace rtl {

std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view utf16);

// One argument of Format: a text for "%s" or a number for "%d".
class FormatArg {
 public:
  FormatArg(std::u16string_view text) : text_(text) {}  // NOLINT: implicit by design
  FormatArg(const char16_t* text) : text_(text) {}      // NOLINT
  FormatArg(const std::u16string& text) : text_(text) {}  // NOLINT
  FormatArg(int64_t number);                             // NOLINT
  FormatArg(int32_t number) : FormatArg(int64_t{number}) {}  // NOLINT
  FormatArg(uint32_t number) : FormatArg(int64_t{number}) {}  // NOLINT
  const std::u16string& Text() const { return text_; }

 private:
  std::u16string text_;
};

// Replaces each "%s" and "%d" of pattern, left to right, by the next argument; "%%" gives "%".
std::u16string Format(std::u16string_view pattern, std::initializer_list<FormatArg> args);

// Letters a-z folded to A-Z, every other character unchanged.
std::u16string AsciiUpper(std::u16string_view text);
// Case-insensitive equality for ASCII and Latin-1 letters.
bool SameTextIgnoreCase(std::u16string_view a, std::u16string_view b);
// Case-insensitive order for ASCII and Latin-1 letters (negative, 0, positive).
int CompareTextIgnoreCase(std::u16string_view a, std::u16string_view b);

}  // namespace rtl
