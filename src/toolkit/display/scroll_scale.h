// Scroll positions of any size on a scroll bar's int range: when the content is longer than the
// bar can count, one bar step stands for several content units (lines or pixels).
#pragma once

#include <cstdint>

namespace toolkit {

class ScrollScale {
 public:
  static constexpr std::uint64_t kBarLimit = std::uint64_t{1} << 30;

  // limit: the largest bar maximum (at most INT_MAX).
  explicit ScrollScale(std::uint64_t limit = kBarLimit);

  // The largest scroll position, in content units.
  void SetExtent(std::uint64_t extent);
  std::uint64_t Extent() const { return extent_; }
  // Content units per bar step, at least 1.
  std::uint64_t Unit() const { return unit_; }
  // The bar's maximum; bar value Maximum() is scroll position Extent().
  int Maximum() const { return maximum_; }

  // The bar value at or before position (Maximum() from Extent() on).
  int ToBar(std::uint64_t position) const;
  // The bar value at or after position (Maximum() from Extent() on).
  int ToBarUp(std::uint64_t position) const;
  // The scroll position of a bar value; values outside 0..Maximum() are clamped.
  std::uint64_t FromBar(int value) const;

 private:
  std::uint64_t limit_;
  std::uint64_t extent_ = 0;
  std::uint64_t unit_ = 1;
  int maximum_ = 0;
};

}  // namespace toolkit
