#include "soak_util.h"

#include <dirent.h>
#include <time.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <mutex>
#include <thread>

#include "runtime/clock.h"

namespace soak {

namespace {

int Entries(const char* dir) {
  int n = 0;
  if (DIR* d = ::opendir(dir)) {
    while (dirent* e = ::readdir(d))
      if (e->d_name[0] != '.') ++n;
    ::closedir(d);
  }
  return n;
}

long StatusKb(const char* field) {
  std::ifstream f("/proc/self/status");
  std::string line;
  const std::string prefix = std::string(field) + ":";
  while (std::getline(f, line))
    if (line.rfind(prefix, 0) == 0) return std::stol(line.substr(prefix.size()));
  return 0;
}

}  // namespace

int OpenFdCount() { return Entries("/proc/self/fd") - 1; }

int ThreadCount() { return Entries("/proc/self/task"); }

long RssKb() { return StatusKb("VmRSS"); }

long PeakRssKb() { return StatusKb("VmHWM"); }

void ResetPeakRss() { std::ofstream("/proc/self/clear_refs") << "5"; }

uint64_t ProcessCpuNs() {
  timespec ts{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1'000'000'000u + static_cast<uint64_t>(ts.tv_nsec);
}

std::vector<CpuProbe::ThreadCpu> CpuProbe::Sample() {
  std::vector<ThreadCpu> out;
  DIR* d = ::opendir("/proc/self/task");
  if (!d) return out;
  while (dirent* e = ::readdir(d)) {
    if (e->d_name[0] == '.') continue;
    const int tid = std::atoi(e->d_name);
    std::ifstream comm(std::string("/proc/self/task/") + e->d_name + "/comm");
    std::string name;
    std::getline(comm, name);
    // The kernel's clock of one thread of this process: its id in the per-thread form.
    const clockid_t clock = static_cast<clockid_t>((~static_cast<unsigned>(tid) << 3) | 6);
    timespec ts{};
    if (::clock_gettime(clock, &ts) != 0) continue;  // the thread has just ended
    out.push_back({tid, name, static_cast<uint64_t>(ts.tv_sec) * 1'000'000'000u + static_cast<uint64_t>(ts.tv_nsec)});
  }
  ::closedir(d);
  return out;
}

// The threads are sampled inside the process's interval, so that no thread counts more.
void CpuProbe::Start() {
  wall0_ = rtl::MonotonicNs();
  cpu0_ = ProcessCpuNs();
  threads0_ = Sample();
}

CpuProbe::Result CpuProbe::Stop() const {
  const std::vector<ThreadCpu> now = Sample();
  const uint64_t cpu = ProcessCpuNs() - cpu0_;
  const uint64_t wall = rtl::MonotonicNs() - wall0_;
  Result r;
  r.wallS = static_cast<double>(wall) / 1e9;
  r.processShare = wall ? static_cast<double>(cpu) / static_cast<double>(wall) : 0;
  for (const ThreadCpu& t : now) {
    uint64_t before = 0;
    for (const ThreadCpu& b : threads0_)
      if (b.tid == t.tid) before = b.ns;
    const double share = static_cast<double>(t.ns - std::min(before, t.ns)) / 1e9 / std::max(r.wallS, 1e-9);
    if (share > r.busiestShare || r.busiest.empty()) {
      r.busiestShare = share;
      r.busiest = t.name + " (" + std::to_string(t.tid) + ")";
    }
  }
  return r;
}

std::string Fmt(const char* format, ...) {
  va_list args;
  va_start(args, format);
  char buf[1024];
  std::vsnprintf(buf, sizeof buf, format, args);
  va_end(args);
  return buf;
}

Check::Check(std::string name) : name_(std::move(name)) {}

void Check::Fail(const std::string& what) {
  failures_.push_back(what);
  std::printf("  failure: %s\n", what.c_str());
  std::fflush(stdout);
}

bool Check::Expect(bool condition, const std::string& what) {
  if (!condition) Fail(what);
  return condition;
}

bool Check::Report() const {
  std::printf("\n### %s\n\n", name_.c_str());
  if (!headers_.empty()) {
    std::string line = "|", rule = "|";
    for (const std::string& h : headers_) {
      line.append(" ").append(h).append(" |");
      rule += "---|";
    }
    std::printf("%s\n%s\n", line.c_str(), rule.c_str());
    for (const auto& row : rows_) {
      std::string line(1, '|');
      for (const std::string& c : row) line.append(" ").append(c).append(" |");
      std::printf("%s\n", line.c_str());
    }
  }
  for (const std::string& f : failures_) std::printf("\nfailure: %s", f.c_str());
  std::printf("\n%s: %s\n", name_.c_str(), Passed() ? "PASS" : "FAIL");
  std::fflush(stdout);
  return Passed();
}

struct Watchdog::State {
  std::mutex mutex;
  std::condition_variable changed;
  bool armed = false, stop = false;
  std::string step;
  std::chrono::steady_clock::time_point deadline;
  std::thread thread;
};

Watchdog::Watchdog() : state_(std::make_unique<State>()) {
  state_->thread = std::thread([s = state_.get()] {
    std::unique_lock lock(s->mutex);
    while (!s->stop) {
      if (!s->armed) {
        s->changed.wait(lock);
        continue;
      }
      if (s->changed.wait_until(lock, s->deadline) == std::cv_status::timeout && s->armed && !s->stop &&
          std::chrono::steady_clock::now() >= s->deadline) {
        std::printf("\nFAIL: hang: \"%s\" did not end in time\n", s->step.c_str());
        std::fflush(stdout);
        std::_Exit(3);
      }
    }
  });
}

Watchdog::~Watchdog() {
  {
    std::lock_guard lock(state_->mutex);
    state_->stop = true;
  }
  state_->changed.notify_all();
  state_->thread.join();
}

void Watchdog::Arm(const std::string& step, int seconds) {
  {
    std::lock_guard lock(state_->mutex);
    state_->armed = true;
    state_->step = step;
    state_->deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  }
  state_->changed.notify_all();
}

void Watchdog::Disarm() {
  {
    std::lock_guard lock(state_->mutex);
    state_->armed = false;
  }
  state_->changed.notify_all();
}

void RunLoopFor(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

bool WaitUntil(const std::function<bool()>& done, int timeoutMs) {
  if (done()) return true;
  QEventLoop loop;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
    if (done()) loop.quit();
  });
  poll.start(2);
  QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
  loop.exec();
  return done();
}

std::string ReadFileBytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

}  // namespace soak
