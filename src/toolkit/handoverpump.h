// Serves the window thread's hand-over queue from the Qt event loop: every hand-over that an
// event thread queues wakes the loop up, which runs it (nested loops included).
#pragma once

#include <QObject>
#include <memory>

#include "runtime/messagequeue.h"

namespace toolkit {

class THandoverPump : public QObject {
 public:
  // Installs the wake-up on the calling (window) thread's queue; removes it when destroyed.
  THandoverPump();
  ~THandoverPump() override;

 protected:
  bool event(QEvent* e) override;

 private:
  struct Target;
  std::shared_ptr<rtl::TMessageQueue> queue_;
  std::shared_ptr<Target> target_;
};

}  // namespace toolkit
