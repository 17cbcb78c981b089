#include "toolkit/loopwaits.h"

#include <QCoreApplication>
#include <QEvent>
#include <QTimer>

#include "runtime/clock.h"

namespace toolkit {

TLoopWaits::Outcome TLoopWaits::RunUntil(const std::function<bool()>& done,
                                         std::optional<uint64_t> deadlineNs) {
  struct DepthGuard {
    int& d;
    explicit DepthGuard(int& depth) : d(depth) { ++d; }
    ~DepthGuard() { --d; }
  } guard(depth_);
  QTimer wake;
  wake.setSingleShot(true);
  wake.setTimerType(Qt::PreciseTimer);
  for (;;) {
    if (abandoned_) return Outcome::Abandoned;
    const uint64_t t = rtl::MonotonicNs();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    if (abandoned_) return Outcome::Abandoned;
    if (done && done()) return Outcome::Done;
    if (deadlineNs && t > *deadlineNs) return Outcome::TimedOut;
    if (deadlineNs) {
      const uint64_t now = rtl::MonotonicNs();
      if (now > *deadlineNs) continue;  // passed during this pass: the next check ends the wait
      // Wake up at the deadline (rounded up to the timer's milliseconds) unless an event
      // comes first.
      const uint64_t leftMs = (*deadlineNs - now) / 1'000'000 + 1;
      wake.start(static_cast<int>(std::min<uint64_t>(leftMs, 24ull * 3600 * 1000)));
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
  }
}

TLoopWaits::Outcome TLoopWaits::Delay(int32_t laps) {
  const uint64_t t0 = rtl::MonotonicNs();
  if (laps < 0) return RunUntil([] { return true; });
  // "More than laps ms": the check uses the time taken before each pass.
  return RunUntil(nullptr, t0 + static_cast<uint64_t>(laps) * 1'000'000);
}

void TLoopWaits::AbandonAll() {
  abandoned_ = true;
  // Unblock a wait sleeping in the event loop.
  QCoreApplication::postEvent(this, new QEvent(QEvent::User));
}

}  // namespace toolkit
