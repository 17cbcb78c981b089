// What reaches the device when the settings are pushed: the device control block of each
// configuration, the timeouts record, the queue sizes, their order at open, update batching,
// the loading state, and the errors 7, 8 and 9.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "port_fixture.h"

using namespace serial;
using porttest::ScriptedPortTest;
using porttest::TestPort;

namespace {

using Fields = std::map<std::string, int64_t>;

// Every member of a DCB by name.
Fields DcbFields(const comm::DCB& d) {
  auto byte = [](char c) { return static_cast<int64_t>(static_cast<uint8_t>(c)); };
  return {
      {"DCBlength", d.DCBlength},
      {"BaudRate", d.BaudRate},
      {"fBinary", d.fBinary},
      {"fParity", d.fParity},
      {"fOutxCtsFlow", d.fOutxCtsFlow},
      {"fOutxDsrFlow", d.fOutxDsrFlow},
      {"fDtrControl", d.fDtrControl},
      {"fDsrSensitivity", d.fDsrSensitivity},
      {"fTXContinueOnXoff", d.fTXContinueOnXoff},
      {"fOutX", d.fOutX},
      {"fInX", d.fInX},
      {"fErrorChar", d.fErrorChar},
      {"fNull", d.fNull},
      {"fRtsControl", d.fRtsControl},
      {"fAbortOnError", d.fAbortOnError},
      {"fDummy2", d.fDummy2},
      {"wReserved", d.wReserved},
      {"XonLim", d.XonLim},
      {"XoffLim", d.XoffLim},
      {"ByteSize", d.ByteSize},
      {"Parity", d.Parity},
      {"StopBits", d.StopBits},
      {"XonChar", byte(d.XonChar)},
      {"XoffChar", byte(d.XoffChar)},
      {"ErrorChar", byte(d.ErrorChar)},
      {"EofChar", byte(d.EofChar)},
      {"EvtChar", byte(d.EvtChar)},
      {"wReserved1", d.wReserved1},
  };
}

// The DCB of a new port: everything 0 but these.
Fields DefaultDcb(const Fields& changes = {}) {
  Fields f = DcbFields(comm::DCB{});
  f["DCBlength"] = 28;
  f["BaudRate"] = 9600;
  f["fBinary"] = 1;
  f["XonLim"] = 256;
  f["XoffLim"] = 256;
  f["ByteSize"] = 8;
  f["XonChar"] = 17;
  f["XoffChar"] = 19;
  for (const auto& [k, v] : changes) f[k] = v;
  return f;
}

class DcbTest : public ScriptedPortTest {};

TEST_F(DcbTest, EachConfigurationGivesItsDeviceControlBlock) {
  struct Case {
    const char* what;
    std::function<void(TCustomSerialPort&)> configure;
    Fields changes;
  };
  const std::vector<Case> cases = {
      {"defaults", [](auto&) {}, {}},
      {"brCustom takes CustomBaudRate",
       [](auto& p) {
         p.SetBaudRate(brCustom);
         p.SetCustomBaudRate(1000);
       },
       {{"BaudRate", 1000}}},
      {"other speeds ignore CustomBaudRate",
       [](auto& p) {
         p.SetBaudRate(br256000);
         p.SetCustomBaudRate(1000);
       },
       {{"BaudRate", 256000}}},
      {"negative custom speed passes unchanged",
       [](auto& p) {
         p.SetBaudRate(brCustom);
         p.SetCustomBaudRate(-1);
       },
       {{"BaudRate", 0xFFFFFFFF}}},
      {"replace without check has no effect",
       [](auto& p) {
         p.Parity().SetBits(prEven);
         p.Parity().SetReplace(true);
         p.Parity().SetReplaceChar(u'X');
       },
       {{"Parity", comm::EVENPARITY}}},
      {"check without replace",
       [](auto& p) {
         p.Parity().SetCheck(true);
         p.Parity().SetReplaceChar(u'X');
       },
       {{"fParity", 1}}},
      {"check and replace, low 8 bits of the character",
       [](auto& p) {
         p.Parity().SetBits(prOdd);
         p.Parity().SetCheck(true);
         p.Parity().SetReplace(true);
         p.Parity().SetReplaceChar(u'\u01A3');
       },
       {{"fParity", 1}, {"fErrorChar", 1}, {"ErrorChar", 0xA3}, {"Parity", comm::ODDPARITY}}},
      {"fcHardware", [](auto& p) { p.FlowControl().SetFlowControl(fcHardware); },
       {{"fOutxCtsFlow", 1}, {"fRtsControl", comm::RTS_CONTROL_HANDSHAKE}}},
      {"fcSoftware", [](auto& p) { p.FlowControl().SetFlowControl(fcSoftware); }, {{"fOutX", 1}, {"fInX", 1}}},
      {"the other flow fields",
       [](auto& p) {
         auto& f = p.FlowControl();
         f.SetOutDSRFlow(true);
         f.SetControlDTR(dtrHandshake);
         f.SetControlRTS(rtsToggle);
         f.SetDSRSensitivity(true);
         f.SetTxContinueOnXoff(true);
         f.SetXonChar(u'\u0111');
         f.SetXoffChar(u'\u2013');
       },
       {{"fOutxDsrFlow", 1},
        {"fDtrControl", comm::DTR_CONTROL_HANDSHAKE},
        {"fRtsControl", comm::RTS_CONTROL_TOGGLE},
        {"fDsrSensitivity", 1},
        {"fTXContinueOnXoff", 1},
        {"XonChar", 0x11},
        {"XoffChar", 0x13}}},
      {"DTR and RTS enabled",
       [](auto& p) {
         p.FlowControl().SetControlDTR(dtrEnable);
         p.FlowControl().SetControlRTS(rtsEnable);
       },
       {{"fDtrControl", 1}, {"fRtsControl", 1}}},
      {"input queue 2048", [](auto& p) { p.Buffer().SetInputSize(2048); }, {{"XonLim", 512}, {"XoffLim", 512}}},
      {"input queue 1026 truncates", [](auto& p) { p.Buffer().SetInputSize(1026); },
       {{"XonLim", 256}, {"XoffLim", 256}}},
      {"input queue beyond 16 bits keeps the low bits", [](auto& p) { p.Buffer().SetInputSize(262148); },
       {{"XonLim", 1}, {"XoffLim", 1}}},
      {"negative input queue", [](auto& p) { p.Buffer().SetInputSize(-8); },
       {{"XonLim", 0xFFFE}, {"XoffLim", 0xFFFE}}},
      {"5 data bits, 1.5 stop bits, mark",
       [](auto& p) {
         p.SetDataBits(dbFive);
         p.SetStopBits(sbOne5StopBits);
         p.Parity().SetBits(prMark);
       },
       {{"ByteSize", 5}, {"StopBits", comm::ONE5STOPBITS}, {"Parity", comm::MARKPARITY}}},
      {"6 data bits, 2 stop bits, space",
       [](auto& p) {
         p.SetDataBits(dbSix);
         p.SetStopBits(sbTwoStopBits);
         p.Parity().SetBits(prSpace);
       },
       {{"ByteSize", 6}, {"StopBits", comm::TWOSTOPBITS}, {"Parity", comm::SPACEPARITY}}},
      {"discard NUL, event character",
       [](auto& p) {
         p.SetDiscardNull(true);
         p.SetEventChar(u'\u010D');
         p.SetDataBits(dbSeven);
       },
       {{"fNull", 1}, {"EvtChar", 0x0D}, {"ByteSize", 7}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TestPort p;
    p.SetPort(u"/script/dcb");
    p.SetEvents({});
    c.configure(p);
    device->ClearCalls();
    p.Open();
    ASSERT_EQ(device->CallTexts("SetCommState").size(), 1u);
    EXPECT_EQ(DcbFields(device->State()), DefaultDcb(c.changes));
  }
}

TEST_F(DcbTest, BuiltFromScratchEachTime) {
  // Whatever the device held before, the block handed over holds only the port's settings.
  OpenQuietly();
  port.SetBaudRate(br115200);
  port.SetBaudRate(br9600);
  EXPECT_EQ(DcbFields(device->State()), DefaultDcb());
  const auto calls = device->Calls();
  ASSERT_EQ(calls.size(), 2u);
  ASSERT_TRUE(calls[0].dcb.has_value());
  EXPECT_EQ(calls[0].dcb->BaudRate, 115200u);
}

class OpenApplyTest : public ScriptedPortTest {};

// Opening pushes queue sizes, then the line settings, then the timeouts, then reads the lines.
TEST_F(OpenApplyTest, OrderAndValuesAtOpen) {
  port.Timeouts().SetReadInterval(50);
  port.Timeouts().SetReadTotalMultiplier(2);
  port.Timeouts().SetReadTotalConstant(-1);
  port.Timeouts().SetWriteTotalMultiplier(0);
  port.Timeouts().SetWriteTotalConstant(7);
  port.Buffer().SetInputSize(4096);
  port.Buffer().SetOutputSize(511);
  port.Open();
  EXPECT_EQ(device->CallTexts(), (std::vector<std::string>{
                                     "CreateFile(\"/script/a\", 0)",
                                     "SetupComm(4096, 510)",
                                     "SetCommState()",
                                     "SetCommTimeouts(50, 2, 4294967295, 0, 7)",
                                     "GetCommModemStatus()",
                                     "GetCommModemStatus()",
                                     "GetCommModemStatus()",
                                 }));
  EXPECT_EQ(device->State().XonLim, 1024);
}

TEST_F(OpenApplyTest, DefaultTimeoutsGoOverAsAllOnes) {
  port.Open();
  const auto t = device->Timeouts();
  EXPECT_EQ(t.ReadIntervalTimeout, 0xFFFFFFFFu);
  EXPECT_EQ(t.ReadTotalTimeoutMultiplier, 0u);
  EXPECT_EQ(t.ReadTotalTimeoutConstant, 0u);
  EXPECT_EQ(t.WriteTotalTimeoutMultiplier, 100u);
  EXPECT_EQ(t.WriteTotalTimeoutConstant, 1000u);
}

// Between BeginUpdate and the EndUpdate that brings the depth to 0, nothing reaches the device.
TEST_F(OpenApplyTest, UpdateBatching) {
  OpenQuietly();
  port.BeginUpdate();
  port.BeginUpdate();
  port.SetBaudRate(br38400);
  port.Parity().SetBits(prOdd);
  port.Timeouts().SetReadInterval(20);
  port.Buffer().SetInputSize(2048);
  port.SetFlowControl(port.FlowControl());
  port.EndUpdate();
  EXPECT_TRUE(device->Calls().empty());
  port.EndUpdate();
  EXPECT_EQ(device->CallTexts(), (std::vector<std::string>{"SetupComm(2048, 1024)", "SetCommState()",
                                                           "SetCommTimeouts(20, 0, 0, 100, 1000)"}));
  EXPECT_EQ(DcbFields(device->State()),
            DefaultDcb({{"BaudRate", 38400}, {"Parity", comm::ODDPARITY}, {"XonLim", 512}, {"XoffLim", 512}}));
  device->ClearCalls();
  port.EndUpdate();  // already at 0: nothing
  port.SetBaudRate(br1200);
  EXPECT_EQ(device->CallTexts(), std::vector<std::string>{"SetCommState()"});
}

TEST_F(OpenApplyTest, OpenInsideAnUpdatePushesAtEndUpdate) {
  port.BeginUpdate();
  port.Open();
  EXPECT_EQ(device->CallTexts(), (std::vector<std::string>{"CreateFile(\"/script/a\", 0)", "GetCommModemStatus()",
                                                           "GetCommModemStatus()", "GetCommModemStatus()"}));
  device->ClearCalls();
  port.EndUpdate();
  EXPECT_EQ(device->CallTexts(), (std::vector<std::string>{"SetupComm(1024, 1024)", "SetCommState()",
                                                           "SetCommTimeouts(4294967295, 0, 0, 100, 1000)"}));
}

// A refused configuring call reports 7, 8 or 9 with the system error; with a handler the next
// step still runs, without one the report ends the operation. The value stays stored.
TEST_F(OpenApplyTest, ApplyErrors) {
  struct Case {
    const char* call;
    int code;
    std::vector<std::string> callsWithoutHandler;
  };
  const std::vector<Case> cases = {
      {"SetupComm", 9, {"SetupComm"}},
      {"SetCommState", 7, {"SetupComm", "SetCommState"}},
      {"SetCommTimeouts", 8, {"SetupComm", "SetCommState", "SetCommTimeouts"}},
  };
  auto names = [this] {
    std::vector<std::string> n;
    for (const auto& c : device->Calls()) n.push_back(c.name);
    return n;
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.call);
    TestPort p;
    p.SetPort(u"/script/e");
    p.SetEvents({});
    p.Open();

    // With a handler.
    porttest::ErrorRecorder rec;
    rec.Attach(p);
    device->ClearCalls();
    device->FailNext(c.call, 87);
    p.ApplyPortSettings();
    EXPECT_EQ(names(), (std::vector<std::string>{"SetupComm", "SetCommState", "SetCommTimeouts"}));
    ASSERT_EQ(rec.Codes(), std::vector<int>{c.code});
    EXPECT_EQ(rec.reports[0].message, PortErrorMessages[c.code]);
    EXPECT_EQ(rec.reports[0].winError, 87);
    EXPECT_EQ(rec.reports[0].winMessage, u"Erreur système.  Code : 87.\r\nParamètre incorrect.");

    // Without one.
    p.SetOnException(nullptr);
    device->ClearCalls();
    device->FailNext(c.call, 87);
    try {
      p.ApplyPortSettings();
      ADD_FAILURE() << "nothing raised";
    } catch (const ESerialPort& e) {
      EXPECT_EQ(e.Code(), c.code);
      EXPECT_EQ(e.WinCode(), 87);
      EXPECT_EQ(e.Message(), std::u16string(PortErrorMessages[c.code]) + u" (Error: 87)");
    }
    EXPECT_EQ(names(), c.callsWithoutHandler);
  }
}

TEST_F(OpenApplyTest, RefusedSettingStaysStored) {
  OpenQuietly();
  device->FailNext("SetCommState", 87);
  EXPECT_THROW(port.SetBaudRate(br600), ESerialPort);
  EXPECT_EQ(port.BaudRate(), br600);
  device->FailNext("SetupComm", 87);
  EXPECT_THROW(port.Buffer().SetOutputSize(64), ESerialPort);
  EXPECT_EQ(port.Buffer().OutputSize(), 64);
}

// Without a handler a refused setting at open closes the device again and leaves the port closed.
TEST_F(OpenApplyTest, FailureAtOpenWithoutHandlerClosesAgain) {
  porttest::LogNotifications(port, log);
  device->FailNext("SetCommState", 31);
  try {
    port.Open();
    ADD_FAILURE() << "nothing raised";
  } catch (const ESerialPort& e) {
    EXPECT_EQ(e.Code(), 7);
    EXPECT_EQ(e.WinCode(), 31);
  }
  EXPECT_FALSE(port.Connected());
  EXPECT_EQ(port.Handle(), comm::INVALID_HANDLE_VALUE);
  EXPECT_FALSE(device->IsOpen());
  EXPECT_EQ(device->CallTexts(), (std::vector<std::string>{"CreateFile(\"/script/a\", 0)", "SetupComm(1024, 1024)",
                                                           "SetCommState()", "CloseHandle()"}));
  EXPECT_EQ(log, std::vector<std::string>{"BeforeOpen"});
  // The next Open starts afresh.
  port.Open();
  EXPECT_TRUE(port.Connected());
  EXPECT_TRUE(device->IsOpen());
}

TEST_F(OpenApplyTest, FailureAtOpenWithHandlerGoesOn) {
  errors.Attach(port);
  device->FailNext("SetupComm", 87);
  port.Open();
  EXPECT_EQ(errors.Codes(), std::vector<int>{9});
  EXPECT_TRUE(port.Connected());
  EXPECT_EQ(device->CallTexts("SetCommTimeouts").size(), 1u);
}

// While loading nothing reaches the device and Connected is only stored; at the end a stored
// Connected opens the port.
class LoadingTest : public ScriptedPortTest {};

TEST_F(LoadingTest, StoredConnectedOpensWhenLoadingEnds) {
  TestPort p;
  p.BeginLoading();
  p.SetPort(u"/script/loaded");
  p.SetEvents({});
  p.SetConnected(true);
  EXPECT_TRUE(p.Connected());
  p.SetBaudRate(br2400);
  p.SetSyncMethod(smNone);  // accepted while loading even though Connected reads true
  p.SetPort(u"/script/loaded2");
  EXPECT_TRUE(device->Calls().empty());
  EXPECT_EQ(p.SyncMethod(), smNone);
  p.EndLoading();
  EXPECT_TRUE(p.Connected());
  EXPECT_NE(p.Handle(), comm::INVALID_HANDLE_VALUE);
  EXPECT_EQ(device->CallTexts(), (std::vector<std::string>{
                                     "CreateFile(\"/script/loaded2\", 0)",
                                     "SetupComm(1024, 1024)",
                                     "SetCommState()",
                                     "SetCommTimeouts(4294967295, 0, 0, 100, 1000)",
                                     "GetCommModemStatus()",
                                     "GetCommModemStatus()",
                                     "GetCommModemStatus()",
                                 }));
  EXPECT_EQ(device->State().BaudRate, 2400u);
}

TEST_F(LoadingTest, OpenFailureAtTheEndGoesToTheExceptionDisplay) {
  struct Case {
    const char* what;
    bool display;
  };
  for (const Case c : {Case{"with display", true}, Case{"without display", false}}) {
    SCOPED_TRACE(c.what);
    device->RefuseOpen(5);
    TestPort p;
    std::vector<std::exception_ptr> shown;
    if (c.display) p.SetExceptionDisplay([&](std::exception_ptr e) { shown.push_back(e); });
    p.BeginLoading();
    p.SetPort(u"/script/refused");
    p.SetEvents({});
    p.SetConnected(true);
    EXPECT_NO_THROW(p.EndLoading());
    EXPECT_FALSE(p.Connected());
    ASSERT_EQ(shown.size(), c.display ? 1u : 0u);
    if (c.display) {
      try {
        std::rethrow_exception(shown[0]);
      } catch (const ESerialPort& e) {
        EXPECT_EQ(e.Code(), 1);
        EXPECT_EQ(e.WinCode(), 5);
      }
    }
  }
}

TEST_F(LoadingTest, WithoutStoredConnectedNothingOpens) {
  TestPort p;
  p.BeginLoading();
  p.SetPort(u"/script/x");
  p.SetConnected(true);
  p.SetConnected(false);
  p.EndLoading();
  EXPECT_FALSE(p.Connected());
  EXPECT_TRUE(device->Calls().empty());
}

// A port that was open when loading began keeps its device: nothing is applied while loading,
// and the end of loading does not open it a second time.
TEST_F(LoadingTest, OpenPortKeepsItsDevice) {
  OpenQuietly();
  const comm::HANDLE h = port.Handle();
  port.BeginLoading();
  port.SetBaudRate(br1200);
  port.SetPort(u"/script/other");
  port.EndLoading();
  EXPECT_TRUE(device->Calls().empty());
  EXPECT_EQ(port.Handle(), h);
  EXPECT_TRUE(port.Connected());
  port.SetBaudRate(br4800);
  EXPECT_EQ(device->State().BaudRate, 4800u);
}

}  // namespace
