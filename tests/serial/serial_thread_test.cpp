// The event thread on the scripted device: the mask set when it is made, its priority, the order
// of a batch's steps under each sync method, when it watches the device again, the message
// procedure, exceptions out of the handlers, a device wait that never starts, and the receive
// step's read-ahead.
#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <exception>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "event_fixture.h"
#include "port_fixture.h"
#include "serial/device/comm.h"

using namespace serial;
using namespace std::chrono_literals;
using evttest::EventPort;
using evttest::SharedLog;
using evttest::WindowLoop;
using Log = std::vector<std::string>;
using Texts = std::vector<std::string>;

namespace {

const char* MethodName(TSyncMethod m) {
  switch (m) {
    case smThreadSync: return "smThreadSync";
    case smWindowSync: return "smWindowSync";
    case smNone: return "smNone";
  }
  return "?";
}

// A port named "/script/a" on the scripted device, every event notification logged.
class ThreadTest : public ::testing::Test {
 protected:
  ThreadTest() : install_("/script/", device) {
    port.SetPort(u"/script/a");
    evttest::LogEvents(port, log);
    port.SetExceptionDisplay([this](std::exception_ptr e) { shown.push_back(e); });
  }

  bool WaitCalls(const std::string& name, size_t n) { return device->WaitForCalls(name, n, 10s); }
  // Opens, waits until the thread watches the device, and forgets the opening's line reports.
  bool OpenWatching() {
    port.Open();
    const bool watching = WaitCalls("WaitCommEvent", 1);
    log.Clear();
    return watching;
  }
  size_t CountCalls(const std::string& name) const { return device->CallTexts(name).size(); }
  // Opens and returns the one thread the opening made (0 if not exactly one).
  int OpenAndFindThread() {
    const auto before = evttest::TaskIds();
    port.Open();
    if (!WaitCalls("WaitCommEvent", 1)) return 0;
    const auto added = evttest::NewTasks(before, evttest::TaskIds());
    return added.size() == 1 ? added.front() : 0;
  }

  std::shared_ptr<scripted::ScriptedDevice> device = std::make_shared<scripted::ScriptedDevice>();

 private:
  scripted::ScriptedInstall install_;

 protected:
  // Before the port, whose closing may still deliver and report.
  WindowLoop loop;
  SharedLog log{loop};
  porttest::ErrorRecorder errors;
  std::vector<std::exception_ptr> shown;
  EventPort port;
};

// --- Making and stopping the thread ----------------------------------------------------------

TEST_F(ThreadTest, MaskIsSetWhenTheThreadIsMadeAndClearedWhenItStops) {
  struct Case {
    TSerialEvents events;
    uint32_t mask;
  };
  const std::vector<Case> cases = {
      {{evRxChar}, 0x1},
      {{evRing, evRx80Full}, 0x500},
      {{evCTS, evDSR, evRLSD, evError}, 0xB8},
      {TSerialEvents::All(), 0x5FF},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mask);
    device->ClearCalls();
    port.SetEvents(c.events);
    ASSERT_TRUE(OpenWatching());
    Texts calls = device->CallTexts();
    const auto firstWait = std::find(calls.begin(), calls.end(), "WaitCommEvent()");
    const auto mask = std::find(calls.begin(), calls.end(), "SetCommMask(" + std::to_string(c.mask) + ")");
    EXPECT_LT(mask, firstWait);
    // The thread's wait runs beside the line reports of the opening.
    std::erase(calls, "WaitCommEvent()");
    EXPECT_EQ(calls, (Texts{"CreateFile(\"/script/a\", 0)", "SetupComm(1024, 1024)", "SetCommState()",
                            "SetCommTimeouts(4294967295, 0, 0, 100, 1000)", "SetCommMask(" + std::to_string(c.mask) + ")",
                            "GetCommModemStatus()", "GetCommModemStatus()", "GetCommModemStatus()"}));
    device->ClearCalls();
    port.Close();
    // The thread stops before the device closes: its clean-up clears the mask and both queues.
    EXPECT_EQ(device->CallTexts(), (Texts{"PurgeComm(3)", "SetCommMask(0)", "PurgeComm(12)", "CloseHandle()"}));
    // No event came: only the line reports of the closing.
    EXPECT_EQ(log.Entries(), (Log{"CTS(0)", "DSR(0)", "RLSD(0)"}));
    log.Clear();
  }
}

