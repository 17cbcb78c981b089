// The port on the real backends: a pseudo-terminal opened by its path, and the "LOOPBACK" port.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "port_fixture.h"
#include "serial/serialport.h"
#include "tty_speed.h"

using namespace serial;
using porttest::TestPort;

namespace {

// A pseudo-terminal pair: the port opens the slave by its path; the test keeps the master.
class PtyPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0) GTEST_SKIP() << "no pseudo-terminals here (posix_openpt failed)";
    ASSERT_EQ(grantpt(master_), 0);
    ASSERT_EQ(unlockpt(master_), 0);
    const char* name = ptsname(master_);
    ASSERT_NE(name, nullptr);
    path_ = name;
    port.SetPort(rtl::Utf8ToUtf16(path_));
    port.SetEvents({});
  }
  void TearDown() override {
    port.Close();
    if (master_ >= 0) close(master_);
  }

  int master_ = -1;
  std::string path_;
  porttest::ErrorRecorder errors;  // before the port, which may still report while it closes
  TestPort port;
};

TEST_F(PtyPortTest, OpensByItsPathAndCloses) {
  port.Open();
  EXPECT_TRUE(port.Connected());
  EXPECT_NE(port.Handle(), comm::INVALID_HANDLE_VALUE);
  // A pseudo-terminal has no line: the line calls succeed and every modem line reads off.
  port.SetDTR(true);
  port.SetRTS(true);
  port.SetBreak(false);
  EXPECT_TRUE(port.Signals().Empty());
  EXPECT_EQ(port.InputCount(), 0);
  port.Close();
  EXPECT_FALSE(port.Connected());
  EXPECT_EQ(port.Handle(), comm::INVALID_HANDLE_VALUE);
}

// Every speed reaches the tty exactly, custom ones included, and is read back from it.
TEST_F(PtyPortTest, SpeedsReachTheTty) {
  struct Case {
    TBaudRate rate;
    int32_t custom;
    uint32_t expected;
  };
  const std::vector<Case> cases = {
      {br9600, 9600, 9600}, {br256000, 9600, 256000}, {brCustom, 3000000, 3000000},
      {br110, 3000000, 110}, {br56000, 9600, 56000},  {brCustom, 250000, 250000},
  };
  port.Open();
  const porttest::TtySpeeds initial = porttest::ReadTtySpeeds(master_);
  ASSERT_TRUE(initial.ok);
  EXPECT_EQ(initial.output, 9600u);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expected);
    port.SetBaudRate(c.rate);
    port.SetCustomBaudRate(c.custom);
    const porttest::TtySpeeds s = porttest::ReadTtySpeeds(master_);
    ASSERT_TRUE(s.ok);
    EXPECT_EQ(s.output, c.expected);
    EXPECT_EQ(s.input, c.expected);
  }
}

TEST_F(PtyPortTest, SecondOpenerIsRefused) {
  port.Open();
  TestPort other;
  other.SetPort(port.Port());
  other.SetEvents({});
  try {
    other.Open();
    ADD_FAILURE() << "second opener accepted";
  } catch (const ESerialPort& e) {
    EXPECT_EQ(e.Code(), 1);
    EXPECT_EQ(e.WinCode(), 5);
  }
  EXPECT_FALSE(other.Connected());
  // Once the first lets go, the device opens again.
  port.Close();
  other.Open();
  EXPECT_TRUE(other.Connected());
}

TEST_F(PtyPortTest, MissingDeviceIsReported) {
  errors.Attach(port);
  port.SetPort(u"/dev/pts/no-such-terminal");
  port.Open();
  ASSERT_FALSE(errors.reports.empty());
  EXPECT_EQ(errors.Codes().front(), 1);
  EXPECT_EQ(errors.reports.front().winError, 2);
  EXPECT_EQ(errors.reports.front().winMessage, u"Erreur système.  Code : 2.\r\nLe fichier spécifié est introuvable.");
  EXPECT_TRUE(port.Connected());
  EXPECT_EQ(port.Handle(), comm::INVALID_HANDLE_VALUE);
}

// A line format the device cannot make is refused, and the refusal reaches the owner as error 7;
// the value stays stored and counts once a format that takes it is set.
TEST_F(PtyPortTest, RefusedLineFormatReports7) {
  port.Open();
  errors.Attach(port);
  port.SetStopBits(sbOne5StopBits);  // 1.5 stop bits exist only with 5 data bits
  ASSERT_EQ(errors.Codes(), std::vector<int>{7});
  EXPECT_EQ(errors.reports[0].winError, 87);
  EXPECT_EQ(port.StopBits(), sbOne5StopBits);
  port.SetDataBits(dbFive);
  EXPECT_EQ(errors.Codes(), std::vector<int>{7});
}

class LoopbackPortTest : public ::testing::Test {
 protected:
  LoopbackPortTest() {
    port.SetPort(u"LOOPBACK");
    port.SetEvents({});
  }
  std::vector<std::string> log;
  TestPort port;
};

// RTS comes back as CTS, DTR as DSR and RLSD.
TEST_F(LoopbackPortTest, OutputLinesComeBackAsInputLines) {
  struct Case {
    bool dtr, rts;
    TSerialSignals expected;
  };
  const std::vector<Case> cases = {
      {false, false, {}},
      {false, true, {csCTS}},
      {true, true, {csCTS, csDSR, csRLSD}},
      {true, false, {csDSR, csRLSD}},
      {false, false, {}},
  };
  port.Open();
  ASSERT_TRUE(port.Connected());
  for (const auto& c : cases) {
    port.SetDTR(c.dtr);
    port.SetRTS(c.rts);
    EXPECT_EQ(port.Signals(), c.expected) << "DTR " << c.dtr << " RTS " << c.rts;
  }
}

TEST_F(LoopbackPortTest, LineReportsAtOpenAndClose) {
  porttest::LogNotifications(port, log);
  port.FlowControl().SetControlDTR(dtrEnable);  // DTR raised by the line settings at open
  port.Open();
  port.Close();
  EXPECT_EQ(log, (std::vector<std::string>{"BeforeOpen", "AfterOpen", "CTS(0)", "DSR(1)", "RLSD(1)", "CTS(0)",
                                           "DSR(0)", "RLSD(0)", "BeforeClose", "AfterClose"}));
}

TEST_F(LoopbackPortTest, SecondOpenerIsRefused) {
  port.Open();
  TestPort other;
  other.SetPort(u"LOOPBACK");
  other.SetEvents({});
  porttest::ErrorRecorder errors;
  errors.Attach(other);
  other.Open();
  ASSERT_FALSE(errors.reports.empty());
  EXPECT_EQ(errors.Codes().front(), 1);
  EXPECT_EQ(errors.reports.front().winError, 5);
  other.SetConnected(false);
  EXPECT_TRUE(port.Connected());
}

}  // namespace
