// Opening and closing: the steps and notifications in order, Connected, the device path, a device
// that refuses, exceptions inside Close, reopening under a new name, and the destructor.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "port_fixture.h"
#include "serial/device/comm.h"

using namespace serial;
using porttest::ScriptedPortTest;
using porttest::TestPort;
using Log = std::vector<std::string>;

namespace {

class ConnectionTest : public ScriptedPortTest {
 protected:
  ConnectionTest() {
    porttest::LogNotifications(port, log);
    porttest::LogLink(link, log);
    port.RegisterLink(&link);
  }
  ~ConnectionTest() override { port.UnRegisterLink(&link); }

  TSerialLink link;
};

TEST_F(ConnectionTest, OpenAndCloseNotifyInOrder) {
  device->SetModemStatus(comm::MS_DSR_ON | comm::MS_RING_ON);
  port.Open();
  EXPECT_EQ(log, (Log{"BeforeOpen", "link Conn(1)", "AfterOpen", "link CTS(0)", "CTS(0)", "link DSR(1)", "DSR(1)",
                      "link RLSD(0)", "RLSD(0)"}));
  EXPECT_TRUE(port.Connected());
  EXPECT_NE(port.Handle(), comm::INVALID_HANDLE_VALUE);

  log.clear();
  device->ClearCalls();
  port.Close();
  // The line states are reported off without asking the device.
  EXPECT_EQ(log, (Log{"link CTS(0)", "link DSR(0)", "link RLSD(0)", "CTS(0)", "DSR(0)", "RLSD(0)", "BeforeClose",
                      "link Conn(0)", "AfterClose"}));
  EXPECT_EQ(device->CallTexts(), (std::vector<std::string>{"PurgeComm(3)", "CloseHandle()"}));
  EXPECT_FALSE(port.Connected());
  EXPECT_EQ(port.Handle(), comm::INVALID_HANDLE_VALUE);
  EXPECT_FALSE(device->IsOpen());
}

TEST_F(ConnectionTest, ConnectedStateDuringTheSteps) {
  std::vector<std::pair<std::string, bool>> seen;
  auto watch = [&](const char* name) { return [&, name](rtl::TObject*) { seen.push_back({name, port.Connected()}); }; };
  port.SetOnBeforeOpen(watch("BeforeOpen"));
  port.SetOnAfterOpen(watch("AfterOpen"));
  port.SetOnBeforeClose(watch("BeforeClose"));
  port.SetOnAfterClose(watch("AfterClose"));
  port.Open();
  port.Close();
  EXPECT_EQ(seen, (std::vector<std::pair<std::string, bool>>{
                      {"BeforeOpen", false}, {"AfterOpen", true}, {"BeforeClose", true}, {"AfterClose", false}}));
}

TEST_F(ConnectionTest, RepeatedOpenOrCloseDoesNothing) {
  port.Close();
  EXPECT_TRUE(log.empty());
  EXPECT_TRUE(device->Calls().empty());
  port.Open();
  log.clear();
  device->ClearCalls();
  port.Open();
  EXPECT_TRUE(log.empty());
  EXPECT_TRUE(device->Calls().empty());
  EXPECT_EQ(device->Opens(), 1);
}

TEST_F(ConnectionTest, WritingConnected) {
  struct Step {
    bool write;
    bool connected;
    std::vector<std::string> first;  // the first notification it runs, if any
  };
  const std::vector<Step> steps = {
      {false, false, {}}, {true, true, {"BeforeOpen"}}, {true, true, {}}, {false, false, {"link CTS(0)"}},
      {false, false, {}},
  };
  for (const auto& s : steps) {
    log.clear();
    port.SetConnected(s.write);
    EXPECT_EQ(port.Connected(), s.connected);
    EXPECT_EQ(log.empty() ? std::vector<std::string>{} : std::vector<std::string>{log.front()}, s.first);
  }
}

TEST_F(ConnectionTest, PortNameGivesTheDevicePath) {
  struct Case {
    std::u16string name;
    std::string path;
  };
  comm::DeviceRoots roots = comm::GetDeviceRoots();
  comm::DeviceRoots scriptedDev = roots;
  scriptedDev.dev = "/script/dev";
  comm::SetDeviceRoots(scriptedDev);
  const std::vector<Case> cases = {
      {u"/script/COM9", "/script/COM9"},
      {u"ttyUSB0", "/script/dev/ttyUSB0"},
      {u"COM12", "/script/dev/COM12"},
  };
  for (const auto& c : cases) {
    device->ClearCalls();
    port.SetPort(c.name);
    port.Open();
    const auto calls = device->Calls();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.front().name, "CreateFile");
    EXPECT_EQ(calls.front().path, c.path);
    EXPECT_EQ(calls.front().args, std::vector<int64_t>{0});  // share mode 0: not shared
    port.Close();
  }
  comm::SetDeviceRoots(roots);
}

