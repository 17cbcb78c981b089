// The cycles check: the Open and Close buttons, thousands of times, on LOOPBACK (a key typed in
// each session comes back as received text) and on a pseudo-terminal whose far end streams all
// the while. Descriptors and threads must come back to their start values, and resident
// memory must stay flat once warmed up.
#include <fcntl.h>
#include <poll.h>
#include <time.h>
#include <unistd.h>

#include <QTest>
#include <QToolButton>
#include <atomic>
#include <random>
#include <thread>

#include "checks.h"
#include "runtime/clock.h"
#include "terminal/terminal_fixture.h"
#include "toolkit/display/display_view.h"

namespace soak {

namespace {

// Resident memory may grow by this much after warm-up (malloc's arenas settle in steps); a
// leak of one small object per cycle passes it within the cycles run.
constexpr long kGrowthLimitKb = 1024;
// AddressSanitizer keeps freed memory in quarantine, so there resident memory grows whatever
// the program does; its leak check at exit stands in for this part.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kJudgeMemory = false;
#else
constexpr bool kJudgeMemory = true;
#endif

// Streams printable text into the master at about 256 KB/s until destroyed.
class Streamer {
 public:
  explicit Streamer(int fd) : fd_(fd), thread_([this] { Run(); }) {}
  ~Streamer() {
    stop_ = true;
    thread_.join();
  }
  Streamer(const Streamer&) = delete;
  Streamer& operator=(const Streamer&) = delete;

 private:
  void Run() {
    std::string chunk;
    for (int i = 0; i < 256; ++i) chunk += i % 64 == 63 ? '\r' : static_cast<char>('!' + i % 90);
    while (!stop_) {
      pollfd p{fd_, POLLOUT, 0};
      if (::poll(&p, 1, 10) > 0 && (p.revents & POLLOUT)) (void)!::write(fd_, chunk.data(), chunk.size());
      const timespec pace{0, 1'000'000};
      ::nanosleep(&pace, nullptr);
    }
  }
  int fd_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

void Cycles(const char* port, bool pty, int cycles, uint64_t seed, Check& check, Watchdog& dog) {
  std::mt19937_64 random(seed);
  TerminalFixture t;
  TerminalFixture::Pty p;
  if (pty) p = t.MakePty("ttyV0");
  t.WriteIni(QByteArray("[Serial Port]\r\nCom Number=") + port + "\r\n");
  t.Start();
  auto& rs = *t.rs;
  if (!check.Expect(WaitUntil([&] { return rs.SerialPort->Connected(); }, 5000), Fmt("%s: no session", port))) return;
  std::unique_ptr<Streamer> streamer;
  if (pty) {
    ::fcntl(p.master.Get(), F_SETFL, ::fcntl(p.master.Get(), F_GETFL) | O_NONBLOCK);
    streamer = std::make_unique<Streamer>(p.master.Get());
  }
  rs.Editor->setFocus();
  uint64_t received = 0;
  auto cycle = [&] {
    rs.ButtonOpen->click();
    const bool connected = rs.SerialPort->Connected();
    if (!pty) QTest::keyClick(rs.Editor, Qt::Key_L);
    RunLoopFor(static_cast<int>(random() % 3));  // a batch may be on its way when Close comes
    rs.ButtonClose->click();
    return connected;
  };
  // One cycle first: whatever Qt makes once (its own threads, caches) is part of the start.
  rs.ButtonClose->click();
  cycle();
  RunLoopFor(50);
  const int fds0 = OpenFdCount(), threads0 = ThreadCount();
  long rssWarm = 0;
  const int warmUp = cycles / 10;
  bool allConnected = true;
  const uint64_t t0 = rtl::MonotonicNs();
  {
    Deadline d(dog, Fmt("%s cycles", port), 60 + cycles / 20);
    for (int c = 0; c < cycles; ++c) {
      allConnected = cycle() && allConnected;
      if (c % 100 == 99) {
        received += rs.Editor->Text().Length();
        rs.Editor->Clear();
      }
      if (c == warmUp) rssWarm = RssKb();
    }
  }
  const double msPerCycle = static_cast<double>(rtl::MonotonicNs() - t0) / 1e6 / cycles;
  received += rs.Editor->Text().Length();
  rs.Editor->Clear();
  RunLoopFor(50);
  const int fds1 = OpenFdCount(), threads1 = ThreadCount();
  const long rss1 = RssKb();
  streamer.reset();
  const long growth = rss1 - rssWarm;
  check.Row({port, Fmt("%d", cycles), Fmt("%d / %d", fds0, fds1), Fmt("%d / %d", threads0, threads1),
             Fmt("%.1f", rssWarm / 1024.0), Fmt("%.1f", rss1 / 1024.0),
             kJudgeMemory ? Fmt("%ld", growth) : Fmt("%ld (not judged: sanitizer quarantine)", growth),
             Fmt("%.0f", growth * 1024.0 / std::max(1, cycles - warmUp)), Fmt("%llu", static_cast<unsigned long long>(received)),
             Fmt("%.2f", msPerCycle)});
  check.Expect(allConnected, Fmt("%s: an Open did not connect", port));
  check.Expect(received > 0, Fmt("%s: nothing was received", port));
  check.Expect(fds1 == fds0, Fmt("%s: %d descriptors at the start, %d after the cycles", port, fds0, fds1));
  check.Expect(threads1 == threads0, Fmt("%s: %d threads at the start, %d after the cycles", port, threads0, threads1));
  check.Expect(!kJudgeMemory || growth <= kGrowthLimitKb, Fmt("%s: resident memory grew by %ld KiB after warm-up", port, growth));
}

}  // namespace

bool CheckCycles(const Options& options, Watchdog& dog) {
  Check check("Open/close cycles");
  check.Columns({"port", "cycles", "descriptors start / end", "threads start / end", "RSS after warm-up MB",
                 "RSS end MB", "growth KiB", "growth B/cycle", "characters received", "ms per cycle"});
  const int cycles = options.quick ? 500 : 10000;
  Cycles("LOOPBACK", false, cycles, options.seed, check, dog);
  Cycles("ttyV0", true, cycles, options.seed + 1, check, dog);
  return check.Report();
}

}  // namespace soak
