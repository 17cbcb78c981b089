// Waits that keep the window alive: they run the Qt message loop until their condition holds,
// blocking between events (the CPU stays idle), and can all be abandoned when the window closes.
#pragma once

#include <QObject>
#include <cstdint>
#include <functional>
#include <optional>

namespace toolkit {

class TLoopWaits : public QObject {
 public:
  enum class Outcome { Done, TimedOut, Abandoned };

  // Handles every pending event at least once, then again and again until done() holds, the
  // monotonic clock (nanoseconds, rtl::MonotonicNs) read before a pass is past deadlineNs, or
  // the waits are abandoned. Sleeps in the event loop between events. Window thread only.
  Outcome RunUntil(const std::function<bool()>& done, std::optional<uint64_t> deadlineNs = {});

  // Returns once more than laps milliseconds have passed since the call, handling events
  // meanwhile (once at least; laps <= 0 ends after one pass once the clock has moved on for 0).
  Outcome Delay(int32_t laps);

  // Ends every wait now running, and makes every later one return at once.
  void AbandonAll();
  bool Abandoned() const { return abandoned_; }

  // How many waits are running now (nested ones included).
  int Depth() const { return depth_; }

 private:
  bool abandoned_ = false;
  int depth_ = 0;
};

}  // namespace toolkit
