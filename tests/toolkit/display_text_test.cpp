// The display's text model: line breaks, the CR LF pair split over two insertions, colours kept
// by old text, selections replaced, the writers' sequences, offsets and the log's pieces.
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

#include "toolkit/display/display_text.h"

namespace toolkit {
namespace {

constexpr Rgb kBlack = 0x000000;
constexpr Rgb kRed = 0xFF0000;
constexpr Rgb kBlue = 0x0000FF;
constexpr Rgb kGreen = 0x00FF00;

using Step = std::function<void(DisplayText&)>;

Step Ins(std::u16string text) {
  return [text](DisplayText& t) { t.InsertAtCaret(text); };
}
Step Caret(std::size_t line, std::size_t column) {
  return [=](DisplayText& t) { t.SetCaret(TextPosition{line, column}); };
}
Step Sel(std::size_t al, std::size_t ac, std::size_t cl, std::size_t cc) {
  return [=](DisplayText& t) { t.Select(TextPosition{al, ac}, TextPosition{cl, cc}); };
}
Step ToEnd() {
  return [](DisplayText& t) { t.MoveCaretToEnd(); };
}
Step Colour(Rgb rgb) {
  return [rgb](DisplayText& t) { t.SetInsertionColour(rgb); };
}

std::vector<std::u16string> Lines(const DisplayText& text) {
  std::vector<std::u16string> lines;
  for (std::size_t i = 0; i < text.LineCount(); ++i) {
    std::u16string line;
    text.Line(i).AppendTo(0, text.LineLength(i), line);
    lines.push_back(line);
  }
  return lines;
}

char Letter(Rgb rgb) {
  switch (rgb) {
    case kBlack: return 'k';
    case kRed: return 'r';
    case kBlue: return 'b';
    case kGreen: return 'g';
    default: return '?';
  }
}

// One letter per character: k black, r red, b blue, g green.
std::vector<std::string> Colours(const DisplayText& text) {
  std::vector<std::string> colours;
  for (std::size_t i = 0; i < text.LineCount(); ++i) {
    std::string line;
    for (std::size_t c = 0; c < text.LineLength(i); ++c) line += Letter(text.ColourAt(TextPosition{i, c}));
    colours.push_back(line);
  }
  return colours;
}

void Apply(DisplayText& text, const std::vector<Step>& steps) {
  for (const Step& step : steps) step(text);
}

// ---- Line breaks and the caret -------------------------------------------------------------

struct BreakCase {
  const char* name;
  std::vector<Step> steps;
  std::vector<std::u16string> lines;
  TextPosition caret;
};

class LineBreaks : public ::testing::TestWithParam<BreakCase> {};

TEST_P(LineBreaks, GiveTheseLinesAndCaret) {
  const BreakCase& c = GetParam();
  DisplayText text;
  Apply(text, c.steps);
  EXPECT_EQ(Lines(text), c.lines);
  EXPECT_EQ(text.Caret(), c.caret);
  EXPECT_FALSE(text.HasSelection());
}

INSTANTIATE_TEST_SUITE_P(
    Insertions, LineBreaks,
    ::testing::Values(
        BreakCase{"CrLfPair", {Ins(u"A\r\nB")}, {u"A", u"B"}, {1, 1}},
        BreakCase{"LoneCr", {Ins(u"A\rB")}, {u"A", u"B"}, {1, 1}},
        BreakCase{"LoneLf", {Ins(u"A\nB")}, {u"A", u"B"}, {1, 1}},
        BreakCase{"LfThenCrIsTwoBreaks", {Ins(u"A\n\rB")}, {u"A", u"", u"B"}, {2, 1}},
        BreakCase{"CrCrLf", {Ins(u"A\r\r\nB")}, {u"A", u"", u"B"}, {2, 1}},
        BreakCase{"FinalCrLeavesAnEmptyLine", {Ins(u"AB\r")}, {u"AB", u""}, {1, 0}},
        BreakCase{"CrThenLfInTwoInsertionsIsOneBreak", {Ins(u"A\r"), Ins(u"\nB")}, {u"A", u"B"}, {1, 1}},
        BreakCase{"CrThenLoneLfInsertion", {Ins(u"A\r"), Ins(u"\n")}, {u"A", u""}, {1, 0}},
        BreakCase{"PairCompletedOnlyOnce", {Ins(u"A\r"), Ins(u"\n"), Ins(u"\n")}, {u"A", u"", u""}, {2, 0}},
        BreakCase{"LfAfterCrLfIsANewLine", {Ins(u"A\r\n"), Ins(u"\n")}, {u"A", u"", u""}, {2, 0}},
        BreakCase{"CrLfPairsChained", {Ins(u"A\r"), Ins(u"\nB\r"), Ins(u"\nC")}, {u"A", u"B", u"C"}, {2, 1}},
        BreakCase{"ColourAndEndBetweenKeepThePair",
                  {ToEnd(), Colour(kBlue), Ins(u"A"), ToEnd(), Colour(kRed), ToEnd(), Colour(kBlue),
                   Ins(u"\r"), ToEnd(), Colour(kRed), ToEnd(), Colour(kBlue), Ins(u"\n"), ToEnd(),
                   Colour(kRed), ToEnd(), Colour(kBlue), Ins(u"X")},
                  {u"A", u"X"},
                  {1, 1}},
        BreakCase{"EmptyInsertionBetweenKeepsThePair", {Ins(u"A\r"), Ins(u""), Ins(u"\nB")}, {u"A", u"B"}, {1, 1}},
        BreakCase{"CaretMovedAwayGivesTwoBreaks", {Ins(u"A\r"), Caret(0, 0), Ins(u"\n")}, {u"", u"A", u""}, {1, 0}},
        BreakCase{"CaretMovedAwayAndBackGivesTwoBreaks",
                  {Ins(u"A\r"), Caret(0, 1), Caret(1, 0), Ins(u"\n")},
                  {u"A", u"", u""},
                  {2, 0}},
        BreakCase{"TextBetweenGivesTwoBreaks", {Ins(u"A\r"), Ins(u"B"), Ins(u"\nC")}, {u"A", u"B", u"C"}, {2, 1}},
        BreakCase{"CrInTheMiddleSplitsTheLine", {Ins(u"abcd"), Caret(0, 2), Ins(u"X\r\nY")}, {u"abX", u"Ycd"}, {1, 1}},
        BreakCase{"CrInMiddleThenLfCompletesThere", {Ins(u"abcd"), Caret(0, 2), Ins(u"\r"), Ins(u"\n")},
                  {u"ab", u"cd"}, {1, 0}},
        BreakCase{"SelectionAcrossLinesReplaced", {Ins(u"one\r\ntwo\r\nthree"), Sel(0, 1, 2, 2), Ins(u"X")},
                  {u"oXree"}, {0, 2}},
        BreakCase{"SelectionReplacedBackwards", {Ins(u"one\r\ntwo\r\nthree"), Sel(2, 2, 0, 1), Ins(u"X")},
                  {u"oXree"}, {0, 2}},
        BreakCase{"SelectionReplacedByLines", {Ins(u"one\r\ntwo"), Sel(0, 1, 1, 1), Ins(u"A\rB")},
                  {u"oA", u"Bwo"}, {1, 1}},
        BreakCase{"EmptyTextRemovesTheSelection", {Ins(u"one\r\ntwo"), Sel(0, 2, 1, 1), Ins(u"")}, {u"onwo"}, {0, 2}},
        BreakCase{"LfAfterCrDoesNotPairIntoASelection",
                  {Ins(u"ab\r"), Sel(0, 0, 0, 1), Ins(u"\n")},
                  {u"", u"b", u""},
                  {1, 0}},
        BreakCase{"ReceivedTextGoesToTheEndWhateverTheCaret",
                  {Ins(u"line1\r"), Sel(0, 1, 0, 3), ToEnd(), Ins(u"rx")},
                  {u"line1", u"rx"},
                  {1, 2}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DisplayText, ClearRemovesEverythingAndForgetsAPendingCr) {
  DisplayText text;
  text.SetInsertionColour(kBlue);
  text.InsertAtCaret(u"A\rB\r");
  text.Clear();
  EXPECT_EQ(Lines(text), std::vector<std::u16string>{u""});
  EXPECT_EQ(text.Caret(), TextPosition{});
  EXPECT_EQ(text.Length(), 0u);
  EXPECT_EQ(text.InsertionColour(), kBlue);
  text.InsertAtCaret(u"\nC");  // no CR before it any more
  EXPECT_EQ(Lines(text), (std::vector<std::u16string>{u"", u"C"}));
}

TEST(DisplayText, PositionsAreClampedToTheText) {
  DisplayText text;
  text.InsertAtCaret(u"ab\r\ncde");
  text.SetCaret(TextPosition{9, 9});
  EXPECT_EQ(text.Caret(), (TextPosition{1, 3}));
  text.SetCaret(TextPosition{0, 9});
  EXPECT_EQ(text.Caret(), (TextPosition{0, 2}));
  text.Select(TextPosition{0, 1}, TextPosition{7, 0});
  EXPECT_EQ(text.SelectedText(), u"b\r\ncde");
}

// ---- Colours ------------------------------------------------------------------------------

struct ColourCase {
  const char* name;
  std::vector<Step> steps;
  std::vector<std::u16string> lines;
  std::vector<std::string> colours;
};

class Colours_ : public ::testing::TestWithParam<ColourCase> {};

TEST_P(Colours_, OldTextKeepsItsColours) {
  const ColourCase& c = GetParam();
  DisplayText text;
  Apply(text, c.steps);
  EXPECT_EQ(Lines(text), c.lines);
  EXPECT_EQ(Colours(text), c.colours);
}

INSTANTIATE_TEST_SUITE_P(
    Edits, Colours_,
    ::testing::Values(
        ColourCase{"AppendInAnotherColour", {Ins(u"AB"), Colour(kRed), Ins(u"CD")}, {u"ABCD"}, {"kkrr"}},
        ColourCase{"InsertInsideARun", {Colour(kRed), Ins(u"ABCD"), Caret(0, 2), Colour(kBlue), Ins(u"x")},
                   {u"ABxCD"}, {"rrbrr"}},
        ColourCase{"InsertAtARunBoundary", {Ins(u"AB"), Colour(kRed), Ins(u"CD"), Caret(0, 2), Colour(kBlue), Ins(u"x")},
                   {u"ABxCD"}, {"kkbrr"}},
        ColourCase{"InsertAtABoundaryInTheLaterColour",
                   {Ins(u"AB"), Colour(kRed), Ins(u"CD"), Caret(0, 2), Ins(u"x")}, {u"ABxCD"}, {"kkrrr"}},
        ColourCase{"InsertAtTheStart", {Ins(u"AB"), Caret(0, 0), Colour(kRed), Ins(u"x")}, {u"xAB"}, {"rkk"}},
        ColourCase{"InsertAtTheStartSameColour", {Ins(u"AB"), Colour(kRed), Ins(u"C"), Caret(0, 0), Colour(kBlack), Ins(u"x")},
                   {u"xABC"}, {"kkkr"}},
        ColourCase{"SplitKeepsTheTailsColours",
                   {Ins(u"AB"), Colour(kRed), Ins(u"CD"), Colour(kBlue), Ins(u"E"), Caret(0, 3), Colour(kGreen), Ins(u"\r")},
                   {u"ABC", u"DE"}, {"kkr", "rb"}},
        ColourCase{"DeleteAcrossRunsJoinsColours",
                   {Ins(u"AB"), Colour(kRed), Ins(u"CD"), Colour(kBlue), Ins(u"EF"), Sel(0, 1, 0, 5), Ins(u"")},
                   {u"AF"}, {"kb"}},
        ColourCase{"DeleteAWholeRunMergesNeighbours",
                   {Ins(u"AB"), Colour(kRed), Ins(u"C"), Colour(kBlack), Ins(u"DE"), Sel(0, 2, 0, 3), Ins(u"")},
                   {u"ABDE"}, {"kkkk"}},
        ColourCase{"DeleteAcrossLinesJoinsTheirColours",
                   {Ins(u"AB\r"), Colour(kRed), Ins(u"CD\r"), Colour(kBlue), Ins(u"EF"), Sel(0, 1, 2, 1), Colour(kGreen), Ins(u"x")},
                   {u"AxF"}, {"kgb"}},
        ColourCase{"ReplaceFromTheStart", {Colour(kRed), Ins(u"ABC"), Sel(0, 0, 0, 2), Colour(kBlue), Ins(u"xy")},
                   {u"xyC"}, {"bbr"}}),
    [](const auto& info) { return std::string(info.param.name); });

// Random edits against a character-by-character record of the colours.
TEST(DisplayText, ColourRunsMatchAPlainRecordAfterRandomEdits) {
  std::mt19937 random(12345);
  DisplayText text;
  std::vector<std::string> expected{""};
  const Rgb palette[] = {kBlack, kRed, kBlue, kGreen};
  for (int round = 0; round < 3000; ++round) {
    const std::size_t line = random() % text.LineCount();
    const std::size_t column = random() % (text.LineLength(line) + 1);
    const Rgb colour = palette[random() % 4];
    text.SetInsertionColour(colour);
    if (random() % 4 == 0 && text.Length() > 0) {
      // Remove a range that may span lines.
      const std::size_t endLine = std::min(text.LineCount() - 1, line + random() % 2);
      const std::size_t endColumn = random() % (text.LineLength(endLine) + 1);
      TextPosition a{line, column};
      TextPosition b{endLine, endColumn};
      if (b < a) std::swap(a, b);
      text.Select(a, b);
      text.InsertAtCaret(u"");
      std::string merged = expected[a.line].substr(0, a.column) + expected[b.line].substr(b.column);
      expected.erase(expected.begin() + static_cast<long>(a.line), expected.begin() + static_cast<long>(b.line) + 1);
      expected.insert(expected.begin() + static_cast<long>(a.line), merged);
    } else {
      const std::size_t count = 1 + random() % 3;
      const bool split = random() % 5 == 0;
      std::u16string inserted(count, u'x');
      if (split) inserted.insert(random() % (count + 1), 1, u'\r');
      text.SetCaret(TextPosition{line, column});
      text.InsertAtCaret(inserted);
      const std::string before = expected[line].substr(0, column);
      const std::string after = expected[line].substr(column);
      const std::size_t cut = inserted.find(u'\r');
      const std::string mark(1, Letter(colour));
      if (cut == std::u16string::npos) {
        expected[line] = before + std::string(count, mark[0]) + after;
      } else {
        expected[line] = before + std::string(cut, mark[0]);
        expected.insert(expected.begin() + static_cast<long>(line) + 1,
                        std::string(count - cut, mark[0]) + after);
      }
    }
    ASSERT_EQ(Colours(text), expected) << "round " << round;
  }
}

// ---- The writers' sequences ------------------------------------------------------------------

Step Received(std::u16string text) {
  return [text](DisplayText& t) {
    t.MoveCaretToEnd();
    t.SetInsertionColour(kBlack);
    t.InsertAtCaret(text);
    t.MoveCaretToEnd();
    t.SetInsertionColour(kRed);
  };
}
Step AutoSend(std::u16string text) {
  return [text](DisplayText& t) {
    t.MoveCaretToEnd();
    t.SetInsertionColour(kBlue);
    t.InsertAtCaret(text);
    t.MoveCaretToEnd();
    t.SetInsertionColour(kRed);
  };
}
Step Transfer(std::u16string text) {
  return [text](DisplayText& t) {
    t.MoveCaretToEnd();
    t.SetInsertionColour(kRed);
    t.InsertAtCaret(text);
    t.SetInsertionColour(kBlack);
  };
}
Step Created() {
  return [](DisplayText& t) {
    t.MoveCaretToEnd();
    t.SetInsertionColour(kRed);
  };
}

struct WriterCase {
  const char* name;
  std::vector<Step> steps;
  std::vector<std::u16string> lines;
  std::vector<std::string> colours;
  Rgb left;
};

class Writers : public ::testing::TestWithParam<WriterCase> {};

TEST_P(Writers, ShowTheirTextInTheirColours) {
  const WriterCase& c = GetParam();
  DisplayText text;
  Apply(text, c.steps);
  EXPECT_EQ(Lines(text), c.lines);
  EXPECT_EQ(Colours(text), c.colours);
  EXPECT_EQ(text.InsertionColour(), c.left);
}

INSTANTIATE_TEST_SUITE_P(
    Conventions, Writers,
    ::testing::Values(
        WriterCase{"CreationThenEcho", {Created(), Ins(u"a")}, {u"a"}, {"r"}, kRed},
        WriterCase{"ReceivedIsBlackAndLeavesRed", {Created(), Received(u"AB\r"), Ins(u"x")}, {u"AB", u"x"}, {"kk", "r"}, kRed},
        WriterCase{"EchoAtTheCaretInOldText",
                   {Created(), Received(u"ABCD"), Caret(0, 2), Ins(u"x"), Received(u"E")},
                   {u"ABxCDE"}, {"kkrkkk"}, kRed},
        WriterCase{"ReceivedDropsTheSelection",
                   {Created(), Received(u"ABCD"), Sel(0, 1, 0, 3), Received(u"E")},
                   {u"ABCDE"}, {"kkkkk"}, kRed},
        WriterCase{"AutoSendIsBlue", {Created(), AutoSend(u"A"), AutoSend(u"T"), AutoSend(u"\r"), AutoSend(u"\n"), AutoSend(u"X")},
                   {u"AT", u"X"}, {"bb", "b"}, kRed},
        WriterCase{"TransferIsRedAndLeavesBlack", {Created(), Transfer(u"T"), Ins(u"y")}, {u"Ty"}, {"rk"}, kBlack},
        WriterCase{"EnterThenCtrlEnterEchoedGiveOneLine", {Created(), Received(u"ok"), Ins(u"\r"), Ins(u"\n"), Ins(u"z")},
                   {u"ok", u"z"}, {"kk", "r"}, kRed}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Whole text, offsets, storage ---------------------------------------------------------------

TEST(DisplayText, PlainTextJoinsLinesByCrLf) {
  struct {
    std::u16string inserted;
    std::u16string plain;
  } cases[] = {
      {u"", u""},
      {u"A", u"A"},
      {u"A\nB", u"A\r\nB"},
      {u"A\r\rB", u"A\r\n\r\nB"},
      {u"A\r", u"A\r\n"},
      {u"\n", u"\r\n"},
  };
  for (const auto& c : cases) {
    DisplayText text;
    text.InsertAtCaret(c.inserted);
    EXPECT_EQ(text.PlainText(), c.plain);
    EXPECT_EQ(text.Length(), c.plain.size());
  }
}

TEST(DisplayText, OffsetsAndPositionsAgree) {
  DisplayText text;
  text.InsertAtCaret(u"ab\r\n\r\ncde\r\nf");
  const std::u16string plain = text.PlainText();
  const struct {
    TextPosition position;
    std::uint64_t offset;
  } cases[] = {{{0, 0}, 0}, {{0, 2}, 2}, {{1, 0}, 4}, {{2, 0}, 6}, {{2, 3}, 9}, {{3, 0}, 11}, {{3, 1}, 12}};
  for (const auto& c : cases) {
    EXPECT_EQ(text.Offset(c.position), c.offset);
    EXPECT_EQ(text.PositionAt(c.offset), c.position);
  }
  EXPECT_EQ(text.PositionAt(3), (TextPosition{0, 2})) << "inside a line break: the line's end";
  EXPECT_EQ(text.PositionAt(99), (TextPosition{3, 1}));
  // Line starts are remembered; an edit above must refresh them.
  text.SetCaret(TextPosition{0, 1});
  text.InsertAtCaret(u"XY\r");
  EXPECT_EQ(text.Offset(TextPosition{4, 1}), text.PlainText().size());
  EXPECT_EQ(text.PositionAt(text.PlainText().find(u'f')), (TextPosition{4, 0}));
}

TEST(DisplayText, LinesAreStoredNarrowUntilACharacterNeedsMore) {
  DisplayText text;
  text.InsertAtCaret(u"caf\u00e9\r\nprix 5\u20ac\r\n");
  ASSERT_EQ(text.LineCount(), 3u);
  EXPECT_FALSE(text.Line(0).IsWide());
  EXPECT_TRUE(text.Line(1).IsWide());
  EXPECT_EQ(Lines(text)[0], u"caf\u00e9");
  EXPECT_EQ(Lines(text)[1], u"prix 5\u20ac");
  // A wide tail appended to a narrow line, and a narrow tail to a wide one.
  text.SetCaret(TextPosition{0, 4});
  text.InsertAtCaret(u" \U0001F600");
  text.SetCaret(TextPosition{1, 0});
  text.InsertAtCaret(u"\u00e0 ");
  EXPECT_EQ(Lines(text)[0], u"caf\u00e9 \U0001F600");
  EXPECT_EQ(Lines(text)[1], u"\u00e0 prix 5\u20ac");
  text.Select(TextPosition{0, 2}, TextPosition{1, 3});
  text.InsertAtCaret(u"");
  EXPECT_EQ(Lines(text)[0], u"carix 5\u20ac");
}

// ---- Caret steps ------------------------------------------------------------------------------

TEST(DisplayText, CaretStepsOverPairsBreaksAndWords) {
  DisplayText text;
  text.InsertAtCaret(u"a\U0001F600b\r\nfoo, bar_1  baz");
  const struct {
    const char* name;
    std::function<TextPosition(const DisplayText&)> step;
    TextPosition expected;
  } cases[] = {
      {"next over a surrogate pair", [](const DisplayText& t) { return t.Next({0, 1}); }, {0, 3}},
      {"previous over a surrogate pair", [](const DisplayText& t) { return t.Previous({0, 3}); }, {0, 1}},
      {"next over the line break", [](const DisplayText& t) { return t.Next({0, 4}); }, {1, 0}},
      {"previous over the line break", [](const DisplayText& t) { return t.Previous({1, 0}); }, {0, 4}},
      {"previous at the start stays", [](const DisplayText& t) { return t.Previous({0, 0}); }, {0, 0}},
      {"next at the end stays", [](const DisplayText& t) { return t.Next({1, 15}); }, {1, 15}},
      {"next word skips word and blanks", [](const DisplayText& t) { return t.NextWord({1, 0}); }, {1, 3}},
      {"next word from punctuation", [](const DisplayText& t) { return t.NextWord({1, 3}); }, {1, 5}},
      {"next word keeps underscore and digit", [](const DisplayText& t) { return t.NextWord({1, 5}); }, {1, 12}},
      {"next word at line end goes to the next line", [](const DisplayText& t) { return t.NextWord({0, 4}); }, {1, 0}},
      {"previous word", [](const DisplayText& t) { return t.PreviousWord({1, 12}); }, {1, 5}},
      {"previous word at line start", [](const DisplayText& t) { return t.PreviousWord({1, 0}); }, {0, 4}},
  };
  for (const auto& c : cases) EXPECT_EQ(c.step(text), c.expected) << c.name;

  const auto word = text.WordAt({1, 7});
  EXPECT_EQ(word.first, (TextPosition{1, 5}));
  EXPECT_EQ(word.second, (TextPosition{1, 10}));
  const auto end = text.WordAt({1, 15});
  EXPECT_EQ(end.first, (TextPosition{1, 12}));
  EXPECT_EQ(end.second, (TextPosition{1, 15}));
}

// ---- Pieces for the log ---------------------------------------------------------------------

std::u16string Collect(const DisplayText& text, std::size_t* pieces = nullptr) {
  std::u16string all;
  std::size_t count = 0;
  text.Write([&](std::u16string_view piece) {
    EXPECT_FALSE(piece.empty());
    EXPECT_LE(piece.size(), DisplayText::kPiece);
    EXPECT_FALSE(piece.back() >= 0xD800 && piece.back() < 0xDC00) << "piece ends inside a pair";
    all.append(piece);
    ++count;
  });
  if (pieces) *pieces = count;
  return all;
}

TEST(DisplayText, WriteHandsOutTheWholeTextInPieces) {
  DisplayText text;
  EXPECT_EQ(Collect(text), u"");
  // Lines and breaks that straddle piece boundaries, and a surrogate pair right on one.
  std::u16string line(DisplayText::kPiece - 1, u'a');
  line += u"\U0001F600";
  text.InsertAtCaret(line + u"\r" + std::u16string(DisplayText::kPiece - 3, u'b') + u"\r\r" +
                     std::u16string(3 * DisplayText::kPiece, u'c'));
  std::size_t pieces = 0;
  EXPECT_EQ(Collect(text, &pieces), text.PlainText());
  EXPECT_GE(pieces, 5u);
}

struct SinceCase {
  const char* name;
  std::vector<Step> after;
  bool appendedOnly;
  std::u16string added;
};

class WriteSince : public ::testing::TestWithParam<SinceCase> {};

TEST_P(WriteSince, GivesOnlyWhatWasAppended) {
  const SinceCase& c = GetParam();
  DisplayText text;
  text.InsertAtCaret(u"old line\r\nhalf");
  const DisplayText::Mark mark = text.EndMark();
  Apply(text, c.after);
  std::u16string added;
  const bool ok = text.WriteSince(mark, [&](std::u16string_view piece) { added.append(piece); });
  EXPECT_EQ(ok, c.appendedOnly);
  EXPECT_EQ(added, c.added);
  if (ok) {
    EXPECT_EQ(u"old line\r\nhalf" + added, text.PlainText());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Log, WriteSince,
    ::testing::Values(SinceCase{"Nothing", {}, true, u""},
                      SinceCase{"AppendedToTheLastLine", {ToEnd(), Ins(u" more")}, true, u" more"},
                      SinceCase{"AppendedLines", {ToEnd(), Ins(u"\r\nnext\r"), Ins(u"\nlast")}, true, u"\r\nnext\r\nlast"},
                      SinceCase{"CaretMovedOnly", {Caret(0, 2), Sel(0, 0, 1, 1)}, true, u""},
                      SinceCase{"EchoInOldText", {Caret(0, 2), Ins(u"x")}, false, u""},
                      SinceCase{"SelectionAtTheEndReplaced", {Sel(1, 2, 1, 4), Ins(u"LF")}, false, u""},
                      SinceCase{"Cleared", {[](DisplayText& t) { t.Clear(); }, Ins(u"old line\r\nhalf!")}, false, u""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DisplayText, RevisionChangesAtEveryEditOnly) {
  DisplayText text;
  const std::uint64_t start = text.Revision();
  text.MoveCaretToEnd();
  text.SetInsertionColour(kRed);
  text.InsertAtCaret(u"");
  EXPECT_EQ(text.Revision(), start);
  text.InsertAtCaret(u"a");
  EXPECT_GT(text.Revision(), start);
  const std::uint64_t after = text.Revision();
  text.Clear();
  EXPECT_GT(text.Revision(), after);
}

}  // namespace
}  // namespace toolkit
