// Small, independent models that the fuzz targets hold the real code to: Windows-1252, the
// whole-number rules, the text-file line rules, the receive rules and an INI line model.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fuzzref {

// Reports a broken invariant and aborts, which libFuzzer and the replay both count as a failure.
[[noreturn]] inline void Fail(const char* what, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: invariant broken: %s\n", file, line, what);
  std::abort();
}

#define FUZZ_CHECK(cond)                                        \
  do {                                                          \
    if (!(cond)) ::fuzzref::Fail(#cond, __FILE__, __LINE__);    \
  } while (0)

// Takes the fuzz input apart from the front: single bytes, counted pieces, the rest.
class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(reinterpret_cast<const char*>(data), size) {}
  uint8_t Byte() {
    if (data_.empty()) return 0;
    uint8_t b = static_cast<uint8_t>(data_.front());
    data_.remove_prefix(1);
    return b;
  }
  std::string_view Bytes(size_t n) {
    std::string_view piece = data_.substr(0, n);
    data_.remove_prefix(piece.size());
    return piece;
  }
  std::string_view Rest() { return Bytes(data_.size()); }

 private:
  std::string_view data_;
};

// Bytes as 16-bit code units, low byte first; an odd last byte is dropped.
inline std::u16string Units(std::string_view bytes) {
  std::u16string out;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2)
    out.push_back(static_cast<char16_t>(static_cast<uint8_t>(bytes[i]) |
                                        static_cast<uint8_t>(bytes[i + 1]) << 8));
  return out;
}

// Bytes as the characters 0..255, one each.
inline std::u16string Latin1(std::string_view bytes) {
  std::u16string out;
  for (char c : bytes) out.push_back(static_cast<uint8_t>(c));
  return out;
}

// ---- Windows-1252 -------------------------------------------------------------------------

// The characters of 0x80..0x9F. The five bytes the code page leaves undefined (81, 8D, 8F, 90,
// 9D) stand for the C1 control of the same number.
inline constexpr char16_t kCp1252_80_9F[32] = {
    u'\u20AC', u'\u0081', u'\u201A', u'\u0192', u'\u201E', u'\u2026', u'\u2020', u'\u2021',
    u'\u02C6', u'\u2030', u'\u0160', u'\u2039', u'\u0152', u'\u008D', u'\u017D', u'\u008F',
    u'\u0090', u'\u2018', u'\u2019', u'\u201C', u'\u201D', u'\u2022', u'\u2013', u'\u2014',
    u'\u02DC', u'\u2122', u'\u0161', u'\u203A', u'\u0153', u'\u009D', u'\u017E', u'\u0178',
};

inline char16_t DecodeByte(uint8_t b) {
  return b >= 0x80 && b < 0xA0 ? kCp1252_80_9F[b - 0x80] : char16_t{b};
}

inline std::u16string Decode(std::string_view bytes) {
  std::u16string out;
  for (char c : bytes) out.push_back(DecodeByte(static_cast<uint8_t>(c)));
  return out;
}

// The byte that decodes to c, if any (a plain search of the 256 bytes).
inline std::optional<uint8_t> ExactByte(char16_t c) {
  for (int b = 0; b < 256; ++b)
    if (DecodeByte(static_cast<uint8_t>(b)) == c) return static_cast<uint8_t>(b);
  return std::nullopt;
}

// The bytes of text when every character has an exact byte, else nothing.
inline std::optional<std::string> EncodeExact(std::u16string_view text) {
  std::string out;
  for (char16_t c : text) {
    std::optional<uint8_t> b = ExactByte(c);
    if (!b) return std::nullopt;
    out.push_back(static_cast<char>(*b));
  }
  return out;
}

// ---- Whole numbers -------------------------------------------------------------------------

