// The vanish check: the far end closes its side of the pseudo-terminal at a random moment while
// the port opens, while text streams in, during a paced transfer, during a transfer's prompt
// wait and during an auto-send run with its pauses. Afterwards nothing may hang, the process
// must be idle (its CPU over a second measured while the window sits in whatever wait it is
// in), the next key must close the session, and a new far end under the same name must open
// and carry bytes both ways.
#include <pty.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCheckBox>
#include <QEventLoop>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <memory>
#include <random>

#include "checks.h"
#include "runtime/clock.h"
#include "serial/serialportctl.h"
#include "support/boxcatcher.h"
#include "support/far_end.h"
#include "terminal/terminal_fixture.h"
#include "toolkit/display/display_view.h"
#include "vanishing_far_end.h"

namespace soak {

namespace {

enum class Situation { Open, Reception, Transfer, PromptWait, AutosendPause };
constexpr Situation kSituations[] = {Situation::Open, Situation::Reception, Situation::Transfer,
                                     Situation::PromptWait, Situation::AutosendPause};

const char* NameOf(Situation s) {
  switch (s) {
    case Situation::Open: return "open";
    case Situation::Reception: return "reception";
    case Situation::Transfer: return "paced transfer";
    case Situation::PromptWait: return "prompt wait";
    case Situation::AutosendPause: return "auto-send pause";
  }
  return "?";
}

// A CPU share of one core that counts as idle: the window's caret blinks, an auto-send run may
// still write its characters, nothing else runs; a loop that spins or polls costs far more.
// Under AddressSanitizer every repaint and allocation costs several times as much.
#if defined(__SANITIZE_ADDRESS__)
constexpr double kIdleShare = 0.10;
#else
constexpr double kIdleShare = 0.03;
#endif

struct Figures {
  int runs = 0, idle = 0, closedByKey = 0, reopened = 0, reused = 0;
  int duringOpen = 0;  // the open situation: the far end went while Open ran
  double maxShare = 0, sumShare = 0;
  std::string busiest;
  uint64_t minVanishUs = UINT64_MAX, maxVanishUs = 0;
};

// What the check does once the far end is gone, run from timers so that it happens inside
// whatever wait the window is in: settle, measure the CPU over a second, type a key.
class AfterVanish : public QObject {
 public:
  AfterVanish(terminal::TFormRS& rs, const VanishingFarEnd& far, std::function<bool()> ready, QString link)
      : rs_(rs), far_(far), ready_(std::move(ready)), link_(std::move(link)) {
    QObject::connect(&poll_, &QTimer::timeout, this, [this] { Poll(); });
    poll_.start(5);
  }
  bool done = false;
  std::function<void()> onDone;
  bool reused = false;  // another process was given the vanished terminal's number
  CpuProbe::Result cpu;
  bool closed = false;

 private:
  void Poll() {
    if (!far_.Vanished() || !ready_()) return;
    poll_.stop();
    // Let the window and the device see the hang-up, then measure with nothing of ours running.
    QTimer::singleShot(200, this, [this] {
      probe_.Start();
      QTimer::singleShot(1000, this, [this] { Measured(); });
    });
  }
  void Measured() {
    cpu = probe_.Stop();
    // The link must name no terminal now; if the system gave its number to someone else's new
    // pseudo-terminal meanwhile, the port is gone all the same: the link goes too.
    struct stat st{};
    if (::stat(link_.toLocal8Bit().constData(), &st) == 0) {
      reused = true;
      QFile::remove(link_);
    }
    rs_.Editor->setFocus();
    QTest::keyClick(rs_.Editor, Qt::Key_Q);
    closed = !rs_.SerialPort->Connected() && rs_.ButtonOpen->isVisible();
    done = true;
    if (onDone) onDone();
  }

  terminal::TFormRS& rs_;
  const VanishingFarEnd& far_;
  std::function<bool()> ready_;
  QString link_;
  QTimer poll_;
  CpuProbe probe_;
};

class VanishRunner {
 public:
  VanishRunner(const Options& options, Watchdog& dog, Check& check)
      : options_(options), dog_(dog), check_(check), random_(options.seed) {}

