// Shared pieces of the soak checks: process figures (CPU, threads, descriptors, memory), the
// result of a check with its table, a watchdog that turns a hang into a failure, event-loop
// waits and seeded randomness. Window thread only, except where a function says otherwise.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace soak {

struct Options {
  bool quick = false;
  uint64_t seed = 0;
  uint64_t streamMiB = 0;  // size of the large streams; 0: 1024, or 32 with quick
  std::string self;  // this program's path, for the child processes
};

// --- Process figures (any thread) -----------------------------------------------------------

// Open descriptors of this process (the one used to list them left out).
int OpenFdCount();
// Threads of this process.
int ThreadCount();
// Resident and peak resident memory, in KiB.
long RssKb();
long PeakRssKb();
// Starts the peak over from the current resident memory.
void ResetPeakRss();
// CPU time of the whole process, in nanoseconds.
uint64_t ProcessCpuNs();

// CPU used by the process and by its busiest thread over an interval.
class CpuProbe {
 public:
  struct Result {
    double wallS = 0;
    double processShare = 0;  // of one core
    double busiestShare = 0;
    std::string busiest;  // "name (tid)" of the busiest thread
  };
  void Start();
  Result Stop() const;

 private:
  struct ThreadCpu {
    int tid;
    std::string name;
    uint64_t ns;
  };
  // Every thread of the process (/proc/self/task) with its CPU time so far.
  static std::vector<ThreadCpu> Sample();
  uint64_t wall0_ = 0, cpu0_ = 0;
  std::vector<ThreadCpu> threads0_;
};

// --- Results ---------------------------------------------------------------------------------

// printf into a std::string.
std::string Fmt(const char* format, ...) __attribute__((format(printf, 1, 2)));

// A check's figures as a Markdown table, its failures, and its verdict.
class Check {
 public:
  explicit Check(std::string name);
  void Columns(std::vector<std::string> headers) { headers_ = std::move(headers); }
  void Row(std::vector<std::string> cells) { rows_.push_back(std::move(cells)); }
  // Records a failure (printed at once too); the check then fails.
  void Fail(const std::string& what);
  // Records a failure when condition is false; returns condition.
  bool Expect(bool condition, const std::string& what);
  bool Passed() const { return failures_.empty(); }
  // Prints the table, the failures and PASS or FAIL; returns Passed().
  bool Report() const;

 private:
  std::string name_;
  std::vector<std::string> headers_;
  std::vector<std::vector<std::string>> rows_;
  std::vector<std::string> failures_;
};

// --- Hangs -----------------------------------------------------------------------------------

// Ends the process with a FAIL line when a step does not end in time: a hang is a failure, and
// the soak goes no further. Arm and Disarm from any thread.
class Watchdog {
 public:
  Watchdog();
  ~Watchdog();
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;
  void Arm(const std::string& step, int seconds);
  void Disarm();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// RAII arming of a watchdog for one step.
class Deadline {
 public:
  Deadline(Watchdog& dog, const std::string& step, int seconds) : dog_(dog) { dog_.Arm(step, seconds); }
  ~Deadline() { dog_.Disarm(); }
  Deadline(const Deadline&) = delete;
  Deadline& operator=(const Deadline&) = delete;

 private:
  Watchdog& dog_;
};

// --- Event loop ------------------------------------------------------------------------------

// Runs the event loop (blocking between events) for ms milliseconds.
void RunLoopFor(int ms);
// Runs the event loop until done() holds (checked every 2 ms and after events) or timeoutMs
// has passed; returns done().
bool WaitUntil(const std::function<bool()>& done, int timeoutMs);

// --- Randomness ------------------------------------------------------------------------------

// A fast, seeded byte source: the same seed gives the same bytes on every run and thread.
class ByteStream {
 public:
  explicit ByteStream(uint64_t seed) : state_(seed) {}
  uint64_t Next64() {
    uint64_t z = (state_ += 0x9e3779b97f4a7c15ull);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    return z ^ (z >> 31);
  }
  // A number in [0, n).
  uint64_t Below(uint64_t n) { return n == 0 ? 0 : Next64() % n; }

 private:
  uint64_t state_;
};

// --- Files -----------------------------------------------------------------------------------

// The whole content of a file; empty when it can't be read.
std::string ReadFileBytes(const std::string& path);

}  // namespace soak
