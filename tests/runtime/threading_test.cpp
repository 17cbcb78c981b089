// Events, waits, the hand-over queue, the message target and the thread class.
#include <gtest/gtest.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "runtime/clock.h"
#include "runtime/event.h"
#include "runtime/lasterror.h"
#include "runtime/messagequeue.h"
#include "runtime/messagetarget.h"
#include "runtime/thread.h"

using namespace rtl;

namespace {

double ThreadCpuMs() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

// A thread whose body is a function.
class FnThread : public TThread {
 public:
  explicit FnThread(std::function<void(FnThread&)> body) : body_(std::move(body)) {}
  ~FnThread() override { TerminateAndWait(); }
  using TThread::Synchronize;

 protected:
  void Execute() override { body_(*this); }

 private:
  std::function<void(FnThread&)> body_;
};

}  // namespace

TEST(Event, ResetModes) {
  struct Case {
    bool manual;
    bool stillSetAfterWait;
  } cases[] = {{true, true}, {false, false}};
  for (const auto& c : cases) {
    auto e = CreateEvent(c.manual, true);
    EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_OBJECT_0);
    EXPECT_EQ(e->IsSet(), c.stillSetAfterWait) << "manual=" << c.manual;
    e->Reset();
    EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_TIMEOUT);
  }
}

TEST(Event, WaitReturnsFirstSignalledAndTimesOutNoEarlier) {
  auto a = CreateEvent(true, false), b = CreateEvent(true, true), c = CreateEvent(true, true);
  EventHandle list[] = {a, b, c};
  EXPECT_EQ(WaitForMultipleObjects(list, 0), WAIT_OBJECT_0 + 1);
  b->Reset();
  c->Reset();
  uint64_t t0 = MonotonicMs();
  EXPECT_EQ(WaitForMultipleObjects(list, 50), WAIT_TIMEOUT);
  EXPECT_GE(MonotonicMs() - t0, 50u);
}

