#include "toolkit/loopwaits.h"

#include <QCoreApplication>
#include <QEvent>
#include <QTimer>

#include "runtime/clock.h"

namespace toolkit {

TLoopWaits::Outcome TLoopWaits::RunUntil(const std::function<bool()>& done,
                                         std::optional<uint64_t> deadlineUs) {
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
    const uint64_t t = rtl::MonotonicUs();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    if (abandoned_) return Outcome::Abandoned;
    if (done && done()) return Outcome::Done;
    if (deadlineUs && t > *deadlineUs) return Outcome::TimedOut;
    if (deadlineUs) {
      // Wake up just after the deadline if nothing else happens first.
      const uint64_t now = rtl::MonotonicUs();
      const uint64_t left = *deadlineUs >= now ? *deadlineUs - now : 0;
      wake.start(static_cast<int>(std::min<uint64_t>(left / 1000 + 1, 24ull * 3600 * 1000)));
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
  }
}

TLoopWaits::Outcome TLoopWaits::Delay(int32_t laps) {
  const uint64_t t0 = rtl::MonotonicUs();
  if (laps < 0) return RunUntil([] { return true; });
  // "More than laps ms": the check uses the time taken before each pass.
  return RunUntil(nullptr, t0 + static_cast<uint64_t>(laps) * 1000);
}

void TLoopWaits::AbandonAll() {
  abandoned_ = true;
  // Unblock a wait sleeping in the event loop.
  QCoreApplication::postEvent(this, new QEvent(QEvent::User));
}

}  // namespace toolkit
