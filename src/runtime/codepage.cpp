#include "runtime/codepage.h"

#include <algorithm>
#include <array>

namespace rtl {

namespace {

// Characters of the bytes 0x80..0x9F; the undefined ones stand for themselves.
constexpr std::array<char16_t, 32> kHigh = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98
};

struct BestFit {
  char16_t from;
  unsigned char to;
};

constexpr BestFit kBestFit[] = {
#include "runtime/codepage_bestfit.inc"
};

constexpr bool ByCharacter(const BestFit& a, const BestFit& b) { return a.from < b.from; }
static_assert(std::is_sorted(std::begin(kBestFit), std::end(kBestFit), ByCharacter));

// The byte of a BMP character, or -1 when the code page has neither it nor a best fit for it.
int EncodeChar(char16_t c) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return c;
  for (size_t i = 0; i < kHigh.size(); ++i)
    if (kHigh[i] == c) return static_cast<int>(0x80 + i);
  auto it = std::lower_bound(std::begin(kBestFit), std::end(kBestFit), BestFit{c, 0}, ByCharacter);
  if (it != std::end(kBestFit) && it->from == c) return it->to;
  return -1;
}

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

}  // namespace

std::string AnsiFromUnicode(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char16_t c = text[i];
    if (IsHighSurrogate(c) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
      ++i;  // a character outside the BMP: none has a best fit
      out.push_back('?');
      continue;
    }
    int b = IsHighSurrogate(c) || IsLowSurrogate(c) ? -1 : EncodeChar(c);
    out.push_back(b < 0 ? '?' : static_cast<char>(b));
  }
  return out;
}

char16_t AnsiCharToUnicode(unsigned char byte) {
  if (byte >= 0x80 && byte <= 0x9F) return kHigh[byte - 0x80];
  return byte;
}

std::u16string UnicodeFromAnsi(std::string_view bytes) {
  std::u16string out;
  out.resize(bytes.size());
  for (size_t i = 0; i < bytes.size(); ++i) out[i] = AnsiCharToUnicode(static_cast<unsigned char>(bytes[i]));
  return out;
}

}  // namespace rtl
