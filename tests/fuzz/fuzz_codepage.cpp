// Fuzz target of Windows-1252: decoding follows the table, every decoded byte string encodes
// back to itself, and encoding any UTF-16 text gives one byte per character: the exact byte
// where the code page has the character, else "?" or a best-fit byte that is no control.
//
// Input: bytes to decode; the same bytes read as 16-bit units are the text to encode.
#include <cstdint>

#include "fuzz/reference.h"
#include "runtime/codepage.h"

namespace {

bool IsHigh(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLow(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// A character the encoder has to fall back for may become "?" or a printable character of the
// code page other than itself; never a control such as CR, LF or NUL.
bool AcceptableFallback(char byte, char16_t c) {
  const char16_t shown = fuzzref::DecodeByte(static_cast<uint8_t>(byte));
  if (byte == '?') return true;
  return shown != c && shown >= 0x20 && shown != 0x7F && !(shown >= 0x80 && shown < 0xA0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);

  const std::u16string decoded = rtl::UnicodeFromAnsi(bytes);
  FUZZ_CHECK(decoded == fuzzref::Decode(bytes));
  for (char b : bytes)
    FUZZ_CHECK(rtl::AnsiCharToUnicode(static_cast<uint8_t>(b)) == fuzzref::DecodeByte(static_cast<uint8_t>(b)));
  FUZZ_CHECK(rtl::AnsiFromUnicode(decoded) == bytes);

  const std::u16string text = fuzzref::Units(bytes);
  const std::string encoded = rtl::AnsiFromUnicode(text);
  size_t out = 0;
  for (size_t i = 0; i < text.size(); ++i, ++out) {
    FUZZ_CHECK(out < encoded.size());
    const char16_t c = text[i];
    if (IsHigh(c) && i + 1 < text.size() && IsLow(text[i + 1])) {
      ++i;  // a character beyond the first plane: one "?"
      FUZZ_CHECK(encoded[out] == '?');
    } else if (IsHigh(c) || IsLow(c)) {
      FUZZ_CHECK(encoded[out] == '?');
    } else if (std::optional<uint8_t> exact = fuzzref::ExactByte(c)) {
      FUZZ_CHECK(static_cast<uint8_t>(encoded[out]) == *exact);
    } else {
      FUZZ_CHECK(AcceptableFallback(encoded[out], c));
    }
  }
  FUZZ_CHECK(out == encoded.size());
  // What came out is text of the code page: it decodes and encodes to itself.
  FUZZ_CHECK(rtl::AnsiFromUnicode(rtl::UnicodeFromAnsi(encoded)) == encoded);
  return 0;
}
