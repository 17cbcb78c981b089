// Reads the marks that PARMRK puts into a tty's byte stream: "\377\377" stands for a data byte
// 0xFF, "\377\0\0" for a break, "\377\0c" for a byte c received with a parity or framing error.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace comm::tty {

// One per device, used under the device's lock.
class MarkParser {
 public:
  struct Result {
    size_t size = 0;        // bytes written to out
    uint32_t breaks = 0;    // break marks taken out
    uint32_t badBytes = 0;  // bytes that came with an error mark
  };

  // Writes the bytes received in in[0, n) to out, which holds n + 1 bytes; a bad byte becomes
  // replacement when one is given. "\377\0\0" is a break while breakBudget allows (a NUL with a parity error
  // looks the same; the driver's counters tell them apart), then a bad NUL; a negative budget
  // takes every such mark as a break. A mark split across two calls is completed by the next.
  Result Parse(const uint8_t* in, size_t n, uint8_t* out, std::optional<uint8_t> replacement,
               int64_t& breakBudget);
  // Forgets a half-read mark (after the input was purged).
  void Reset() { state_ = State::Data; }

 private:
  enum class State { Data, Escape, Marked };
  State state_ = State::Data;
};

}  // namespace comm::tty
