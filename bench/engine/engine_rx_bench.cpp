// The terminal's receive path under load: a far end streams into a pseudo-terminal at a paced
// rate (or as fast as it can) while the main thread, standing for the window thread, serves its
// queue and runs OnRxChar + ReadStr as the terminal does (evRxChar, smThreadSync by default,
// TriggersOnRxChar true). A plain read loop on the same pseudo-terminal gives the reference for
// the unlimited rate. Prints one table.
//
//   corvane_bench_engine_rx [seconds per rate, default 20] [thread|window|none]
#include <fcntl.h>
#include <pty.h>
#include <sys/resource.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "runtime/codepage.h"
#include "runtime/event.h"
#include "runtime/messagequeue.h"
#include "runtime/text.h"
#include "serial/serialport.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

uint8_t PatternByte(uint64_t i) { return static_cast<uint8_t>((i * 131) ^ (i >> 9)); }

double ThreadCpuSeconds() {
  timespec ts{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

double ProcessCpuSeconds() {
  rusage u{};
  ::getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// One write of the far end: the stream offset it ends at and when it started.
struct Mark {
  uint64_t end;
  Clock::time_point at;
};

// The far end: writes the pattern into the master, paced in 1 ms steps at rate bytes/s, or in
// 64 KiB blocks as fast as the pseudo-terminal takes them when rate is 0.
class FarEnd {
 public:
  FarEnd(int master, uint64_t rate, std::chrono::seconds duration, rtl::TEvent& finished)
      : master_(master), rate_(rate), duration_(duration), finished_(finished) {
    marks_.reserve(rate ? static_cast<size_t>(duration.count()) * 1000 + 16 : size_t{1} << 20);
  }
  ~FarEnd() { Join(); }
  void Start() { thread_ = std::thread([this] { Run(); }); }
  void Join() {
    if (thread_.joinable()) thread_.join();
  }

  bool Done() const { return done_.load(std::memory_order_acquire); }
  uint64_t Sent() const { return sent_.load(std::memory_order_acquire); }
  bool Failed() const { return failed_.load(); }
  double Cpu() const { return cpu_; }  // after Join
  // Marks published so far (each written before its bytes).
  size_t Published() const { return published_.load(std::memory_order_acquire); }
  const Mark& At(size_t i) const { return marks_[i]; }

 private:
  void Run() {
    const double cpu0 = ThreadCpuSeconds();
    std::vector<uint8_t> block(65536);
    uint64_t off = 0;
    const auto start = Clock::now();
    const auto end = start + duration_;
    auto tick = start;
    while (!failed_) {
      size_t n = 0;
      if (rate_ == 0) {
        if (Clock::now() >= end) break;
        n = block.size();
      } else {
        tick += 1ms;
        if (tick > end) break;
        std::this_thread::sleep_until(tick);
        const auto due = static_cast<uint64_t>(static_cast<double>(rate_) *
                                               std::chrono::duration<double>(tick - start).count());
        n = static_cast<size_t>(std::min<uint64_t>(due - off, block.size()));
        if (n == 0) continue;
      }
      for (size_t i = 0; i < n; ++i) block[i] = PatternByte(off + i);
      if (marks_.size() < marks_.capacity()) {
        marks_.push_back({off + n, Clock::now()});
        published_.store(marks_.size(), std::memory_order_release);
      }
      size_t done = 0;
      while (done < n) {
        const ssize_t k = ::write(master_, block.data() + done, n - done);
        if (k < 0 && errno == EINTR) continue;
        if (k <= 0) {
          failed_ = true;
          break;
        }
        done += static_cast<size_t>(k);
      }
      off += done;
      sent_.store(off, std::memory_order_release);
    }
    cpu_ = ThreadCpuSeconds() - cpu0;
    done_.store(true, std::memory_order_release);
    finished_.Set();
  }

  int master_;
  uint64_t rate_;
  std::chrono::seconds duration_;
  rtl::TEvent& finished_;
  std::vector<Mark> marks_;
  std::atomic<size_t> published_{0};
  std::atomic<uint64_t> sent_{0};
  std::atomic<bool> done_{false}, failed_{false};
  double cpu_ = 0;
  std::thread thread_;
};

struct Result {
  uint64_t sent = 0, received = 0, mismatches = 0, batches = 0;
  double seconds = 0;          // first write to last byte received
  double windowCpu = 0;        // the serving thread
  double engineCpu = 0;        // the process without the far end
  std::vector<double> latency;  // ms, one per far-end write
};

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const size_t i = std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size())));
  return v[i];
}