TEST_F(ThreadTest, ThreadOnlyWithEvents) {
  port.SetEvents({});
  const size_t threads = evttest::TaskIds().size();
  port.Open();
  EXPECT_EQ(evttest::TaskIds().size(), threads);
  EXPECT_TRUE(device->CallTexts("SetCommMask").empty());
  port.Close();

  port.SetEvents({evRxChar});
  port.Open();
  ASSERT_TRUE(WaitCalls("WaitCommEvent", 1));
  EXPECT_EQ(evttest::TaskIds().size(), threads + 1);
  TSerialEvents events{evRxChar};
  try {
    port.WaitForEvent(events, nullptr, 0);
    ADD_FAILURE() << "nothing raised";
  } catch (const ESerialPort& e) {
    EXPECT_EQ(e.Code(), 20);
  }
  port.Close();
  EXPECT_EQ(evttest::TaskIds().size(), threads);
}

TEST_F(ThreadTest, PriorityFollowsEventThreadPriority) {
  errno = 0;
  if (::getpriority(PRIO_PROCESS, 0) != 0 || errno != 0) GTEST_SKIP() << "the test runs with a nice value";
  struct Case {
    TThreadPriority priority;
    int nice;
  };
  std::vector<Case> cases = {{tpIdle, 19}, {tpLowest, 10}, {tpLower, 5}, {tpNormal, 0}};
  // Above normal needs the privilege to lower nice values.
  if (::geteuid() == 0) cases.insert(cases.end(), {{tpHigher, -5}, {tpHighest, -10}, {tpTimeCritical, -20}});
  port.SetEvents({evRxChar});
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.priority));
    device->ClearCalls();
    port.SetEventThreadPriority(c.priority);
    const int tid = OpenAndFindThread();
    ASSERT_NE(tid, 0);
    EXPECT_EQ(evttest::ThreadNice(tid), c.nice);
    port.Close();
  }
}

// --- Delivery --------------------------------------------------------------------------------

// A batch holding every event runs its steps in one order under each method, on the window thread
// (smThreadSync, smWindowSync) or on the event thread (smNone).
TEST_F(ThreadTest, BatchStepsRunInOrder) {
  for (TSyncMethod method : {smThreadSync, smWindowSync, smNone}) {
    SCOPED_TRACE(MethodName(method));
    log.Clear();
    device->ClearCalls();
    port.SetSyncMethod(method);
    port.SetEvents(TSerialEvents::All());
    // Under smNone the first batch is held inside its handler, on the event thread.
    rtl::TEvent entered(true, false), release(true, false);
    if (method == smNone) {
      port.SetOnBreak([&](rtl::TObject*) {
        log.Add("Break");
        entered.Set();
        rtl::WaitForSingleObject(release, 10000);
      });
    }
    ASSERT_TRUE(OpenWatching());

    device->RaiseEvents(comm::EV_BREAK);
    if (method == smNone) {
      ASSERT_EQ(rtl::WaitForSingleObject(entered, 10000), rtl::WAIT_OBJECT_0);
    } else {
      ASSERT_TRUE(loop.WaitForQueuedWork());  // the hand-over or message waits for this thread
    }
    // While the first batch is in delivery, everything else is kept for the next wait.
    device->InjectLineErrors(comm::CE_FRAME);
    device->InjectReceived("abc");
    device->SetModemStatus(comm::MS_CTS_ON | comm::MS_DSR_ON | comm::MS_RING_ON | comm::MS_RLSD_ON);
    device->RaiseEvents(comm::EV_TXEMPTY | comm::EV_BREAK | comm::EV_RXFLAG | comm::EV_RX80FULL);
    release.Set();
    const Log expected = {"Break", "Error(1)", "RxChar(3)", "TxEmpty", "Break", "Ring", "CTS(1)",
                          "DSR(1)", "RxFlag", "RLSD(1)", "Rx80Full"};
    EXPECT_TRUE(loop.ServeUntil([&] { return log.Size() >= expected.size(); }));
    EXPECT_EQ(log.Entries(), expected);
    if (method == smNone) {
      EXPECT_TRUE(log.NoneFrom(std::this_thread::get_id()));
    } else {
      EXPECT_TRUE(log.AllFrom(std::this_thread::get_id()));
    }
    EXPECT_TRUE(WaitCalls("WaitCommEvent", 3));
    EXPECT_EQ(CountCalls("WaitCommEvent"), 3u);
    port.Close();
    device->SetModemStatus(0);
    evttest::LogEvents(port, log);
  }
}

