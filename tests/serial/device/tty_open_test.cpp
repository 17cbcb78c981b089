// Opening and closing a tty: exclusive use within and across processes, the error numbers of a
// refused open, and what closing releases.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "serial/device/device_helpers.h"
#include "serial/device/pty_pair.h"

using namespace devtest;

namespace {

// A child process that locks the device the way this program does, and holds it until told.
class ForeignHolder {
 public:
  explicit ForeignHolder(const std::string& path) {
    if (::pipe(ready_) != 0 || ::pipe(release_) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      // Only async-signal-safe calls in the child.
      int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY);
      char c = (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0) ? 'y' : 'n';
      if (::write(ready_[1], &c, 1) != 1) ::_exit(2);
      ::read(release_[0], &c, 1);
      ::_exit(0);
    }
    char c = 0;
    locked_ = ::read(ready_[0], &c, 1) == 1 && c == 'y';
  }
  ~ForeignHolder() { Release(); }
  bool Locked() const { return locked_; }
  void Release() {
    if (pid_ <= 0) return;
    char c = 'x';
    if (::write(release_[1], &c, 1) != 1) ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
    for (int fd : {ready_[0], ready_[1], release_[0], release_[1]}) ::close(fd);
  }

 private:
  int ready_[2] = {-1, -1}, release_[2] = {-1, -1};
  pid_t pid_ = -1;
  bool locked_ = false;
};

// Whether a separate process can lock the device now.
bool OtherProcessCanLock(const std::string& path) {
  ForeignHolder probe(path);
  return probe.Locked();
}

}  // namespace

TEST(TtyOpen, ASecondOpenerInThisProcessIsRefusedUntilTheFirstCloses) {
  PtyPair pty;
  Port first(pty.Path());
  ASSERT_TRUE(first.Valid()) << first.OpenError();
  Port second(pty.Path());
  EXPECT_FALSE(second.Valid());
  EXPECT_EQ(second.OpenError(), 5u);
  ASSERT_TRUE(first.Close());
  Port third(pty.Path());
  EXPECT_TRUE(third.Valid()) << third.OpenError();
}

TEST(TtyOpen, ExclusiveAgainstOtherProcessesBothWays) {
  PtyPair pty;
  {
    ForeignHolder holder(pty.Path());
    ASSERT_TRUE(holder.Locked());
    Port refused(pty.Path());
    EXPECT_FALSE(refused.Valid());
    EXPECT_EQ(refused.OpenError(), 5u);
  }
  Port held(pty.Path());
  ASSERT_TRUE(held.Valid()) << held.OpenError();
  EXPECT_FALSE(OtherProcessCanLock(pty.Path()));
  held.Close();
  EXPECT_TRUE(OtherProcessCanLock(pty.Path()));
}

TEST(TtyOpen, RefusedOpensGiveThePlatformNumbers) {
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / ("corvane-open-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  std::ofstream(dir / "plain-file") << "not a tty";
  struct Case {
    std::string path;
    uint32_t error;
  } cases[] = {
      {"/nonexistent-corvane/ttyUSB9", 2},  // missing device
      {(dir / "missing").string(), 2},
      {"/dev/null", 50},                    // a character device that is not a serial port
      {(dir / "plain-file").string(), 50},  // a file
      {dir.string(), 5},                    // a folder, as the platform answers it
  };
  for (const Case& c : cases) {
    Port p(c.path);
    EXPECT_FALSE(p.Valid()) << c.path;
    EXPECT_EQ(p.OpenError(), c.error) << c.path;
  }
  std::filesystem::remove_all(dir);
}

TEST(TtyOpen, PermissionDeniedGivesAccessDenied) {
  if (::geteuid() == 0) GTEST_SKIP() << "running as root: file permissions refuse nothing";
  PtyPair pty;
  ASSERT_EQ(::fchmod(pty.Slave(), 0), 0);
  Port p(pty.Path());
  EXPECT_FALSE(p.Valid());
  EXPECT_EQ(p.OpenError(), 5u);
}

TEST(TtyOpen, CloseReleasesTheDescriptorAndTheThread) {
  PtyPair pty;
  const int fds = OpenFdCount();
  for (int i = 0; i < 3; ++i) {
    Port p(pty.Path());
    ASSERT_TRUE(p.Valid()) << p.OpenError();
    EXPECT_GT(OpenFdCount(), fds);
    EXPECT_EQ(CountThreads("corvane-tty-io"), 1);
    ASSERT_TRUE(p.Close());
    EXPECT_EQ(OpenFdCount(), fds);
    EXPECT_EQ(CountThreads("corvane-tty-io"), 0);
  }
  EXPECT_FALSE(comm::CloseHandle(0x12345678));
}
