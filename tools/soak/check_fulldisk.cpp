// The full-disk check: with a session open and text shown, the log and the save go onto
// /dev/full and onto a tiny file system that has filled up (a tmpfs mounted for the check where
// this process may mount; otherwise that half is skipped and says why). Each failure must show
// its error box with the exact text, and nothing else may change: the display keeps its text,
// the session stays open and keeps receiving, the Log box stays ticked and its timer runs; once
// there is room again the next log holds the whole display.
#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileDialog>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <cerrno>
#include <cstring>

#include "checks.h"
#include "support/boxcatcher.h"
#include "support/far_end.h"
#include "terminal/terminal_fixture.h"
#include "toolkit/display/display_view.h"
#include "toolkit/errorbox.h"

namespace soak {

namespace {

// A tmpfs of 512 KiB mounted for the check, unmounted when done.
class TinyFileSystem {
 public:
  explicit TinyFileSystem(const QString& where) : path_(where) {
    QDir().mkpath(where);
    if (::mount("tmpfs", where.toLocal8Bit().constData(), "tmpfs", MS_NOSUID | MS_NODEV, "size=512k,mode=0755") == 0)
      mounted_ = true;
    else
      error_ = std::strerror(errno);
  }
  ~TinyFileSystem() {
    if (mounted_) ::umount2(path_.toLocal8Bit().constData(), MNT_DETACH);
  }
  TinyFileSystem(const TinyFileSystem&) = delete;
  TinyFileSystem& operator=(const TinyFileSystem&) = delete;
  bool Mounted() const { return mounted_; }
  const std::string& Error() const { return error_; }
  QString Path(const char* name) const { return QDir(path_).filePath(QString::fromLatin1(name)); }
  const QString& Root() const { return path_; }