// The engine: the port in the terminal's configuration, the main thread serving its queue.
Result EngineRun(const std::string& path, int master, uint64_t rate, std::chrono::seconds duration,
                 serial::TSyncMethod method) {
  Result r;
  std::array<char16_t, 256> decoded{};
  for (int b = 0; b < 256; ++b) decoded[static_cast<size_t>(b)] = rtl::AnsiCharToUnicode(static_cast<unsigned char>(b));

  rtl::TEvent finished(false, false);
  FarEnd far(master, rate, duration, finished);
  serial::TSerialPort port;
  port.SetPort(rtl::Utf8ToUtf16(path));
  port.SetEvents({serial::evRxChar});
  port.SetSyncMethod(method);
  if (rate == 25600) {
    port.SetBaudRate(serial::br256000);
  } else {
    port.SetCustomBaudRate(3000000);
    port.SetBaudRate(serial::brCustom);
  }
  size_t nextMark = 0;
  // The handler runs on the event thread under smNone: the serving loop sees only these two.
  std::atomic<uint64_t> receivedSoFar{0};
  std::atomic<int64_t> lastArrival{0};
  port.SetOnRxChar([&](rtl::TObject*, int32_t count) {
    const auto now = Clock::now();
    std::u16string text;
    const int32_t got = port.ReadStr(text, count);
    for (int32_t j = 0; j < got; ++j) {
      if (text[static_cast<size_t>(j)] != decoded[PatternByte(r.received + static_cast<uint64_t>(j))]) ++r.mismatches;
    }
    r.received += static_cast<uint64_t>(got);
    ++r.batches;
    lastArrival.store(Clock::now().time_since_epoch().count(), std::memory_order_relaxed);
    receivedSoFar.store(r.received, std::memory_order_release);
    const size_t published = far.Published();
    while (nextMark < published && far.At(nextMark).end <= r.received) {
      r.latency.push_back(std::chrono::duration<double, std::milli>(now - far.At(nextMark).at).count());
      ++nextMark;
    }
  });
  port.Open();
  if (!port.Connected()) {
    std::fprintf(stderr, "cannot open %s\n", path.c_str());
    std::exit(1);
  }

  auto queue = rtl::TMessageQueue::Current();
  rtl::TEvent* events[] = {&queue->WorkEvent(), &finished};
  const double cpu0 = ThreadCpuSeconds();
  const double proc0 = ProcessCpuSeconds();
  const auto start = Clock::now();
  const auto giveUp = start + duration + 30s;
  far.Start();
  for (;;) {
    queue->ProcessPending();
    if (far.Done() && receivedSoFar.load(std::memory_order_acquire) >= far.Sent()) break;
    if (Clock::now() > giveUp) break;
    rtl::WaitForMultipleObjects(std::span<rtl::TEvent* const>(events), 200);
  }
  r.windowCpu = ThreadCpuSeconds() - cpu0;
  far.Join();
  r.engineCpu = ProcessCpuSeconds() - proc0 - far.Cpu();
  r.sent = far.Sent();
  if (far.Failed()) std::fprintf(stderr, "far end write failed\n");
  port.Close();  // the event thread has ended: what its handlers wrote is ours to read
  const Clock::time_point last{Clock::duration(lastArrival.load())};
  r.seconds = std::chrono::duration<double>(last - start).count();
  return r;
}

// The reference: a blocking read loop on the slave, checking the pattern as the engine does (or
// only counting, which shows what the pseudo-terminal itself can carry).
Result PlainRun(const std::string& path, int master, std::chrono::seconds duration, bool check) {
  Result r;
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    std::fprintf(stderr, "cannot open %s\n", path.c_str());
    std::exit(1);
  }
  termios t{};
  ::tcgetattr(fd, &t);
  ::cfmakeraw(&t);
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  ::tcsetattr(fd, TCSANOW, &t);
  ::tcflush(fd, TCIFLUSH);
  rtl::TEvent finished(false, false);
  FarEnd far(master, 0, duration, finished);
  std::vector<uint8_t> buf(65536);
  const double cpu0 = ThreadCpuSeconds();
  const double proc0 = ProcessCpuSeconds();
  const auto start = Clock::now();
  far.Start();
  while (!(far.Done() && r.received >= far.Sent())) {
    const ssize_t n = ::read(fd, buf.data(), buf.size());
    if (n <= 0) break;
    for (ssize_t j = 0; check && j < n; ++j) {
      if (buf[static_cast<size_t>(j)] != PatternByte(r.received + static_cast<uint64_t>(j))) ++r.mismatches;
    }
    r.received += static_cast<uint64_t>(n);
    ++r.batches;
  }
  r.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  r.windowCpu = ThreadCpuSeconds() - cpu0;
  far.Join();
  r.engineCpu = ProcessCpuSeconds() - proc0 - far.Cpu();
  r.sent = far.Sent();
  ::close(fd);
  return r;
}

