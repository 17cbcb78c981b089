#include "serial/device/timeout_rules.h"

namespace comm {

namespace {

// Beyond this a timeout can never be reached in practice (and would overflow time points).
constexpr uint64_t kNeverMs = uint64_t{1} << 40;

std::optional<Millis> Total(uint32_t multiplier, uint32_t constant, uint32_t count) {
  if (multiplier == 0 && constant == 0) return std::nullopt;
  uint64_t ms = uint64_t{multiplier} * count + constant;
  if (ms >= kNeverMs) return std::nullopt;
  return Millis(static_cast<int64_t>(ms));
}

}  // namespace

ReadRule ReadRuleFor(const COMMTIMEOUTS& t, uint32_t count) {
  ReadRule rule;
  const uint32_t ri = t.ReadIntervalTimeout, rm = t.ReadTotalTimeoutMultiplier,
                 rc = t.ReadTotalTimeoutConstant;
  if (ri == MAXDWORD && rm == 0 && rc == 0) {
    rule.mode = ReadRule::Mode::Immediate;
    return rule;
  }
  if (ri == MAXDWORD && rm == MAXDWORD && rc != 0 && rc != MAXDWORD) {
    rule.mode = ReadRule::Mode::FirstByte;
    rule.total = Millis(rc);
    return rule;
  }
  rule.total = Total(rm, rc, count);
  // An all-ones interval outside the two special forms is 49 days: no interval timeout.
  if (ri != 0 && ri != MAXDWORD) rule.interval = Millis(ri);
  return rule;
}

std::optional<Millis> WriteTotalFor(const COMMTIMEOUTS& t, uint32_t count) {
  return Total(t.WriteTotalTimeoutMultiplier, t.WriteTotalTimeoutConstant, count);
}

bool TimeoutsValid(const COMMTIMEOUTS& t) {
  return !(t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == MAXDWORD &&
           t.ReadTotalTimeoutConstant == MAXDWORD);
}

}  // namespace comm