// smWindowSync releases the event thread before the step runs, so it watches the device again
// while the handler runs; the other methods watch again only after the batch.
TEST_F(ThreadTest, NextWaitStartsAfterTheBatchOrAfterTheReply) {
  struct Case {
    TSyncMethod method;
    bool watchesDuringHandler;
  };
  const std::vector<Case> cases = {{smThreadSync, false}, {smWindowSync, true}, {smNone, false}};
  port.SetEvents({evRxChar});
  for (const auto& c : cases) {
    SCOPED_TRACE(MethodName(c.method));
    log.Clear();
    device->ClearCalls();
    port.SetSyncMethod(c.method);
    std::atomic<bool> watching{false};
    port.SetOnRxChar([&](rtl::TObject*, int32_t) {
      watching = device->WaitForCalls("WaitCommEvent", 2, c.watchesDuringHandler ? 10000ms : 300ms);
      log.Add("RxChar");
    });
    ASSERT_TRUE(OpenWatching());
    device->InjectReceived("a");
    EXPECT_TRUE(loop.ServeUntil([&] { return log.Size() >= 1; }));
    EXPECT_EQ(watching.load(), c.watchesDuringHandler);
    port.Close();
  }
}

// Closing while a batch waits for the window thread: the batch runs inside Close, with the port
// still connected, and Close completes. Under smWindowSync the thread is released before the step
// runs and may purge the queue at its stop before the step counts the bytes, so a ring shows it.
TEST_F(ThreadTest, BatchWaitingDuringCloseRunsInsideClose) {
  struct Case {
    TSyncMethod method;
    std::function<void()> arrive;
    std::string delivered;
  };
  const std::vector<Case> cases = {
      {smThreadSync, [&] { device->InjectReceived("abc"); }, "RxChar(3) connected 1 read 3 abc"},
      {smWindowSync, [&] { device->RaiseEvents(comm::EV_RING); }, "Ring connected 1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(MethodName(c.method));
    port.SetSyncMethod(c.method);
    port.SetEvents({evRxChar, evRing});
    port.SetOnBeforeClose([&](rtl::TObject*) { log.Add("BeforeClose"); });
    port.SetOnAfterClose([&](rtl::TObject*) { log.Add("AfterClose"); });
    port.SetOnRxChar([&](rtl::TObject*, int32_t n) {
      std::u16string s;
      const int32_t got = port.ReadStr(s, n);
      log.Add("RxChar(" + std::to_string(n) + ") connected " + std::to_string(port.Connected()) + " read " +
              std::to_string(got) + " " + porttest::Utf8(s));
    });
    port.SetOnRing([&](rtl::TObject*) { log.Add("Ring connected " + std::to_string(port.Connected())); });
    ASSERT_TRUE(OpenWatching());
    c.arrive();
    ASSERT_TRUE(loop.WaitForQueuedWork());
    port.Close();
    EXPECT_FALSE(port.Connected());
    EXPECT_EQ(log.Entries(), (Log{"CTS(0)", "DSR(0)", "RLSD(0)", "BeforeClose", c.delivered, "AfterClose"}));
  }
}

// The message procedure runs the step of the event bit, only while connected.
TEST_F(ThreadTest, MessageProcedureRunsOneStepWhileConnected) {
  struct Case {
    const char* name;
    uint32_t msg;
    uintptr_t bit;
    Log expected;
  };
  const std::vector<Case> cases = {
      {"ring", PortEventMessage, comm::EV_RING, {"Ring"}},
      {"carrier", PortEventMessage, comm::EV_RLSD, {"RLSD(1)"}},
      {"break", PortEventMessage, comm::EV_BREAK, {"Break"}},
      {"bytes", PortEventMessage, comm::EV_RXCHAR, {"RxChar(2)"}},
      {"no step for the bit", PortEventMessage, 0x200, {}},
      {"several bits", PortEventMessage, comm::EV_RING | comm::EV_BREAK, {}},
      {"another message", PortEventMessage + 1, comm::EV_RING, {}},
  };
  EXPECT_EQ(PortEventMessage, 1025u);
  port.SetEvents({});
  device->SetModemStatus(comm::MS_RLSD_ON);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    log.Clear();
    EXPECT_EQ(port.PortWindowProc(c.msg, c.bit, 0), 0);
    EXPECT_TRUE(log.Entries().empty());  // closed: nothing runs
    port.Open();
    device->InjectReceived("xy");
    log.Clear();
    EXPECT_EQ(port.PortWindowProc(c.msg, c.bit, 0), 0);
    EXPECT_EQ(log.Entries(), c.expected);
    port.Close();
  }
}

