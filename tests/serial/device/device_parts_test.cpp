// Parts of the device layer that no pseudo-terminal reaches: the marks of a real tty's byte
// stream (breaks and bad bytes), the ring's wrap and growth, and the timeout rules.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "serial/device/byte_ring.h"
#include "serial/device/timeout_rules.h"
#include "serial/device/tty_marks.h"

using comm::MAXDWORD;

TEST(TtyMarks, MarksBecomeBytesBreaksAndBadBytes) {
  struct Case {
    const char* name;
    std::vector<std::string> chunks;  // as the reads deliver them
    int64_t budget;                   // breaks the counters announced (-1: no counters)
    std::optional<uint8_t> replacement;
    std::string expect;
    uint32_t breaks, bad;
  } cases[] = {
      {"plain bytes", {"abc"}, -1, std::nullopt, "abc", 0, 0},
      {"doubled 0xFF is one data byte", {"a\xff\xff" "b"}, -1, std::nullopt, "a\xff" "b", 0, 0},
      {"break taken out", {std::string("x\xff\0\0y", 5)}, -1, std::nullopt, "xy", 1, 0},
      {"bad byte kept", {std::string("\xff\0q", 3)}, -1, std::nullopt, "q", 0, 1},
      {"bad byte replaced", {std::string("a\xff\0qb", 5)}, -1, uint8_t{'?'}, "a?b", 0, 1},
      {"mark split over reads", {"a\xff", std::string("\0", 1), "zb"}, -1, std::nullopt, "azb", 0, 1},
      {"0xFF pair split", {"\xff", "\xff"}, -1, std::nullopt, "\xff", 0, 0},
      {"counters say one break: the second NUL mark is a bad NUL",
       {std::string("\xff\0\0\xff\0\0", 6)}, 1, std::nullopt, std::string("\0", 1), 1, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    comm::tty::MarkParser parser;
    int64_t budget = c.budget;
    std::string out;
    uint32_t breaks = 0, bad = 0;
    for (const std::string& chunk : c.chunks) {
      std::vector<uint8_t> buf(chunk.size() + 1);
      auto r = parser.Parse(reinterpret_cast<const uint8_t*>(chunk.data()), chunk.size(), buf.data(),
                            c.replacement, budget);
      out.append(reinterpret_cast<const char*>(buf.data()), r.size);
      breaks += r.breaks;
      bad += r.badBytes;
    }
    EXPECT_EQ(out, c.expect);
    EXPECT_EQ(breaks, c.breaks);
    EXPECT_EQ(bad, c.bad);
  }
}

TEST(ByteRing, KeepsOrderAcrossTheWrapAndWhenItGrows) {
  comm::ByteRing ring(8);
  uint8_t out[16] = {};
  const uint8_t a[] = {1, 2, 3, 4, 5, 6};
  EXPECT_EQ(ring.Write(a, 6), 6u);
  EXPECT_EQ(ring.Read(out, 4), 4u);
  const uint8_t b[] = {7, 8, 9, 10, 11, 12, 13};
  EXPECT_EQ(ring.Write(b, 7), 6u);  // room for 6 only
  EXPECT_EQ(ring.Free(), 0u);
  ring.Reserve(12);
  EXPECT_EQ(ring.Write(b + 6, 1), 1u);
  ASSERT_EQ(ring.Read(out, 16), 9u);
  const std::vector<uint8_t> expect = {5, 6, 7, 8, 9, 10, 11, 12, 13};
  EXPECT_EQ(std::vector<uint8_t>(out, out + 9), expect);
  EXPECT_TRUE(ring.Empty());
}

TEST(TimeoutRules, TheSpecialFormsAndTheTotals) {
  using Mode = comm::ReadRule::Mode;
  struct Case {
    comm::COMMTIMEOUTS t;
    uint32_t count;
    Mode mode;
    std::optional<int64_t> total, interval;
  } cases[] = {
      {{MAXDWORD, 0, 0, 0, 0}, 10, Mode::Immediate, std::nullopt, std::nullopt},
      {{MAXDWORD, MAXDWORD, 250, 0, 0}, 10, Mode::FirstByte, 250, std::nullopt},
      {{MAXDWORD, MAXDWORD, MAXDWORD - 1, 0, 0}, 10, Mode::FirstByte, int64_t{MAXDWORD} - 1, std::nullopt},
      {{MAXDWORD, MAXDWORD, 0, 0, 0}, 1, Mode::Count, int64_t{MAXDWORD}, std::nullopt},  // not a special form
      {{0, 0, 0, 0, 0}, 10, Mode::Count, std::nullopt, std::nullopt},
      {{500, 500, 5000, 0, 0}, 3, Mode::Count, 6500, 500},
      {{20, 0, 0, 0, 0}, 3, Mode::Count, std::nullopt, 20},
      {{MAXDWORD, 0, 100, 0, 0}, 2, Mode::Count, 100, std::nullopt},
  };
  for (const Case& c : cases) {
    comm::ReadRule r = comm::ReadRuleFor(c.t, c.count);
    EXPECT_EQ(r.mode, c.mode);
    EXPECT_EQ(r.total.has_value(), c.total.has_value());
    if (r.total && c.total) {
      EXPECT_EQ(r.total->count(), *c.total);
    }
    EXPECT_EQ(r.interval.has_value(), c.interval.has_value());
    if (r.interval && c.interval) {
      EXPECT_EQ(r.interval->count(), *c.interval);
    }
  }
  EXPECT_EQ(comm::WriteTotalFor({0, 0, 0, 100, 1000}, 5)->count(), 1500);
  EXPECT_FALSE(comm::WriteTotalFor({0, 0, 0, 0, 0}, 5).has_value());
  EXPECT_FALSE(comm::TimeoutsValid({MAXDWORD, MAXDWORD, MAXDWORD, 0, 0}));
  EXPECT_TRUE(comm::TimeoutsValid({MAXDWORD, MAXDWORD, 5, 0, 0}));
}