  void Run() {
    const int perSituation = options_.quick ? 2 : 40;
    t_.WriteIni("[Serial Port]\r\nCom Number=ttyV0\r\n");
    NewPty();
    t_.Start();
    if (!WaitUntil([&] { return rs().SerialPort->Connected(); }, 5000)) {
      check_.Fail("no session on the first pseudo-terminal");
      return;
    }
    BoxCatcher boxes;
    // Start values with the session closed, after one open and close.
    rs().ButtonClose->click();
    const int fds0 = OpenFdCount(), threads0 = ThreadCount();
    if (!Reopen(-1)) return;
    // For comparison: the same window with a healthy session, idle.
    CpuProbe baseline;
    RunLoopFor(200);
    baseline.Start();
    RunLoopFor(1000);
    const CpuProbe::Result healthy = baseline.Stop();
    Figures figures[5];
    for (int i = 0; i < perSituation * 5; ++i) {
      const Situation s = kSituations[i % 5];
      Deadline d(dog_, Fmt("vanish %d (%s)", i, NameOf(s)), 120);
      if (!Iteration(s, i, figures[i % 5])) return;
    }
    rs().ButtonClose->click();
    RunLoopFor(100);
    const int fds1 = OpenFdCount(), threads1 = ThreadCount();
    for (int k = 0; k < 5; ++k) {
      const Figures& f = figures[k];
      check_.Row({NameOf(kSituations[k]), Fmt("%d", f.runs),
                  Fmt("%.1f-%.1f", f.minVanishUs / 1000.0, f.maxVanishUs / 1000.0),
                  Fmt("%.2f", 100 * f.sumShare / std::max(1, f.runs)), Fmt("%.2f", 100 * f.maxShare), f.busiest,
                  k == 0 ? Fmt("%d/%d", f.duringOpen, f.runs) : std::string("-"), Fmt("%d/%d", f.idle, f.runs),
                  Fmt("%d/%d", f.closedByKey, f.runs), Fmt("%d/%d", f.reopened, f.runs), Fmt("%d", f.reused)});
    }
    check_.Row({"healthy session, idle (for comparison)", "1", "-", Fmt("%.2f", 100 * healthy.processShare),
                Fmt("%.2f", 100 * healthy.processShare), Fmt("%s %.1f%%", healthy.busiest.c_str(), 100 * healthy.busiestShare),
                "-", "-", "-", "-", "-"});
    check_.Row({"descriptors, threads (closed) before / after", Fmt("%d, %d / %d, %d", fds0, threads0, fds1, threads1),
                "", "", "", "", "", "", "", "", ""});
    check_.Expect(fds1 == fds0, Fmt("descriptors %d at the start, %d at the end", fds0, fds1));
    check_.Expect(threads1 == threads0, Fmt("threads %d at the start, %d at the end", threads0, threads1));
    check_.Expect(boxes.texts.isEmpty(), "an error box showed: " + boxes.texts.join(u'|').toStdString());
  }

 private:
  terminal::TFormRS& rs() { return *t_.rs; }
  QString Link() const { return QDir(t_.Path("dev")).filePath(QStringLiteral("ttyV0")); }
  uint64_t Random(uint64_t below) { return below ? random_() % below : 0; }

  // A new pseudo-terminal behind the link; only its master is kept (nobody else holds the
  // device side, as with a real far end).
  void NewPty() {
    QFile::remove(Link());
    TerminalFixture::Pty p = t_.MakePty("ttyV0");
    master_ = std::move(p.master);
  }

  // Makes a new far end, opens it with the Open button and sends bytes both ways.
  bool Reopen(int i) {
    rs().Editor->Clear();
    NewPty();
    rs().RefreshPorts();  // as the refresh timer does while the session is closed
    if (!check_.Expect(rs().ComNumberComboBoxSerial->Text() == QStringLiteral("ttyV0"),
                       Fmt("run %d: the new far end is not listed", i)))
      return false;
    const uint64_t t0 = rtl::MonotonicUs();
    rs().ButtonOpen->click();
    openUs_ = std::max<uint64_t>(500, rtl::MonotonicUs() - t0);
    bool ok = rs().SerialPort->Connected();
    {
      FarEnd far(master_.Get());
      const std::string ping = "ping" + std::to_string(i) + "\r";
      far.Send(ping);
      ok = ok && WaitUntil([&] { return rs().Editor->PlainText() == QString::fromStdString(ping) + "\n"; }, 5000);
      rs().Editor->setFocus();
      QTest::keyClick(rs().Editor, Qt::Key_K);
      ok = ok && WaitUntil([&] { return far.Text().find('k') != std::string::npos; }, 5000);
    }
    return check_.Expect(ok, Fmt("run %d: reopening under the same name did not carry bytes both ways", i));
  }

