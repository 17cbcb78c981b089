// Reception through the real main window: a pseudo-terminal's far end streams text at a given
// rate while the window shows it. Reports what was shown against what was sent, the window
// thread's stalls (lateness of a 5 ms probe timer), the terminal's CPU (the process's, less the
// far end's own thread) per MB and peak memory; then the cost of a log write at 10 and 50 MB.
//   receive_bench [seconds=30] [rates=25600,300000,0] [nolog]   (rate 0: as fast as it can write)
#include <fcntl.h>
#include <poll.h>
#include <time.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "runtime/clock.h"
#include "runtime/thread.h"
#include "terminal/terminal_fixture.h"
#include "toolkit/display/display_view.h"
#include "toolkit/handoverpump.h"

namespace {

double ProcessCpuS() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return ts.tv_sec + ts.tv_nsec / 1e9;
}

long PeakRssKb() {
  std::ifstream f("/proc/self/status");
  std::string line;
  while (std::getline(f, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
  return 0;
}

// Runs the event loop for ms, as the application's own loop does (QTest::qWait sleeps between
// passes, which would hide the window thread's real behaviour).
void RunLoopFor(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size() - 1) + 0.5))];
}

// 80 printable characters then the line end.
std::string Pattern(bool lfOnly) {
  std::string text;
  for (int line = 0; line < 64; ++line) {
    for (int c = 0; c < 80; ++c) text += static_cast<char>(' ' + 1 + (line * 7 + c) % 94);
    text += lfOnly ? "\n" : "\r\n";
  }
  return text;
}

struct Result {
  uint64_t sent = 0, shownChars = 0, expectedChars = 0;
  double p99Stall = 0, maxStall = 0, cpuPerMb = 0, cpuShare = 0, mbPerS = 0;
  long peakKb = 0;
};