void PrintRow(const char* name, const Result& r, bool latency) {
  const double mb = static_cast<double>(r.received) / 1e6;
  const bool intact = r.sent == r.received && r.mismatches == 0;  // the no-check loop: count only
  std::printf("%-22s %12llu %12llu %-7s %8.2f", name, static_cast<unsigned long long>(r.sent),
              static_cast<unsigned long long>(r.received), intact ? "yes" : "NO", mb / r.seconds);
  if (latency) {
    std::printf(" %7.3f %7.3f %7.3f", Percentile(r.latency, 0.50), Percentile(r.latency, 0.99),
                Percentile(r.latency, 1.0));
  } else {
    std::printf(" %7s %7s %7s", "-", "-", "-");
  }
  std::printf(" %9.1f %9.1f %9llu\n", mb > 0 ? r.windowCpu * 1e3 / mb : 0.0, mb > 0 ? r.engineCpu * 1e3 / mb : 0.0,
              static_cast<unsigned long long>(r.batches));
}

}  // namespace

int main(int argc, char** argv) {
  const std::chrono::seconds duration(argc > 1 ? std::atoi(argv[1]) : 20);
  serial::TSyncMethod method = serial::smThreadSync;
  if (argc > 2 && std::strcmp(argv[2], "window") == 0) method = serial::smWindowSync;
  if (argc > 2 && std::strcmp(argv[2], "none") == 0) method = serial::smNone;

  int master = -1, slave = -1;
  char name[128] = {};
  if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) {
    std::fprintf(stderr, "openpty failed: %d\n", errno);
    return 1;
  }
  ::close(slave);  // each run opens the slave itself
  termios t{};
  ::tcgetattr(master, &t);
  ::cfmakeraw(&t);
  ::tcsetattr(master, TCSANOW, &t);
  const std::string path = name;

  std::printf("command: %s %lld %s\n", argv[0], static_cast<long long>(duration.count()),
              method == serial::smThreadSync ? "thread" : method == serial::smWindowSync ? "window" : "none");
  double load[3] = {};
  ::getloadavg(load, 3);
  std::printf("%lld s per rate, far end in a thread of this process, pty %s, %ld cores, load %.2f\n\n",
              static_cast<long long>(duration.count()), path.c_str(), ::sysconf(_SC_NPROCESSORS_ONLN), load[0]);

  const Result plain = PlainRun(path, master, duration, true);
  const Result bare = PlainRun(path, master, duration, false);
  const Result slow = EngineRun(path, master, 25600, duration, method);
  const Result fast = EngineRun(path, master, 300000, duration, method);
  const Result full = EngineRun(path, master, 0, duration, method);

  std::printf("%-22s %12s %12s %-7s %8s %7s %7s %7s %9s %9s %9s\n", "run", "sent B", "received B", "intact",
              "MB/s", "p50 ms", "p99 ms", "max ms", "win ms/MB", "eng ms/MB", "batches");
  PrintRow("engine 25,600 B/s", slow, true);
  PrintRow("engine 300,000 B/s", fast, true);
  PrintRow("engine unlimited", full, true);
  PrintRow("plain read loop", plain, false);
  PrintRow("plain loop, no check", bare, false);
  auto rate = [](const Result& r) { return static_cast<double>(r.received) / r.seconds; };
  std::printf("\nunlimited: engine %.1f%% of the plain loop's MB/s, %.1f%% of the loop that only counts\n",
              100.0 * rate(full) / rate(plain), 100.0 * rate(full) / rate(bare));
  std::printf("win ms/MB: CPU of the serving (window) thread; eng ms/MB: CPU of the whole process but the far"
              " end (for the plain loop, the loop itself)\n");
  ::close(master);
  const bool ok = slow.sent == slow.received && fast.sent == fast.received && full.sent == full.received &&
                  slow.mismatches + fast.mismatches + full.mismatches == 0;
  return ok ? 0 : 1;
}