TEST_F(ThreadTest, MessageProcedureShowsAnExceptionOfItsStep) {
  port.SetEvents({});
  port.SetOnRing([](rtl::TObject*) { throw std::runtime_error("ring failed"); });
  port.Open();
  EXPECT_EQ(port.PortWindowProc(PortEventMessage, comm::EV_RING, 0), 0);
  ASSERT_EQ(shown.size(), 1u);
  try {
    std::rethrow_exception(shown[0]);
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "ring failed");
  }
}

// An exception out of OnRxChar: under smThreadSync and smNone it ends the thread (no later
// notification, no clean-up, nothing shown) until the port is reopened; under smWindowSync it is
// shown and delivery goes on.
TEST_F(ThreadTest, ExceptionInAHandler) {
  struct Case {
    TSyncMethod method;
    bool deliveryGoesOn;
  };
  const std::vector<Case> cases = {{smThreadSync, false}, {smNone, false}, {smWindowSync, true}};
  port.SetEvents({evRxChar});
  for (const auto& c : cases) {
    SCOPED_TRACE(MethodName(c.method));
    log.Clear();
    shown.clear();
    device->ClearCalls();
    port.SetSyncMethod(c.method);
    std::atomic<int> calls{0};
    port.SetOnRxChar([&](rtl::TObject*, int32_t n) {
      log.Add("RxChar(" + std::to_string(n) + ")");
      if (++calls == 1) throw std::runtime_error("handler failed");
    });
    ASSERT_TRUE(OpenWatching());
    device->InjectReceived("a");
    ASSERT_TRUE(loop.ServeUntil([&] { return log.Size() >= 1; }));
    device->InjectReceived("b");
    if (c.deliveryGoesOn) {
      EXPECT_TRUE(loop.ServeUntil([&] { return log.Size() >= 2; }));
      EXPECT_EQ(shown.size(), 1u);
    } else {
      loop.ServeFor(300ms);
      EXPECT_EQ(log.Entries(), Log{"RxChar(1)"});
      EXPECT_EQ(CountCalls("WaitCommEvent"), 1u);
      EXPECT_TRUE(shown.empty());
    }
    device->ClearCalls();
    port.Close();
    EXPECT_FALSE(port.Connected());
    const Texts expectedClose = c.deliveryGoesOn
                                    ? Texts{"PurgeComm(3)", "SetCommMask(0)", "PurgeComm(12)", "CloseHandle()"}
                                    : Texts{"PurgeComm(3)", "CloseHandle()"};
    Texts closing = device->CallTexts();
    std::erase(closing, "WaitCommEvent()");  // the thread released by the last reply watches again
    EXPECT_EQ(closing, expectedClose);

    // Reopened, the port delivers again.
    log.Clear();
    ASSERT_TRUE(OpenWatching());
    device->InjectReceived("c");
    EXPECT_TRUE(loop.ServeUntil([&] { return log.Size() >= 1; }));
    EXPECT_EQ(log.Entries(), Log{"RxChar(1)"});
    port.Close();
  }
}

