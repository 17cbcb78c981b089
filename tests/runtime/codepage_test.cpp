// Windows-1252 both ways, its undefined bytes and the best-fit fallback.
#include <gtest/gtest.h>

#include "runtime/codepage.h"
#include "runtime/text.h"

using namespace rtl;

TEST(CodePage, EveryByteSurvivesARoundTrip) {
  std::string all;
  for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
  std::u16string text = UnicodeFromAnsi(all);
  ASSERT_EQ(text.size(), 256u);
  for (int b = 0; b < 256; ++b) EXPECT_EQ(text[b], AnsiCharToUnicode(static_cast<unsigned char>(b))) << b;
  EXPECT_EQ(AnsiFromUnicode(text), all);
}

TEST(CodePage, DecodesTheUpperHalf) {
  struct Case {
    unsigned char byte;
    char16_t c;
  } cases[] = {{0x41, u'A'},     {0x80, u'€'},     {0x81, 0x0081},   {0x8A, u'Š'},
               {0x8D, 0x008D},   {0x8F, 0x008F},   {0x90, 0x0090},   {0x92, u'’'},
               {0x9D, 0x009D},   {0x9F, u'Ÿ'},     {0xA0, 0x00A0},   {0xE9, u'é'},
               {0xFF, u'ÿ'}};
  for (const auto& c : cases) EXPECT_EQ(AnsiCharToUnicode(c.byte), c.c) << int(c.byte);
}

TEST(CodePage, EncodesWithBestFit) {
  struct Case {
    std::u16string_view text;
    std::string_view bytes;
  } cases[] = {
      {u"€’“”…Œœ", "\x80\x92\x93\x94\x85\x8C\x9C"},  // representable, no fallback
      {u"ā", "a"},
      {u"ő", "o"},
      {u"ŵ", "w"},
      {u"Ǻ", "\xC5"},  // decomposes to Å, which the code page has
      {u"ấ", "\xE2"},  // to â, not on to a
      {u"ǖ", "\xFC"},
      {u"\u212B", "\xC5"},  // Angstrom sign, a one-character decomposition
      {u"\u0080", "?"},     // a C1 control that is no byte of the code page
      {u"中文", "??"},
      {u"한", "?"},         // Hangul: its decomposition starts with a jamo the code page lacks
      {u"\u2126", "?"},     // Ohm sign to Greek Omega, which the code page lacks too
      {u"\uFFFD", "?"},
      {u"a\U0001F600b", "a?b"},                       // a surrogate pair is one character
      {std::u16string_view(u"\xD83D", 1), "?"},       // lone high surrogate
      {std::u16string_view(u"\xDE00x", 2), "?x"},     // lone low surrogate
      {std::u16string_view(u"\xD83D\xD83D\xDE00", 3), "??"},
  };
  for (const auto& c : cases) EXPECT_EQ(AnsiFromUnicode(c.text), c.bytes) << Utf16ToUtf8(c.text);
}

TEST(CodePage, OneByteForEveryCharacterOfThePlane) {
  std::u16string plane;
  for (char32_t c = 0; c < 0x10000; ++c)
    if (c < 0xD800 || c > 0xDFFF) plane.push_back(static_cast<char16_t>(c));
  std::string bytes = AnsiFromUnicode(plane);
  ASSERT_EQ(bytes.size(), plane.size());
  // Whatever a character became, its byte encodes again to itself.
  EXPECT_EQ(AnsiFromUnicode(UnicodeFromAnsi(bytes)), bytes);
}
