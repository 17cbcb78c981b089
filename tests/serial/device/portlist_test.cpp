// The port list on a sysfs and /dev tree of the test's own, with links to live and closed
// pseudo-terminals; names open through the same tree; listing never opens a device.
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "serial/device/comm.h"
#include "serial/device/device_helpers.h"
#include "serial/device/portlist.h"
#include "serial/device/pty_pair.h"

using namespace devtest;
namespace fs = std::filesystem;

namespace {

class PortList : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = comm::GetDeviceRoots();
    root_ = fs::temp_directory_path() / ("corvane-ports-" + std::to_string(::getpid()));
    fs::remove_all(root_);
    for (const char* d : {"sys", "dev", "start"}) fs::create_directories(root_ / d);
    comm::SetDeviceRoots({(root_ / "sys").string(), (root_ / "dev").string(), (root_ / "start").string()});
  }
  void TearDown() override {
    comm::SetDeviceRoots(saved_);
    fs::remove_all(root_);
  }
  // A sysfs tty entry: with a device link when linked, with a type file when type is given.
  void SysTty(const std::string& name, bool linked, const char* type = nullptr) {
    fs::path e = root_ / "sys" / name;
    fs::create_directories(e);
    if (linked) fs::create_directory_symlink(root_ / "sys", e / "device");
    if (type) std::ofstream(e / "type") << type << "\n";
  }

  comm::DeviceRoots saved_;
  fs::path root_;
};

}  // namespace

TEST_F(PortList, GathersTtysLinksToLivePseudoTerminalsAndTheLoopback) {
  SysTty("ttyS0", true, "4");
  SysTty("ttyS1", true, "0");  // a legacy slot with no UART behind it
  SysTty("ttyUSB0", true);
  SysTty("tty0", false);       // a virtual console has no device link
  SysTty("ttyX!y", true);      // sysfs writes a "/" of the name as "!"

  PtyPair live;
  // A pseudo-terminal that is gone: its number is beyond what the kernel hands out, so no other
  // process can have been given it meanwhile.
  const std::string gone = "/dev/pts/1000000";
  const fs::path dev = root_ / "dev";
  fs::create_symlink(live.Path(), dev / "ttyV0");
  fs::create_symlink(fs::relative(live.Path(), dev), dev / "ttyV1");  // relative target
  fs::create_symlink(gone, dev / "ttyGone");
  fs::create_symlink("/dev/null", dev / "notapty");
  // As /dev/stdin of a program run in a terminal: through /proc to the terminal's pty.
  fs::create_symlink("/proc/self/fd/" + std::to_string(live.Slave()), dev / "stdin");
  ASSERT_EQ(fs::canonical(dev / "stdin").string(), live.Path());
  fs::create_directories(root_ / "fake" / "pts");
  std::ofstream(root_ / "fake" / "pts" / "7") << "";
  fs::create_symlink(root_ / "fake" / "pts" / "7", dev / "plainfile");  // not a device
  std::ofstream(dev / "ttyS0") << "";                                   // a node, not a link
  fs::create_symlink(live.Path(), root_ / "start" / "myport");
  fs::create_symlink(gone, root_ / "start" / "stale");

  const std::string start = (root_ / "start").string();
  const std::vector<std::string> expect = {start + "/myport", "LOOPBACK", "ttyS0", "ttyUSB0",
                                           "ttyV0", "ttyV1", "ttyX/y"};
  EXPECT_EQ(comm::SystemPortNames(), expect);
}

TEST_F(PortList, UnreadableFoldersGiveOnlyTheLoopback) {
  comm::SetDeviceRoots({(root_ / "none1").string(), (root_ / "none2").string(), ""});
  EXPECT_EQ(comm::SystemPortNames(), std::vector<std::string>{"LOOPBACK"});
}

TEST_F(PortList, NamesOpenThroughTheSameTreeAndListingOpensNothing) {
  PtyPair pty;
  fs::create_symlink(pty.Path(), root_ / "dev" / "ttyV0");
  EXPECT_EQ(comm::PortPath(u"ttyV0"), (root_ / "dev" / "ttyV0").string());
  EXPECT_EQ(comm::PortPath(u"LOOPBACK"), "LOOPBACK");
  EXPECT_EQ(comm::PortPath(u"/abs/path"), "/abs/path");

  const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  ASSERT_GE(watch, 0);
  ASSERT_GE(::inotify_add_watch(watch, pty.Path().c_str(), IN_OPEN), 0);
  EXPECT_EQ(comm::SystemPortNames(), (std::vector<std::string>{"LOOPBACK", "ttyV0"}));
  char events[4096];
  EXPECT_LT(::read(watch, events, sizeof events), 0) << "listing opened the device";

  Port port(comm::PortPath(u"ttyV0"));
  ASSERT_TRUE(port.Valid()) << port.OpenError();
  EXPECT_GT(::read(watch, events, sizeof events), 0);  // the watch does see an open
  ::close(watch);
  // A port in use is still listed.
  EXPECT_EQ(comm::SystemPortNames(), (std::vector<std::string>{"LOOPBACK", "ttyV0"}));
  pty.Send("via the tree");
  comm::COMMTIMEOUTS t = Timeouts(0, 0, 2000);
  ASSERT_TRUE(comm::SetCommTimeouts(port.Get(), &t));
  char buf[12];
  Record r;
  uint32_t n = 0;
  if (!comm::ReadFile(port.Get(), buf, sizeof buf, &n, &r.ov)) n = Finish(port.Get(), r).count;
  EXPECT_EQ(std::string(buf, n), "via the tree");
}
