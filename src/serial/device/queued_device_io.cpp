// The I/O thread of the driver model: it blocks in poll on its wake-up pipe, its timer and the
// backend's descriptor, and ends the transfers whose time has run out.
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <system_error>

#include "serial/device/queued_device.h"

namespace comm {

namespace {

using Clock = std::chrono::steady_clock;
constexpr Clock::time_point kNever = Clock::time_point::max();

int PollTimeout(Clock::time_point deadline) {
  if (deadline == kNever) return -1;
  auto now = Clock::now();
  if (deadline <= now) return 0;
  auto ms = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
  return ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
}

}  // namespace

QueuedDevice::QueuedDevice() {
  int p[2];
  if (::pipe2(p, O_NONBLOCK | O_CLOEXEC) != 0) throw std::system_error(errno, std::generic_category(), "pipe2");
  wakeRead_.Reset(p[0]);
  wakeWrite_.Reset(p[1]);
  timer_.Reset(::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC));
  if (!timer_.Valid()) throw std::system_error(errno, std::generic_category(), "timerfd_create");
  dcb_.BaudRate = 9600;
  dcb_.fBinary = 1;
  dcb_.ByteSize = 8;
  dcb_.XonChar = 17;
  dcb_.XoffChar = 19;
}

QueuedDevice::~QueuedDevice() {
  // Derived destructors call Close(); this only guards against a thread left running.
  if (io_.joinable()) {
    {
      std::lock_guard lock(mu_);
      closing_ = true;
      Wake();
    }
    io_.join();
  }
}

void QueuedDevice::StartIo(const char* threadName) {
  {
    std::lock_guard lock(mu_);
    ioStarted_ = true;
  }
  io_ = std::thread([this] { IoLoop(); });
  ::pthread_setname_np(io_.native_handle(), threadName);  // named before the device is handed out
}

void QueuedDevice::IoLoop() {
  std::unique_lock lock(mu_);
  while (!closing_) {
    ExpireOperations(Clock::now());
    IoWait w = lost_ ? IoWait{} : PlanIo();
    if (!w.tick) {
      nextTick_ = kNever;
    } else if (nextTick_ == kNever) {
      nextTick_ = Clock::now() + kTickPeriod;
    }
    const Clock::time_point deadline = std::min(NextDeadline(), nextTick_);
    planned_ = {w.fd, w.events, deadline};
    wakePending_ = false;
    lock.unlock();

    pollfd fds[3] = {{wakeRead_.Get(), POLLIN, 0}, {timer_.Get(), POLLIN, 0}, {w.fd, w.events, 0}};
    int n = ::poll(fds, w.fd >= 0 ? 3 : 2, PollTimeout(deadline));
    if (n > 0 && (fds[0].revents & POLLIN)) DrainWake();

    lock.lock();
    if (closing_) break;
    if (n > 0 && (fds[1].revents & POLLIN)) TimerFired();
    if (n > 0 && w.fd >= 0 && fds[2].revents != 0 && !lost_) OnIo(fds[2].revents, lock);
    if (nextTick_ != kNever && Clock::now() >= nextTick_ && !closing_) {
      nextTick_ = kNever;
      if (!lost_) OnTick();
    }
  }
}

void QueuedDevice::Wake() {
  if (wakePending_) return;
  wakePending_ = true;
  const uint8_t byte = 1;
  if (::write(wakeWrite_.Get(), &byte, 1) < 0) {
    // Full pipe: a wake-up is already on its way.
  }
}

void QueuedDevice::DrainWake() {
  uint8_t sink[64];
  while (::read(wakeRead_.Get(), sink, sizeof sink) > 0) {
  }
}

void QueuedDevice::Replan() {
  if (closing_ || !ioStarted_) return;
  IoWait w = lost_ ? IoWait{} : PlanIo();
  if (w.fd != planned_.fd || w.events != planned_.events || (w.tick && nextTick_ == kNever)) {
    Wake();
    return;
  }
  // A deadline later than the planned one is found when the thread wakes for it anyway.
  const Clock::time_point d = NextDeadline();
  if (d < planned_.deadline && d < armed_) ArmTimer(d);
}

void QueuedDevice::ArmTimer(Clock::time_point deadline) {
  const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline.time_since_epoch()).count();
  itimerspec spec{};
  spec.it_value.tv_sec = static_cast<time_t>(ns / 1000000000);
  spec.it_value.tv_nsec = static_cast<long>(ns % 1000000000);
  if (spec.it_value.tv_sec == 0 && spec.it_value.tv_nsec == 0) spec.it_value.tv_nsec = 1;  // 0 would disarm
  if (::timerfd_settime(timer_.Get(), TFD_TIMER_ABSTIME, &spec, nullptr) == 0) {
    armed_ = deadline;
  } else {
    Wake();  // let the thread plan with the deadline itself
  }
}

void QueuedDevice::TimerFired() {
  uint64_t expirations = 0;
  // Nothing to read means the timer was armed again after it fired: it is still armed.
  if (::read(timer_.Get(), &expirations, sizeof expirations) == sizeof expirations) armed_ = kNever;
}

Clock::time_point QueuedDevice::NextDeadline() const {
  Clock::time_point d = kNever;
  if (!reads_.empty() && reads_.front().active) {
    const ReadOp& r = reads_.front();
    d = r.totalDeadline;
    if (r.got > 0 && r.rule.interval) d = std::min(d, r.lastArrival + *r.rule.interval);
  }
  if (!writes_.empty() && writes_.front().active) d = std::min(d, writes_.front().deadline);
  return d;
}

void QueuedDevice::ExpireOperations(Clock::time_point now) {
  for (;;) {
    if (reads_.empty() || !reads_.front().active) break;
    ReadOp& r = reads_.front();
    Clock::time_point d = r.totalDeadline;
    if (r.got > 0 && r.rule.interval) d = std::min(d, r.lastArrival + *r.rule.interval);
    if (d > now) break;
    FinishRead(r, 0);  // a read that runs out of time succeeds with what it got
    reads_.pop_front();
    ServeReads();
  }
  if (!writes_.empty() && writes_.front().active && writes_.front().deadline <= now) {
    FinishWrite(writes_.front(), 0);  // likewise a write, with the count written
    writes_.pop_front();
    TryTransmit();
  }
}

}  // namespace comm
