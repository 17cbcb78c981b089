// A terminal started as the application starts it, in a working folder of its own with its own
// log folder and its own device tree (only "LOOPBACK" and the links a test makes are listed).
#pragma once

#include <pty.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include "automation/autosend.h"
#include "automation/transfer.h"
#include "runtime/fd.h"
#include "serial/device/comm.h"
#include "terminal/formrs.h"
#include "terminal/globals.h"
#include "toolkit/handoverpump.h"

class TerminalFixture {
 public:
  TerminalFixture() {
    oldCwd_ = QDir::currentPath();
    QDir(work.path()).mkpath(QStringLiteral("sys"));
    QDir(work.path()).mkpath(QStringLiteral("dev"));
    QDir(work.path()).mkpath(QStringLiteral("log"));
    comm::DeviceRoots roots;
    roots.sysClassTty = Path("sys").toStdString();
    roots.dev = Path("dev").toStdString();
    comm::SetDeviceRoots(roots);
    QDir::setCurrent(work.path());
  }
  ~TerminalFixture() {
    Stop();
    QDir::setCurrent(oldCwd_);
    comm::SetDeviceRoots(comm::DeviceRoots{});
  }

  QString Path(const char* name) const { return QDir(work.path()).filePath(QString::fromLatin1(name)); }
  QString IniPath() const { return Path("corvane.ini"); }
  void WriteIni(const QByteArray& bytes) const {
    QFile f(IniPath());
    f.open(QIODevice::WriteOnly);
    f.write(bytes);
  }
  QByteArray ReadIni() const {
    QFile f(IniPath());
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  }

  // Creates the three windows in the application's order, then shows and activates the main one.
  void Start(bool show = true) {
    terminal::PromptSeen = false;
    terminal::PauseActive = false;
    rs = std::make_unique<terminal::TFormRS>();
    rs->SetLogFolder(Path("log"));
    autosend = std::make_unique<automation::TFormAutosend>(*rs);
    transfer = std::make_unique<automation::TFormTransfer>(*rs);
    rs->AttachDialogs({autosend.get(), autosend->EditPeriodAutosend, autosend->MemoAutosend, transfer.get(),
                       transfer->EditPrompt});
    if (!show) return;
    rs->show();
    rs->activateWindow();
    QTest::qWait(20);  // the first showing runs its activation from the event loop
  }
  // Closes the main window (the exit steps) and destroys the windows.
  void Stop() {
    if (rs && rs->isVisible()) rs->close();
    transfer.reset();
    autosend.reset();
    rs.reset();
  }

  // A pseudo-terminal whose far end the test plays; its link in the device folder makes it the
  // port `name`.
  // The fixture keeps a descriptor of the device side open, so that the far end never sees a
  // hang-up while the terminal has the port closed.
  struct Pty {
    rtl::UniqueFd master;
    rtl::UniqueFd slave;
    std::string slavePath;
  };
  Pty MakePty(const char* name) {
    int m = -1, s = -1;
    char path[256] = {};
    if (openpty(&m, &s, path, nullptr, nullptr) != 0) qFatal("openpty failed");
    Pty p{rtl::UniqueFd(m), rtl::UniqueFd(s), path};
    QFile::link(QString::fromLatin1(path), QDir(Path("dev")).filePath(QString::fromLatin1(name)));
    return p;
  }

  QTemporaryDir work;
  toolkit::THandoverPump pump;  // the event loop serves the port's hand-overs, as in the application
  std::unique_ptr<terminal::TFormRS> rs;
  std::unique_ptr<automation::TFormAutosend> autosend;
  std::unique_ptr<automation::TFormTransfer> transfer;

 private:
  QString oldCwd_;
};

// A terminal whose session is open on the pseudo-terminal "ttyV0", with its far end.
struct PtySession {
  TerminalFixture t;
  TerminalFixture::Pty pty;
  explicit PtySession(const QByteArray& extraIni = QByteArray()) : pty(t.MakePty("ttyV0")) {
    t.WriteIni("[Serial Port]\r\nCom Number=ttyV0\r\n" + extraIni);
    t.Start();
    if (!QTest::qWaitFor([&] { return t.rs->SerialPort->Connected(); }, 5000)) qFatal("no session on ttyV0");
  }
  terminal::TFormRS& rs() { return *t.rs; }
};
