// Defaults of a new port and of its settings objects, the change-and-apply rule, Assign, the
// buffer-size rounding, the flow-control preset, and the properties that refuse a change.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "port_fixture.h"

using namespace serial;
using porttest::ScriptedPortTest;
using porttest::TestPort;

namespace {

TEST(PortDefaults, NewPort) {
  TSerialPort port;
  EXPECT_EQ(port.Port(), u"COM1");
  EXPECT_EQ(port.BaudRate(), br9600);
  EXPECT_EQ(port.CustomBaudRate(), 9600);
  EXPECT_EQ(port.DataBits(), dbEight);
  EXPECT_EQ(port.StopBits(), sbOneStopBit);
  EXPECT_FALSE(port.DiscardNull());
  EXPECT_EQ(port.EventChar(), 0);
  EXPECT_EQ(port.Events(), TSerialEvents::All());
  EXPECT_EQ(port.SyncMethod(), smThreadSync);
  EXPECT_EQ(port.EventThreadPriority(), tpNormal);
  EXPECT_TRUE(port.TriggersOnRxChar());
  EXPECT_EQ(port.CodePage(), 0u);
  EXPECT_FALSE(port.Connected());
  EXPECT_EQ(port.Handle(), comm::INVALID_HANDLE_VALUE);
  EXPECT_STREQ(port.ClassName(), "TSerialPort");

  EXPECT_EQ(port.Parity().Bits(), prNone);
  EXPECT_FALSE(port.Parity().Check());
  EXPECT_FALSE(port.Parity().Replace());
  EXPECT_EQ(port.Parity().ReplaceChar(), 0);

  const TSerialFlowControl& f = port.FlowControl();
  EXPECT_EQ(f.FlowControl(), fcNone);
  EXPECT_FALSE(f.OutCTSFlow());
  EXPECT_FALSE(f.OutDSRFlow());
  EXPECT_EQ(f.ControlDTR(), dtrDisable);
  EXPECT_EQ(f.ControlRTS(), rtsDisable);
  EXPECT_FALSE(f.XonXoffOut());
  EXPECT_FALSE(f.XonXoffIn());
  EXPECT_FALSE(f.DSRSensitivity());
  EXPECT_FALSE(f.TxContinueOnXoff());
  EXPECT_EQ(f.XonChar(), 17);
  EXPECT_EQ(f.XoffChar(), 19);

  EXPECT_EQ(port.Timeouts().ReadInterval(), -1);
  EXPECT_EQ(port.Timeouts().ReadTotalMultiplier(), 0);
  EXPECT_EQ(port.Timeouts().ReadTotalConstant(), 0);
  EXPECT_EQ(port.Timeouts().WriteTotalMultiplier(), 100);
  EXPECT_EQ(port.Timeouts().WriteTotalConstant(), 1000);
  EXPECT_EQ(port.Buffer().InputSize(), 1024);
  EXPECT_EQ(port.Buffer().OutputSize(), 1024);
}

TEST(SettingsObjects, BackReferenceToTheOwningPortOnly) {
  TSerialPort port;
  EXPECT_EQ(port.Parity().SerialPort(), &port);
  EXPECT_EQ(port.FlowControl().SerialPort(), &port);
  EXPECT_EQ(port.Timeouts().SerialPort(), &port);
  EXPECT_EQ(port.Buffer().SerialPort(), &port);
  TSerialParity alone;
  EXPECT_EQ(alone.SerialPort(), nullptr);
  alone.SetBits(prEven);  // no port: stored, nothing applied
  EXPECT_EQ(alone.Bits(), prEven);
}

// Assign copies every value (not the back-reference) and applies nothing.
class AssignTest : public ScriptedPortTest {};

TEST_F(AssignTest, CopiesValuesWithoutApplying) {
  OpenQuietly();
  TSerialParity parity;
  parity.SetBits(prMark);
  parity.SetCheck(true);
  parity.SetReplace(true);
  parity.SetReplaceChar(u'?');
  port.Parity().Assign(&parity);

  TSerialFlowControl flow;
  flow.SetFlowControl(fcHardware);
  flow.SetOutDSRFlow(true);
  flow.SetControlDTR(dtrHandshake);
  flow.SetDSRSensitivity(true);
  flow.SetTxContinueOnXoff(true);
  flow.SetXonChar(u'a');
  flow.SetXoffChar(u'b');
  port.FlowControl().Assign(&flow);

  TSerialTimeouts timeouts;
  timeouts.SetReadInterval(1);
  timeouts.SetReadTotalMultiplier(2);
  timeouts.SetReadTotalConstant(3);
  timeouts.SetWriteTotalMultiplier(4);
  timeouts.SetWriteTotalConstant(5);
  port.Timeouts().Assign(&timeouts);

  TSerialBuffer buffer;
  buffer.SetInputSize(4096);
  buffer.SetOutputSize(-7);
  port.Buffer().Assign(&buffer);

  EXPECT_TRUE(device->Calls().empty());
  EXPECT_EQ(port.Parity().SerialPort(), &port);
  EXPECT_EQ(port.Parity().Bits(), prMark);
  EXPECT_TRUE(port.Parity().Check());
  EXPECT_TRUE(port.Parity().Replace());
  EXPECT_EQ(port.Parity().ReplaceChar(), u'?');
  EXPECT_EQ(port.FlowControl().SerialPort(), &port);
  EXPECT_EQ(port.FlowControl().FlowControl(), fcHardware);
  EXPECT_TRUE(port.FlowControl().OutDSRFlow());
  EXPECT_EQ(port.FlowControl().ControlDTR(), dtrHandshake);
  EXPECT_TRUE(port.FlowControl().DSRSensitivity());
  EXPECT_TRUE(port.FlowControl().TxContinueOnXoff());
  EXPECT_EQ(port.FlowControl().XonChar(), u'a');
  EXPECT_EQ(port.FlowControl().XoffChar(), u'b');
  EXPECT_EQ(port.Timeouts().ReadInterval(), 1);
  EXPECT_EQ(port.Timeouts().ReadTotalMultiplier(), 2);
  EXPECT_EQ(port.Timeouts().ReadTotalConstant(), 3);
  EXPECT_EQ(port.Timeouts().WriteTotalMultiplier(), 4);
  EXPECT_EQ(port.Timeouts().WriteTotalConstant(), 5);
  EXPECT_EQ(port.Buffer().InputSize(), 4096);
  EXPECT_EQ(port.Buffer().OutputSize(), -7);
}

TEST(SettingsObjects, AssignRefusesAnotherClass) {
  struct Case {
    std::function<void()> assign;
    std::u16string message;
  };
  TSerialParity parity;
  TSerialBuffer buffer;
  TSerialTimeouts timeouts;
  TSerialFlowControl flow;
  TSerialPort port;
  const std::vector<Case> cases = {
      {[&] { parity.Assign(&buffer); }, u"Impossible d'affecter un TSerialBuffer à un TSerialParity"},
      {[&] { buffer.Assign(&timeouts); }, u"Impossible d'affecter un TSerialTimeouts à un TSerialBuffer"},
      {[&] { timeouts.Assign(&port); }, u"Impossible d'affecter un TSerialPort à un TSerialTimeouts"},
      {[&] { flow.Assign(nullptr); }, u"Impossible d'affecter un nil à un TSerialFlowControl"},
  };
  for (const auto& c : cases) {
    try {
      c.assign();
      ADD_FAILURE() << "accepted: " << porttest::Utf8(c.message);
    } catch (const rtl::EConvertError& e) {
      EXPECT_EQ(e.Message(), c.message);
    }
  }
  EXPECT_EQ(parity.Bits(), prNone);
  EXPECT_EQ(buffer.InputSize(), 1024);
}

TEST(SettingsObjects, BufferSizeRounding) {
  struct Case {
    int32_t written, stored;
  };
  const std::vector<Case> cases = {{1025, 1024}, {1, 0},       {2047, 2046}, {2048, 2048},
                                   {0, 0},       {-3, -3},     {-4, -4},     {0x7FFFFFFF, 0x7FFFFFFE}};
  for (const auto& c : cases) {
    TSerialBuffer b;
    b.SetInputSize(c.written);
    b.SetOutputSize(c.written);
    EXPECT_EQ(b.InputSize(), c.stored) << c.written;
    EXPECT_EQ(b.OutputSize(), c.stored) << c.written;
  }
}

// The preset read from the fields: only ControlRTS, OutCTSFlow and the two XON/XOFF flags count.
TEST(FlowControlPreset, Reading) {
  struct Case {
    TRTSFlowControl rts;
    bool cts, xIn, xOut;
    TFlowControl expected;
  };
  const std::vector<Case> cases = {
      {rtsHandshake, true, false, false, fcHardware}, {rtsDisable, false, true, true, fcSoftware},
      {rtsDisable, false, false, false, fcNone},      {rtsHandshake, true, true, false, fcCustom},
      {rtsHandshake, false, false, false, fcCustom},  {rtsEnable, true, false, false, fcCustom},
      {rtsDisable, true, false, false, fcCustom},     {rtsDisable, false, true, false, fcCustom},
      {rtsDisable, false, false, true, fcCustom},     {rtsToggle, false, false, false, fcCustom},
      {rtsEnable, false, true, true, fcCustom},
  };
  for (const auto& c : cases) {
    TSerialFlowControl f;
    f.SetControlRTS(c.rts);
    f.SetOutCTSFlow(c.cts);
    f.SetXonXoffIn(c.xIn);
    f.SetXonXoffOut(c.xOut);
    // Fields that play no part.
    f.SetOutDSRFlow(true);
    f.SetControlDTR(dtrHandshake);
    f.SetDSRSensitivity(true);
    f.SetTxContinueOnXoff(true);
    f.SetXonChar(1);
    EXPECT_EQ(f.FlowControl(), c.expected) << c.rts << c.cts << c.xIn << c.xOut;
  }
}

// Writing a preset sets its four fields and leaves the others; fcCustom changes nothing.
TEST(FlowControlPreset, Writing) {
  struct Case {
    TFlowControl written;
    TRTSFlowControl rts;
    bool cts, xIn, xOut;
  };
  const std::vector<Case> cases = {
      {fcHardware, rtsHandshake, true, false, false},
      {fcSoftware, rtsDisable, false, true, true},
      {fcNone, rtsDisable, false, false, false},
      {fcCustom, rtsToggle, false, true, false},  // the starting mix below, untouched
  };
  for (const auto& c : cases) {
    TSerialFlowControl f;
    f.SetControlRTS(rtsToggle);
    f.SetXonXoffIn(true);
    f.SetOutDSRFlow(true);
    f.SetControlDTR(dtrEnable);
    f.SetDSRSensitivity(true);
    f.SetXoffChar(u'z');
    f.SetFlowControl(c.written);
    SCOPED_TRACE(c.written);
    EXPECT_EQ(f.ControlRTS(), c.rts);
    EXPECT_EQ(f.OutCTSFlow(), c.cts);
    EXPECT_EQ(f.XonXoffIn(), c.xIn);
    EXPECT_EQ(f.XonXoffOut(), c.xOut);
    EXPECT_TRUE(f.OutDSRFlow());
    EXPECT_EQ(f.ControlDTR(), dtrEnable);
    EXPECT_TRUE(f.DSRSensitivity());
    EXPECT_EQ(f.XoffChar(), u'z');
  }
}

TEST(FlowControlPreset, HardwareStaysHardwareUntilItsFieldsChange) {
  TSerialFlowControl f;
  f.SetFlowControl(fcHardware);
  f.SetOutDSRFlow(true);
  f.SetControlDTR(dtrHandshake);
  EXPECT_EQ(f.FlowControl(), fcHardware);
  f.SetControlRTS(rtsEnable);
  EXPECT_EQ(f.FlowControl(), fcCustom);
}

// Which device call a property write makes on an open port, and that an equal value makes none.
class ChangeRuleTest : public ScriptedPortTest {};

TEST_F(ChangeRuleTest, EachWriteAppliesItsGroupOnlyWhenItDiffers) {
  struct Case {
    const char* what;
    std::function<void(TCustomSerialPort&)> write;
    std::vector<std::string> calls;
  };
  const std::string timeouts = "SetCommTimeouts(4294967295, 0, 0, 100, 1000)";
  TSerialParity parity;
  TSerialFlowControl flow;
  TSerialTimeouts tmo;
  TSerialBuffer buf;
  const std::vector<Case> cases = {
      {"BaudRate same", [](auto& p) { p.SetBaudRate(br9600); }, {}},
      {"BaudRate", [](auto& p) { p.SetBaudRate(br19200); }, {"SetCommState()"}},
      {"CustomBaudRate same", [](auto& p) { p.SetCustomBaudRate(9600); }, {}},
      {"CustomBaudRate", [](auto& p) { p.SetCustomBaudRate(1000); }, {"SetCommState()"}},
      {"DataBits", [](auto& p) { p.SetDataBits(dbSeven); }, {"SetCommState()"}},
      {"DataBits same", [](auto& p) { p.SetDataBits(dbEight); }, {}},
      {"StopBits", [](auto& p) { p.SetStopBits(sbTwoStopBits); }, {"SetCommState()"}},
      {"DiscardNull", [](auto& p) { p.SetDiscardNull(true); }, {"SetCommState()"}},
      {"EventChar", [](auto& p) { p.SetEventChar(u'\r'); }, {"SetCommState()"}},
      {"EventChar same", [](auto& p) { p.SetEventChar(0); }, {}},
      {"Parity object, equal", [&](auto& p) { p.SetParity(parity); }, {"SetCommState()"}},
      {"FlowControl object, equal", [&](auto& p) { p.SetFlowControl(flow); }, {"SetCommState()"}},
      {"Timeouts object, equal", [&](auto& p) { p.SetTimeouts(tmo); }, {timeouts}},
      {"Buffer object, equal", [&](auto& p) { p.SetBuffer(buf); }, {"SetupComm(1024, 1024)"}},
      {"Parity.Bits", [](auto& p) { p.Parity().SetBits(prOdd); }, {"SetCommState()"}},
      {"Parity.Bits same", [](auto& p) { p.Parity().SetBits(prNone); }, {}},
      {"Parity.Check", [](auto& p) { p.Parity().SetCheck(true); }, {"SetCommState()"}},
      {"Parity.Replace", [](auto& p) { p.Parity().SetReplace(true); }, {"SetCommState()"}},
      {"Parity.ReplaceChar", [](auto& p) { p.Parity().SetReplaceChar(1); }, {"SetCommState()"}},
      {"FlowControl.OutCTSFlow", [](auto& p) { p.FlowControl().SetOutCTSFlow(true); }, {"SetCommState()"}},
      {"FlowControl.XonChar same", [](auto& p) { p.FlowControl().SetXonChar(17); }, {}},
      {"FlowControl.XoffChar", [](auto& p) { p.FlowControl().SetXoffChar(20); }, {"SetCommState()"}},
      {"FlowControl preset fcCustom", [](auto& p) { p.FlowControl().SetFlowControl(fcCustom); }, {"SetCommState()"}},
      {"FlowControl preset equal", [](auto& p) { p.FlowControl().SetFlowControl(fcNone); }, {"SetCommState()"}},
      {"Timeouts.ReadInterval", [](auto& p) { p.Timeouts().SetReadInterval(5); },
       {"SetCommTimeouts(5, 0, 0, 100, 1000)"}},
      {"Timeouts.WriteTotalConstant same", [](auto& p) { p.Timeouts().SetWriteTotalConstant(1000); }, {}},
      {"Buffer.InputSize", [](auto& p) { p.Buffer().SetInputSize(2048); }, {"SetupComm(2048, 1024)"}},
      {"Buffer.OutputSize odd", [](auto& p) { p.Buffer().SetOutputSize(4097); }, {"SetupComm(1024, 4096)"}},
      {"Buffer.InputSize same", [](auto& p) { p.Buffer().SetInputSize(1024); }, {}},
      {"Events", [](auto& p) { p.SetEvents({evCTS}); }, {}},
      {"CodePage", [](auto& p) { p.SetCodePage(1252); }, {}},
      {"SyncMethod same", [](auto& p) { p.SetSyncMethod(smThreadSync); }, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    // Fresh port each time, so every case starts from the defaults.
    TestPort fresh;
    fresh.SetPort(u"/script/b");
    fresh.SetEvents({});
    fresh.Open();
    ASSERT_TRUE(fresh.Connected());
    device->ClearCalls();
    c.write(fresh);
    EXPECT_EQ(device->CallTexts(), c.calls);

    // The same write on a closed port stores only: a device call on the invalid handle would
    // raise, as this port has no OnException handler.
    TestPort closed;
    EXPECT_NO_THROW(c.write(closed));
  }
  EXPECT_TRUE(errors.reports.empty());
}

TEST_F(ChangeRuleTest, ClosedPortStoresWithoutDeviceCalls) {
  port.SetBaudRate(br57600);
  port.Parity().SetBits(prEven);
  port.Buffer().SetInputSize(513);
  port.Timeouts().SetReadInterval(10);
  EXPECT_TRUE(device->Calls().empty());
  EXPECT_EQ(port.BaudRate(), br57600);
  EXPECT_EQ(port.Buffer().InputSize(), 512);
  // They all reach the device when it opens.
  port.Open();
  EXPECT_EQ(device->State().BaudRate, 57600u);
  EXPECT_EQ(device->State().Parity, comm::EVENPARITY);
  EXPECT_EQ(device->CallTexts("SetupComm"), std::vector<std::string>{"SetupComm(512, 1024)"});
  EXPECT_EQ(device->Timeouts().ReadIntervalTimeout, 10u);
}

// SyncMethod and EventThreadPriority refuse to change while connected (error 14), except while
// loading; an equal value is no change at all.
class RefusedWhileConnectedTest : public ScriptedPortTest {};

TEST_F(RefusedWhileConnectedTest, WithHandler) {
  struct Case {
    const char* what;
    bool open, loading;
    TSyncMethod sync;
    TThreadPriority priority;
    std::vector<int> codes;
    TSyncMethod syncAfter;
    TThreadPriority priorityAfter;
  };
  const std::vector<Case> cases = {
      {"closed", false, false, smNone, tpHighest, {}, smNone, tpHighest},
      {"open", true, false, smWindowSync, tpIdle, {14, 14}, smThreadSync, tpNormal},
      {"open, same values", true, false, smThreadSync, tpNormal, {}, smThreadSync, tpNormal},
      {"open, loading", true, true, smNone, tpLower, {}, smNone, tpLower},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TestPort p;
    porttest::ErrorRecorder rec;
    rec.Attach(p);
    p.SetPort(u"/script/c");
    p.SetEvents({});
    if (c.open) p.Open();
    rec.reports.clear();
    if (c.loading) p.BeginLoading();
    p.SetSyncMethod(c.sync);
    p.SetEventThreadPriority(c.priority);
    EXPECT_EQ(rec.Codes(), c.codes);
    for (const auto& r : rec.reports) {
      EXPECT_EQ(r.message, u"Cannot set property while connected");
      EXPECT_EQ(r.winError, 0);
      EXPECT_EQ(r.winMessage, u"");
    }
    EXPECT_EQ(p.SyncMethod(), c.syncAfter);
    EXPECT_EQ(p.EventThreadPriority(), c.priorityAfter);
  }
}

TEST_F(RefusedWhileConnectedTest, WithoutHandlerRaisesAndKeepsTheValue) {
  port.Open();
  try {
    port.SetSyncMethod(smWindowSync);
    ADD_FAILURE() << "accepted";
  } catch (const ESerialPort& e) {
    EXPECT_EQ(e.Code(), 14);
    EXPECT_EQ(e.WinCode(), -1);
    EXPECT_EQ(e.Message(), u"Cannot set property while connected");
  }
  EXPECT_EQ(port.SyncMethod(), smThreadSync);
  EXPECT_THROW(port.SetEventThreadPriority(tpTimeCritical), ESerialPort);
  EXPECT_EQ(port.EventThreadPriority(), tpNormal);
  port.Close();
  port.SetSyncMethod(smWindowSync);
  EXPECT_EQ(port.SyncMethod(), smWindowSync);
}

}  // namespace
