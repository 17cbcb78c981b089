// The backend side of the device interface: one Device object per open handle.
#pragma once

#include <memory>

#include "serial/device/comm.h"

namespace comm {

// A backend device. The dispatcher (comm.cpp) maps handles to these objects; each call returns
// false after SetLastError on failure, as the platform calls do. Calls may come from several
// threads at once (one read, one write and one event wait may be pending together).
class Device : public std::enable_shared_from_this<Device> {
 public:
  virtual ~Device() = default;

  virtual bool SetupComm(uint32_t inQueue, uint32_t outQueue) = 0;
  virtual bool GetCommState(DCB* dcb) = 0;
  virtual bool SetCommState(const DCB& dcb) = 0;
  virtual bool GetCommTimeouts(COMMTIMEOUTS* timeouts) = 0;
  virtual bool SetCommTimeouts(const COMMTIMEOUTS& timeouts) = 0;
  virtual bool GetCommMask(uint32_t* mask) = 0;
  virtual bool SetCommMask(uint32_t mask) = 0;
  virtual bool WaitCommEvent(uint32_t* mask, OVERLAPPED* overlapped) = 0;
  virtual bool ReadFile(void* buffer, uint32_t count, uint32_t* done, OVERLAPPED* overlapped) = 0;
  virtual bool WriteFile(const void* buffer, uint32_t count, uint32_t* done, OVERLAPPED* overlapped) = 0;
  // Default: from the record's Internal/InternalHigh, waiting on hEvent when asked.
  virtual bool GetOverlappedResult(OVERLAPPED* overlapped, uint32_t* transferred, bool wait);
  virtual bool PurgeComm(uint32_t flags) = 0;
  virtual bool ClearCommError(uint32_t* errors, COMSTAT* stat) = 0;
  virtual bool GetCommModemStatus(uint32_t* status) = 0;
  virtual bool EscapeCommFunction(uint32_t function) = 0;
  virtual bool TransmitCommChar(char c) = 0;

  // The handle is being closed: end every pending operation (995) and release every resource
  // (descriptor, lock, threads). Called once, before the last reference goes.
  virtual void Close() = 0;
  // The record is being destroyed while an operation of it may still be pending: forget that
  // operation without touching the record afterwards.
  virtual void Cancel(OVERLAPPED* overlapped) = 0;

 protected:
  // Marks the record's operation started: event reset, Internal = ERROR_IO_PENDING, and the
  // record remembers this device so that its destruction cancels the operation.
  void BeginOperation(OVERLAPPED* overlapped);
  // Ends the record's operation: count and error stored, then the event signalled.
  static void CompleteOperation(OVERLAPPED* overlapped, uint32_t error, uint32_t count);
  // A start that fails at once: the record holds the error and stays signalled; sets the last
  // error and returns false.
  static bool FailStart(OVERLAPPED* overlapped, uint32_t error);
};

}  // namespace comm
