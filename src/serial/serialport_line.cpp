// Line control and status queries: one device call each, made whether connected or not.
#include "serial/serialport.h"

#include <array>
#include <utility>

namespace serial {

namespace {

// The device's line error bits and the members they stand for.
constexpr std::array<std::pair<uint32_t, TSerialError>, 8> kErrorBits = {{
    {comm::CE_RXOVER, ceRxOver},
    {comm::CE_OVERRUN, ceOverrun},
    {comm::CE_RXPARITY, ceRxParity},
    {comm::CE_FRAME, ceFrame},
    {comm::CE_BREAK, ceBreak},
    {comm::CE_TXFULL, ceTxFull},
    {comm::CE_IOE, ceIO},
    {comm::CE_MODE, ceMode},
}};

constexpr std::array<std::pair<uint32_t, TSerialSignal>, 4> kSignalBits = {{
    {comm::MS_CTS_ON, csCTS},
    {comm::MS_DSR_ON, csDSR},
    {comm::MS_RING_ON, csRing},
    {comm::MS_RLSD_ON, csRLSD},
}};

}  // namespace

void TCustomSerialPort::SetDTR(bool OnOff) {
  if (!comm::EscapeCommFunction(FHandle, OnOff ? comm::SETDTR : comm::CLRDTR)) ReportLastError(12);
}

void TCustomSerialPort::SetRTS(bool OnOff) {
  if (!comm::EscapeCommFunction(FHandle, OnOff ? comm::SETRTS : comm::CLRRTS)) ReportLastError(12);
}

void TCustomSerialPort::SetBreak(bool OnOff) {
  if (!comm::EscapeCommFunction(FHandle, OnOff ? comm::SETBREAK : comm::CLRBREAK)) ReportLastError(12);
}

void TCustomSerialPort::SetXonXoff(bool OnOff) {
  if (!comm::EscapeCommFunction(FHandle, OnOff ? comm::SETXON : comm::SETXOFF)) ReportLastError(12);
}

void TCustomSerialPort::ClearBuffer(bool Input, bool Output) {
  uint32_t flags = 0;
  if (Input) flags |= comm::PURGE_RXCLEAR;
  if (Output) flags |= comm::PURGE_TXCLEAR;
  if (!comm::PurgeComm(FHandle, flags)) ReportLastError(5);
}

void TCustomSerialPort::AbortAllAsync() {
  if (!comm::PurgeComm(FHandle, comm::PURGE_TXABORT | comm::PURGE_RXABORT)) ReportLastError(5);
}

bool TCustomSerialPort::QueryStatus(uint32_t& errors, comm::COMSTAT& stat) {
  if (comm::ClearCommError(FHandle, &errors, &stat)) return true;
  ReportLastError(10);
  return false;
}

int32_t TCustomSerialPort::InputCount() {
  uint32_t errors = 0;
  comm::COMSTAT stat{};
  // A failed query counts nothing, so it can never lead to a receive notification.
  if (!QueryStatus(errors, stat)) return 0;
  return static_cast<int32_t>(stat.cbInQue);
}

int32_t TCustomSerialPort::OutputCount() {
  uint32_t errors = 0;
  comm::COMSTAT stat{};
  if (!QueryStatus(errors, stat)) return 0;
  return static_cast<int32_t>(stat.cbOutQue);
}

TSerialStateFlags TCustomSerialPort::StateFlags() {
  uint32_t errors = 0;
  comm::COMSTAT stat{};
  if (!QueryStatus(errors, stat)) return {};
  return TSerialStateFlags::FromBits(comm::ComStatFlags(stat) & 0xFF);
}

TSerialErrors TCustomSerialPort::LastErrors() {
  uint32_t errors = 0;
  comm::COMSTAT stat{};
  if (!QueryStatus(errors, stat)) return {};
  TSerialErrors result;
  for (const auto& [bit, member] : kErrorBits) {
    if (!(errors & bit)) continue;
    // A parity error means nothing while the parity is not checked.
    if (member == ceRxParity && !FParity->Check()) continue;
    result.Include(member);
  }
  return result;
}

TSerialSignals TCustomSerialPort::Signals() {
  uint32_t status = 0;
  if (!comm::GetCommModemStatus(FHandle, &status)) {
    ReportLastError(11);
    return {};
  }
  TSerialSignals result;
  for (const auto& [bit, member] : kSignalBits) {
    if (status & bit) result.Include(member);
  }
  return result;
}

void TCustomSerialPort::TransmitChar(char16_t Ch) {
  if (!comm::TransmitCommChar(FHandle, static_cast<char>(Ch & 0xFF))) ReportLastError(13);
}

void TCustomSerialPort::WaitForEvent(TSerialEvents& Events, const rtl::EventHandle& StopEvent, int32_t Timeout) {
  if (FThreadCreated) ReportPortError(20);
  // Declared before the record: a wait still pending when the record goes is cancelled by the
  // record's destruction, and the mask must outlive that.
  uint32_t mask = 0;
  comm::OVERLAPPED overlapped;
  overlapped.hEvent = rtl::CreateEvent(true, false);
  std::vector<rtl::EventHandle> handles{overlapped.hEvent};
  if (StopEvent) handles.push_back(StopEvent);

  comm::SetCommMask(FHandle, EventsToMask(Events));
  bool failed = false;
  if (comm::WaitCommEvent(FHandle, &mask, &overlapped) || rtl::GetLastError() == rtl::ERROR_IO_PENDING) {
    const uint32_t r = rtl::WaitForMultipleObjects(handles, static_cast<uint32_t>(Timeout));
    failed = !(r == rtl::WAIT_OBJECT_0 || r == rtl::WAIT_OBJECT_0 + 1 || r == rtl::WAIT_TIMEOUT);
    const uint32_t waitError = rtl::GetLastError();
    // Ends a device wait still pending; its mask becomes 0.
    comm::SetCommMask(FHandle, 0);
    rtl::SetLastError(waitError);
  } else {
    failed = true;
  }
  if (failed) ReportLastError(21);
  // The mask is the device's to write until its wait has ended.
  const bool ended = overlapped.Internal.load(std::memory_order_acquire) != rtl::ERROR_IO_PENDING;
  Events = ended ? MaskToEvents(mask) : TSerialEvents();
}

}  // namespace serial