TEST_F(ConnectionTest, SecondOpenerIsRefused) {
  port.Open();
  TestPort other;
  other.SetPort(u"/script/a");
  other.SetEvents({});
  try {
    other.Open();
    ADD_FAILURE() << "second opener accepted";
  } catch (const ESerialPort& e) {
    EXPECT_EQ(e.Code(), 1);
    EXPECT_EQ(e.WinCode(), 5);
  }
  EXPECT_FALSE(other.Connected());
  EXPECT_TRUE(port.Connected());
}

// The terminal's case: a device that cannot be opened, with a handler that takes every report.
TEST_F(ConnectionTest, RefusedDeviceWithHandlerLeavesThePortConnected) {
  errors.Attach(port);
  device->RefuseOpen(5);
  port.Open();
  EXPECT_EQ(errors.Codes(), (std::vector<int>{1, 9, 7, 8, 11, 11, 11}));
  EXPECT_EQ(errors.reports[0].winError, 5);
  EXPECT_EQ(errors.reports[0].winMessage, u"Erreur système.  Code : 5.\r\nAccès refusé.");
  for (size_t i = 1; i < errors.reports.size(); ++i) EXPECT_EQ(errors.reports[i].winError, 6) << i;
  EXPECT_TRUE(port.Connected());
  EXPECT_EQ(port.Handle(), comm::INVALID_HANDLE_VALUE);
  EXPECT_EQ(log, (Log{"BeforeOpen", "link Conn(1)", "AfterOpen", "link CTS(0)", "CTS(0)", "link DSR(0)", "DSR(0)",
                      "link RLSD(0)", "RLSD(0)"}));
  // Nothing reached a device but the refused open.
  EXPECT_EQ(device->CallTexts(), std::vector<std::string>{"CreateFile(\"/script/a\", 0)"});

  // Every later operation reports its own failure; Close completes with its abort step's 5.
  errors.reports.clear();
  port.SetDTR(true);
  port.Close();
  EXPECT_EQ(errors.Codes(), (std::vector<int>{12, 5}));
  EXPECT_FALSE(port.Connected());
  EXPECT_EQ(log.back(), "AfterClose");
}

TEST_F(ConnectionTest, RefusedDeviceWithoutHandlerRaisesAndStaysClosed) {
  device->RefuseOpen(2);
  try {
    port.Open();
    ADD_FAILURE() << "nothing raised";
  } catch (const ESerialPort& e) {
    EXPECT_EQ(e.Code(), 1);
    EXPECT_EQ(e.WinCode(), 2);
    EXPECT_EQ(e.Message(), u"Unable to open com port (Error: 2)");
  }
  EXPECT_EQ(log, Log{"BeforeOpen"});
  EXPECT_FALSE(port.Connected());
  EXPECT_EQ(port.Handle(), comm::INVALID_HANDLE_VALUE);
}

