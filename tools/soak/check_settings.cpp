// The settings check: a child process (this program's "settings-writer") makes the windows as
// the application does, gives them the values of one generation and runs the window's exit
// steps, which write every key of the settings file; the parent kills it with SIGKILL at a
// random moment of that writing, 1,000 times. After each kill the file must parse, both by the
// settings reader and by a plain reading of its bytes, the lines that are not ours must still be
// there, the file keeps its mode, and every key holds either its value before that run or the
// value of the run's generation.
#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <algorithm>
#include <cstring>
#include <map>
#include <optional>
#include <random>
#include <vector>

#include "automation/autosend.h"
#include "automation/transfer.h"
#include "checks.h"
#include "fuzz/reference.h"
#include "runtime/clock.h"
#include "runtime/fd.h"
#include "runtime/profile.h"
#include "serial/device/comm.h"
#include "serial/serialportctl.h"
#include "support/boxcatcher.h"
#include "terminal/formrs.h"
#include "toolkit/handoverpump.h"

extern char** environ;

namespace soak {

namespace {

constexpr int kReadyFd = 3;  // where the child says that its exit steps start
constexpr int kPorts = 4;    // pseudo-terminals listed besides LOOPBACK

// The choices of one generation; combo entries by index into their lists.
struct Generation {
  uint64_t com, baud, dataBits, parity, stopBits;
  bool echo;
  QString period;
  QStringList lines;  // of the auto-send sequence
};

Generation GenerationOf(int g) {
  ByteStream r(static_cast<uint64_t>(g) * 7919u);
  Generation gen{r.Next64(), r.Next64(), r.Next64(), r.Next64(), r.Next64(), g % 2 == 1,
                 QString::number((g * 37) % 10000), {}};
  const int n = 1 + static_cast<int>(r.Below(4));
  for (int k = 0; k < n; ++k) {
    const QString tag = QString::number(g) + QStringLiteral("K") + QString::number(k);
    switch (r.Below(6)) {
      case 0: gen.lines << QString::fromUtf8("AT+G%1 café €").arg(tag); break;
      case 1: gen.lines << QStringLiteral("  blanks at both ends %1 ").arg(tag); break;
      case 2: gen.lines << QStringLiteral("x=y%1=z").arg(tag); break;
      case 3: gen.lines << QStringLiteral("\"quoted %1\"").arg(tag); break;
      case 4: gen.lines << QStringLiteral("[no section %1]").arg(tag); break;
      default: gen.lines << QString(); break;
    }
  }
  return gen;
}

struct Key {
  const char16_t* section;
  const char16_t* name;
};
const Key kKeys[] = {
    {u"Serial Port", u"Com Number"}, {u"Serial Port", u"Baud Rate"}, {u"Serial Port", u"Data Bits"},
    {u"Serial Port", u"Parity"},     {u"Serial Port", u"Stop Bits"}, {u"Serial Port", u"Echo"},
    {u"Auto Send", u"Period"},       {u"Auto Send", u"Data"},        {u"Auto Send", u"Data2"},
    {u"Auto Send", u"Data3"},        {u"Auto Send", u"Data4"},       {u"Auto Send", u"Data5"},
};
constexpr size_t kKeyCount = std::size(kKeys);
using Values = std::vector<std::optional<std::u16string>>;  // nothing: the key is missing

// The entries of the five selectors, as the windows list them in the work folder.
struct Lists {
  QStringList com, baud, dataBits, parity, stopBits;
};

Values ExpectedOf(const Generation& gen, const Lists& lists) {
  auto pick = [](const QStringList& list, uint64_t i) {
    return std::optional<std::u16string>(list.value(static_cast<int>(i % static_cast<uint64_t>(list.size()))).toStdU16String());
  };
  Values v(kKeyCount);
  v[0] = pick(lists.com, gen.com);
  v[1] = pick(lists.baud, gen.baud);
  v[2] = pick(lists.dataBits, gen.dataBits);
  v[3] = pick(lists.parity, gen.parity);
  v[4] = pick(lists.stopBits, gen.stopBits);
  v[5] = gen.echo ? u"1" : u"0";
  v[6] = gen.period.toStdU16String();
  for (int k = 0; k < 5; ++k)
    if (k < gen.lines.size()) v[static_cast<size_t>(7 + k)] = gen.lines[k].toStdU16String();
  return v;
}

// The keys as the settings reader gives them; a key is missing when two defaults come back.
Values ReadValues(const rtl::TProfileFile& file) {
  Values v(kKeyCount);
  for (size_t i = 0; i < kKeyCount; ++i) {
    const std::u16string a = file.ReadString(kKeys[i].section, kKeys[i].name, u"\u0001");
    const std::u16string b = file.ReadString(kKeys[i].section, kKeys[i].name, u"\u0002");
    if (a == b) v[i] = a;
  }
  return v;
}

// A plain reading of the bytes: CR LF after every line and nowhere else, a section line or a
// key line or one of the lines that are not ours, each section once and each key once in it;
// the values as written (a value between double quotes without them). Empty on success, else
// what is wrong.
std::string ParseRaw(const std::string& bytes, std::map<std::string, std::map<std::string, std::string>>& out) {
  out.clear();
  if (bytes.empty()) return "the file is empty";
  if (bytes.size() < 2 || bytes.compare(bytes.size() - 2, 2, "\r\n") != 0) return "the last line has no CR LF";
  std::string section;
  bool comment = false;
  size_t begin = 0;
  while (begin < bytes.size()) {
    const size_t end = bytes.find("\r\n", begin);
    const std::string line = bytes.substr(begin, end - begin);
    begin = end + 2;
    if (line.find_first_of("\r\n") != std::string::npos) return "a lone CR or LF in \"" + line + "\"";
    if (line == "; not ours") {
      comment = true;
      continue;
    }
    if (!line.empty() && line.front() == '[' && line.back() == ']' && line.find('=') == std::string::npos) {
      section = line.substr(1, line.size() - 2);
      if (out.count(section)) return "section [" + section + "] twice";
      out[section];
      continue;
    }
    const size_t eq = line.find('=');
    if (eq == std::string::npos || section.empty()) return "a line that is no key: \"" + line + "\"";
    const std::string key = line.substr(0, eq);
    std::string value = line.substr(eq + 1);
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
    if (out[section].count(key)) return "key " + key + " twice in [" + section + "]";
    out[section][key] = value;
  }
  if (!comment) return "the line that is not ours is gone";
  if (out["Other"]["keep"] != "this one") return "the section that is not ours lost its key";
  return std::string();
}

std::string Show(const std::optional<std::u16string>& v) {
  if (!v) return "missing";
  return QStringLiteral("\"%1\"").arg(QString::fromStdU16String(*v)).toStdString();
}

// Counts the temporary files that killed writers left beside the settings file.
int LeftoverTemps(const QString& dir) {
  return static_cast<int>(QDir(dir).entryList({QStringLiteral(".corvane.ini.*.tmp")}, QDir::Files | QDir::Hidden).size());
}

void SetDeviceTree(const QString& dir) {
  comm::DeviceRoots roots;
  roots.sysClassTty = QDir(dir).filePath(QStringLiteral("sys")).toStdString();
  roots.dev = QDir(dir).filePath(QStringLiteral("dev")).toStdString();
  comm::SetDeviceRoots(roots);
}

}  // namespace

int RunSettingsWriter(int argc, char* argv[]) {
  if (argc < 4) return 2;
  const QString dir = QString::fromLocal8Bit(argv[2]);
  const int g = std::atoi(argv[3]);
  if (::chdir(argv[2]) != 0) return 2;
  SetDeviceTree(dir);
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  int qtArgc = 1;
  QApplication app(qtArgc, argv);
  QApplication::setApplicationDisplayName(QStringLiteral("Corvane"));
  QApplication::setQuitOnLastWindowClosed(false);
  toolkit::THandoverPump pump;
  terminal::TFormRS rs;
  automation::TFormAutosend autosend(rs);
  automation::TFormTransfer transfer(rs);
  rs.AttachDialogs({&autosend, autosend.EditPeriodAutosend, autosend.MemoAutosend, &transfer, transfer.EditPrompt});

  const Generation gen = GenerationOf(g);
  auto choose = [](serial::TSerialComboBox* box, uint64_t i) {
    box->setCurrentIndex(static_cast<int>(i % static_cast<uint64_t>(box->count())));
  };
  choose(rs.ComNumberComboBoxSerial, gen.com);
  choose(rs.BaudRateComboBoxSerial, gen.baud);
  choose(rs.DataBitsComboBoxSerial, gen.dataBits);
  choose(rs.ParityComboBoxSerial, gen.parity);
  choose(rs.StopBitsComboBoxSerial, gen.stopBits);
  rs.CheckBoxEcho->setChecked(gen.echo);
  autosend.EditPeriodAutosend->setText(gen.period);
  autosend.SetSequenceText(gen.lines.join(QStringLiteral("\r\n")));

  BoxCatcher boxes;  // a failed write shows its box; answered, and told to the parent
  (void)!::write(kReadyFd, "r", 1);
  if (!rs.FormClose()) {
    std::fprintf(stderr, "settings-writer: %s\n", qPrintable(boxes.texts.join(u'|')));
    return 3;
  }
  return 0;
}

bool CheckSettingsKill(const Options& options, Watchdog& dog) {
  Check check("Settings file written under SIGKILL");
  check.Columns({"runs", "killed", "ended before the kill", "all old", "mixed", "all new", "writing ms (median)",
                 "run ms (median)", "temporary files left", "mode kept"});
  const int runs = options.quick ? 50 : 1000;
  std::mt19937_64 random(options.seed);
  QTemporaryDir work;
  const QString dir = work.path();
  QDir(dir).mkpath(QStringLiteral("sys"));
  QDir(dir).mkpath(QStringLiteral("dev"));
  std::vector<rtl::UniqueFd> masters;
  for (int i = 0; i < kPorts; ++i) {
    int m = -1, s = -1;
    char path[256] = {};
    if (::openpty(&m, &s, path, nullptr, nullptr) != 0) {
      check.Fail("openpty failed");
      return check.Report();
    }
    ::close(s);
    masters.emplace_back(m);
    QFile::link(QString::fromLatin1(path), QDir(dir).filePath(QStringLiteral("dev/tty") + QChar(u'A' + i)));
  }
  const QString ini = QDir(dir).filePath(QStringLiteral("corvane.ini"));
  {
    QFile f(ini);
    f.open(QIODevice::WriteOnly);
    f.write("; not ours\r\n[Serial Port]\r\nCom Number=LOOPBACK\r\nBaud Rate=9600\r\n[Auto Send]\r\nPeriod=5\r\n"
            "Data=first\r\nData2=second\r\n[Other]\r\nkeep=this one\r\n");
  }
  ::chmod(ini.toLocal8Bit().constData(), 0640);

  // The selectors' lists, from windows made in the same folder (they write nothing unless closed).
  Lists lists;
  {
    const QString old = QDir::currentPath();
    QDir::setCurrent(dir);
    SetDeviceTree(dir);
    terminal::TFormRS rs;
    auto items = [](serial::TSerialComboBox* box) {
      QStringList l;
      for (int i = 0; i < box->count(); ++i) l << box->itemText(i);
      return l;
    };
    lists = {items(rs.ComNumberComboBoxSerial), items(rs.BaudRateComboBoxSerial), items(rs.DataBitsComboBoxSerial),
             items(rs.ParityComboBoxSerial), items(rs.StopBitsComboBoxSerial)};
    QDir::setCurrent(old);
    comm::SetDeviceRoots(comm::DeviceRoots{});
  }
  check.Expect(lists.com.size() == kPorts + 1, Fmt("the port list holds %d entries", static_cast<int>(lists.com.size())));

  rtl::TProfileFile file(ini.toStdString());
  Values current = ReadValues(file);
  std::vector<double> writeMs, runMs;
  int killed = 0, ended = 0, allOld = 0, mixed = 0, allNew = 0;
  const std::string dirBytes = dir.toStdString();
  bool modeKept = true;
  for (int i = 0; i < runs && check.Passed(); ++i) {
    const int g = i + 1;
    Deadline d(dog, Fmt("settings writer run %d", i), 60);
    int p[2];
    if (::pipe2(p, O_CLOEXEC) != 0) {
      check.Fail("pipe failed");
      break;
    }
    rtl::UniqueFd readyRead(p[0]), readyWrite(p[1]);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, readyWrite.Get(), kReadyFd);
    const std::string gs = std::to_string(g);
    std::vector<char*> argv = {const_cast<char*>(options.self.c_str()), const_cast<char*>("settings-writer"),
                               const_cast<char*>(dirBytes.c_str()), const_cast<char*>(gs.c_str()), nullptr};
    pid_t pid = -1;
    const uint64_t t0 = rtl::MonotonicUs();
    const int spawned = posix_spawn(&pid, options.self.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    readyWrite.Reset();
    if (spawned != 0) {
      check.Fail(Fmt("run %d: the writer could not be started: %s", i, std::strerror(spawned)));
      break;
    }
    char ready = 0;
    const bool started = ::read(readyRead.Get(), &ready, 1) == 1;
    const uint64_t t1 = rtl::MonotonicUs();
    // The first runs are not killed: they tell how long the writing takes.
    const bool kill = started && i >= 5;
    if (kill) {
      std::vector<double> sorted = writeMs;
      std::sort(sorted.begin(), sorted.end());
      const double span = 1.1 * sorted[sorted.size() / 2] * 1000;
      const uint64_t delayUs = random() % static_cast<uint64_t>(std::max(1.0, span));
      const timespec ts{static_cast<time_t>(delayUs / 1'000'000), static_cast<long>(delayUs % 1'000'000 * 1000)};
      ::nanosleep(&ts, nullptr);
      ::kill(pid, SIGKILL);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    const uint64_t t2 = rtl::MonotonicUs();
    runMs.push_back(static_cast<double>(t2 - t0) / 1000);
    const bool wasKilled = WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
    if (!started || (!wasKilled && !(WIFEXITED(status) && WEXITSTATUS(status) == 0))) {
      check.Fail(Fmt("run %d: the writer failed (status %d)", i, status));
      break;
    }
    if (!wasKilled) {
      writeMs.push_back(static_cast<double>(t2 - t1) / 1000);
      if (kill) ++ended;
    } else {
      ++killed;
    }

    // The file as both readers see it.
    const std::string bytes = ReadFileBytes(ini.toStdString());
    std::map<std::string, std::map<std::string, std::string>> raw;
    const std::string rawError = ParseRaw(bytes, raw);
    if (!rawError.empty()) {
      check.Fail(Fmt("run %d: %s", i, rawError.c_str()));
      break;
    }
    const Values now = ReadValues(file);
    const Values wanted = ExpectedOf(GenerationOf(g), lists);
    int asOld = 0, asNew = 0;
    for (size_t k = 0; k < kKeyCount; ++k) {
      const std::string section = QString::fromStdU16String(kKeys[k].section).toStdString();
      const std::string name = QString::fromStdU16String(kKeys[k].name).toStdString();
      const auto& keys = raw[section];
      const auto it = keys.find(name);
      const std::optional<std::u16string> rawValue =
          it == keys.end() ? std::nullopt : std::optional<std::u16string>(fuzzref::Decode(it->second));
      if (rawValue != now[k]) {
        check.Fail(Fmt("run %d: %s reads %s, its bytes say %s", i, name.c_str(), Show(now[k]).c_str(),
                       Show(rawValue).c_str()));
        break;
      }
      const bool isOld = now[k] == current[k], isNew = now[k] == wanted[k];
      if (!isOld && !isNew) {
        check.Fail(Fmt("run %d: %s holds %s, neither the old %s nor the new %s", i, name.c_str(), Show(now[k]).c_str(),
                       Show(current[k]).c_str(), Show(wanted[k]).c_str()));
        break;
      }
      if (!wasKilled && !isNew)
        check.Fail(Fmt("run %d: the writer ended but %s holds %s", i, name.c_str(), Show(now[k]).c_str()));
      // A key whose old and new values are the same counts as neither.
      if (isOld && !isNew) ++asOld;
      if (isNew && !isOld) ++asNew;
    }
    if (asNew == 0) ++allOld;
    else if (asOld == 0) ++allNew;
    else ++mixed;
    struct stat st{};
    if (::stat(ini.toLocal8Bit().constData(), &st) != 0 || (st.st_mode & 07777) != 0640) modeKept = false;
    current = now;
  }
  std::sort(writeMs.begin(), writeMs.end());
  std::sort(runMs.begin(), runMs.end());
  const int temps = LeftoverTemps(dir);
  check.Row({Fmt("%d", runs), Fmt("%d", killed), Fmt("%d", ended), Fmt("%d", allOld), Fmt("%d", mixed),
             Fmt("%d", allNew), Fmt("%.1f", writeMs.empty() ? 0 : writeMs[writeMs.size() / 2]),
             Fmt("%.1f", runMs.empty() ? 0 : runMs[runMs.size() / 2]), Fmt("%d", temps), modeKept ? "yes" : "NO"});
  check.Expect(modeKept, "the settings file lost its mode");
  check.Expect(mixed > 0 || options.quick, "no kill fell inside the writing");
  return check.Report();
}

}  // namespace soak