Result Run(int seconds, long rate, bool lfOnly) {
  Result r;
  PtySession s;
  auto& rs = s.rs();
  const std::string pattern = Pattern(lfOnly);
  std::atomic<bool> stop{false};
  std::atomic<uint64_t> sent{0};
  std::atomic<double> farEndCpu{0};  // the far end is not the terminal: its CPU is taken out
  const int fd = s.pty.master.Get();
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
  std::thread writer([&] {
    rtl::TThread::NameCurrentThread("far-end");
    struct CpuAtEnd {
      std::atomic<double>& out;
      ~CpuAtEnd() {
        timespec ts{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
        out = ts.tv_sec + ts.tv_nsec / 1e9;
      }
    } cpuAtEnd{farEndCpu};
    size_t pos = 0;
    const uint64_t t0 = rtl::MonotonicNs();
    uint64_t chunks = 0;
    while (!stop) {
      const size_t n = rate > 0 ? 256 : 4096;
      std::string chunk;
      while (chunk.size() < n) {
        const size_t take = std::min(n - chunk.size(), pattern.size() - pos);
        chunk.append(pattern, pos, take);
        pos = (pos + take) % pattern.size();
      }
      size_t off = 0;
      while (off < chunk.size() && !stop) {
        ssize_t w = ::write(fd, chunk.data() + off, chunk.size() - off);
        if (w > 0) off += static_cast<size_t>(w);
        if (w < 0) {
          pollfd p{fd, POLLOUT, 0};
          ::poll(&p, 1, 100);
        }
      }
      sent += off;
      if (rate > 0) {
        ++chunks;
        const uint64_t due = t0 + static_cast<uint64_t>(chunks * 256.0 / static_cast<double>(rate) * 1e9);
        const uint64_t now = rtl::MonotonicNs();
        if (due > now) {
          timespec ts{static_cast<time_t>((due - now) / 1'000'000'000), static_cast<long>((due - now) % 1'000'000'000)};
          nanosleep(&ts, nullptr);  // the far end's own pacing
        }
      }
    }
  });

  std::vector<double> lateness;
  QTimer probe;
  probe.setTimerType(Qt::PreciseTimer);
  uint64_t last = rtl::MonotonicNs();
  QObject::connect(&probe, &QTimer::timeout, [&] {
    const uint64_t now = rtl::MonotonicNs();
    lateness.push_back(std::max(0.0, (now - last) / 1e6 - 5.0));
    last = now;
  });
  const double cpu0 = ProcessCpuS();
  probe.start(5);
  RunLoopFor(seconds * 1000);
  stop = true;
  writer.join();
  // Let the window show what is still on its way.
  const uint64_t total = sent.load();
  const uint64_t full = total / pattern.size(), rest = total % pattern.size();
  std::string tail = pattern.substr(0, rest);
  const uint64_t lineEnds = lfOnly ? 1 : 2;
  const uint64_t printablePerPattern = 64 * 80;
  r.expectedChars = full * printablePerPattern +
                    static_cast<uint64_t>(std::count_if(tail.begin(), tail.end(), [](char c) { return c >= ' '; }));
  auto shown = [&] {
    const auto& text = rs.Editor->Text();
    uint64_t chars = text.Length() - 2 * (text.LineCount() - 1);
    return chars;
  };
  QElapsedTimer settle;
  settle.start();
  while (shown() < r.expectedChars && settle.elapsed() < 60'000) RunLoopFor(50);
  const double cpu = ProcessCpuS() - cpu0 - farEndCpu.load();
  const double secs = seconds + settle.elapsed() / 1000.0;
  probe.stop();
  r.sent = total;
  r.shownChars = shown();
  r.p99Stall = Percentile(lateness, 0.99);
  r.maxStall = lateness.empty() ? 0 : *std::max_element(lateness.begin(), lateness.end());
  r.cpuPerMb = cpu / (total / 1e6);
  r.cpuShare = 100.0 * cpu / secs;
  r.mbPerS = total / 1e6 / secs;
  r.peakKb = PeakRssKb();
  (void)lineEnds;
  return r;
}

void LogCost() {
  PtySession s;
  auto& rs = s.rs();
  rs.CheckBoxLog->setChecked(true);
  const std::string line = std::string(78, 'x') + "\r\n";
  std::printf("\n| display holds | first log write ms | next write, 1 KB appended ms | full rewrite after an edit ms |\n|---|---|---|---|\n");
  for (int mb : {10, 50}) {
    rs.Editor->Clear();
    QString block;
    for (int i = 0; i < 1000; ++i) block += QString::fromStdString(line);
    while (rs.Editor->Text().Length() < static_cast<uint64_t>(mb) * 1'000'000) rs.Editor->InsertAtCaret(block);
    QElapsedTimer t;
    t.start();
    rs.TimerLogTimer();
    const double first = t.nsecsElapsed() / 1e6;
    rs.Editor->MoveCaretToEnd();
    rs.Editor->InsertAtCaret(QString(1024, u'y'));
    t.restart();
    rs.TimerLogTimer();
    const double next = t.nsecsElapsed() / 1e6;
    rs.Editor->SetCaret(0, 0);
    rs.Editor->InsertAtCaret(QStringLiteral("z"));
    t.restart();
    rs.TimerLogTimer();
    const double rewrite = t.nsecsElapsed() / 1e6;
    std::printf("| %d MB | %.1f | %.2f | %.1f |\n", mb, first, next, rewrite);
  }
}

}  // namespace

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QApplication::setApplicationDisplayName(QStringLiteral("Corvane"));
  QApplication::setQuitOnLastWindowClosed(false);
  toolkit::THandoverPump pump;
  const int seconds = argc > 1 ? std::atoi(argv[1]) : 30;
  std::vector<long> rates = {25600, 300000, 0};
  if (argc > 2) {
    rates.clear();
    for (const QString& v : QString::fromLocal8Bit(argv[2]).split(u',')) rates.push_back(v.toLong());
  }
  std::printf("command: QT_QPA_PLATFORM=%s", qgetenv("QT_QPA_PLATFORM").constData());
  for (int i = 0; i < argc; ++i) std::printf(" %s", argv[i]);
  std::printf("  (platform %s)\n\n", qPrintable(QGuiApplication::platformName()));
  std::printf("| rate B/s | lines | sent B | shown/expected chars | stall p99 ms | stall max ms | CPU %% core | CPU s/MB | MB/s | peak RSS MB |\n");
  std::printf("|---|---|---|---|---|---|---|---|---|---|\n");
  for (long rate : rates) {
    for (bool lfOnly : {false, true}) {
      Result r = Run(seconds, rate, lfOnly);
      std::printf("| %s | %s | %llu | %llu/%llu | %.1f | %.1f | %.1f | %.4f | %.2f | %.0f |\n",
                  rate ? std::to_string(rate).c_str() : "unlimited", lfOnly ? "LF only" : "CR LF",
                  static_cast<unsigned long long>(r.sent), static_cast<unsigned long long>(r.shownChars),
                  static_cast<unsigned long long>(r.expectedChars), r.p99Stall, r.maxStall, r.cpuShare, r.cpuPerMb,
                  r.mbPerS, r.peakKb / 1024.0);
      std::fflush(stdout);
    }
  }
  if (argc <= 3 || std::string(argv[3]) != "nolog") LogCost();
  return 0;
}
