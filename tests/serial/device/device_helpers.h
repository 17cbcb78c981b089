// Small helpers for driving the device interface in tests: an owned handle, an overlapped
// record with its event, a plain line configuration, and the CPU use of a named thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "runtime/event.h"
#include "serial/device/comm.h"

namespace devtest {

// A handle closed at the end of its scope.
class Port {
 public:
  explicit Port(const std::string& path);
  ~Port() { Close(); }
  Port(const Port&) = delete;
  Port& operator=(const Port&) = delete;

  comm::HANDLE Get() const { return h_; }
  bool Valid() const { return h_ != comm::INVALID_HANDLE_VALUE; }
  uint32_t OpenError() const { return openError_; }
  bool Close();

 private:
  comm::HANDLE h_;
  uint32_t openError_ = 0;
};

// An overlapped record with a manual-reset event.
struct Record {
  Record() { ov.hEvent = rtl::CreateEvent(true, false); }
  bool Signalled() const { return ov.hEvent->IsSet(); }
  // Waits up to ms for the event; true when it is signalled.
  bool WaitFor(uint32_t ms) { return rtl::WaitForSingleObject(ov.hEvent, ms) == rtl::WAIT_OBJECT_0; }
  comm::OVERLAPPED ov;
};

// The outcome of a record's operation after waiting for it.
struct Outcome {
  bool ok;
  uint32_t count;
  uint32_t error;  // 0 when ok
};
Outcome Finish(comm::HANDLE h, Record& r);

// 8 data bits, no parity, one stop bit, no flow control, at baud.
comm::DCB LineDcb(uint32_t baud = 9600);
comm::COMMTIMEOUTS Timeouts(uint32_t interval, uint32_t multiplier, uint32_t constant,
                            uint32_t writeMultiplier = 0, uint32_t writeConstant = 0);

using Clock = std::chrono::steady_clock;
inline int64_t MsSince(Clock::time_point t) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

// Linux thread id of this process's thread with that name, if there is exactly one.
std::optional<int> FindThread(const std::string& name);
// How many threads of this process have that name.
int CountThreads(const std::string& name);
// CPU time in nanoseconds used so far by the thread tid of this process.
std::optional<uint64_t> ThreadCpuNs(int tid);
// Its voluntary context switches so far: one per time it blocked and was woken.
std::optional<uint64_t> ThreadWakeups(int tid);
// Open descriptors of this process.
int OpenFdCount();

}  // namespace devtest
