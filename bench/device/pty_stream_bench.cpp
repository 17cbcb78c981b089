// Streams bytes from the far end of a pseudo-terminal into the device layer and into a plain
// read loop on the same pseudo-terminal, and shows that reception does not wait for a stalled
// reader. Prints two small tables.
//
//   corvane_bench_device_pty [megabytes] [rounds] [series 0-3; all if absent]
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "runtime/event.h"
#include "runtime/lasterror.h"
#include "serial/device/comm.h"

namespace {

using Clock = std::chrono::steady_clock;

// CPU seconds and voluntary context switches of this process (every reader thread, not the
// far end, which is a child).
struct Usage {
  double cpu;
  long switches;
};
Usage Now() {
  rusage u{};
  ::getrusage(RUSAGE_SELF, &u);
  return {static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
              static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6,
          u.ru_nvcsw};
}

uint8_t PatternByte(uint64_t i) { return static_cast<uint8_t>((i * 131) ^ (i >> 9)); }

// A far end in a child process: waits for the go byte, then writes total bytes and exits.
struct FarWriter {
  pid_t pid = -1;
  int go = -1;
  FarWriter(int master, uint64_t total) {
    int p[2];
    if (::pipe(p) != 0) std::exit(1);
    pid = ::fork();
    if (pid == 0) {
      ::close(p[1]);
      char c;
      if (::read(p[0], &c, 1) != 1) ::_exit(1);
      std::vector<uint8_t> chunk(65536);
      uint64_t sent = 0;
      while (sent < total) {
        size_t n = static_cast<size_t>(std::min<uint64_t>(chunk.size(), total - sent));
        for (size_t i = 0; i < n; ++i) chunk[i] = PatternByte(sent + i);
        size_t off = 0;
        while (off < n) {
          ssize_t k = ::write(master, chunk.data() + off, n - off);
          if (k < 0 && errno == EINTR) continue;
          if (k <= 0) ::_exit(2);
          off += static_cast<size_t>(k);
        }
        sent += n;
      }
      ::_exit(0);
    }
    ::close(p[0]);
    go = p[1];
  }
  void Start() {
    char c = 'g';
    if (::write(go, &c, 1) != 1) std::exit(1);
  }
  void Wait() {
    ::close(go);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) std::fprintf(stderr, "far end failed\n");
  }
};

struct Result {
  double seconds = 0, cpu = 0;
  long switches = 0;
  bool intact = true;
};

// Measures one reading run from the far end's start to the last byte.
class Run {
 public:
  Run() : usage_(Now()), t0_(Clock::now()) {}
  Result End(bool intact) const {
    Usage u = Now();
    return {std::chrono::duration<double>(Clock::now() - t0_).count(), u.cpu - usage_.cpu,
            u.switches - usage_.switches, intact};
  }

 private:
  Usage usage_;
  Clock::time_point t0_;
};

// Checks received bytes against the pattern as they come.
struct Checker {
  uint64_t at = 0;
  bool ok = true;
  void Feed(const uint8_t* p, size_t n) {
    for (size_t i = 0; i < n && ok; ++i) ok = p[i] == PatternByte(at + i);
    at += n;
  }
};

Result PlainLoop(const std::string& path, int master, uint64_t total) {
  int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY);
  termios t{};
  ::tcgetattr(fd, &t);
  ::cfmakeraw(&t);
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  ::tcsetattr(fd, TCSANOW, &t);
  ::tcflush(fd, TCIFLUSH);
  FarWriter far(master, total);
  std::vector<uint8_t> buf(65536);
  Checker check;
  Run run;
  far.Start();
  while (check.at < total) {
    ssize_t n = ::read(fd, buf.data(), buf.size());
    if (n <= 0) break;
    check.Feed(buf.data(), static_cast<size_t>(n));
  }
  Result r = run.End(check.ok && check.at == total);
  far.Wait();
  ::close(fd);
  return r;
}

comm::HANDLE OpenDevice(const std::string& path) {
  comm::HANDLE h = comm::CreateFile(path, comm::GENERIC_READ | comm::GENERIC_WRITE, 0, nullptr, comm::OPEN_EXISTING,
                                    comm::FILE_FLAG_OVERLAPPED, 0);
  if (h == comm::INVALID_HANDLE_VALUE) {
    std::fprintf(stderr, "open %s: %u\n", path.c_str(), rtl::GetLastError());
    std::exit(1);
  }
  comm::DCB dcb{};
  dcb.BaudRate = 3000000;
  dcb.fBinary = 1;
  dcb.ByteSize = 8;
  dcb.XonChar = 17;
  dcb.XoffChar = 19;
  comm::SetupComm(h, 1024, 1024);
  comm::SetCommState(h, &dcb);
  return h;
}

