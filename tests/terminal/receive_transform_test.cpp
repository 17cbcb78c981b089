// The receive rules: prompt test, time stamps, CR and LF.
#include <gtest/gtest.h>

#include "terminal/receive_transform.h"

using namespace terminal;

TEST(ReceiveTransform, LineEnds) {
  const std::u16string S = u"08/12/2025 14:03:07";
  struct Case {
    std::u16string in;
    bool stamps;
    std::u16string shown;
  } cases[] = {
      {u"AB\r\nCD", false, u"AB\r\nCD"},
      {u"AB\nCD", false, u"ABCD"},
      {u"AB\rCD", false, u"AB\r\nCD"},
      {u"AB\r\nCD", true, u"AB\r\n" + S + u"\tCD"},
      {u"AB\rCD", true, u"ABCD"},
      {u"AB\n", true, u"AB\r\n" + S + u"\t"},
      {u"\n\n", true, u"\r\n" + S + u"\t\r\n" + S + u"\t"},
      {u"\r\r", false, u"\r\n\r\n"},
      {u"", true, u""},
      {u"no end", true, u"no end"},
      {std::u16string(u"A\0B", 3), false, std::u16string(u"A\0B", 3)},
  };
  for (const auto& c : cases)
    EXPECT_EQ(TransformReceived(c.in, c.stamps, S), c.shown)
        << "stamps=" << c.stamps << " case " << (&c - cases);
}

TEST(ReceiveTransform, Prompt) {
  struct Case {
    std::u16string text, prompt;
    bool seen;
  } cases[] = {{u"ab>cd", u">", true}, {u">", u">", true}, {u"abc", u">", false},
               {u"abc", u"", false},   {u"", u"", false},   {u"ABC", u"b", false},
               {u"\r\n>", u">", true}};
  for (const auto& c : cases) EXPECT_EQ(PromptOccurs(c.text, c.prompt), c.seen);
}

TEST(ReceiveTransform, StampFormat) {
  EXPECT_EQ(FormatStamp(8, 12, 2025, 14, 3, 7, u"/", u":"), u"08/12/2025 14:03:07");
  EXPECT_EQ(FormatStamp(1, 2, 987, 0, 0, 9, u".", u"h"), u"01.02.0987 00h00h09");
}

TEST(ReceiveTransform, AStampWithLineBreaksFollowsTheLineEndRules) {
  // Separators come from the locale: whatever they hold, the display gets CR LF pairs only.
  const std::u16string S = u"a\r\nb\rc\nd";
  EXPECT_EQ(TransformReceived(u"x\ny", true, S), u"x\r\na\r\nb\r\ncd\ty");
  EXPECT_EQ(TransformReceived(u"x\ny", false, S), u"xy");
}