TEST(Event, EmptyHandleFailsTheWait) {
  EventHandle list[] = {CreateEvent(true, true), nullptr};
  SetLastError(0);
  EXPECT_EQ(WaitForMultipleObjects(list, 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST(Event, AutoResetReleasesOneWaiterPerSet) {
  auto e = CreateEvent(false, false);
  std::atomic<int> released{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 2; ++i)
    waiters.emplace_back([&] {
      if (WaitForSingleObject(e, 2000) == WAIT_OBJECT_0) ++released;
    });
  e->Set();
  for (auto& t : waiters) t.join();
  EXPECT_EQ(released.load(), 1);
}

TEST(Event, BlockedWaitUsesNoCpu) {
  auto e = CreateEvent(true, false);
  double cpu = -1;
  std::thread t([&] {
    double c0 = ThreadCpuMs();
    WaitForSingleObject(e, 400);
    cpu = ThreadCpuMs() - c0;
  });
  t.join();
  // A polling wait would burn most of the 400 ms.
  EXPECT_LT(cpu, 40.0);
}

TEST(MessageQueue, PostRunsOnOwnerInOrderAndWakesUp) {
  auto q = TMessageQueue::Current();
  std::atomic<int> wakeups{0};
  q->SetWakeup([&] { ++wakeups; });
  std::vector<int> seen;
  std::thread poster([&] {
    for (int i = 0; i < 3; ++i) q->Post([&seen, i] { seen.push_back(i); });
  });
  poster.join();
  EXPECT_TRUE(q->WorkEvent().IsSet());
  EXPECT_TRUE(q->ProcessPending());
  EXPECT_EQ(seen, (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(wakeups.load(), 3);
  EXPECT_FALSE(q->WorkEvent().IsSet());
  EXPECT_FALSE(q->ProcessPending());
  q->SetWakeup(nullptr);
}

TEST(MessageQueue, SendCarriesTheExceptionBack) {
  auto q = TMessageQueue::Current();
  std::atomic<bool> caught{false};
  std::thread sender([&] {
    try {
      q->Send([] { throw std::runtime_error("boom"); });
    } catch (const std::runtime_error&) {
      caught = true;
    }
  });
  auto never = CreateEvent(true, false);
  while (!caught) q->WaitServing(*never, 20);
  sender.join();
  EXPECT_TRUE(caught);
}

TEST(Thread, SuspendedUntilStartAndSynchronizeServedWhileWaitingForIt) {
  std::atomic<bool> ran{false};
  bool handedOver = false;
  auto owner = std::this_thread::get_id();
  std::thread::id ranOn;
  {
    FnThread t([&](FnThread& self) {
      ran = true;
      // The creator is blocked in WaitFor: the hand-over must still be served.
      self.Synchronize([&] {
        handedOver = true;
        ranOn = std::this_thread::get_id();
      });
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_FALSE(ran.load()) << "ran before Start";
    t.Start();
    t.WaitFor();
  }
  EXPECT_TRUE(ran.load());
  EXPECT_TRUE(handedOver);
  EXPECT_EQ(ranOn, owner);
}

TEST(Thread, NeverStartedThreadEndsWithoutRunning) {
  std::atomic<bool> ran{false};
  { FnThread t([&](FnThread&) { ran = true; }); }
  EXPECT_FALSE(ran.load());
}

TEST(Thread, ExceptionEndsBodyAndIsKept) {
  FnThread t([](FnThread&) { throw std::runtime_error("out"); });
  t.Start();
  t.WaitFor();
  EXPECT_TRUE(t.Finished());
  EXPECT_TRUE(t.FatalException() != nullptr);
}

TEST(Thread, TerminateIsSeenByTheBody) {
  auto started = CreateEvent(true, false);
  FnThread t([&](FnThread& self) {
    started->Set();
    while (!self.Terminated()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  });
  t.Start();
  WaitForSingleObject(started, INFINITE);
  t.Terminate();
  t.WaitFor();
  EXPECT_TRUE(t.Finished());
}

TEST(MessageTarget, SentFromAnotherThreadRunsOnOwnerAndReplyReleasesEarly) {
  auto owner = std::this_thread::get_id();
  std::thread::id ranOn;
  std::atomic<bool> senderReleased{false};
  bool inSendDuringProc = false, releasedBeforeProcEnded = false;
  TMessageTarget target([&](uint32_t msg, uintptr_t w, intptr_t) -> intptr_t {
    ranOn = std::this_thread::get_id();
    inSendDuringProc = InSendMessage();
    ReplyMessage(static_cast<intptr_t>(msg + w));
    // The sender is free now, before this procedure ends.
    for (int i = 0; i < 200 && !senderReleased; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    releasedBeforeProcEnded = senderReleased.load();
    return 999;
  });
  intptr_t reply = -1;
  std::thread sender([&] {
    reply = SendMessage(target, WM_USER + 1, 7, 0);
    senderReleased = true;
  });
  auto q = TMessageQueue::Current();
  auto never = CreateEvent(true, false);
  while (!senderReleased) q->WaitServing(*never, 20);
  sender.join();
  EXPECT_EQ(ranOn, owner);
  EXPECT_TRUE(inSendDuringProc);
  EXPECT_TRUE(releasedBeforeProcEnded);
  EXPECT_EQ(reply, static_cast<intptr_t>(WM_USER + 1 + 7));
}

TEST(MessageTarget, DirectCallOnOwnerIsNotAnInterThreadSend) {
  bool inSend = true;
  TMessageTarget target([&](uint32_t, uintptr_t, intptr_t) -> intptr_t {
    inSend = InSendMessage();
    return 5;
  });
  EXPECT_EQ(SendMessage(target, 1, 0, 0), 5);
  EXPECT_FALSE(inSend);
}

TEST(MessageTarget, DestroyedTargetReleasesWaitingSender) {
  auto target = std::make_unique<TMessageTarget>([](uint32_t, uintptr_t, intptr_t) -> intptr_t { return 1; });
  std::atomic<bool> done{false};
  intptr_t reply = -1;
  std::thread sender([&] {
    reply = SendMessage(*target, 1, 0, 0);
    done = true;
  });
  // Let the message get queued, then destroy the target without serving the queue.
  while (!TMessageQueue::Current()->WorkEvent().IsSet()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  target.reset();
  sender.join();
  EXPECT_TRUE(done);
  EXPECT_EQ(reply, 0);
  TMessageQueue::Current()->ProcessPending();  // the stale item runs nothing
}
