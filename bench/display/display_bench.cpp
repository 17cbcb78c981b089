// Cost of the display under a terminal's load: one 1 KB append and one repaint with 0, 10 and
// 50 MB already shown and with a current line of 1 and 10 MB; the time to hand out the whole text
// for the log; peak memory per displayed character. Each case runs in a fresh process, so that its
// peak memory is its own. Run it on the offscreen platform and under Xvfb (xcb) for real painting.
#include <QApplication>
#include <QProcess>
#include <QTest>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <random>
#include <time.h>
#include <string>
#include <vector>

#include "toolkit/display/display_view.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kSamples = 300;  // appends (each followed by one repaint) measured per case

double Microseconds(Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); }

// CPU time of this thread in microseconds: unlike wall time, untouched by other processes that
// share the machine (under xcb the X server's own work is not in it).
double ThreadCpuUs() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return ts.tv_sec * 1e6 + ts.tv_nsec / 1e3;
}

// A value of /proc/self/status in KB ("VmRSS", "VmHWM").
long StatusKb(const std::string& key) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind(key + ":", 0) == 0) return std::stol(line.substr(key.size() + 1));
  return -1;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0 : values[values.size() / 2];
}

double Percentile90(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0 : values[values.size() * 9 / 10];
}

// Received text: lines of 20 to 120 printable characters ended by CR, about size characters.
QString ReceivedLines(std::mt19937& random, qsizetype size) {
  QString text;
  text.reserve(size + 128);
  while (text.size() < size) {
    const int length = 20 + int(random() % 101);
    for (int i = 0; i < length; ++i) text += QChar(char16_t(32 + random() % 95));
    text += QLatin1Char('\r');
  }
  return text;
}

QString Characters(std::mt19937& random, qsizetype size) {
  QString text(size, Qt::Uninitialized);
  for (QChar& c : text) c = QChar(char16_t(33 + random() % 94));
  return text;
}

void Receive(toolkit::TDisplayView& view, const QString& text) {
  view.MoveCaretToEnd();
  view.SetInsertionColour(Qt::black);
  view.InsertAtCaret(text);
  view.MoveCaretToEnd();
  view.SetInsertionColour(Qt::red);
}

// One case: "history MB" or "line MB". Prints one line of key=value figures.
int RunCase(int argc, char** argv, const std::string& kind, int megabytes) {
  QApplication app(argc, argv);
  toolkit::TDisplayView view;
  view.resize(470, 580);  // the display's part of the main window
  view.show();
  view.activateWindow();
  if (!QTest::qWaitForWindowExposed(&view)) {
    std::fprintf(stderr, "window not exposed\n");
    return 1;
  }
  view.MoveCaretToEnd();
  view.SetInsertionColour(Qt::red);
  QApplication::processEvents();
  const long baselineKb = StatusKb("VmRSS");

  std::mt19937 random(2024);
  const qsizetype target = qsizetype(megabytes) * 1000 * 1000;
  const auto fillStart = Clock::now();
  qsizetype filled = 0;
  int batches = 0;
  while (filled < target) {
    const qsizetype size = std::min<qsizetype>(64 * 1024, target - filled);
    const QString text = kind == "history" ? ReceivedLines(random, size) : Characters(random, size);
    Receive(view, text);
    if (kind == "history" && ++batches % 50 == 0) view.InsertAtCaret(QStringLiteral("typed echo\r"));
    filled += text.size();
  }
  const double fillSeconds = std::chrono::duration<double>(Clock::now() - fillStart).count();
  QApplication::processEvents();

  std::vector<double> appends;
  std::vector<double> repaints;
  std::vector<double> appendsCpu;
  std::vector<double> repaintsCpu;
  for (int i = 0; i < kSamples; ++i) {
    const QString text = kind == "history" ? ReceivedLines(random, 1000) : Characters(random, 1024);
    const double ca = ThreadCpuUs();
    const auto a = Clock::now();
    Receive(view, text);
    const auto b = Clock::now();
    const double cb = ThreadCpuUs();
    view.viewport()->repaint();
    const auto c = Clock::now();
    const double cc = ThreadCpuUs();
    appends.push_back(Microseconds(b - a));
    repaints.push_back(Microseconds(c - b));
    appendsCpu.push_back(cb - ca);
    repaintsCpu.push_back(cc - cb);
  }
  const long peakKb = StatusKb("VmHWM");
  const double characters = double(view.Text().Length());

  // The whole text for the log: in pieces, converted to one byte per character as the code page
  // does, and as one QString.
  std::string bytes;
  bytes.reserve(toolkit::DisplayText::kPiece);
  std::size_t written = 0;
  const auto w0 = Clock::now();
  view.Text().Write([&](std::u16string_view piece) {
    bytes.clear();
    for (char16_t c : piece) bytes.push_back(c < 0x100 ? char(c) : '?');
    written += bytes.size();
  });
  const auto w1 = Clock::now();
  const QString plain = view.PlainText();
  const auto w2 = Clock::now();
  if (written != std::size_t(plain.size())) std::fprintf(stderr, "pieces and PlainText differ\n");

  std::printf("RESULT platform=%s kind=%s mb=%d chars=%.0f fill_mbps=%.1f append_us=%.1f append90_us=%.1f "
              "append_cpu_us=%.1f repaint_us=%.1f repaint90_us=%.1f repaint_cpu_us=%.1f write_ms=%.1f "
              "plaintext_ms=%.1f baseline_mb=%.1f peak_mb=%.1f bytes_per_char=%.3f\n",
              qPrintable(QGuiApplication::platformName()), kind.c_str(), megabytes, characters, megabytes > 0 ? megabytes / fillSeconds : 0.0,
              Median(appends), Percentile90(appends), Median(appendsCpu), Median(repaints),
              Percentile90(repaints), Median(repaintsCpu),
              std::chrono::duration<double, std::milli>(w1 - w0).count(),
              std::chrono::duration<double, std::milli>(w2 - w1).count(), baselineKb / 1024.0,
              peakKb / 1024.0, characters > 0 ? (peakKb - baselineKb) * 1024.0 / characters : 0.0);
  return 0;
}