// Blanks, an optional sign, then decimal digits, or hexadecimal digits after "$", "x", "X",
// "0x" or "0X", and nothing else; the signed value must fit in 32 bits.
inline std::optional<int32_t> ParseWholeNumber(std::u16string_view s) {
  size_t i = 0;
  while (i < s.size() && (s[i] == u' ' || s[i] == u'\t')) ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == u'-' || s[i] == u'+')) negative = s[i++] == u'-';
  int base = 10;
  std::u16string_view rest = s.substr(i);
  for (std::u16string_view prefix : {u"0x", u"0X", u"$", u"x", u"X"}) {
    if (rest.substr(0, prefix.size()) == prefix) {
      base = 16;
      rest.remove_prefix(prefix.size());
      break;
    }
  }
  if (rest.empty()) return std::nullopt;
  std::vector<int> digits;
  for (char16_t c : rest) {
    int d = -1;
    if (c >= u'0' && c <= u'9') d = c - u'0';
    else if (base == 16 && c >= u'a' && c <= u'f') d = c - u'a' + 10;
    else if (base == 16 && c >= u'A' && c <= u'F') d = c - u'A' + 10;
    if (d < 0) return std::nullopt;
    if (digits.empty() && d == 0) continue;  // leading zeros add nothing
    digits.push_back(d);
  }
  if (digits.size() > (base == 16 ? 8u : 10u)) return std::nullopt;  // past 2^32 for sure
  int64_t magnitude = 0;
  for (int d : digits) magnitude = magnitude * base + d;
  int64_t value = negative ? -magnitude : magnitude;
  if (value < INT32_MIN || value > INT32_MAX) return std::nullopt;
  return static_cast<int32_t>(value);
}

// ---- Text files ----------------------------------------------------------------------------

// The lines of a text file: everything from a 0x1A on is gone; LF ends a line; every CR is
// dropped (the one of a CR LF and a lone one alike); a last line without LF still counts.
inline std::vector<std::u16string> SplitTextLines(std::string_view bytes) {
  bytes = bytes.substr(0, bytes.find('\x1A'));
  std::vector<std::u16string> lines;
  while (!bytes.empty()) {
    size_t lf = bytes.find('\n');
    std::string_view line = bytes.substr(0, lf);
    std::u16string text;
    for (char c : line)
      if (c != '\r') text.push_back(DecodeByte(static_cast<uint8_t>(c)));
    lines.push_back(text);
    bytes.remove_prefix(lf == std::string_view::npos ? bytes.size() : lf + 1);
  }
  return lines;
}

// ---- Receive rules -------------------------------------------------------------------------

inline std::u16string RemoveAll(std::u16string_view s, char16_t c) {
  std::u16string out;
  for (char16_t x : s)
    if (x != c) out.push_back(x);
  return out;
}

inline std::u16string ReplaceAll(std::u16string_view s, char16_t c, std::u16string_view by) {
  std::u16string out;
  for (char16_t x : s) {
    if (x == c) out += by;
    else out.push_back(x);
  }
  return out;
}

// The receive steps one after the other on the whole text: with stamps every CR goes and every
// LF becomes CR, LF, stamp, TAB; then every LF goes; then every CR becomes CR LF.
inline std::u16string ShownText(std::u16string_view text, bool stamps, std::u16string_view stamp) {
  std::u16string t(text);
  if (stamps) t = ReplaceAll(RemoveAll(t, u'\r'), u'\n', u"\r\n" + std::u16string(stamp) + u"\t");
  t = RemoveAll(t, u'\n');
  return ReplaceAll(t, u'\r', u"\r\n");
}

// Whether needle stands at some position of hay (a plain scan); an empty needle never does.
inline bool Occurs(std::u16string_view hay, std::u16string_view needle) {
  if (needle.empty()) return false;
  for (size_t i = 0; i + needle.size() <= hay.size(); ++i)
    if (hay.substr(i, needle.size()) == needle) return true;
  return false;
}

// ---- INI line model ------------------------------------------------------------------------

// One line of an INI file: its text and its line end ("\r\n", "\n", "\r" or none at the end).
struct IniLine {
  std::string text;
  std::string end;
  bool operator==(const IniLine&) const = default;
};

