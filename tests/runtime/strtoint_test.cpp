// The whole-number conversion: accepted forms, the 32-bit range and the error text.
#include <gtest/gtest.h>

#include "runtime/exceptions.h"
#include "runtime/strtoint.h"
#include "runtime/text.h"

using namespace rtl;

namespace {

struct Accepted {
  std::u16string_view text;
  int32_t value;
};

constexpr Accepted kAccepted[] = {
    {u"0", 0},
    {u"-0", 0},
    {u"+5", 5},
    {u"007", 7},
    {u" 12", 12},
    {u"\t \t-12", -12},
    {u"2147483647", 2147483647},
    {u"-2147483648", INT32_MIN},
    {u"00000000002147483647", 2147483647},
    {u"$7FFFFFFF", 2147483647},
    {u"-$80000000", INT32_MIN},
    {u"+$10", 16},
    {u"$0000000000000001", 1},
    {u"x1f", 31},
    {u"X1F", 31},
    {u"0x1F", 31},
    {u"0XaBc", 0xABC},
    {u"  -0x1F", -31},
    {u"$00", 0},
};

constexpr std::u16string_view kRejected[] = {
    u"",
    u" ",
    u"\t",
    u"+",
    u"-",
    u"12 ",
    u"12\t",
    u"1 2",
    u"- 5",
    u"--5",
    u"+-5",
    u"1e3",
    u"1.0",
    u"2147483648",
    u"-2147483649",
    u"99999999999999999999",
    u"$",
    u"0x",
    u"x",
    u"-$",
    u"$80000000",
    u"0x80000000",
    u"-$80000001",
    u"$FFFFFFFF",
    u"$g",
    u"$+5",
    u"0x-5",
    u"00x10",
    u"12h",
    u"\u00A012",       // no-break space is not a blank
    u"\uFF11\uFF12",   // full-width digits
    u"\u0663",         // Arabic-Indic three
    std::u16string_view(u"12\0", 3),
};

}  // namespace

TEST(StrToInt, AcceptedTexts) {
  for (const auto& c : kAccepted) {
    int32_t v = 99;
    EXPECT_TRUE(TryStrToInt(c.text, v)) << Utf16ToUtf8(c.text);
    EXPECT_EQ(v, c.value) << Utf16ToUtf8(c.text);
    EXPECT_EQ(StrToInt(c.text), c.value) << Utf16ToUtf8(c.text);
  }
}

TEST(StrToInt, RejectedTextsLeaveTheValueAndRaiseWithTheOriginalText) {
  for (std::u16string_view text : kRejected) {
    int32_t v = 99;
    EXPECT_FALSE(TryStrToInt(text, v)) << Utf16ToUtf8(text);
    EXPECT_EQ(v, 99) << Utf16ToUtf8(text);
    try {
      StrToInt(text);
      ADD_FAILURE() << "accepted: " << Utf16ToUtf8(text);
    } catch (const EConvertError& e) {
      EXPECT_EQ(e.Message(), u"''" + std::u16string(text) + u"'' n'est pas une valeur entière valide");
    }
  }
}