  // Fills the file system up to `room` bytes of free space.
  void Fill(off_t room) {
    Free();
    const std::string filler = Path("filler").toStdString();
    rtl::UniqueFd fd(::open(filler.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    std::string block(4096, 'f');
    off_t size = 0;
    for (;;) {
      const ssize_t n = ::write(fd.Get(), block.data(), block.size());
      if (n <= 0) break;
      size += n;
    }
    ::ftruncate(fd.Get(), size > room ? size - room : 0);
  }
  void Free() { QFile::remove(Path("filler")); }

 private:
  QString path_;
  bool mounted_ = false;
  std::string error_;
};

// What must not change when a save or a log fails.
struct State {
  QString text;
  bool connected, logTicked, logTimer;
  bool operator==(const State&) const = default;
};

State StateOf(terminal::TFormRS& rs) {
  return {rs.Editor->PlainText(), rs.SerialPort->Connected(), rs.CheckBoxLog->isChecked(), rs.TimerLog->Enabled()};
}

QString WriteError(const QString& path) {
  return QString::fromUtf8("Impossible d'écrire dans \"%1\". Espace insuffisant sur le disque.").arg(path);
}

class FullDiskRunner {
 public:
  FullDiskRunner(const Options& options, Watchdog& dog, Check& check) : options_(options), dog_(dog), check_(check) {}

  void Run() {
    PtySession s;
    rs_ = &s.rs();
    FarEnd far(s.pty.master.Get());
    far_ = &far;
    rs_->CheckBoxLog->setChecked(true);
    ReceiveLines(3000);  // about 200 KB: more than the tiny file system has room for
    BoxCatcher boxes(QMessageBox::Yes);  // yes, replace the existing file; OK on error boxes
    boxes_ = &boxes;

    // /dev/full behind the log's name and behind a file chosen in the save dialog.
    const QString fullDir = s.t.Path("fullLog");
    QDir().mkpath(fullDir);
    QFile::link(QStringLiteral("/dev/full"), QDir(fullDir).filePath(QStringLiteral("log.txt")));
    rs_->SetLogFolder(fullDir);
    Tick("log onto /dev/full", WriteError(rs_->LogPath()));
    Tick("log onto /dev/full, next tick", WriteError(rs_->LogPath()));
    const QString fullSave = s.t.Path("full.txt");
    QFile::link(QStringLiteral("/dev/full"), fullSave);
    Save("save onto /dev/full", fullSave, WriteError(fullSave));
    {
      // The log timer itself: its tick shows the box and the timer goes on.
      Deadline d(dog_, "the log timer's tick", 30);
      const int before = static_cast<int>(boxes.texts.size());
      const State state = StateOf(*rs_);
      const bool ticked = WaitUntil([&] { return boxes.texts.size() > before; }, 12'000);
      const bool same = StateOf(*rs_) == state;
      Record("log onto /dev/full, the 10 s timer's own tick", ticked ? boxes.texts.last() : QString(),
             WriteError(rs_->LogPath()), same, ticked ? "box at the tick" : "no tick");
    }

    TinyFileSystem tiny(s.t.Path("tiny"));
    if (!tiny.Mounted()) {
      check_.Row({"tiny file system", "skipped: mount refused (" + tiny.Error() + ")", "", "", ""});
    } else {
      rs_->SetLogFolder(tiny.Root());
      const QString log = rs_->LogPath();
      tiny.Fill(8192);
      Tick("log onto a full tiny file system", WriteError(log));
      Tick("log onto a full tiny file system, next tick", WriteError(log));
      tiny.Free();
      LogHoldsDisplay("log once there is room again", log);
      ReceiveLines(800);  // the log is extended next time
      tiny.Fill(8192);
      Tick("log extended onto a full tiny file system", WriteError(log));
      tiny.Free();
      LogHoldsDisplay("log once there is room again, after a failed extension", log);
      tiny.Fill(8192);
      Save("save onto a full tiny file system", tiny.Path("saved.txt"), WriteError(tiny.Path("saved.txt")));
      tiny.Free();
    }
    // The session still works both ways.
    far.Send("after\r");
    const bool received = WaitUntil([&] { return rs_->Editor->PlainText().endsWith(QStringLiteral("after\r\n")); }, 5000);
    check_.Expect(received, "the display stopped receiving after the failures");
    rs_->SetLogFolder(s.t.Path("log"));
  }

 private:
  // The far end sends n lines of 70 characters; returns once the display shows them.
  void ReceiveLines(int n) {
    const uint64_t before = rs_->Editor->Text().Length();
    std::string text;
    for (int i = 0; i < n; ++i) text += std::string(66, static_cast<char>('A' + i % 26)) + std::to_string(1000 + i % 9000) + "\r";
    far_->Send(text);
    const uint64_t want = before + static_cast<uint64_t>(n) * 72;
    check_.Expect(WaitUntil([&] { return rs_->Editor->Text().Length() >= want; }, 10'000), "the text did not arrive");
  }

  // A log tick as the timer runs it (through the handler guard).
  void Tick(const char* what, const QString& expected) {
    const int before = static_cast<int>(boxes_->texts.size());
    const State state = StateOf(*rs_);
    toolkit::RunGuarded([&] { rs_->TimerLogTimer(); });
    const bool shown = boxes_->texts.size() == before + 1;
    Record(what, shown ? boxes_->texts.last() : QString(), expected, StateOf(*rs_) == state,
           Fmt("%lld B", static_cast<long long>(QFileInfo(rs_->LogPath()).size())));
  }

  // The Save button, the file typed into its dialog and confirmed.
  void Save(const char* what, const QString& path, const QString& expected) {
    Deadline d(dog_, what, 60);
    const State state = StateOf(*rs_);
    QTimer::singleShot(50, rs_->SaveDialog, [&] {
      if (auto* name = rs_->SaveDialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))) name->setText(path);
      QMetaObject::invokeMethod(rs_->SaveDialog, "accept");
    });
    const int before = static_cast<int>(boxes_->texts.size());
    rs_->ButtonSave->click();
    const bool shown = boxes_->texts.size() > before;
    Record(what, shown ? boxes_->texts.last() : QString(), expected, StateOf(*rs_) == state,
           Fmt("%lld B", static_cast<long long>(QFileInfo(path).size())));
  }

  void Record(const char* what, const QString& shown, const QString& expected, bool same, const std::string& file) {
    check_.Row({what, shown.isEmpty() ? std::string("none") : shown.toStdString(), same ? "yes" : "NO",
                file, shown == toolkit::ErrorBoxText(expected) ? "yes" : "NO"});
    check_.Expect(shown == toolkit::ErrorBoxText(expected),
                  Fmt("%s: the box said \"%s\", not \"%s\"", what, qPrintable(shown), qPrintable(expected)));
    check_.Expect(same, Fmt("%s: the display, the session or the log switch changed", what));
  }

  void LogHoldsDisplay(const char* what, const QString& log) {
    const int before = static_cast<int>(boxes_->texts.size());
    toolkit::RunGuarded([&] { rs_->TimerLogTimer(); });
    QFile f(log);
    f.open(QIODevice::ReadOnly);
    const QByteArray bytes = f.readAll();
    const bool ok = boxes_->texts.size() == before && bytes == rs_->Editor->PlainText().toLatin1() + "\r\n";
    check_.Row({what, boxes_->texts.size() == before ? "none" : boxes_->texts.last().toStdString(), "",
                Fmt("%lld B", static_cast<long long>(bytes.size())), ok ? "log = display" : "NO"});
    check_.Expect(ok, Fmt("%s: the log does not hold the display's text", what));
  }

  const Options& options_;
  Watchdog& dog_;
  Check& check_;
  terminal::TFormRS* rs_ = nullptr;
  FarEnd* far_ = nullptr;
  BoxCatcher* boxes_ = nullptr;
};

}  // namespace

bool CheckFullDisk(const Options& options, Watchdog& dog) {
  Check check("Save and log onto a full disk");
  check.Columns({"case", "error box", "nothing else changed", "file", "as expected"});
  {
    FullDiskRunner runner(options, dog, check);
    runner.Run();
  }
  return check.Report();
}

}  // namespace soak