inline std::vector<IniLine> SplitIniLines(std::string_view bytes) {
  std::vector<IniLine> lines;
  size_t i = 0;
  while (i < bytes.size()) {
    IniLine line;
    while (i < bytes.size() && bytes[i] != '\r' && bytes[i] != '\n') line.text.push_back(bytes[i++]);
    if (i < bytes.size() && bytes.substr(i, 2) == "\r\n") line.end = "\r\n";
    else if (i < bytes.size()) line.end = bytes.substr(i, 1);
    i += line.end.size();
    lines.push_back(line);
  }
  return lines;
}

inline bool IsIniBlank(char c) { return c == ' ' || c == '\t'; }

inline std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsIniBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsIniBlank(s.back())) s.remove_suffix(1);
  return s;
}

// "[name]" after blanks, anything after the first "]"; the name without its blanks.
inline std::optional<std::string> SectionOf(std::string_view text) {
  std::string_view t = Trim(text);
  if (t.empty() || t.front() != '[') return std::nullopt;
  size_t close = t.find(']');
  if (close == std::string_view::npos) return std::nullopt;
  return std::string(Trim(t.substr(1, close - 1)));
}

// The name before the first "=" of a line that is no section line.
inline std::optional<std::string> KeyOf(std::string_view text) {
  if (SectionOf(text)) return std::nullopt;
  size_t eq = text.find('=');
  if (eq == std::string_view::npos) return std::nullopt;
  return std::string(Trim(text.substr(0, eq)));
}

// ASCII and Latin-1 letters without regard to case (not the division sign; no y diaeresis).
inline char16_t FoldCase(char16_t c) {
  if (c >= u'a' && c <= u'z') return static_cast<char16_t>(c - u'a' + u'A');
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<char16_t>(c - 0x20);
  return c;
}

// Whether the bytes of a name in the file are the wanted name, without regard to case.
inline bool NameIs(std::string_view stored, std::u16string_view wanted) {
  if (stored.size() != wanted.size()) return false;
  for (size_t i = 0; i < stored.size(); ++i)
    if (FoldCase(DecodeByte(static_cast<uint8_t>(stored[i]))) != FoldCase(wanted[i])) return false;
  return true;
}

// Where a key stands: the first section of the name, the line that ends it, the first line of
// the key in it. Indexes into the lines; missing ones are empty.
struct IniPlace {
  std::optional<size_t> section;
  size_t sectionEnd = 0;
  std::optional<size_t> key;
};

inline IniPlace Locate(const std::vector<IniLine>& lines, std::u16string_view section,
                       std::u16string_view key) {
  IniPlace p;
  for (size_t i = 0; i < lines.size() && !p.section; ++i) {
    std::optional<std::string> name = SectionOf(lines[i].text);
    if (name && NameIs(*name, section)) p.section = i;
  }
  if (!p.section) return p;
  p.sectionEnd = *p.section + 1;
  while (p.sectionEnd < lines.size() && !SectionOf(lines[p.sectionEnd].text)) ++p.sectionEnd;
  for (size_t i = *p.section + 1; i < p.sectionEnd && !p.key; ++i) {
    std::optional<std::string> name = KeyOf(lines[i].text);
    if (name && NameIs(*name, key)) p.key = i;
  }
  return p;
}

// The value a read gives: after the first "=", blanks off, one pair of enclosing quotes off,
// at most 2047 bytes; nothing when the key is missing.
inline std::optional<std::u16string> ReadValue(const std::vector<IniLine>& lines,
                                               std::u16string_view section, std::u16string_view key) {
  IniPlace p = Locate(lines, section, key);
  if (!p.key) return std::nullopt;
  const std::string& text = lines[*p.key].text;
  std::string_view v = Trim(std::string_view(text).substr(text.find('=') + 1));
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
    v = v.substr(1, v.size() - 2);
  return Decode(v.substr(0, 2047));
}

}  // namespace fuzzref
