#include "runtime/messagequeue.h"

#include <atomic>
#include <chrono>
#include <exception>

namespace rtl {

namespace {

uint64_t CurrentThreadNumber() {
  static std::atomic<uint64_t> next{1};
  thread_local const uint64_t number = next.fetch_add(1);
  return number;
}

}  // namespace

TMessageQueue::TMessageQueue() : owner_(CurrentThreadNumber()) {}

std::shared_ptr<TMessageQueue> TMessageQueue::Current() {
  thread_local std::shared_ptr<TMessageQueue> queue(new TMessageQueue());
  return queue;
}

bool TMessageQueue::IsOwnerThread() const { return CurrentThreadNumber() == owner_; }

void TMessageQueue::Post(std::function<void()> fn) {
  std::function<void()> wakeup;
  {
    std::lock_guard lock(mutex_);
    items_.push_back(std::move(fn));
    work_.Set();
    wakeup = wakeup_;
  }
  if (wakeup) wakeup();
}

void TMessageQueue::Send(std::function<void()> fn) {
  if (IsOwnerThread()) {
    fn();
    return;
  }
  // The state is shared so that the item stays valid if this thread is released early.
  struct Call {
    std::function<void()> fn;
    std::exception_ptr error;
    TEvent done{true, false};
  };
  auto call = std::make_shared<Call>();
  call->fn = std::move(fn);
  Post([call] {
    try {
      call->fn();
    } catch (...) {
      call->error = std::current_exception();
    }
    call->done.Set();
  });
  WaitForSingleObject(call->done, INFINITE);
  if (call->error) std::rethrow_exception(call->error);
}

bool TMessageQueue::ProcessPending() {
  std::deque<std::function<void()>> batch;
  {
    std::lock_guard lock(mutex_);
    batch.swap(items_);
    work_.Reset();
  }
  bool ran = false;
  while (!batch.empty()) {
    auto fn = std::move(batch.front());
    batch.pop_front();
    ran = true;
    try {
      fn();
    } catch (...) {
      // Put back what is left, in order, then let the error reach the loop's guard.
      std::lock_guard lock(mutex_);
      for (auto it = batch.rbegin(); it != batch.rend(); ++it) items_.push_front(std::move(*it));
      if (!items_.empty()) work_.Set();
      throw;
    }
  }
  return ran;
}

void TMessageQueue::SetWakeup(std::function<void()> wakeup) {
  bool pending;
  {
    std::lock_guard lock(mutex_);
    wakeup_ = wakeup;
    pending = !items_.empty();
  }
  if (pending && wakeup) wakeup();
}

uint32_t TMessageQueue::WaitServing(TEvent& event, uint32_t timeoutMs) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  TEvent* handles[] = {&event, &work_};
  for (;;) {
    uint32_t left = INFINITE;
    if (timeoutMs != INFINITE) {
      auto now = Clock::now();
      left = now >= deadline ? 0
                             : static_cast<uint32_t>(
                                   std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count());
    }
    uint32_t r = WaitForMultipleObjects(std::span<TEvent* const>(handles), left);
    if (r == WAIT_OBJECT_0) return WAIT_OBJECT_0;
    if (r == WAIT_OBJECT_0 + 1) {
      ProcessPending();
      continue;
    }
    return WAIT_TIMEOUT;
  }
}

}  // namespace rtl
