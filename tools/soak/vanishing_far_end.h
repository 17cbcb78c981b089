// The far end of a pseudo-terminal that vanishes: on its own thread it reads what the terminal
// sends, optionally streams random bytes or answers each line with a prompt, and at a planned
// moment closes the master side, as a device that is unplugged or a far program that dies.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

#include "runtime/fd.h"

namespace soak {

class VanishingFarEnd {
 public:
  struct Plan {
    uint64_t closeAfterUs = 0;  // from the start (when closeAtLf is negative)
    bool stream = false;        // write random bytes until it vanishes
    bool answerPrompts = false; // send ">" 20 ms after each LF it receives
    int closeAtLf = -1;         // vanish instead of answering this LF (counted from 0) ...
    uint64_t closeDelayUs = 0;  // ... this long after it came
  };
  VanishingFarEnd(rtl::UniqueFd master, Plan plan, uint64_t seed);
  ~VanishingFarEnd();
  VanishingFarEnd(const VanishingFarEnd&) = delete;
  VanishingFarEnd& operator=(const VanishingFarEnd&) = delete;

  // Whether the master has been closed; any thread.
  bool Vanished() const { return vanished_; }
  // Microseconds from the start to the close, and the close on the monotonic clock.
  uint64_t VanishedAtUs() const { return vanishedAtUs_; }
  uint64_t VanishedAtMonotonicUs() const { return vanishedAtMonotonicUs_; }
  uint64_t Received() const { return received_; }

 private:
  void Run();

  rtl::UniqueFd master_;
  Plan plan_;
  uint64_t seed_;
  std::atomic<bool> vanished_{false};
  std::atomic<uint64_t> vanishedAtUs_{0};
  std::atomic<uint64_t> vanishedAtMonotonicUs_{0};
  std::atomic<uint64_t> received_{0};
  std::thread thread_;
};

}  // namespace soak
