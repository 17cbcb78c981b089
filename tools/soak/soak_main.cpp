// Fault injection and soak checks of the whole terminal, run on the real windows.
//   corvane_soak [--quick] [--seed N] [--mib N] [vanish] [cycles] [settings] [fulldisk] [stream]
// Without names every check runs; --mib sets the size of the large streams (1024 MiB, quick
// 32). Each prints its table and PASS or FAIL; the exit status is non-zero when any check
// failed. "settings-writer" is the child that the settings check kills.
#include <sys/utsname.h>
#include <unistd.h>

#include <QApplication>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "checks.h"
#include "toolkit/handoverpump.h"

namespace {

std::string CpuModel() {
  std::ifstream f("/proc/cpuinfo");
  std::string line;
  while (std::getline(f, line))
    if (line.rfind("model name", 0) == 0) return line.substr(line.find(':') + 2);
  return "?";
}

std::string LoadAverage() {
  std::ifstream f("/proc/loadavg");
  std::string a, b, c;
  f >> a >> b >> c;
  return a + " " + b + " " + c;
}

int Usage() {
  std::fprintf(stderr, "usage: corvane_soak [--quick] [--seed N] [--mib N] [vanish] [cycles] [settings] [fulldisk] [stream]\n");
  return 2;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc > 1 && std::strcmp(argv[1], "settings-writer") == 0) return soak::RunSettingsWriter(argc, argv);

  soak::Options options;
  options.self = "/proc/self/exe";
  options.seed = static_cast<uint64_t>(std::chrono::system_clock::now().time_since_epoch().count()) % 1000000007u;
  std::vector<std::string> wanted;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--quick") {
      options.quick = true;
    } else if (a == "--mib" && i + 1 < argc) {
      options.streamMiB = std::strtoull(argv[++i], nullptr, 10);
    } else if (a == "--seed" && i + 1 < argc) {
      options.seed = std::strtoull(argv[++i], nullptr, 10);
    } else if (a == "stream" || a == "vanish" || a == "cycles" || a == "settings" || a == "fulldisk") {
      wanted.push_back(a);
    } else {
      return Usage();
    }
  }
  // The stream check last: the gigabytes it leaves to the allocator do not count in the others.
  if (wanted.empty()) wanted = {"vanish", "cycles", "settings", "fulldisk", "stream"};
  // The real application's resolution of its own path, for the child processes.
  char self[4096] = {};
  if (ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1); n > 0) options.self.assign(self, static_cast<size_t>(n));

  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Corvane"));
  QApplication::setApplicationDisplayName(QStringLiteral("Corvane"));
  QApplication::setQuitOnLastWindowClosed(false);
  toolkit::THandoverPump pump;

  utsname u{};
  ::uname(&u);
  std::printf("corvane_soak%s --seed %llu", options.quick ? " --quick" : "", static_cast<unsigned long long>(options.seed));
  if (options.streamMiB) std::printf(" --mib %llu", static_cast<unsigned long long>(options.streamMiB));
  for (const std::string& w : wanted) std::printf(" %s", w.c_str());
  std::printf("\nplatform %s; %ld cores, %s; kernel %s; load %s\n", qPrintable(QGuiApplication::platformName()),
              ::sysconf(_SC_NPROCESSORS_ONLN), CpuModel().c_str(), u.release, LoadAverage().c_str());
  std::fflush(stdout);

  soak::Watchdog dog;
  std::vector<std::pair<std::string, bool>> results;
  const auto start = std::chrono::steady_clock::now();
  for (const std::string& w : wanted) {
    bool ok = false;
    if (w == "stream") ok = soak::CheckStream(options, dog);
    if (w == "vanish") ok = soak::CheckVanish(options, dog);
    if (w == "cycles") ok = soak::CheckCycles(options, dog);
    if (w == "settings") ok = soak::CheckSettingsKill(options, dog);
    if (w == "fulldisk") ok = soak::CheckFullDisk(options, dog);
    results.emplace_back(w, ok);
  }
  bool all = true;
  std::printf("\n| check | result |\n|---|---|\n");
  for (const auto& [name, ok] : results) {
    std::printf("| %s | %s |\n", name.c_str(), ok ? "PASS" : "FAIL");
    all = all && ok;
  }
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start).count();
  std::printf("\ncorvane_soak: %lld s, %s\n", static_cast<long long>(seconds), all ? "PASS" : "FAIL");
  return all ? 0 : 1;
}
