#include "runtime/event.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>

#include "runtime/lasterror.h"

namespace rtl {

// One waiting thread: any of the events it watches wakes it through its own condition.
struct EventWaiter {
  std::mutex mutex;
  std::condition_variable cv;
  bool woken = false;
};

TEvent::TEvent(bool manualReset, bool initialState) : manual_(manualReset), state_(initialState) {}

TEvent::~TEvent() = default;

void TEvent::Set() {
  std::lock_guard lock(mutex_);
  state_ = true;
  for (EventWaiter* w : waiters_) {
    {
      std::lock_guard wl(w->mutex);
      w->woken = true;
    }
    // The waiter cannot leave while this event's lock is held, so notifying outside its own
    // lock is safe, and saves it a wake-up into a held mutex.
    w->cv.notify_one();
  }
}

void TEvent::Reset() {
  std::lock_guard lock(mutex_);
  state_ = false;
}

bool TEvent::IsSet() const {
  std::lock_guard lock(mutex_);
  return state_;
}

bool TEvent::TryConsume() {
  if (!state_) return false;
  if (!manual_) state_ = false;
  return true;
}

EventHandle CreateEvent(bool manualReset, bool initialState) {
  return std::make_shared<TEvent>(manualReset, initialState);
}

uint32_t WaitForMultipleObjects(std::span<TEvent* const> events, uint32_t timeoutMs) {
  if (events.empty() || std::any_of(events.begin(), events.end(), [](TEvent* e) { return !e; })) {
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
  }
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  EventWaiter waiter;
  auto unregister = [&](size_t count) {
    for (size_t i = 0; i < count; ++i) {
      std::lock_guard lock(events[i]->mutex_);
      auto& l = events[i]->waiters_;
      l.erase(std::remove(l.begin(), l.end(), &waiter), l.end());
    }
  };
  for (;;) {
    // Check each event in order and register on those not signalled, under each one's lock,
    // so that a Set between the check and the sleep still wakes us.
    {
      std::lock_guard wl(waiter.mutex);
      waiter.woken = false;
    }
    for (size_t i = 0; i < events.size(); ++i) {
      std::unique_lock lock(events[i]->mutex_);
      if (events[i]->TryConsume()) {
        lock.unlock();
        unregister(i);
        return WAIT_OBJECT_0 + static_cast<uint32_t>(i);
      }
      events[i]->waiters_.push_back(&waiter);
    }
    bool timedOut = false;
    {
      std::unique_lock wl(waiter.mutex);
      if (timeoutMs == INFINITE) {
        waiter.cv.wait(wl, [&] { return waiter.woken; });
      } else {
        timedOut = !waiter.cv.wait_until(wl, deadline, [&] { return waiter.woken; });
      }
    }
    unregister(events.size());
    if (timedOut) {
      // A last look, so that an event set right at the deadline is not missed.
      for (size_t i = 0; i < events.size(); ++i) {
        std::lock_guard lock(events[i]->mutex_);
        if (events[i]->TryConsume()) return WAIT_OBJECT_0 + static_cast<uint32_t>(i);
      }
      return WAIT_TIMEOUT;
    }
  }
}

uint32_t WaitForMultipleObjects(std::span<const EventHandle> events, uint32_t timeoutMs) {
  std::vector<TEvent*> raw;
  raw.reserve(events.size());
  for (const auto& e : events) raw.push_back(e.get());
  return WaitForMultipleObjects(std::span<TEvent* const>(raw), timeoutMs);
}

uint32_t WaitForSingleObject(const EventHandle& event, uint32_t timeoutMs) {
  TEvent* one[] = {event.get()};
  return WaitForMultipleObjects(std::span<TEvent* const>(one), timeoutMs);
}

uint32_t WaitForSingleObject(TEvent& event, uint32_t timeoutMs) {
  TEvent* one[] = {&event};
  return WaitForMultipleObjects(std::span<TEvent* const>(one), timeoutMs);
}

}  // namespace rtl
