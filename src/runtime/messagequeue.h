// A thread's queue of hand-overs: work that other threads give it to run on its own stack.
// The window thread serves its queue from its message loop (through an installed wake-up), from
// every message-pumping wait, and while it waits for a thread to end.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

#include "runtime/event.h"

namespace rtl {

class TMessageQueue {
 public:
  // The calling thread's queue, made on first use; it lives as long as someone holds it.
  static std::shared_ptr<TMessageQueue> Current();

  // Queues fn to run on the owner thread; returns at once.
  void Post(std::function<void()> fn);

  // Runs fn on the owner thread and waits until it has run; an exception from fn is raised here.
  // Called on the owner thread, runs fn at once.
  void Send(std::function<void()> fn);

  // On the owner thread: runs what is queued now, in order. Returns whether anything ran.
  bool ProcessPending();

  // Called from the posting thread after each Post or Send, so a message loop can be woken up
  // (the Qt side posts an event to itself). Installed on the owner thread.
  void SetWakeup(std::function<void()> wakeup);

  // Signalled while work is queued; the owner's waits include it so they can serve the queue.
  TEvent& WorkEvent() { return work_; }

  bool IsOwnerThread() const;

  // Waits until event is signalled or timeoutMs passes, serving this queue meanwhile; call it on
  // the owner thread. Returns WAIT_OBJECT_0 or WAIT_TIMEOUT.
  uint32_t WaitServing(TEvent& event, uint32_t timeoutMs);

 private:
  TMessageQueue();

  std::mutex mutex_;
  std::deque<std::function<void()>> items_;
  std::function<void()> wakeup_;
  TEvent work_{true, false};
  const uint64_t owner_;
};

// Hands fn over to the thread of queue and waits for it (the thread class's Synchronize).
inline void Synchronize(TMessageQueue& queue, std::function<void()> fn) { queue.Send(std::move(fn)); }

}  // namespace rtl
