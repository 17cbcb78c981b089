// Shared pieces of the port engine tests: a port whose protected operations the tests can reach,
// a recorder for OnException, and a fixture with a scripted device installed at "/script/".
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "runtime/text.h"
#include "scripted_device.h"
#include "serial/serialport.h"

namespace porttest {

// TSerialPort with the protected steps made reachable.
class TestPort : public serial::TSerialPort {
 public:
  using TCustomSerialPort::AnyLinkWantsRxBuf;
  using TCustomSerialPort::ApplyPortSettings;
  using TCustomSerialPort::HandleBreak;
  using TCustomSerialPort::HandleCTSChange;
  using TCustomSerialPort::HandleDSRChange;
  using TCustomSerialPort::HandleError;
  using TCustomSerialPort::HandleRing;
  using TCustomSerialPort::HandleRLSDChange;
  using TCustomSerialPort::HandleRx80Full;
  using TCustomSerialPort::HandleRxFlag;
  using TCustomSerialPort::HandleTxEmpty;
  using TCustomSerialPort::NotifyLinks;
  using TCustomSerialPort::ReportPortError;
  using TCustomSerialPort::SignalLinks;
  using TCustomSerialPort::TxBufToLinks;
};

// One OnException call.
struct Reported {
  serial::TSerialExceptions error;
  std::u16string message;
  int64_t winError;
  std::u16string winMessage;
  rtl::TObject* sender;
};

// Collects every OnException call of the port it is attached to.
class ErrorRecorder {
 public:
  void Attach(serial::TCustomSerialPort& port) {
    port.SetOnException([this](rtl::TObject* sender, serial::TSerialExceptions e, const std::u16string& msg,
                               int64_t win, const std::u16string& winMsg) {
      reports.push_back({e, msg, win, winMsg, sender});
    });
  }
  // The error codes reported so far (ordinal + 1).
  std::vector<int> Codes() const {
    std::vector<int> codes;
    for (const auto& r : reports) codes.push_back(static_cast<int>(r.error) + 1);
    return codes;
  }
  std::vector<Reported> reports;
};

// A scripted device installed at "/script/" and a port named "/script/a" that watches no events,
// so opening it starts no event delivery.
class ScriptedPortTest : public ::testing::Test {
 protected:
  ScriptedPortTest() : install_("/script/", device) {
    port.SetPort(u"/script/a");
    port.SetEvents({});
  }

  // Opens the port and forgets the calls the opening made.
  void OpenQuietly() {
    port.Open();
    ASSERT_TRUE(port.Connected());
    device->ClearCalls();
  }

  std::shared_ptr<scripted::ScriptedDevice> device = std::make_shared<scripted::ScriptedDevice>();

 private:
  scripted::ScriptedInstall install_;

 protected:
  // Before the port: its destructor may still report and notify.
  ErrorRecorder errors;
  std::vector<std::string> log;
  TestPort port;
};

// Wires every notification of port into log, as "Name" or "Name(value)".
inline void LogNotifications(serial::TCustomSerialPort& port, std::vector<std::string>& log) {
  auto note = [&log](const char* name) { return [&log, name](rtl::TObject*) { log.push_back(name); }; };
  auto signal = [&log](const char* name) {
    return [&log, name](rtl::TObject*, bool on) { log.push_back(std::string(name) + (on ? "(1)" : "(0)")); };
  };
  port.SetOnBeforeOpen(note("BeforeOpen"));
  port.SetOnAfterOpen(note("AfterOpen"));
  port.SetOnBeforeClose(note("BeforeClose"));
  port.SetOnAfterClose(note("AfterClose"));
  port.SetOnTxEmpty(note("TxEmpty"));
  port.SetOnBreak(note("Break"));
  port.SetOnRing(note("Ring"));
  port.SetOnRxFlag(note("RxFlag"));
  port.SetOnRx80Full(note("Rx80Full"));
  port.SetOnCTSChange(signal("CTS"));
  port.SetOnDSRChange(signal("DSR"));
  port.SetOnRLSDChange(signal("RLSD"));
  port.SetOnRxChar([&log](rtl::TObject*, int32_t n) { log.push_back("RxChar(" + std::to_string(n) + ")"); });
  port.SetOnError([&log](rtl::TObject*, serial::TSerialErrors e) {
    log.push_back("Error(" + std::to_string(e.Bits()) + ")");
  });
}

// Wires every handler of link into log, prefixed with name.
inline void LogLink(serial::TSerialLink& link, std::vector<std::string>& log, const std::string& name = "link") {
  auto note = [&log, name](const char* what) {
    return [&log, name, what](rtl::TObject*) { log.push_back(name + " " + what); };
  };
  auto signal = [&log, name](const char* what) {
    return [&log, name, what](rtl::TObject*, bool on) {
      log.push_back(name + " " + what + (on ? "(1)" : "(0)"));
    };
  };
  link.SetOnConn(signal("Conn"));
  link.SetOnCTSChange(signal("CTS"));
  link.SetOnDSRChange(signal("DSR"));
  link.SetOnRLSDChange(signal("RLSD"));
  link.SetOnTx(signal("Tx"));
  link.SetOnRx(signal("Rx"));
  link.SetOnRing(note("Ring"));
  link.SetOnTxEmpty(note("TxEmpty"));
  link.SetOnRxFlag(note("RxFlag"));
  link.SetOnTxBuf([&log, name](rtl::TObject*, const uint8_t* b, int32_t n) {
    log.push_back(name + " TxBuf(" + std::string(reinterpret_cast<const char*>(b), static_cast<size_t>(n)) + ")");
  });
}

inline std::string Utf8(const std::u16string& s) { return rtl::Utf16ToUtf8(s); }

}  // namespace porttest