// An exception inside Close ends it at that step; the port stays connected and a later Close
// starts again from the beginning.
TEST_F(ConnectionTest, ExceptionInsideClose) {
  struct Case {
    const char* what;
    std::function<void()> arm;  // makes the next Close fail once
    bool connectedAfter;
    bool deviceOpenAfter;
  };
  const std::vector<Case> cases = {
      {"OnBeforeClose raises",
       [this] {
         port.SetOnBeforeClose([this](rtl::TObject*) {
           port.SetOnBeforeClose(nullptr);
           throw std::runtime_error("refused");
         });
       },
       true, true},
      {"a line report raises",
       [this] {
         port.SetOnCTSChange([this](rtl::TObject*, bool) {
           port.SetOnCTSChange(nullptr);
           throw std::runtime_error("refused");
         });
       },
       true, true},
      {"the abort step is refused, no handler", [this] { device->FailNext("PurgeComm", 31); }, true, true},
      {"OnAfterClose raises",
       [this] {
         port.SetOnAfterClose([this](rtl::TObject*) {
           port.SetOnAfterClose(nullptr);
           throw std::runtime_error("refused");
         });
       },
       false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    porttest::LogNotifications(port, log);
    port.Open();
    c.arm();
    log.clear();
    EXPECT_ANY_THROW(port.Close());
    EXPECT_EQ(port.Connected(), c.connectedAfter);
    EXPECT_EQ(device->IsOpen(), c.deviceOpenAfter);

    log.clear();
    device->ClearCalls();
    port.Close();
    if (c.connectedAfter) {
      // From step 1 again, to the end.
      ASSERT_FALSE(log.empty());
      EXPECT_EQ(log.front(), "link CTS(0)");
      EXPECT_EQ(log.back(), "AfterClose");
      EXPECT_EQ(device->CallTexts(), (std::vector<std::string>{"PurgeComm(3)", "CloseHandle()"}));
    } else {
      EXPECT_TRUE(log.empty());
      EXPECT_TRUE(device->Calls().empty());
    }
    EXPECT_FALSE(port.Connected());
    EXPECT_FALSE(device->IsOpen());
  }
}

// A new name reopens an open port (the comparison is case-sensitive); the same name does nothing.
TEST_F(ConnectionTest, RenamingAnOpenPortReopensIt) {
  port.Open();
  device->ClearCalls();
  port.SetPort(u"/script/a");
  EXPECT_TRUE(device->Calls().empty());
  port.SetPort(u"/script/A");
  EXPECT_EQ(device->CallTexts(), (std::vector<std::string>{
                                     "PurgeComm(3)",
                                     "CloseHandle()",
                                     "CreateFile(\"/script/A\", 0)",
                                     "SetupComm(1024, 1024)",
                                     "SetCommState()",
                                     "SetCommTimeouts(4294967295, 0, 0, 100, 1000)",
                                     "GetCommModemStatus()",
                                     "GetCommModemStatus()",
                                     "GetCommModemStatus()",
                                 }));
  EXPECT_TRUE(port.Connected());
  EXPECT_EQ(device->Opens(), 2);
}

TEST_F(ConnectionTest, RenamingAClosedPortOnlyStores) {
  port.SetPort(u"/script/b");
  EXPECT_EQ(port.Port(), u"/script/b");
  EXPECT_TRUE(device->Calls().empty());
  EXPECT_FALSE(port.Connected());
}

TEST_F(ConnectionTest, OpenWithEventsWatchedStillRunsEveryStep) {
  port.SetEvents({evRxChar});
  port.Open();
  EXPECT_TRUE(port.Connected());
  EXPECT_EQ(log.front(), "BeforeOpen");
  EXPECT_EQ(log.back(), "RLSD(0)");
  port.Close();
  EXPECT_EQ(log.back(), "AfterClose");
  EXPECT_FALSE(device->IsOpen());
}

class DestructorTest : public ScriptedPortTest {};

TEST_F(DestructorTest, DestroyingAnOpenPortClosesItWithItsNotifications) {
  Log log;
  {
    TestPort p;
    p.SetPort(u"/script/d");
    p.SetEvents({});
    p.Open();
    porttest::LogNotifications(p, log);
    device->ClearCalls();
  }
  EXPECT_EQ(log, (Log{"CTS(0)", "DSR(0)", "RLSD(0)", "BeforeClose", "AfterClose"}));
  EXPECT_EQ(device->CallTexts(), (std::vector<std::string>{"PurgeComm(3)", "CloseHandle()"}));
  EXPECT_FALSE(device->IsOpen());
}

// Nothing may leave a destructor: a failing Close goes to the exception display, and the device
// is closed all the same, so it can be opened again.
TEST_F(DestructorTest, FailingCloseStillReleasesTheDevice) {
  std::vector<std::exception_ptr> shown;
  {
    TestPort p;
    p.SetPort(u"/script/d");
    p.SetEvents({});
    p.SetExceptionDisplay([&](std::exception_ptr e) { shown.push_back(e); });
    p.Open();
    p.SetOnBeforeClose([](rtl::TObject*) { throw std::runtime_error("refused"); });
  }
  EXPECT_EQ(shown.size(), 1u);
  EXPECT_FALSE(device->IsOpen());
  port.Open();
  EXPECT_TRUE(port.Connected());
}

TEST_F(DestructorTest, RegisteredLinksAreNotTold) {
  TSerialLink link;
  int told = 0;
  link.SetOnConn([&](rtl::TObject*, bool) { ++told; });
  {
    TestPort p;
    p.RegisterLink(&link);
  }
  EXPECT_EQ(told, 0);
}

}  // namespace
