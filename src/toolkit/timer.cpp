#include "toolkit/timer.h"

#include <QTimerEvent>
#include <algorithm>

#include "toolkit/errorbox.h"

namespace toolkit {

namespace {
// Longest single Qt timer step used for very long periods.
constexpr uint64_t kStepMs = 24ull * 3600 * 1000;
}  // namespace

TTimer::TTimer(QObject* parent) : QObject(parent) {}

void TTimer::SetInterval(int32_t interval) {
  if (interval == interval_) return;
  interval_ = interval;
  if (enabled_) Arm();
}

void TTimer::SetEnabled(bool enabled) {
  if (enabled == enabled_) return;
  enabled_ = enabled;
  if (enabled_) {
    Arm();
  } else {
    timer_.stop();
  }
}

void TTimer::Arm() {
  timer_.stop();
  const uint64_t period = static_cast<uint32_t>(interval_);
  if (period == 0) return;
  remainingMs_ = period;
  timer_.start(static_cast<int>(std::min(period, kStepMs)), Qt::PreciseTimer, this);
}

void TTimer::timerEvent(QTimerEvent* e) {
  if (e->timerId() != timer_.timerId()) {
    QObject::timerEvent(e);
    return;
  }
  const uint64_t period = static_cast<uint32_t>(interval_);
  if (period > kStepMs) {
    // Count a long period down in steps; tick when it has run out.
    remainingMs_ -= std::min(remainingMs_, kStepMs);
    if (remainingMs_ > 0) {
      timer_.start(static_cast<int>(std::min(remainingMs_, kStepMs)), Qt::PreciseTimer, this);
      return;
    }
    remainingMs_ = period;
    timer_.start(static_cast<int>(std::min(period, kStepMs)), Qt::PreciseTimer, this);
  }
  if (OnTimer) RunGuarded(OnTimer);
}

}  // namespace toolkit
