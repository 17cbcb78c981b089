#include "toolkit/handoverpump.h"

#include <QCoreApplication>
#include <QEvent>
#include <mutex>

#include "toolkit/errorbox.h"

namespace toolkit {

namespace {
const QEvent::Type kServeEvent = static_cast<QEvent::Type>(QEvent::registerEventType());
}

// Reached from posting threads; the pump may be gone by the time a wake-up runs.
struct THandoverPump::Target {
  std::mutex mutex;
  QObject* object = nullptr;
  bool posted = false;
};

THandoverPump::THandoverPump()
    : queue_(rtl::TMessageQueue::Current()), target_(std::make_shared<Target>()) {
  target_->object = this;
  queue_->SetWakeup([target = target_] {
    // One pending wake-up event at a time is enough: it serves everything queued by then.
    std::lock_guard lock(target->mutex);
    if (target->object && !target->posted) {
      target->posted = true;
      QCoreApplication::postEvent(target->object, new QEvent(kServeEvent));
    }
  });
}

THandoverPump::~THandoverPump() {
  queue_->SetWakeup(nullptr);
  std::lock_guard lock(target_->mutex);
  target_->object = nullptr;
}

bool THandoverPump::event(QEvent* e) {
  if (e->type() != kServeEvent) return QObject::event(e);
  {
    std::lock_guard lock(target_->mutex);
    target_->posted = false;
  }
  RunGuarded([this] { queue_->ProcessPending(); });
  return true;
}

}  // namespace toolkit
