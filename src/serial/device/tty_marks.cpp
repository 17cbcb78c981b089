#include "serial/device/tty_marks.h"

namespace comm::tty {

MarkParser::Result MarkParser::Parse(const uint8_t* in, size_t n, uint8_t* out,
                                     std::optional<uint8_t> replacement, int64_t& breakBudget) {
  Result r;
  size_t o = 0;
  for (size_t i = 0; i < n; ++i) {
    const uint8_t b = in[i];
    switch (state_) {
      case State::Data:
        if (b == 0xFF) {
          state_ = State::Escape;
        } else {
          out[o++] = b;
        }
        break;
      case State::Escape:
        if (b == 0xFF) {
          out[o++] = 0xFF;
          state_ = State::Data;
        } else if (b == 0) {
          state_ = State::Marked;
        } else {
          // Not a mark the kernel writes; keep both bytes as they came.
          out[o++] = 0xFF;
          out[o++] = b;
          state_ = State::Data;
        }
        break;
      case State::Marked:
        state_ = State::Data;
        if (b == 0 && breakBudget != 0) {
          ++r.breaks;
          if (breakBudget > 0) --breakBudget;
        } else {
          ++r.badBytes;
          out[o++] = replacement ? *replacement : b;
        }
        break;
    }
  }
  r.size = o;
  return r;
}

}  // namespace comm::tty
