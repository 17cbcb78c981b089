// Shared pieces of the event delivery tests: a window-thread loop that serves the test thread's
// hand-over queue until a condition holds, a log that handlers on any thread may write, a port
// with the receive step and the message procedure reachable, and the process's threads,
// descriptors and per-thread CPU time as /proc shows them.
#pragma once

#include <dirent.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <span>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "runtime/event.h"
#include "runtime/messagequeue.h"
#include "serial/serialport.h"

namespace evttest {

using namespace std::chrono_literals;

// The test thread as the window thread: serves its queue (hand-overs and messages) while it
// waits. Make and use it on the test thread.
class WindowLoop {
 public:
  // Serves until done() holds or timeout passes, blocking on the queue's work event and on
  // Wake(); returns done().
  bool ServeUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = 10s) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + timeout;
    rtl::TEvent* events[] = {&queue_->WorkEvent(), &wake_};
    for (;;) {
      queue_->ProcessPending();
      if (done()) return true;
      const auto now = Clock::now();
      if (now >= deadline) return false;
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
      rtl::WaitForMultipleObjects(std::span<rtl::TEvent* const>(events), static_cast<uint32_t>(left));
    }
  }
  // Serves for the whole of duration: what arrives meanwhile is delivered.
  void ServeFor(std::chrono::milliseconds duration) {
    ServeUntil([] { return false; }, duration);
  }
  // Wakes ServeUntil to look at its condition again; any thread.
  void Wake() { wake_.Set(); }
  // Whether a hand-over or message waits for the test thread.
  bool WorkQueued() const { return queue_->WorkEvent().IsSet(); }
  // Waits (without serving) until work is queued for the test thread.
  bool WaitForQueuedWork(std::chrono::milliseconds timeout = 10s) {
    return rtl::WaitForSingleObject(queue_->WorkEvent(), static_cast<uint32_t>(timeout.count())) ==
           rtl::WAIT_OBJECT_0;
  }

 private:
  std::shared_ptr<rtl::TMessageQueue> queue_ = rtl::TMessageQueue::Current();
  rtl::TEvent wake_{false, false};
};

// Entries written by handlers on any thread, each with the thread it came from.
class SharedLog {
 public:
  explicit SharedLog(WindowLoop& loop) : loop_(loop) {}

  void Add(std::string entry) {
    {
      std::lock_guard lock(mutex_);
      entries_.push_back(std::move(entry));
      threads_.push_back(std::this_thread::get_id());
    }
    loop_.Wake();
  }
  std::vector<std::string> Entries() const {
    std::lock_guard lock(mutex_);
    return entries_;
  }
  size_t Size() const {
    std::lock_guard lock(mutex_);
    return entries_.size();
  }
  // Whether every entry so far came from thread (and there is one).
  bool AllFrom(std::thread::id thread) const {
    std::lock_guard lock(mutex_);
    if (threads_.empty()) return false;
    for (auto t : threads_)
      if (t != thread) return false;
    return true;
  }
  bool NoneFrom(std::thread::id thread) const {
    std::lock_guard lock(mutex_);
    if (threads_.empty()) return false;
    for (auto t : threads_)
      if (t == thread) return false;
    return true;
  }
  void Clear() {
    std::lock_guard lock(mutex_);
    entries_.clear();
    threads_.clear();
  }

 private:
  WindowLoop& loop_;
  mutable std::mutex mutex_;
  std::vector<std::string> entries_;
  std::vector<std::thread::id> threads_;
};

// Wires every event notification of port into log, as "Name" or "Name(value)".
inline void LogEvents(serial::TCustomSerialPort& port, SharedLog& log) {
  auto note = [&log](const char* name) { return [&log, name](rtl::TObject*) { log.Add(name); }; };
  auto signal = [&log](const char* name) {
    return [&log, name](rtl::TObject*, bool on) { log.Add(std::string(name) + (on ? "(1)" : "(0)")); };
  };
  port.SetOnTxEmpty(note("TxEmpty"));
  port.SetOnBreak(note("Break"));
  port.SetOnRing(note("Ring"));
  port.SetOnRxFlag(note("RxFlag"));
  port.SetOnRx80Full(note("Rx80Full"));
  port.SetOnCTSChange(signal("CTS"));
  port.SetOnDSRChange(signal("DSR"));
  port.SetOnRLSDChange(signal("RLSD"));
  port.SetOnRxChar([&log](rtl::TObject*, int32_t n) { log.Add("RxChar(" + std::to_string(n) + ")"); });
  port.SetOnRxBuf([&log](rtl::TObject*, const uint8_t* b, int32_t n) {
    log.Add("RxBuf(" + std::string(reinterpret_cast<const char*>(b), static_cast<size_t>(n)) + ")");
  });
  port.SetOnError([&log](rtl::TObject*, serial::TSerialErrors e) { log.Add("Error(" + std::to_string(e.Bits()) + ")"); });
}

// TSerialPort with the receive step and the message procedure reachable.
class EventPort : public serial::TSerialPort {
 public:
  using TCustomSerialPort::HandleRxChar;
  using TCustomSerialPort::PortWindowProc;
};

// --- The process as /proc shows it ---------------------------------------------------------

inline std::set<int> Entries(const char* dir) {
  std::set<int> ids;
  if (DIR* d = ::opendir(dir)) {
    while (dirent* e = ::readdir(d)) {
      if (e->d_name[0] != '.') ids.insert(std::atoi(e->d_name));
    }
    ::closedir(d);
  }
  return ids;
}

// The ids of this process's threads. A sanitizer runtime starts a thread of its own along with
// the first thread the program makes: one made and joined first keeps it out of the counts.
inline std::set<int> TaskIds() {
  static const bool warm = [] {
    std::thread([] {}).join();
    return true;
  }();
  (void)warm;
  return Entries("/proc/self/task");
}
// This process's open descriptors (the one that lists them excluded).
inline size_t OpenFdCount() { return Entries("/proc/self/fd").size() - 1; }

// The threads in after that are not in before.
inline std::vector<int> NewTasks(const std::set<int>& before, const std::set<int>& after) {
  std::vector<int> ids;
  for (int id : after)
    if (!before.count(id)) ids.push_back(id);
  return ids;
}

// Fields of /proc/self/task/<tid>/stat after the command name; empty when the thread is gone.
inline std::vector<std::string> TaskStat(int tid) {
  std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::string> fields;
  const auto close = text.rfind(')');
  if (close == std::string::npos) return fields;
  std::istringstream rest(text.substr(close + 1));
  for (std::string f; rest >> f;) fields.push_back(f);
  return fields;  // fields[0] is the state (field 3 of the file)
}

// CPU time (user + system) a thread has used so far, in clock ticks; 0 when it is gone.
inline long ThreadCpuTicks(int tid) {
  const auto f = TaskStat(tid);
  return f.size() > 12 ? std::stol(f[11]) + std::stol(f[12]) : 0;  // utime, stime
}
inline long TicksPerSecond() { return ::sysconf(_SC_CLK_TCK); }

// A thread's nice value; -100 when it is gone.
inline int ThreadNice(int tid) {
  const auto f = TaskStat(tid);
  return f.size() > 16 ? std::stoi(f[16]) : -100;
}

}  // namespace evttest
