// Opening and closing the device, and the Connected property.
#include "serial/serialport.h"

#include "serial/serial_thread.h"

namespace serial {

void TCustomSerialPort::Open() {
  if (FConnected) return;
  NotifyBeforeOpen();
  OpenDevice();
  // Connected even when the device refused and the owner's handler took the report: every
  // later operation then reports its own failure, and Close still completes.
  FConnected = true;
  try {
    ApplyPortSettings();
  } catch (...) {
    CloseDevice();
    FConnected = false;
    throw;
  }
  if (FEvents.Empty()) {
    FThreadCreated = false;
  } else {
    // The event thread reads Events and EventThreadPriority as they are now.
    StartEventDelivery();
  }
  NotifyAfterOpen();
}

void TCustomSerialPort::Close() {
  if (!FConnected) return;
  NotifyBeforeClose();
  AbortAllAsync();
  if (FThreadCreated) {
    // Destroying the thread stops it and waits until it has ended, serving its last hand-over.
    FEventThread.reset();
    FThreadCreated = false;
    if (FSyncMethod == smWindowSync) FWindow.reset();
  }
  CloseDevice();
  FConnected = false;
  NotifyAfterClose();
}

void TCustomSerialPort::SetConnected(bool value) {
  if (Loading()) {
    FConnected = value;
    return;
  }
  if (value == FConnected) return;
  if (value) {
    Open();
  } else {
    Close();
  }
}

void TCustomSerialPort::OpenDevice() {
  FHandle = comm::CreateFile(comm::PortPath(FPort), comm::GENERIC_READ | comm::GENERIC_WRITE, 0, nullptr,
                             comm::OPEN_EXISTING, comm::FILE_FLAG_OVERLAPPED, 0);
  if (FHandle == comm::INVALID_HANDLE_VALUE) ReportLastError(1);
}

void TCustomSerialPort::CloseDevice() {
  if (FHandle == comm::INVALID_HANDLE_VALUE) return;
  if (comm::CloseHandle(FHandle)) FHandle = comm::INVALID_HANDLE_VALUE;
}

}  // namespace serial
