// Construction, destruction, the settings properties, update batching and error reporting.
#include "serial/serialport.h"

#include "runtime/lasterror.h"
#include "runtime/syserror.h"
#include "serial/serial_thread.h"

namespace serial {

TCustomSerialPort::TCustomSerialPort() {
  FParity = std::make_unique<TSerialParity>(this);
  FFlowControl = std::make_unique<TSerialFlowControl>(this);
  FTimeouts = std::make_unique<TSerialTimeouts>(this);
  FBuffer = std::make_unique<TSerialBuffer>(this);
}

TCustomSerialPort::~TCustomSerialPort() {
  // Nothing may leave a destructor: a failure of Close goes to the exception display.
  try {
    Close();
  } catch (...) {
    try {
      ShowException(std::current_exception());
    } catch (...) {
    }
  }
  // A Close that ended part-way must not leave a running thread or an open device behind.
  if (FConnected) {
    FEventThread.reset();
    FThreadCreated = false;
    FWindow.reset();
    CloseDevice();
    FConnected = false;
  }
  FBuffer.reset();
  FFlowControl.reset();
  FTimeouts.reset();
  FParity.reset();
}

// --- Settings properties ---------------------------------------------------------------------

void TCustomSerialPort::SetPort(const std::u16string& value) {
  if (value == FPort) return;
  FPort = value;
  if (FConnected && !Loading()) {
    Close();
    Open();
  }
}

void TCustomSerialPort::SetBaudRate(TBaudRate value) {
  if (value == FBaudRate) return;
  FBaudRate = value;
  ApplyLineSettings();
}

void TCustomSerialPort::SetCustomBaudRate(int32_t value) {
  if (value == FCustomBaudRate) return;
  FCustomBaudRate = value;
  ApplyLineSettings();
}

void TCustomSerialPort::SetDataBits(TDataBits value) {
  if (value == FDataBits) return;
  FDataBits = value;
  ApplyLineSettings();
}

void TCustomSerialPort::SetStopBits(TStopBits value) {
  if (value == FStopBits) return;
  FStopBits = value;
  ApplyLineSettings();
}

void TCustomSerialPort::SetDiscardNull(bool value) {
  if (value == FDiscardNull) return;
  FDiscardNull = value;
  ApplyLineSettings();
}

void TCustomSerialPort::SetEventChar(char16_t value) {
  if (value == FEventChar) return;
  FEventChar = value;
  ApplyLineSettings();
}

void TCustomSerialPort::SetParity(const TSerialParity& value) {
  FParity->Assign(&value);
  ApplyLineSettings();
}

void TCustomSerialPort::SetFlowControl(const TSerialFlowControl& value) {
  FFlowControl->Assign(&value);
  ApplyLineSettings();
}

void TCustomSerialPort::SetTimeouts(const TSerialTimeouts& value) {
  FTimeouts->Assign(&value);
  ApplyTimeoutSettings();
}

void TCustomSerialPort::SetBuffer(const TSerialBuffer& value) {
  FBuffer->Assign(&value);
  ApplyBufferSizes();
}

void TCustomSerialPort::SetSyncMethod(TSyncMethod value) {
  if (value == FSyncMethod) return;
  // The event thread and the hidden window were made for the current method.
  if (FConnected && !Loading()) {
    ReportPortError(14);
    return;
  }
  FSyncMethod = value;
}

void TCustomSerialPort::SetEventThreadPriority(TThreadPriority value) {
  if (value == FEventThreadPriority) return;
  if (FConnected && !Loading()) {
    ReportPortError(14);
    return;
  }
  FEventThreadPriority = value;
}

void TCustomSerialPort::SetTriggersOnRxChar(bool value) {
  if (FHasLink) ReportPortError(22);
  FTriggersOnRxChar = value;
}

void TCustomSerialPort::BeginUpdate() { ++FUpdateCount; }

void TCustomSerialPort::EndUpdate() {
  if (FUpdateCount <= 0) return;
  if (--FUpdateCount == 0) ApplyPortSettings();
}

// --- Failures --------------------------------------------------------------------------------

void TCustomSerialPort::ReportPortError(uint16_t code, int64_t winError) {
  if (!FOnException) {
    if (winError > 0) throw ESerialPort(code, static_cast<int32_t>(static_cast<uint32_t>(winError)));
    throw ESerialPort(code);
  }
  // The last error still holds the refused call's number at this point.
  std::u16string winMessage;
  if (winError > 0) winMessage = rtl::SystemErrorText(rtl::GetLastError());
  const std::u16string portMessage(PortErrorMessages[code]);
  // A copy, so a handler that replaces OnException does not destroy itself while it runs.
  TSerialExceptionEvent handler = FOnException;
  handler(this, static_cast<TSerialExceptions>(code - 1), portMessage, winError, winMessage);
}

void TCustomSerialPort::ReportLastError(uint16_t code) { ReportPortError(code, rtl::GetLastError()); }

void TCustomSerialPort::ShowException(std::exception_ptr e) const {
  if (FExceptionDisplay) {
    auto display = FExceptionDisplay;
    display(std::move(e));
  }
}

void TCustomSerialPort::Loaded() {
  rtl::TComponent::Loaded();
  // Only a Connected stored while loading is opened here: a port that already holds a device
  // or an event thread (loading began while it was open) stays as it is.
  if (!FConnected || FHandle != comm::INVALID_HANDLE_VALUE || FThreadCreated) return;
  FConnected = false;
  try {
    Open();
  } catch (...) {
    ShowException(std::current_exception());
  }
}

}  // namespace serial
