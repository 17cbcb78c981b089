#include "toolkit/display/colour_runs.h"

#include <algorithm>
#include <iterator>

namespace toolkit {

std::size_t ColourRuns::FirstAtOrAfter(std::size_t column) const {
  auto it = std::lower_bound(rest_.begin(), rest_.end(), column,
                             [](const Run& run, std::size_t c) { return run.start < c; });
  return static_cast<std::size_t>(it - rest_.begin());
}

Rgb ColourRuns::At(std::size_t column) const {
  return ColourBefore(FirstAtOrAfter(column + 1));
}

void ColourRuns::RunBounds(std::size_t column, std::size_t length, std::size_t& begin,
                           std::size_t& end) const {
  std::size_t index = FirstAtOrAfter(column + 1);
  begin = index == 0 ? 0 : rest_[index - 1].start;
  end = index < rest_.size() ? rest_[index].start : length;
}

void ColourRuns::Insert(std::size_t column, std::size_t count, Rgb colour, std::size_t length) {
  if (count == 0) return;
  if (length == 0) {
    first_ = colour;
    rest_.clear();
    return;
  }
  const std::size_t index = FirstAtOrAfter(column);
  const bool startsAtColumn = index < rest_.size() && rest_[index].start == column;
  const bool hasOld = column < length;
  const Rgb old = startsAtColumn ? rest_[index].colour : ColourBefore(index);
  for (std::size_t i = index; i < rest_.size(); ++i) rest_[i].start += count;

  if (column == 0) {
    // first_ covers column 0; no run of rest_ starts there.
    if (old != colour) rest_.insert(rest_.begin(), Run{count, old});
    first_ = colour;
    return;
  }
  const Rgb before = ColourBefore(index);
  Run added[2];
  std::size_t addedCount = 0;
  std::size_t at = index;
  if (colour != before) added[addedCount++] = Run{column, colour};
  if (hasOld && old != colour) {
    if (!startsAtColumn) added[addedCount++] = Run{column + count, old};
  } else if (hasOld && startsAtColumn) {
    // The run that began at column now continues the inserted colour.
    rest_.erase(rest_.begin() + static_cast<std::ptrdiff_t>(index));
  }
  rest_.insert(rest_.begin() + static_cast<std::ptrdiff_t>(at), added, added + addedCount);
}

void ColourRuns::Erase(std::size_t from, std::size_t to, std::size_t length) {
  to = std::min(to, length);
  if (from >= to) return;
  const std::size_t count = to - from;
  const bool hasAfter = to < length;
  const Rgb after = hasAfter ? At(to) : 0;
  const std::size_t low = FirstAtOrAfter(from);
  const std::size_t high = FirstAtOrAfter(to + 1);
  rest_.erase(rest_.begin() + static_cast<std::ptrdiff_t>(low),
              rest_.begin() + static_cast<std::ptrdiff_t>(high));
  for (std::size_t i = low; i < rest_.size(); ++i) rest_[i].start -= count;
  if (!hasAfter) return;
  if (from == 0) {
    first_ = after;
  } else if (after != ColourBefore(low)) {
    rest_.insert(rest_.begin() + static_cast<std::ptrdiff_t>(low), Run{from, after});
  }
}

ColourRuns ColourRuns::SplitOff(std::size_t column, std::size_t length) {
  ColourRuns tail(At(column));
  if (column >= length) return tail;
  const std::size_t index = FirstAtOrAfter(column + 1);
  tail.rest_.reserve(rest_.size() - index);
  for (std::size_t i = index; i < rest_.size(); ++i)
    tail.rest_.push_back(Run{rest_[i].start - column, rest_[i].colour});
  // A run starting exactly at column now begins the tail (its colour is tail.first_).
  const std::size_t keep = FirstAtOrAfter(column);
  rest_.erase(rest_.begin() + static_cast<std::ptrdiff_t>(keep), rest_.end());
  return tail;
}

void ColourRuns::Append(const ColourRuns& tail, std::size_t length, std::size_t tailLength) {
  if (tailLength == 0) return;
  if (length == 0) {
    *this = tail;
    return;
  }
  const Rgb last = rest_.empty() ? first_ : rest_.back().colour;
  if (tail.first_ != last) rest_.push_back(Run{length, tail.first_});
  rest_.reserve(rest_.size() + tail.rest_.size());
  for (const Run& run : tail.rest_) rest_.push_back(Run{run.start + length, run.colour});
}

}  // namespace toolkit