// --- Waits that never start or whose result cannot be read -----------------------------------

// A device wait that fails at once leaves its record signalled: the thread must neither spin on
// it nor dispatch anything, and waits for the stop alone.
TEST_F(ThreadTest, WaitThatNeverStartsNeitherSpinsNorDispatches) {
  struct Case {
    const char* name;
    std::function<void()> prepare;
  };
  const std::vector<Case> cases = {
      {"the device refuses the wait", [&] { device->FailAlways("WaitCommEvent", 31); }},
      {"no device behind the handle", [&] { device->RefuseOpen(5); }},
  };
  port.SetEvents({evRxChar, evCTS, evError});
  const long budget = evttest::TicksPerSecond() / 10;  // 100 ms of CPU in a 500 ms watch
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    log.Clear();
    errors.reports.clear();
    errors.Attach(port);
    device->ClearCalls();
    device->ClearFailures();
    device->RefuseOpen(0);
    c.prepare();
    const auto before = evttest::TaskIds();
    port.Open();
    ASSERT_TRUE(port.Connected());
    const auto added = evttest::NewTasks(before, evttest::TaskIds());
    ASSERT_EQ(added.size(), 1u);
    const std::vector<int> openReports = errors.Codes();
    log.Clear();
    const long start = evttest::ThreadCpuTicks(added[0]);
    device->InjectReceived("abc");
    device->SetModemStatus(comm::MS_CTS_ON);
    loop.ServeFor(500ms);
    EXPECT_LE(evttest::ThreadCpuTicks(added[0]) - start, budget);
    EXPECT_LE(CountCalls("WaitCommEvent"), 1u);
    EXPECT_TRUE(log.Entries().empty());
    EXPECT_EQ(errors.Codes(), openReports);
    port.Close();
    EXPECT_FALSE(port.Connected());
    device->SetModemStatus(0);
  }
}

// A completed wait whose result cannot be read dispatches nothing; the thread watches again, and
// the bytes are counted at the next arrival.
TEST_F(ThreadTest, UnreadableWaitResultDispatchesNothing) {
  port.SetEvents({evRxChar});
  ASSERT_TRUE(OpenWatching());
  device->FailNext("GetOverlappedResult", 31);
  device->InjectReceived("ab");
  ASSERT_TRUE(WaitCalls("WaitCommEvent", 2));
  EXPECT_FALSE(loop.WorkQueued());
  EXPECT_TRUE(log.Entries().empty());
  device->InjectReceived("c");
  EXPECT_TRUE(loop.ServeUntil([&] { return log.Size() >= 1; }));
  EXPECT_EQ(log.Entries(), Log{"RxChar(3)"});
}

// --- The receive step ------------------------------------------------------------------------

class ReceiveStepTest : public ThreadTest {
 protected:
  void SetUp() override {
    port.SetEvents({});
    // Always registered: tells the receive activity, wants no bytes.
    watcher.SetOnRx([this](rtl::TObject*, bool on) { log.Add(std::string("watcher Rx(") + (on ? "1)" : "0)")); });
    port.RegisterLink(&watcher);
    port.Open();
    log.Clear();
  }
  void TearDown() override {
    // Some of the links may not be registered: their removal's report is dropped.
    port.SetOnException([](rtl::TObject*, TSerialExceptions, const std::u16string&, int64_t, const std::u16string&) {});
    port.UnRegisterLink(&watcher);
    port.UnRegisterLink(&a);
    port.UnRegisterLink(&b);
    port.Close();
  }
  void WantBytes(TSerialLink& link, const char* name) {
    link.SetOnRxBuf([this, name](rtl::TObject*, const uint8_t* p, int32_t n) {
      log.Add(std::string(name) + " RxBuf(" + std::string(reinterpret_cast<const char*>(p), static_cast<size_t>(n)) +
              ")");
    });
    port.RegisterLink(&link);
  }

