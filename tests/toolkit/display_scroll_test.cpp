// Scroll positions of any size on an int scroll bar: the bar's range stays an int, its ends are
// the content's ends, and a bar value stands for the positions of one unit.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>

#include "toolkit/display/scroll_scale.h"

namespace toolkit {
namespace {

struct ScaleCase {
  std::uint64_t limit;
  std::uint64_t extent;
  std::uint64_t unit;
};

class Scale : public ::testing::TestWithParam<ScaleCase> {};

TEST_P(Scale, MapsPositionsOntoTheBar) {
  const ScaleCase& c = GetParam();
  ScrollScale scale(c.limit);
  scale.SetExtent(c.extent);
  EXPECT_EQ(scale.Unit(), c.unit);
  EXPECT_GE(scale.Maximum(), 0);
  EXPECT_LE(static_cast<std::uint64_t>(scale.Maximum()), c.limit);
  EXPECT_EQ(scale.FromBar(scale.Maximum()), c.extent) << "the bar's end is the content's end";
  EXPECT_EQ(scale.FromBar(0), 0u);
  EXPECT_EQ(scale.FromBar(-5), 0u);
  EXPECT_EQ(scale.FromBar(INT_MAX), c.extent);
  EXPECT_EQ(scale.ToBar(c.extent), scale.Maximum());
  EXPECT_EQ(scale.ToBar(UINT64_MAX), scale.Maximum());
  // Positions inside the content: rounding down and up bracket the position within one unit.
  for (std::uint64_t position : {std::uint64_t{0}, std::uint64_t{1}, c.extent / 3, c.extent / 2 + 1,
                                 c.extent > 0 ? c.extent - 1 : 0}) {
    if (position > c.extent) continue;
    const std::uint64_t down = scale.FromBar(scale.ToBar(position));
    const std::uint64_t up = scale.FromBar(scale.ToBarUp(position));
    EXPECT_LE(down, position) << position;
    EXPECT_GE(up, position) << position;
    EXPECT_LT(position - down, c.unit) << position;
    EXPECT_LT(up - position, c.unit) << position;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Extents, Scale,
    ::testing::Values(ScaleCase{ScrollScale::kBarLimit, 0, 1}, ScaleCase{ScrollScale::kBarLimit, 1, 1},
                      ScaleCase{ScrollScale::kBarLimit, 70'000'000, 1},
                      ScaleCase{ScrollScale::kBarLimit, ScrollScale::kBarLimit, 1},
                      ScaleCase{ScrollScale::kBarLimit, ScrollScale::kBarLimit + 1, 2},
                      ScaleCase{ScrollScale::kBarLimit, std::uint64_t{1} << 40, 1024},
                      ScaleCase{ScrollScale::kBarLimit, UINT64_MAX, (UINT64_MAX >> 30) + 1},
                      ScaleCase{1000, 999, 1}, ScaleCase{1000, 1001, 2}, ScaleCase{1000, 10'000'000, 10'000},
                      ScaleCase{UINT64_MAX, UINT64_MAX, UINT64_MAX / INT_MAX + 1}),
    [](const auto& info) {
      return "limit" + std::to_string(info.param.limit) + "_extent" + std::to_string(info.param.extent);
    });

}  // namespace
}  // namespace toolkit
