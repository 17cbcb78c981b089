// Error codes and messages, the port error exception, and both branches of the reporting path.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "port_fixture.h"
#include "runtime/lasterror.h"
#include "runtime/syserror.h"
#include "serial/serial_errors.h"

using namespace serial;
using porttest::ErrorRecorder;
using porttest::TestPort;
using porttest::Utf8;

namespace {

TEST(PortErrorMessages, OneTextPerCodeIndexedByTheCode) {
  const std::vector<std::u16string> expected = {
      u"Unable to open com port",
      u"WriteFile function failed",
      u"ReadFile function failed",
      u"Invalid Async parameter",
      u"PurgeComm function failed",
      u"Unable to get async status",
      u"SetCommState function failed",
      u"SetCommTimeouts failed",
      u"SetupComm function failed",
      u"ClearCommError function failed",
      u"GetCommModemStatus function failed",
      u"EscapeCommFunction function failed",
      u"TransmitCommChar function failed",
      u"Cannot set property while connected",
      u"EnumPorts function failed",
      u"Failed to store settings",
      u"Failed to load settings",
      u"Link (un)registration failed",
      u"Cannot change led state if port is selected",
      u"Cannot wait for event if event thread is created",
      u"WaitForEvent method failed",
      u"A component is linked to OnRxBuf event",
      u"Registry error",
      u"Port Not Open",
  };
  ASSERT_EQ(PortErrorMessages.size(), 24u);
  for (int code = 1; code <= 24; ++code) EXPECT_EQ(PortErrorMessages[code], expected[code - 1]) << code;
  for (int code : {0, -1, 25, 1000}) EXPECT_TRUE(PortErrorMessages[code].empty()) << code;
  EXPECT_EQ(peOpenFailed, 0);
  EXPECT_EQ(pePortNotOpen, 23);
}

TEST(ESerialPort, BothConstructors) {
  struct Case {
    ESerialPort e;
    int32_t code, winCode;
    std::u16string message;
  };
  const std::vector<Case> cases = {
      {ESerialPort::Create(7, 87), 7, 87, u"SetCommState function failed (Error: 87)"},
      {ESerialPort::Create(1, 0), 1, 0, u"Unable to open com port (Error: 0)"},
      {ESerialPort::Create(2, -5), 2, -5, u"WriteFile function failed (Error: -5)"},
      {ESerialPort::CreateNoWinCode(14), 14, -1, u"Cannot set property while connected"},
      {ESerialPort::CreateNoWinCode(24), 24, -1, u"Port Not Open"},
      {ESerialPort(99), 99, -1, u""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Utf8(c.message));
    EXPECT_EQ(c.e.Code(), c.code);
    EXPECT_EQ(c.e.WinCode(), c.winCode);
    EXPECT_EQ(c.e.Message(), c.message);
    EXPECT_EQ(std::string(c.e.what()), Utf8(c.message));
  }
  ESerialPort e(5, 6);
  e.SetCode(9);
  e.SetWinCode(31);
  EXPECT_EQ(e.Code(), 9);
  EXPECT_EQ(e.WinCode(), 31);
}

// Without OnException the report raises; a number counts only when it is positive, and only its
// low 32 bits are kept.
TEST(ReportPortError, WithoutHandlerRaises) {
  struct Case {
    uint16_t code;
    int64_t number;
    int32_t winCode;
    std::u16string message;
  };
  const std::vector<Case> cases = {
      {7, 87, 87, u"SetCommState function failed (Error: 87)"},
      {14, 0, -1, u"Cannot set property while connected"},
      {24, -24, -1, u"Port Not Open"},
      {1, 0x100000005LL, 5, u"Unable to open com port (Error: 5)"},
      {12, 0xFFFFFFFFLL, -1, u"EscapeCommFunction function failed (Error: -1)"},
  };
  TestPort port;
  for (const auto& c : cases) {
    SCOPED_TRACE(Utf8(c.message));
    try {
      port.ReportPortError(c.code, c.number);
      ADD_FAILURE() << "nothing raised";
    } catch (const ESerialPort& e) {
      EXPECT_EQ(e.Code(), c.code);
      EXPECT_EQ(e.WinCode(), c.winCode);
      EXPECT_EQ(e.Message(), c.message);
    }
  }
}

// With OnException the handler is called once and nothing is raised; WinMessage is the system's
// text for the thread's last error at that moment, and only for a positive number.
TEST(ReportPortError, WithHandlerNotifies) {
  struct Case {
    uint16_t code;
    int64_t number;
    uint32_t lastError;
    TSerialExceptions member;
    std::u16string message;
    std::u16string winMessage;
  };
  const std::vector<Case> cases = {
      {7, 87, 87, peSetStateFailed, u"SetCommState function failed",
       u"Erreur système.  Code : 87.\r\nParamètre incorrect."},
      {1, 5, 5, peOpenFailed, u"Unable to open com port", u"Erreur système.  Code : 5.\r\nAccès refusé."},
      {24, -24, 87, pePortNotOpen, u"Port Not Open", u""},
      {18, 0, 87, peRegFailed, u"Link (un)registration failed", u""},
      {21, 31, 0, peWaitFailed, u"WaitForEvent method failed",
       u"Un appel à une fonction du système d'exploitation a échoué"},
      {12, 0x100000006LL, 6, peEscapeComFailed, u"EscapeCommFunction function failed",
       rtl::SystemErrorText(6)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Utf8(c.message));
    TestPort port;
    ErrorRecorder errors;
    errors.Attach(port);
    rtl::SetLastError(c.lastError);
    EXPECT_NO_THROW(port.ReportPortError(c.code, c.number));
    ASSERT_EQ(errors.reports.size(), 1u);
    const auto& r = errors.reports[0];
    EXPECT_EQ(r.sender, &port);
    EXPECT_EQ(r.error, c.member);
    EXPECT_EQ(r.message, c.message);
    EXPECT_EQ(r.winError, c.number);  // all 64 bits, negative ones too
    EXPECT_EQ(r.winMessage, c.winMessage);
  }
}

TEST(ReportPortError, HandlerExceptionLeavesTheOperation) {
  TestPort port;
  port.SetOnException([](rtl::TObject*, TSerialExceptions, const std::u16string&, int64_t, const std::u16string&) {
    throw std::runtime_error("from the handler");
  });
  EXPECT_THROW(port.ReportPortError(5, 6), std::runtime_error);
  // A line operation on the closed port reports 12; the handler's exception ends it.
  EXPECT_THROW(port.SetRTS(true), std::runtime_error);
}

// A handler that replaces itself while it runs must not pull the running code from under it.
TEST(ReportPortError, HandlerMayReplaceItself) {
  TestPort port;
  int first = 0, second = 0;
  std::string captured(200, 'x');  // large enough to live outside the function object
  port.SetOnException([&, captured](rtl::TObject*, TSerialExceptions, const std::u16string&, int64_t,
                                    const std::u16string&) {
    port.SetOnException([&](rtl::TObject*, TSerialExceptions, const std::u16string&, int64_t,
                            const std::u16string&) { ++second; });
    first += static_cast<int>(captured.size());
  });
  port.ReportPortError(5, 6);
  port.ReportPortError(5, 6);
  EXPECT_EQ(first, 200);
  EXPECT_EQ(second, 1);
}

}  // namespace
