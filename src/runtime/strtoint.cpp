#include "runtime/strtoint.h"

#include "runtime/exceptions.h"
#include "runtime/text.h"

namespace rtl {

namespace {

int DigitValue(char16_t c, bool hex) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (hex && c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (hex && c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

}  // namespace

bool TryStrToInt(std::u16string_view text, int32_t& value) {
  size_t i = 0;
  while (i < text.size() && (text[i] == u' ' || text[i] == u'\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
    negative = text[i] == u'-';
    ++i;
  }
  bool hex = false;
  if (i < text.size() && (text[i] == u'$' || text[i] == u'x' || text[i] == u'X')) {
    hex = true;
    ++i;
  } else if (i + 1 < text.size() && text[i] == u'0' && (text[i + 1] == u'x' || text[i + 1] == u'X')) {
    hex = true;
    i += 2;
  }
  if (i == text.size()) return false;  // no digit at all
  // The magnitude may reach 2^31 only for a negative number; stop as soon as it passes.
  const int64_t limit = negative ? int64_t{1} << 31 : (int64_t{1} << 31) - 1;
  const int base = hex ? 16 : 10;
  int64_t magnitude = 0;
  for (; i < text.size(); ++i) {
    int d = DigitValue(text[i], hex);
    if (d < 0) return false;
    magnitude = magnitude * base + d;
    if (magnitude > limit) return false;
  }
  value = static_cast<int32_t>(negative ? -magnitude : magnitude);
  return true;
}

int32_t StrToInt(std::u16string_view text) {
  int32_t value = 0;
  if (!TryStrToInt(text, value))
    throw EConvertError(Format(u"''%s'' n'est pas une valeur entière valide", {text}));
  return value;
}

}  // namespace rtl
