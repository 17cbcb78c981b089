// The platform's read and write timeout rules, turned into the durations a pending transfer uses.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

#include "serial/device/comm.h"

namespace comm {

using Millis = std::chrono::milliseconds;

// How one read of count bytes ends, besides getting all of them.
struct ReadRule {
  enum class Mode {
    Count,      // wait for count bytes, within the total and interval timeouts
    Immediate,  // interval all ones, totals 0: return at once with what is queued, maybe nothing
    FirstByte,  // interval and multiplier all ones, constant between: return with the first bytes
  };
  Mode mode = Mode::Count;
  std::optional<Millis> total;     // from the start of the read
  std::optional<Millis> interval;  // after each arrival, once the read has a byte
};

ReadRule ReadRuleFor(const COMMTIMEOUTS& t, uint32_t count);

// The total timeout of a write of count bytes; none when both write values are 0.
std::optional<Millis> WriteTotalFor(const COMMTIMEOUTS& t, uint32_t count);

// False for the one combination the platform refuses (interval, multiplier and constant all ones).
bool TimeoutsValid(const COMMTIMEOUTS& t);

}  // namespace comm
