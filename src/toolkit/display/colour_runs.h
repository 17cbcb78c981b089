// The colours of one display line's characters, kept as runs: a run starts at a column and
// lasts until the next run starts, so a line written in one colour costs no allocation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace toolkit {

// A colour as 0xRRGGBB.
using Rgb = std::uint32_t;

class ColourRuns {
 public:
  explicit ColourRuns(Rgb colour = 0) : first_(colour) {}

  // The colour of the character at column; past the last character, the last run's colour.
  Rgb At(std::size_t column) const;

  // Inserts count characters of colour at column of a line that held length characters; the
  // characters from column on move up by count.
  void Insert(std::size_t column, std::size_t count, Rgb colour, std::size_t length);
  // Removes the characters [from, to) of a line that held length characters.
  void Erase(std::size_t from, std::size_t to, std::size_t length);
  // Moves the runs of the characters from column on (of length) into the result.
  ColourRuns SplitOff(std::size_t column, std::size_t length);
  // Appends the runs of tailLength characters after the length characters of this line.
  void Append(const ColourRuns& tail, std::size_t length, std::size_t tailLength);
  void ShrinkToFit() { rest_.shrink_to_fit(); }

  // Calls fn(begin, end, colour) for each run's part within [from, to), left to right.
  template <class Fn>
  void ForEach(std::size_t from, std::size_t to, Fn&& fn) const;

  // The columns [begin, end) of the run holding column, within a line of length characters.
  void RunBounds(std::size_t column, std::size_t length, std::size_t& begin, std::size_t& end) const;

  std::size_t Count() const { return rest_.size() + 1; }

 private:
  struct Run {
    std::size_t start;
    Rgb colour;
  };
  // Index of the first run of rest_ that starts at or after column.
  std::size_t FirstAtOrAfter(std::size_t column) const;
  // The colour of the run before rest_[index] (first_ for index 0).
  Rgb ColourBefore(std::size_t index) const { return index == 0 ? first_ : rest_[index - 1].colour; }

  Rgb first_;
  // Later runs: starts strictly increasing, each above 0 and below the line's length, and no run
  // has the colour of the one before it.
  std::vector<Run> rest_;
};

template <class Fn>
void ColourRuns::ForEach(std::size_t from, std::size_t to, Fn&& fn) const {
  if (from >= to) return;
  std::size_t index = FirstAtOrAfter(from + 1);  // first run starting after from
  std::size_t begin = from;
  Rgb colour = ColourBefore(index);
  while (begin < to) {
    std::size_t end = index < rest_.size() && rest_[index].start < to ? rest_[index].start : to;
    fn(begin, end, colour);
    if (end >= to) break;
    begin = end;
    colour = rest_[index].colour;
    ++index;
  }
}

}  // namespace toolkit
