// Pacing of the file transfer and of auto-send through the real windows (offscreen) and a
// pseudo-terminal whose far end timestamps every byte.
//   pacing_bench transfer [lines=2000] [chars=10] [delays=0,1,5,20]
//   pacing_bench autosend [minutes=10]
#include <time.h>

#include <QApplication>
#include <QCheckBox>
#include <QEventLoop>
#include <QTimer>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "support/far_end.h"
#include "terminal/terminal_fixture.h"
#include "toolkit/handoverpump.h"

namespace {

double ProcessCpuS() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return ts.tv_sec + ts.tv_nsec / 1e9;
}

// Runs the event loop for ms as the application's loop does (QTest::qWait sleeps between passes).
void RunLoopFor(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  size_t i = static_cast<size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
  return v[std::min(i, v.size() - 1)];
}

void Transfer(int lines, int chars, const std::vector<int>& delays) {
  std::string file;
  for (int l = 0; l < lines; ++l) {
    for (int c = 0; c < chars; ++c) file += static_cast<char>('A' + (l + c) % 26);
    file += "\r\n";
  }
  std::printf("| D ms | bytes | gap-excess min | p50 | p99 | max (ms) | CPU %% of a core | total s | ideal s |\n");
  std::printf("|---|---|---|---|---|---|---|---|---|\n");
  for (int d : delays) {
    PtySession s;
    FarEnd far(s.pty.master.Get(), nullptr, true);
    const QString path = s.t.Path("send.txt");
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(file.data(), static_cast<qint64>(file.size()));
    f.close();
    s.t.transfer->EditFile->setText(path);
    s.t.transfer->EditDelay->setText(QString::number(d));
    s.rs().CheckBoxEcho->setChecked(false);
    const double cpu0 = ProcessCpuS();
    const uint64_t t0 = rtl::MonotonicUs();
    s.t.transfer->ButtonOK->click();
    const double total = (rtl::MonotonicUs() - t0) / 1e6;
    const double cpu = ProcessCpuS() - cpu0;
    RunLoopFor(200);
    const auto bytes = far.Bytes();
    // Expected pauses before each byte: after a character 1, before CR 1 more, before LF 1,
    // after LF 2 (so a line's first character has 2 behind it).
    std::vector<double> excess;
    for (size_t i = 1; i < bytes.size(); ++i) {
      const char prev = bytes[i - 1].c, cur = bytes[i].c;
      int pauses = 1;
      if (cur == '\r') pauses = 2;
      if (cur == '\n') pauses = 1;
      if (prev == '\n') pauses = 2;
      const double gapMs = (bytes[i].us - bytes[i - 1].us) / 1000.0;
      excess.push_back(gapMs - pauses * d);
    }
    const double ideal = lines * (chars + 4) * d / 1000.0;
    std::printf("| %d | %zu/%zu | %.3f | %.3f | %.3f | %.3f | %.1f | %.1f | %.1f |\n", d, bytes.size(), file.size(),
                *std::min_element(excess.begin(), excess.end()), Percentile(excess, 0.5), Percentile(excess, 0.99),
                *std::max_element(excess.begin(), excess.end()), 100.0 * cpu / total, total, ideal);
    std::fflush(stdout);
  }
}

void Autosend(int minutes) {
  PtySession s;
  FarEnd far(s.pty.master.Get(), nullptr, true);
  s.t.autosend->EditPeriodAutosend->setText(QStringLiteral("1"));
  s.t.autosend->MemoAutosend->setPlainText(QStringLiteral("X"));
  s.rs().CheckBoxAutosend->setChecked(true);
  const double cpu0 = ProcessCpuS();
  RunLoopFor(minutes * 60'000 + 500);
  const double cpu = ProcessCpuS() - cpu0;
  const auto bytes = far.Bytes();
  double worst = 0;
  for (size_t k = 0; k < bytes.size(); ++k) {
    const double drift = (bytes[k].us - bytes[0].us) / 1000.0 - 1000.0 * static_cast<double>(k);
    worst = std::max(worst, std::abs(drift));
  }
  const double last = bytes.empty() ? 0 : (bytes.back().us - bytes[0].us) / 1000.0 - 1000.0 * (bytes.size() - 1);
  std::printf("| minutes | runs | drift of the last run ms | worst drift ms | CPU %% of a core |\n|---|---|---|---|---|\n");
  std::printf("| %d | %zu | %.1f | %.1f | %.2f |\n", minutes, bytes.size(), last, worst,
              100.0 * cpu / (minutes * 60.0 + 0.5));
}

}  // namespace

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QApplication::setApplicationDisplayName(QStringLiteral("Corvane"));
  QApplication::setQuitOnLastWindowClosed(false);
  toolkit::THandoverPump pump;
  const std::string mode = argc > 1 ? argv[1] : "transfer";
  std::printf("command: QT_QPA_PLATFORM=%s", qgetenv("QT_QPA_PLATFORM").constData());
  for (int i = 0; i < argc; ++i) std::printf(" %s", argv[i]);
  std::printf("\n\n");
  if (mode == "autosend") {
    Autosend(argc > 2 ? std::atoi(argv[2]) : 10);
    return 0;
  }
  std::vector<int> delays = {0, 1, 5, 20};
  if (argc > 4) {
    delays.clear();
    for (const QString& d : QString::fromLocal8Bit(argv[4]).split(u',')) delays.push_back(d.toInt());
  }
  Transfer(argc > 2 ? std::atoi(argv[2]) : 2000, argc > 3 ? std::atoi(argv[3]) : 10, delays);
  return 0;
}
