// A monotonic millisecond clock for every pause and wait: it never goes back and ignores midnight.
#pragma once

#include <cstdint>

namespace rtl {

// Milliseconds since an arbitrary fixed point; never decreases.
uint64_t MonotonicMs() noexcept;
// Microseconds and nanoseconds on the same clock.
uint64_t MonotonicUs() noexcept;
uint64_t MonotonicNs() noexcept;

}  // namespace rtl
