// A timer with the toolkit's rules: setting the current interval or starting a running timer
// changes nothing, a new interval restarts the count, interval 0 gives no ticks, and a negative
// interval is its unsigned millisecond count (-5000 waits about 49.7 days).
#pragma once

#include <QBasicTimer>
#include <QObject>
#include <cstdint>
#include <functional>

namespace toolkit {

class TTimer : public QObject {
 public:
  explicit TTimer(QObject* parent = nullptr);

  int32_t Interval() const { return interval_; }
  void SetInterval(int32_t interval);
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool enabled);

  // Runs at each tick through the handler guard: an exception shows the error box and the
  // timer goes on.
  std::function<void()> OnTimer;

 protected:
  void timerEvent(QTimerEvent* e) override;

 private:
  void Arm();

  int32_t interval_ = 1000;
  bool enabled_ = false;
  QBasicTimer timer_;
  uint64_t remainingMs_ = 0;  // of a period longer than one Qt timer can count
};

}  // namespace toolkit