// Overlapped reads of up to 64 KiB with the given timeouts.
Result LayerReads(const std::string& path, int master, uint64_t total, comm::COMMTIMEOUTS t) {
  comm::HANDLE h = OpenDevice(path);
  comm::SetCommTimeouts(h, &t);
  FarWriter far(master, total);
  std::vector<uint8_t> buf(65536);
  comm::OVERLAPPED ov;
  ov.hEvent = rtl::CreateEvent(true, false);
  Checker check;
  Run run;
  far.Start();
  while (check.at < total) {
    uint32_t n = 0;
    if (!comm::ReadFile(h, buf.data(), static_cast<uint32_t>(buf.size()), &n, &ov)) {
      if (rtl::GetLastError() != rtl::ERROR_IO_PENDING || !comm::GetOverlappedResult(h, &ov, &n, true)) break;
    }
    check.Feed(buf.data(), n);
  }
  Result r = run.End(check.ok && check.at == total);
  far.Wait();
  comm::CloseHandle(h);
  return r;
}

// Blocks of 64 KiB, a read ending early only at a 2 ms pause in the stream.
Result LayerBlocks(const std::string& path, int master, uint64_t total) {
  return LayerReads(path, master, total, {2, 0, 0, 0, 0});
}

// Each read ends as soon as bytes are queued (interval and multiplier all ones).
Result LayerFirstBytes(const std::string& path, int master, uint64_t total) {
  return LayerReads(path, master, total, {comm::MAXDWORD, comm::MAXDWORD, 10000, 0, 0});
}

// The engine's path: wait for EV_RXCHAR, ask the queue count, read exactly that at once.
Result LayerEvents(const std::string& path, int master, uint64_t total) {
  comm::HANDLE h = OpenDevice(path);
  comm::COMMTIMEOUTS t{comm::MAXDWORD, 0, 0, 0, 0};
  comm::SetCommTimeouts(h, &t);
  comm::SetCommMask(h, comm::EV_RXCHAR);
  FarWriter far(master, total);
  std::vector<uint8_t> buf;
  comm::OVERLAPPED wait, read;
  wait.hEvent = rtl::CreateEvent(true, false);
  read.hEvent = rtl::CreateEvent(true, false);
  Checker check;
  Run run;
  far.Start();
  while (check.at < total) {
    uint32_t events = 0, n = 0;
    if (!comm::WaitCommEvent(h, &events, &wait)) {
      if (rtl::GetLastError() != rtl::ERROR_IO_PENDING || !comm::GetOverlappedResult(h, &wait, &n, true)) break;
    }
    comm::COMSTAT stat{};
    if (!comm::ClearCommError(h, nullptr, &stat)) break;
    if (stat.cbInQue == 0) continue;
    buf.resize(stat.cbInQue);
    if (!comm::ReadFile(h, buf.data(), stat.cbInQue, &n, &read)) break;
    check.Feed(buf.data(), n);
  }
  Result r = run.End(check.ok && check.at == total);
  far.Wait();
  comm::CloseHandle(h);
  return r;
}

// The far end sends 300,000 B/s for 2 s while the reader does not read; returns what the far
// end saw: the longest write, and the bytes it could not hand over at once.
struct Paced {
  double longestWriteMs = 0;
  uint64_t refused = 0;  // bytes a non-blocking write could not take
  uint64_t sent = 0;
};