  bool Iteration(Situation s, int i, Figures& f) {
    rs().Editor->Clear();
    VanishingFarEnd::Plan plan;
    bool transferRunning = false;
    auto* transfer = t_.transfer.get();
    switch (s) {
      case Situation::Open:
        rs().ButtonClose->click();
        NewPty();
        rs().RefreshPorts();
        plan.closeAfterUs = Random(2 * openUs_);
        break;
      case Situation::Reception:
        plan.stream = true;
        plan.closeAfterUs = 20'000 + Random(480'000);
        break;
      case Situation::Transfer: {
        QByteArray file;
        for (int line = 0; line < 8; ++line) file += QByteArray(40, static_cast<char>('a' + line)) + "\r\n";
        WriteTransferFile(file);
        transfer->EditDelay->setText(QStringLiteral("1"));
        transfer->CheckBoxWait->setChecked(false);
        plan.closeAfterUs = Random(400'000);
        break;
      }
      case Situation::PromptWait: {
        QByteArray file;
        for (int line = 0; line < 40; ++line) file += "L" + QByteArray::number(line) + "\r\n";
        WriteTransferFile(file);
        transfer->EditDelay->setText(QStringLiteral("0"));
        transfer->CheckBoxWait->setChecked(true);
        plan.answerPrompts = true;
        plan.closeAtLf = static_cast<int>(Random(8));
        plan.closeDelayUs = Random(20'000);
        break;
      }
      case Situation::AutosendPause:
        t_.autosend->EditPeriodAutosend->setText(QStringLiteral("1"));
        t_.autosend->SetSequenceText(QStringLiteral("AT-\r\nOK-"));
        plan.closeAfterUs = Random(3'000'000);
        break;
    }

    uint64_t openStartUs = 0, openEndUs = 0;
    VanishingFarEnd far(std::move(master_), plan, random_());
    AfterVanish after(rs(), far, [&] { return !transferRunning; }, Link());
    switch (s) {
      case Situation::Open:
        openStartUs = rtl::MonotonicUs();
        rs().ButtonOpen->click();
        openEndUs = rtl::MonotonicUs();
        break;
      case Situation::Reception: break;
      case Situation::Transfer:
      case Situation::PromptWait:
        transferRunning = true;
        QTimer::singleShot(0, transfer, [&, transfer] {
          transfer->show();
          transfer->ButtonOK->click();  // returns when the transfer has ended
          transferRunning = false;
        });
        // The prompt wait lasts until the session closes: the check runs inside it.
        if (s == Situation::PromptWait) transferRunning = false;
        break;
      case Situation::AutosendPause: rs().CheckBoxAutosend->setChecked(true); break;
    }
    // The window waits inside the transfer, the prompt wait or the pause while this runs; this
    // loop only blocks (no polling of ours may count in the CPU measured meanwhile).
    {
      QEventLoop loop;
      after.onDone = [&loop] { loop.quit(); };
      QTimer::singleShot(60'000, &loop, &QEventLoop::quit);
      loop.exec();
      after.onDone = nullptr;
    }
    const bool checked = after.done;
    rs().CheckBoxAutosend->setChecked(false);
    const bool settled = WaitUntil([&] { return after.done && rs().Waits.Depth() == 0 && !terminal::PauseActive; },
                                   60'000);
    // Running transfers end by themselves once the session is closed.
    check_.Expect(checked && settled, Fmt("run %d (%s): the window did not come back from its wait", i, NameOf(s)));
    if (!checked || !settled) return false;

    ++f.runs;
    f.minVanishUs = std::min(f.minVanishUs, far.VanishedAtUs());
    f.maxVanishUs = std::max(f.maxVanishUs, far.VanishedAtUs());
    f.sumShare += after.cpu.processShare;
    if (after.cpu.processShare >= f.maxShare) {
      f.maxShare = after.cpu.processShare;
      f.busiest = Fmt("%s %.1f%%", after.cpu.busiest.c_str(), 100 * after.cpu.busiestShare);
    }
    if (after.reused) ++f.reused;
    if (s == Situation::Open && far.VanishedAtMonotonicUs() >= openStartUs && far.VanishedAtMonotonicUs() <= openEndUs)
      ++f.duringOpen;
    if (check_.Expect(after.cpu.processShare <= kIdleShare,
                      Fmt("run %d (%s): %.1f%% CPU over %.2f s after the far end vanished (busiest: %s %.1f%%)", i,
                          NameOf(s), 100 * after.cpu.processShare, after.cpu.wallS, after.cpu.busiest.c_str(),
                          100 * after.cpu.busiestShare)))
      ++f.idle;
    if (check_.Expect(after.closed, Fmt("run %d (%s): the next key did not close the session", i, NameOf(s))))
      ++f.closedByKey;
    if (!Reopen(i)) return false;
    ++f.reopened;
    return true;
  }

  void WriteTransferFile(const QByteArray& bytes) {
    const QString path = t_.Path("send.txt");
    QFile file(path);
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    file.write(bytes);
    file.close();
    t_.transfer->EditFile->setText(path);
  }

  const Options& options_;
  Watchdog& dog_;
  Check& check_;
  std::mt19937_64 random_;
  TerminalFixture t_;
  rtl::UniqueFd master_;
  uint64_t openUs_ = 2000;
};

}  // namespace

bool CheckVanish(const Options& options, Watchdog& dog) {
  Check check("Vanishing far end");
  check.Columns({"situation", "runs", "vanished after ms", "CPU after % (mean)", "CPU after % (max)",
                 "busiest thread at the max", "vanished inside Open", "idle", "next key closed", "reopened",
                 "number reused"});
  {
    VanishRunner runner(options, dog, check);
    runner.Run();
  }
  return check.Report();
}

}  // namespace soak