struct Result {
  std::string kind;
  int mb = 0;
  std::vector<std::pair<std::string, std::string>> values;
  std::string Get(const std::string& key) const {
    for (const auto& [k, v] : values)
      if (k == key) return v;
    return "-";
  }
};

Result Parse(const std::string& line) {
  Result result;
  std::size_t at = line.find(' ');
  while (at != std::string::npos) {
    const std::size_t next = line.find(' ', at + 1);
    const std::string field = line.substr(at + 1, next == std::string::npos ? std::string::npos : next - at - 1);
    const std::size_t eq = field.find('=');
    if (eq != std::string::npos) result.values.emplace_back(field.substr(0, eq), field.substr(eq + 1));
    at = next;
  }
  result.kind = result.Get("kind");
  result.mb = std::stoi(result.Get("mb"));
  return result;
}

int Drive(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const std::pair<const char*, int> cases[] = {{"history", 0}, {"history", 10}, {"history", 50},
                                               {"line", 1},    {"line", 10}};
  std::vector<Result> results;
  for (const auto& [kind, mb] : cases) {
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--case"), QString::fromLatin1(kind), QString::number(mb)});
    if (!child.waitForFinished(-1) || child.exitCode() != 0) {
      std::fprintf(stderr, "case %s %d failed\n", kind, mb);
      return 1;
    }
    const QList<QByteArray> lines = child.readAllStandardOutput().split('\n');
    for (const QByteArray& line : lines)
      if (line.startsWith("RESULT")) results.push_back(Parse(line.toStdString()));
  }

  const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
  std::string command = argv[0];
  if (!platform.isEmpty()) command = "QT_QPA_PLATFORM=" + platform.toStdString() + " " + command;
  std::printf("command: %s\nplatform: %s%s\n", command.c_str(),
              results.empty() ? "?" : results.front().Get("platform").c_str(),
              qEnvironmentVariableIsSet("DISPLAY") ? " (DISPLAY set)" : "");
  std::printf("samples per case: %d appends of 1 KB, each followed by one repaint\n"
              "wall: median (90th percentile) of elapsed time; cpu: median of this thread's CPU time\n\n",
              kSamples);
  std::printf("%-15s %10s %17s %9s %17s %9s %8s %8s %8s %8s %7s\n", "case", "chars", "append wall us",
              "cpu us", "repaint wall us", "cpu us", "fill MB/s", "write ms", "QStr ms", "peak MB", "B/char");
  for (const Result& r : results) {
    const std::string name = r.kind == "history" ? "history " + std::to_string(r.mb) + " MB"
                                                 : "line " + std::to_string(r.mb) + " MB";
    const bool text = r.kind == "history" && r.mb > 0;
    std::printf("%-15s %10s %8s (%6s) %9s %8s (%6s) %9s %8s %8s %8s %8s %7s\n", name.c_str(),
                r.Get("chars").c_str(), r.Get("append_us").c_str(), r.Get("append90_us").c_str(),
                r.Get("append_cpu_us").c_str(), r.Get("repaint_us").c_str(), r.Get("repaint90_us").c_str(),
                r.Get("repaint_cpu_us").c_str(), r.Get("fill_mbps").c_str(), text ? r.Get("write_ms").c_str() : "-",
                text ? r.Get("plaintext_ms").c_str() : "-", r.Get("peak_mb").c_str(),
                r.mb >= 10 ? r.Get("bytes_per_char").c_str() : "-");
  }
  std::printf("\nwrite ms: whole text handed out in pieces and narrowed to bytes; QString ms: PlainText().\n"
              "B/char: (peak RSS - RSS before filling) / characters shown. Target: peak RSS under\n"
              "3 bytes per character + 50 MB; append and repaint at 50 MB and at a 10 MB line within\n"
              "2x of the empty display.\n");
  for (const Result& r : results) {
    if (r.mb < 10) continue;
    const double chars = std::stod(r.Get("chars"));
    const double peak = std::stod(r.Get("peak_mb"));
    std::printf("%s %d MB: peak %.1f MB, budget 3 B/char + 50 MB = %.1f MB\n", r.kind.c_str(), r.mb, peak,
                (3 * chars) / (1024.0 * 1024.0) + 50);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "--case") return RunCase(argc, argv, argv[2], std::stoi(argv[3]));
  return Drive(argc, argv);
}
