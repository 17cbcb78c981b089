#include "toolkit/display/scroll_scale.h"

#include <algorithm>
#include <climits>

namespace toolkit {

ScrollScale::ScrollScale(std::uint64_t limit)
    : limit_(std::clamp<std::uint64_t>(limit, 1, INT_MAX)) {}

void ScrollScale::SetExtent(std::uint64_t extent) {
  extent_ = extent;
  unit_ = std::max<std::uint64_t>(1, extent / limit_ + (extent % limit_ != 0));
  maximum_ = static_cast<int>(extent / unit_ + (extent % unit_ != 0));
}

int ScrollScale::ToBar(std::uint64_t position) const {
  if (position >= extent_) return maximum_;
  return static_cast<int>(position / unit_);
}

int ScrollScale::ToBarUp(std::uint64_t position) const {
  if (position >= extent_) return maximum_;
  return static_cast<int>(position / unit_ + (position % unit_ != 0));
}

std::uint64_t ScrollScale::FromBar(int value) const {
  if (value <= 0) return 0;
  if (value >= maximum_) return extent_;
  return static_cast<std::uint64_t>(value) * unit_;
}

}  // namespace toolkit
