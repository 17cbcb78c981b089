// The thread class: created suspended, started, with a best-effort priority, and terminated and
// waited for by its owner. Synchronize hands work to the thread that created it.
#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <thread>

#include "runtime/event.h"
#include "runtime/messagequeue.h"

namespace rtl {

class TThread {
 public:
  // The platform thread exists once the constructor returns; it runs Execute after Start
  // (or at once when createSuspended is false: call Start from the derived constructor then).
  // A thread the platform refuses to make raises EThread.
  TThread();
  virtual ~TThread();
  TThread(const TThread&) = delete;
  TThread& operator=(const TThread&) = delete;

  void Start();
  void Terminate() { terminated_.store(true); }
  bool Terminated() const { return terminated_.load(); }
  bool Finished() const { return finished_->IsSet(); }

  // Waits until Execute has returned (at once if it never started). On the creating thread the
  // wait serves the creating thread's hand-overs, so a thread blocked in Synchronize can end.
  void WaitFor();

  // Platform priority -15 (idle) ... 15 (time critical); applied best effort (nice values).
  void SetPriority(int priority);
  int Priority() const { return priority_.load(); }

  // Names the calling thread for debuggers and profilers (at most 15 characters are kept).
  static void NameCurrentThread(const char* name);

  // The exception that ended Execute, if any.
  std::exception_ptr FatalException() const;

 protected:
  virtual void Execute() = 0;
  // Runs fn on the creating thread and waits; exceptions from fn are raised here.
  void Synchronize(std::function<void()> fn);
  // Derived destructors call this first, so Execute never runs past their members.
  void TerminateAndWait();

 private:
  void Body();
  void ApplyPriority();

  std::shared_ptr<TMessageQueue> creatorQueue_;
  std::atomic<bool> terminated_{false};
  std::atomic<int> priority_{0};
  std::atomic<int> tid_{0};
  EventHandle startGate_;
  EventHandle finished_;
  std::exception_ptr fatal_;
  std::thread thread_;
  bool started_ = false;
};

}  // namespace rtl
