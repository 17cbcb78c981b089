// Line control and status queries: the device call each makes, its error code, the sets built
// from the status words, and WaitForEvent.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "port_fixture.h"
#include "runtime/clock.h"
#include "runtime/syserror.h"
#include "serial/device/comm.h"

using namespace serial;
using porttest::ScriptedPortTest;

namespace {

struct Operation {
  const char* what;
  std::function<void(TCustomSerialPort&)> run;
  std::string call;  // the device call it makes
  int code;          // its error code when that call is refused
};

const std::vector<Operation>& Operations() {
  static const std::vector<Operation> ops = {
      {"SetDTR(true)", [](auto& p) { p.SetDTR(true); }, "EscapeCommFunction(5)", 12},
      {"SetDTR(false)", [](auto& p) { p.SetDTR(false); }, "EscapeCommFunction(6)", 12},
      {"SetRTS(true)", [](auto& p) { p.SetRTS(true); }, "EscapeCommFunction(3)", 12},
      {"SetRTS(false)", [](auto& p) { p.SetRTS(false); }, "EscapeCommFunction(4)", 12},
      {"SetBreak(true)", [](auto& p) { p.SetBreak(true); }, "EscapeCommFunction(8)", 12},
      {"SetBreak(false)", [](auto& p) { p.SetBreak(false); }, "EscapeCommFunction(9)", 12},
      {"SetXonXoff(true)", [](auto& p) { p.SetXonXoff(true); }, "EscapeCommFunction(2)", 12},
      {"SetXonXoff(false)", [](auto& p) { p.SetXonXoff(false); }, "EscapeCommFunction(1)", 12},
      {"ClearBuffer(true, false)", [](auto& p) { p.ClearBuffer(true, false); }, "PurgeComm(8)", 5},
      {"ClearBuffer(false, true)", [](auto& p) { p.ClearBuffer(false, true); }, "PurgeComm(4)", 5},
      {"ClearBuffer(true, true)", [](auto& p) { p.ClearBuffer(true, true); }, "PurgeComm(12)", 5},
      {"ClearBuffer(false, false)", [](auto& p) { p.ClearBuffer(false, false); }, "PurgeComm(0)", 5},
      {"AbortAllAsync", [](auto& p) { p.AbortAllAsync(); }, "PurgeComm(3)", 5},
      {"InputCount", [](auto& p) { p.InputCount(); }, "ClearCommError()", 10},
      {"OutputCount", [](auto& p) { p.OutputCount(); }, "ClearCommError()", 10},
      {"StateFlags", [](auto& p) { p.StateFlags(); }, "ClearCommError()", 10},
      {"LastErrors", [](auto& p) { p.LastErrors(); }, "ClearCommError()", 10},
      {"Signals", [](auto& p) { p.Signals(); }, "GetCommModemStatus()", 11},
      {"TransmitChar", [](auto& p) { p.TransmitChar(u'\u0141'); }, "TransmitCommChar(65)", 13},
  };
  return ops;
}

std::string NameOf(const std::string& callText) { return callText.substr(0, callText.find('(')); }

class LineTest : public ScriptedPortTest {};

TEST_F(LineTest, EachOperationMakesOneDeviceCall) {
  OpenQuietly();
  for (const auto& op : Operations()) {
    SCOPED_TRACE(op.what);
    device->ClearCalls();
    op.run(port);
    EXPECT_EQ(device->CallTexts(), std::vector<std::string>{op.call});
  }
}

TEST_F(LineTest, RefusedCallReportsItsCode) {
  OpenQuietly();
  for (const auto& op : Operations()) {
    SCOPED_TRACE(op.what);
    // With a handler: reported once, nothing raised.
    errors.Attach(port);
    errors.reports.clear();
    device->FailNext(NameOf(op.call), 31);
    EXPECT_NO_THROW(op.run(port));
    ASSERT_EQ(errors.Codes(), std::vector<int>{op.code});
    EXPECT_EQ(errors.reports[0].message, PortErrorMessages[op.code]);
    EXPECT_EQ(errors.reports[0].winError, 31);
    EXPECT_EQ(errors.reports[0].winMessage, rtl::SystemErrorText(31));

    // Without one: raised.
    port.SetOnException(nullptr);
    device->FailNext(NameOf(op.call), 31);
    try {
      op.run(port);
      ADD_FAILURE() << "nothing raised";
    } catch (const ESerialPort& e) {
      EXPECT_EQ(e.Code(), op.code);
      EXPECT_EQ(e.WinCode(), 31);
    }
  }
}

// No operation looks at Connected: on a closed port the call goes to the invalid handle, which
// the platform refuses with 6.
TEST_F(LineTest, ClosedPortReportsInvalidHandle) {
  for (const auto& op : Operations()) {
    SCOPED_TRACE(op.what);
    errors.Attach(port);
    errors.reports.clear();
    EXPECT_NO_THROW(op.run(port));
    ASSERT_EQ(errors.Codes(), std::vector<int>{op.code});
    EXPECT_EQ(errors.reports[0].winError, 6);
    port.SetOnException(nullptr);
    EXPECT_THROW(op.run(port), ESerialPort);
  }
  EXPECT_TRUE(device->Calls().empty());
  EXPECT_FALSE(port.Connected());
}

TEST_F(LineTest, LinesReachTheDevice) {
  OpenQuietly();
  port.SetDTR(true);
  port.SetRTS(true);
  port.SetBreak(true);
  port.SetXonXoff(false);
  EXPECT_TRUE(device->Dtr());
  EXPECT_TRUE(device->Rts());
  EXPECT_TRUE(device->Break());
  EXPECT_TRUE(device->XoffSet());
  port.SetDTR(false);
  port.SetRTS(false);
  port.SetBreak(false);
  port.SetXonXoff(true);
  EXPECT_FALSE(device->Dtr());
  EXPECT_FALSE(device->Rts());
  EXPECT_FALSE(device->Break());
  EXPECT_FALSE(device->XoffSet());
  port.TransmitChar(u'\u2011');
  port.TransmitChar(u'Z');
  EXPECT_EQ(device->Transmitted(), std::string("\x11Z"));
}

TEST_F(LineTest, SignalsFromTheModemStatus) {
  struct Case {
    uint32_t status;
    TSerialSignals expected;
  };
  const std::vector<Case> cases = {
      {0x30, {csCTS, csDSR}},  {0x10, {csCTS}}, {0x40, {csRing}},
      {0x80, {csRLSD}},        {0xF0, TSerialSignals::All()},
      {0x0F, {}},              {0x100 | 0x20, {csDSR}},
  };
  OpenQuietly();
  for (const auto& c : cases) {
    device->SetModemStatus(c.status);
    EXPECT_EQ(port.Signals(), c.expected) << c.status;
  }
}

// The parity bit counts only while the parity is checked; unknown bits are ignored.
TEST_F(LineTest, LastErrorsFromTheErrorWord) {
  struct Case {
    uint32_t word;
    bool check;
    TSerialErrors expected;
  };
  const std::vector<Case> cases = {
      {comm::CE_RXPARITY, false, {}},
      {comm::CE_RXPARITY, true, {ceRxParity}},
      {comm::CE_FRAME | comm::CE_BREAK, false, {ceFrame, ceBreak}},
      {comm::CE_RXOVER, false, {ceRxOver}},
      {comm::CE_OVERRUN | comm::CE_RXPARITY, false, {ceOverrun}},
      {comm::CE_TXFULL | comm::CE_IOE | comm::CE_MODE, false, {ceTxFull, ceIO, ceMode}},
      {0x0020 | 0x0040 | 0x0200 | 0x1000, true, {}},
      {0xFFFF, true, TSerialErrors::All()},
  };
  OpenQuietly();
  for (const auto& c : cases) {
    port.Parity().SetCheck(c.check);
    device->InjectLineErrors(c.word);
    EXPECT_EQ(port.LastErrors(), c.expected) << std::hex << c.word << " check " << c.check;
  }
}

// The status query clears the error word, so whichever query runs first sees the error.
TEST_F(LineTest, AnyStatusQueryClearsTheErrorWord) {
  OpenQuietly();
  device->InjectLineErrors(comm::CE_FRAME);
  EXPECT_EQ(port.InputCount(), 0);
  EXPECT_TRUE(port.LastErrors().Empty());
  device->InjectLineErrors(comm::CE_OVERRUN);
  EXPECT_EQ(port.LastErrors(), TSerialErrors{ceOverrun});
  EXPECT_TRUE(port.LastErrors().Empty());
}

TEST_F(LineTest, QueueCountsAndHoldFlags) {
  OpenQuietly();
  device->InjectReceived("hello");
  EXPECT_EQ(port.InputCount(), 5);
  device->HoldWrites(true);
  comm::OVERLAPPED ov;
  ov.hEvent = rtl::CreateEvent(true, false);
  uint32_t done = 0;
  EXPECT_FALSE(comm::WriteFile(port.Handle(), "abc", 3, &done, &ov));
  EXPECT_EQ(port.OutputCount(), 3);
  port.AbortAllAsync();  // ends the pending write
  EXPECT_EQ(port.OutputCount(), 0);
  port.ClearBuffer(true, false);
  EXPECT_EQ(port.InputCount(), 0);

  device->SetStatFlags(0x55);
  EXPECT_EQ(port.StateFlags(), (TSerialStateFlags{fCtlHold, fRlsHold, fXOffSent, fTxim}));
  device->SetStatFlags(0);
  EXPECT_TRUE(port.StateFlags().Empty());
}

TEST_F(LineTest, FailedQueriesGiveNothing) {
  OpenQuietly();
  errors.Attach(port);
  device->InjectReceived("abc");
  device->SetModemStatus(0xF0);
  device->SetStatFlags(0x7F);
  device->FailAlways("ClearCommError", 31);
  device->FailAlways("GetCommModemStatus", 31);
  EXPECT_EQ(port.InputCount(), 0);
  EXPECT_EQ(port.OutputCount(), 0);
  EXPECT_TRUE(port.StateFlags().Empty());
  EXPECT_TRUE(port.LastErrors().Empty());
  EXPECT_TRUE(port.Signals().Empty());
  EXPECT_EQ(errors.Codes(), (std::vector<int>{10, 10, 10, 10, 11}));
}

class WaitForEventTest : public ScriptedPortTest {};

TEST_F(WaitForEventTest, TimeoutWithoutEventGivesTheEmptySet) {
  OpenQuietly();
  TSerialEvents events{evRxChar, evCTS};
  const uint64_t start = rtl::MonotonicMs();
  port.WaitForEvent(events, nullptr, 100);
  EXPECT_GE(rtl::MonotonicMs() - start, 100u);
  EXPECT_TRUE(events.Empty());
  EXPECT_EQ(device->CallTexts(),
            (std::vector<std::string>{"SetCommMask(9)", "WaitCommEvent()", "SetCommMask(0)"}));
  EXPECT_EQ(device->Mask(), 0u);
  EXPECT_EQ(device->PendingWaits(), 0u);
}

TEST_F(WaitForEventTest, ReturnsTheEventsThatOccurred) {
  OpenQuietly();
  std::thread injector([this] {
    ASSERT_TRUE(device->WaitForCalls("WaitCommEvent", 1, std::chrono::seconds(30)));
    device->SetModemStatus(comm::MS_CTS_ON | comm::MS_RING_ON);
  });
  TSerialEvents events{evCTS, evDSR, evRing};
  port.WaitForEvent(events, nullptr, -1);  // no time limit
  injector.join();
  EXPECT_EQ(events, (TSerialEvents{evCTS, evRing}));
  EXPECT_EQ(device->Mask(), 0u);
}

TEST_F(WaitForEventTest, StopEventEndsTheWait) {
  OpenQuietly();
  auto stop = rtl::CreateEvent(true, false);
  std::thread stopper([&] {
    ASSERT_TRUE(device->WaitForCalls("WaitCommEvent", 1, std::chrono::seconds(30)));
    stop->Set();
  });
  TSerialEvents events = TSerialEvents::All();
  port.WaitForEvent(events, stop, -1);
  stopper.join();
  EXPECT_TRUE(events.Empty());
  EXPECT_EQ(device->CallTexts().back(), "SetCommMask(0)");
  EXPECT_EQ(device->PendingWaits(), 0u);
}

TEST_F(WaitForEventTest, RefusedWaitReports21) {
  OpenQuietly();
  errors.Attach(port);
  device->FailNext("WaitCommEvent", 31);
  TSerialEvents events{evRxChar};
  port.WaitForEvent(events, nullptr, 1000);
  EXPECT_TRUE(events.Empty());
  ASSERT_EQ(errors.Codes(), std::vector<int>{21});
  EXPECT_EQ(errors.reports[0].winError, 31);
  EXPECT_EQ(errors.reports[0].message, u"WaitForEvent method failed");
  // The failed start is not waited on.
  EXPECT_EQ(device->CallTexts(), (std::vector<std::string>{"SetCommMask(1)", "WaitCommEvent()"}));

  port.SetOnException(nullptr);
  try {
    port.WaitForEvent(events, nullptr, 1000);  // an empty set: the device refuses a 0 mask
    ADD_FAILURE() << "nothing raised";
  } catch (const ESerialPort& e) {
    EXPECT_EQ(e.Code(), 21);
    EXPECT_EQ(e.WinCode(), 87);
  }
}

TEST_F(WaitForEventTest, ClosedPortReports21WithInvalidHandle) {
  errors.Attach(port);
  TSerialEvents events{evRxChar};
  port.WaitForEvent(events, nullptr, 1000);
  EXPECT_TRUE(events.Empty());
  ASSERT_EQ(errors.Codes(), std::vector<int>{21});
  EXPECT_EQ(errors.reports[0].winError, 6);
}

}  // namespace