  TSerialLink watcher, a, b;
};

TEST_F(ReceiveStepTest, CountOrBytesByTriggerAndLinks) {
  struct Case {
    const char* name;
    bool triggers;
    int bytesLinks;  // how many of a, b want the bytes
    std::string waiting;
    Log expected;
    std::string left;
    Texts calls;
  };
  const Texts countOnly = {"ClearCommError()"};
  const Texts countAndRead = {"ClearCommError()", "ReadFile(5)", "GetOverlappedResult(0)", "ClearCommError()"};
  const std::vector<Case> cases = {
      {"the count to OnRxChar", true, 0, "hello", {"watcher Rx(1)", "RxChar(5)"}, "hello", countOnly},
      {"the port reads for its OnRxBuf", false, 0, "hello", {"watcher Rx(1)", "watcher Rx(0)", "RxBuf(hello)"}, "",
       countAndRead},
      {"a link wants the bytes", true, 1, "hello",
       {"watcher Rx(1)", "watcher Rx(0)", "RxBuf(hello)", "a RxBuf(hello)"}, "", countAndRead},
      {"two links, one read", false, 2, "hello",
       {"watcher Rx(1)", "watcher Rx(0)", "RxBuf(hello)", "a RxBuf(hello)", "b RxBuf(hello)"}, "", countAndRead},
      {"nothing waiting", true, 0, "", {}, "", countOnly},
      {"nothing waiting, bytes wanted", false, 2, "", {}, "", countOnly},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    port.SetTriggersOnRxChar(c.triggers);
    if (c.bytesLinks >= 1) WantBytes(a, "a");
    if (c.bytesLinks >= 2) WantBytes(b, "b");
    device->InjectReceived(c.waiting);
    device->ClearCalls();
    log.Clear();
    port.HandleRxChar();
    EXPECT_EQ(log.Entries(), c.expected);
    EXPECT_EQ(device->CallTexts(), c.calls);
    EXPECT_EQ(port.InputCount(), static_cast<int32_t>(c.left.size()));
    port.ClearBuffer(true, false);
    if (c.bytesLinks >= 1) port.UnRegisterLink(&a);
    if (c.bytesLinks >= 2) port.UnRegisterLink(&b);
  }
}

// A count that could not be taken tells nobody anything.
TEST_F(ReceiveStepTest, FailedCountNotifiesNothing) {
  for (bool triggers : {true, false}) {
    SCOPED_TRACE(triggers);
    errors.reports.clear();
    errors.Attach(port);
    port.SetTriggersOnRxChar(triggers);
    device->InjectReceived("abc");
    device->FailNext("ClearCommError", 31);
    log.Clear();
    port.HandleRxChar();
    EXPECT_TRUE(log.Entries().empty());
    EXPECT_EQ(errors.Codes(), std::vector<int>{10});
    port.ClearBuffer(true, false);
  }
}

// A link's handler that raises leaves the step; the bytes it was given were read all the same.
TEST_F(ReceiveStepTest, RaisingRxBufHandlerLeavesTheStep) {
  a.SetOnRxBuf([](rtl::TObject*, const uint8_t*, int32_t) { throw std::runtime_error("link failed"); });
  port.RegisterLink(&a);
  device->InjectReceived("abc");
  EXPECT_THROW(port.HandleRxChar(), std::runtime_error);
  EXPECT_EQ(port.InputCount(), 0);
  EXPECT_EQ(log.Entries(), (Log{"watcher Rx(1)", "watcher Rx(0)", "RxBuf(abc)"}));
}

}  // namespace
