// Reading and writing bytes and text: overlapped starts, waits and checks, and the synchronous
// forms built from them.
#include <algorithm>

#include "runtime/codepage.h"
#include "serial/serial_async.h"
#include "serial/serialport.h"

namespace serial {

void AllocAsync(PAsync& AsyncPtr) {
  AsyncPtr = std::make_unique<TAsync>();
  AsyncPtr->Overlapped.hEvent = rtl::CreateEvent(true, true);
}

void ReleaseAsync(PAsync& AsyncPtr) { AsyncPtr.reset(); }

namespace {

uint32_t ByteCount(int32_t count) { return count > 0 ? static_cast<uint32_t>(count) : 0; }

// An operation of the record is still running. Another start on it would replace the buffers
// the device is still reading from or writing into, so such a start is refused untouched.
bool Busy(const TAsync& a) { return a.Overlapped.Internal.load(std::memory_order_acquire) == rtl::ERROR_IO_PENDING; }

// The start call returned: true when the device refused it (neither done nor pending).
bool RefusedAtOnce(bool ok) { return !ok && rtl::GetLastError() != rtl::ERROR_IO_PENDING; }

}  // namespace

int32_t TCustomSerialPort::WriteAsync(const void* Buffer, int32_t Count, PAsync& AsyncPtr) {
  if (!AsyncPtr) {
    ReportPortError(4);
    return 0;
  }
  TAsync& a = *AsyncPtr;
  if (Busy(a)) {
    rtl::SetLastError(rtl::ERROR_INVALID_PARAMETER);
    ReportLastError(2);
    return 0;
  }
  if (FHandle == comm::INVALID_HANDLE_VALUE) ReportPortError(24, -24);
  // The device writes from the record's own copy, which lives until the record is released.
  a.Kind = okWrite;
  const uint8_t* bytes = static_cast<const uint8_t*>(Buffer);
  a.Data.assign(bytes, bytes + (Buffer ? ByteCount(Count) : 0));
  a.Size = static_cast<int32_t>(a.Data.size());
  uint32_t written = 0;
  a.Refused = RefusedAtOnce(
      comm::WriteFile(FHandle, a.Data.data(), static_cast<uint32_t>(a.Data.size()), &written, &a.Overlapped));
  if (a.Refused) ReportLastError(2);
  SignalLinks(lkTx, true);
  return static_cast<int32_t>(written);
}

int32_t TCustomSerialPort::ReadAsync(void* Buffer, int32_t Count, PAsync& AsyncPtr) {
  if (!AsyncPtr) {
    ReportPortError(4);
    return 0;
  }
  TAsync& a = *AsyncPtr;
  if (Busy(a)) {
    rtl::SetLastError(rtl::ERROR_INVALID_PARAMETER);
    ReportLastError(3);
    return 0;
  }
  a.Kind = okRead;
  if (FHandle == comm::INVALID_HANDLE_VALUE) ReportPortError(24, -24);
  uint32_t read = 0;
  a.Refused = RefusedAtOnce(comm::ReadFile(FHandle, Buffer, Buffer ? ByteCount(Count) : 0, &read, &a.Overlapped));
  if (a.Refused) ReportLastError(3);
  return static_cast<int32_t>(read);
}

int32_t TCustomSerialPort::WriteStrAsync(const std::u16string& Str, PAsync& AsyncPtr) {
  if (Str.empty()) return 0;
  const std::string bytes = rtl::AnsiFromUnicode(Str);
  return WriteAsync(bytes.data(), static_cast<int32_t>(bytes.size()), AsyncPtr);
}

int32_t TCustomSerialPort::ReadStrAsync(std::u16string& Str, int32_t Count, PAsync& AsyncPtr) {
  Str.clear();
  if (Count < 1) return 0;
  if (!AsyncPtr) {
    ReportPortError(4);
    return 0;
  }
  if (Busy(*AsyncPtr)) {
    rtl::SetLastError(rtl::ERROR_INVALID_PARAMETER);
    ReportLastError(3);
    return 0;
  }
  AsyncPtr->ReadData.assign(ByteCount(Count), 0);
  int32_t read = ReadAsync(AsyncPtr->ReadData.data(), Count, AsyncPtr);
  if (read > 0) {
    const auto* first = reinterpret_cast<const char*>(AsyncPtr->ReadData.data());
    Str = rtl::UnicodeFromAnsi(std::string_view(first, static_cast<size_t>(read)));
  }
  return read;
}

int32_t TCustomSerialPort::WaitForAsync(PAsync& AsyncPtr) {
  if (!AsyncPtr) {
    ReportPortError(4);
    return 0;
  }
  TAsync& a = *AsyncPtr;
  uint32_t transferred = 0;
  if (!a.Refused) {
    const bool signalled = rtl::WaitForSingleObject(a.Overlapped.hEvent, rtl::INFINITE) == rtl::WAIT_OBJECT_0;
    if (!signalled || !comm::GetOverlappedResult(FHandle, &a.Overlapped, &transferred, false))
      ReportLastError(a.Kind == okWrite ? 2 : 3);
  }
  // The links get the whole requested write, even when fewer bytes (or none) were written. A
  // read record's bytes are an earlier write's: they are not told again.
  if (a.Kind == okRead) {
    // A read that never reached the device emptied nothing: no count is asked for it.
    if (!a.Refused && InputCount() == 0) SignalLinks(lkRx, false);
  } else if (!a.Data.empty()) {
    TxBufToLinks(a.Data.data(), a.Size);
  }
  return static_cast<int32_t>(transferred);
}

bool TCustomSerialPort::IsAsyncCompleted(const TAsync* AsyncPtr) {
  if (!AsyncPtr) {
    ReportPortError(4);
    return false;
  }
  uint32_t transferred = 0;
  // The query does not change the record; the cast is for the device call's signature.
  auto* overlapped = const_cast<comm::OVERLAPPED*>(&AsyncPtr->Overlapped);
  if (comm::GetOverlappedResult(FHandle, overlapped, &transferred, false)) return true;
  const uint32_t error = rtl::GetLastError();
  if (error != rtl::ERROR_IO_PENDING && error != rtl::ERROR_IO_INCOMPLETE) ReportPortError(6, error);
  return false;
}

int32_t TCustomSerialPort::Write(const void* Buffer, int32_t Count) {
  PAsync a;
  AllocAsync(a);
  WriteAsync(Buffer, Count, a);
  return WaitForAsync(a);
}

int32_t TCustomSerialPort::Read(void* Buffer, int32_t Count) {
  PAsync a;
  AllocAsync(a);
  ReadAsync(Buffer, Count, a);
  return WaitForAsync(a);
}

int32_t TCustomSerialPort::WriteStr(const std::u16string& Str) {
  PAsync a;
  AllocAsync(a);
  WriteStrAsync(Str, a);
  return WaitForAsync(a);
}

int32_t TCustomSerialPort::ReadStr(std::u16string& Str, int32_t Count) {
  Str.clear();
  if (Count < 1) return 0;
  std::vector<uint8_t> buffer(ByteCount(Count));
  PAsync a;
  AllocAsync(a);
  ReadAsync(buffer.data(), Count, a);
  const int32_t read = std::clamp(WaitForAsync(a), 0, Count);
  Str = rtl::UnicodeFromAnsi(std::string_view(reinterpret_cast<const char*>(buffer.data()), static_cast<size_t>(read)));
  return read;
}

}  // namespace serial
