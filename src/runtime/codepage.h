// The system's 8-bit (ANSI) code page: Windows-1252, used on the line and in every text file.
#pragma once

#include <string>
#include <string_view>

namespace rtl {

// UTF-16 to Windows-1252. A character the code page lacks becomes its best-fit letter (the first
// character of its canonical decomposition, when that one is representable), otherwise "?".
// The result has one byte per character (a surrogate pair is one character).
std::string AnsiFromUnicode(std::u16string_view text);

// Windows-1252 to UTF-16, one character per byte; the five undefined bytes 0x81, 0x8D, 0x8F,
// 0x90 and 0x9D decode to U+0081... so that every byte survives a round trip.
std::u16string UnicodeFromAnsi(std::string_view bytes);

// One byte of the code page as UTF-16.
char16_t AnsiCharToUnicode(unsigned char byte);

}  // namespace rtl