Paced SendPaced(int master) {
  const int flags = ::fcntl(master, F_GETFL);
  ::fcntl(master, F_SETFL, flags | O_NONBLOCK);
  Paced p;
  std::vector<uint8_t> chunk(3000);
  timespec next{};
  ::clock_gettime(CLOCK_MONOTONIC, &next);
  for (int tick = 0; tick < 200; ++tick) {  // 200 x 10 ms, 3000 bytes each
    for (size_t i = 0; i < chunk.size(); ++i) chunk[i] = PatternByte(p.sent + i);
    const auto t0 = Clock::now();
    ssize_t k = ::write(master, chunk.data(), chunk.size());
    p.longestWriteMs = std::max(p.longestWriteMs, std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    const size_t took = k > 0 ? static_cast<size_t>(k) : 0;
    p.refused += chunk.size() - took;
    p.sent += took;
    if (took < chunk.size()) break;  // a real device would have had to block or drop here
    next.tv_nsec += 10'000'000;
    if (next.tv_nsec >= 1'000'000'000) {
      next.tv_nsec -= 1'000'000'000;
      ++next.tv_sec;
    }
    ::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
  }
  ::fcntl(master, F_SETFL, flags);
  return p;
}

void Decoupling(const std::string& path, int master) {
  std::printf("\nStalled reader: far end sends 300,000 B/s for 2 s, nobody reads meanwhile\n");
  std::printf("%-22s %12s %14s %16s %10s\n", "reader", "far sent B", "far refused B", "longest write ms", "received");

  {
    comm::HANDLE h = OpenDevice(path);
    Paced p = SendPaced(master);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    comm::COMSTAT stat{};
    comm::ClearCommError(h, nullptr, &stat);
    std::vector<uint8_t> buf(stat.cbInQue);
    comm::COMMTIMEOUTS t{comm::MAXDWORD, 0, 0, 0, 0};
    comm::SetCommTimeouts(h, &t);
    comm::OVERLAPPED ov;
    ov.hEvent = rtl::CreateEvent(true, false);
    uint32_t n = 0;
    comm::ReadFile(h, buf.data(), stat.cbInQue, &n, &ov);
    Checker check;
    check.Feed(buf.data(), n);
    std::printf("%-22s %12llu %14llu %16.3f %10s\n", "device layer", static_cast<unsigned long long>(p.sent),
                static_cast<unsigned long long>(p.refused), p.longestWriteMs,
                check.ok && check.at == p.sent ? "all" : "LOST");
    comm::CloseHandle(h);
  }
  {
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ::tcflush(fd, TCIFLUSH);
    Paced p = SendPaced(master);
    std::vector<uint8_t> buf(1 << 20);
    Checker check;
    for (;;) {
      ssize_t n = ::read(fd, buf.data(), buf.size());
      if (n <= 0) break;
      check.Feed(buf.data(), static_cast<size_t>(n));
    }
    std::printf("%-22s %12llu %14llu %16.3f %10s\n", "plain tty, no layer", static_cast<unsigned long long>(p.sent),
                static_cast<unsigned long long>(p.refused), p.longestWriteMs,
                check.ok && check.at == p.sent ? "all sent" : "LOST");
    ::close(fd);
  }
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const uint64_t megabytes = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 50;
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
  const int only = argc > 3 ? std::atoi(argv[3]) : -1;
  const uint64_t total = megabytes * 1000 * 1000;

  int master = -1, slave = -1;
  char name[128] = {};
  if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) {
    std::perror("openpty");
    return 1;
  }
  termios t{};
  ::tcgetattr(master, &t);
  ::cfmakeraw(&t);
  ::tcsetattr(master, TCSANOW, &t);
  ::close(slave);  // the readers open the slave themselves
  const std::string path = name;

  struct Series {
    const char* name;
    Result (*run)(const std::string&, int, uint64_t);
    std::vector<double> mbps, cpuPerMb, switchesPerMb;
    bool intact = true;
  } series[] = {{"plain read loop", PlainLoop, {}, {}, {}},
                {"layer, 64 KiB blocks", LayerBlocks, {}, {}, {}},
                {"layer, first bytes", LayerFirstBytes, {}, {}, {}},
                {"layer, event + count", LayerEvents, {}, {}, {}}};
  const double mb = static_cast<double>(total) / 1e6;
  for (int round = 0; round < rounds; ++round) {
    for (Series& s : series) {
      if (only >= 0 && &s != &series[only]) continue;
      Result r = s.run(path, master, total);
      s.mbps.push_back(mb / r.seconds);
      s.cpuPerMb.push_back(r.cpu / mb);
      s.switchesPerMb.push_back(static_cast<double>(r.switches) / mb);
      s.intact = s.intact && r.intact;
    }
  }

  std::printf("Command: %s %llu %d\n", argv[0], static_cast<unsigned long long>(megabytes), rounds);
  std::printf("Far end -> reader through a pseudo-terminal, %llu MB, median of %d rounds\n",
              static_cast<unsigned long long>(megabytes), rounds);
  std::printf("%-22s %8s %13s %11s %10s %10s %7s\n", "reader", "MB/s", "CPU ms / MB", "switches/MB",
              "MB/s ratio", "CPU ratio", "bytes");
  const Series& base = series[only >= 0 ? only : 0];
  const double baseMbps = Median(base.mbps), baseCpu = Median(base.cpuPerMb);
  for (const Series& s : series) {
    if (s.mbps.empty()) continue;
    const double m = Median(s.mbps), c = Median(s.cpuPerMb);
    std::printf("%-22s %8.1f %13.3f %11.0f %10.2f %10.2f %7s\n", s.name, m, c * 1000, Median(s.switchesPerMb),
                m / baseMbps, c / baseCpu, s.intact ? "intact" : "WRONG");
  }
  if (only >= 0) return 0;
  Decoupling(path, master);
  ::close(master);
  return 0;
}
