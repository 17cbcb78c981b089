// The event thread: its construction, stop request, body and the three ways of delivering a batch.
#include "serial/serial_thread.h"

#include <array>
#include <cstdint>
#include <span>
#include <thread>
#include <utility>

#include "runtime/clock.h"
#include "runtime/lasterror.h"
#include "runtime/messagetarget.h"
#include "serial/device/comm.h"
#include "serial/serialport.h"

namespace serial {

namespace {

// The order in which a batch's events are handled: the error step first, since the receive
// step's count query clears the driver's error word.
constexpr std::array<std::pair<TSerialEvent, uint32_t>, 10> kDispatchOrder = {{
    {evError, comm::EV_ERR},
    {evRxChar, comm::EV_RXCHAR},
    {evTxEmpty, comm::EV_TXEMPTY},
    {evBreak, comm::EV_BREAK},
    {evRing, comm::EV_RING},
    {evCTS, comm::EV_CTS},
    {evDSR, comm::EV_DSR},
    {evRxFlag, comm::EV_RXFLAG},
    {evRLSD, comm::EV_RLSD},
    {evRx80Full, comm::EV_RX80FULL},
}};

// The platform's thread priority for EventThreadPriority.
int PlatformPriority(TThreadPriority priority) {
  switch (priority) {
    case tpIdle: return -15;
    case tpLowest: return -2;
    case tpLower: return -1;
    case tpNormal: return 0;
    case tpHigher: return 1;
    case tpHighest: return 2;
    case tpTimeCritical: return 15;
  }
  return 0;
}

constexpr uint64_t kBatchSpacingNs = 1'000'000;

}  // namespace

TSerialThread::TSerialThread(TCustomSerialPort* APort) {
  // The base class has made the platform thread, held until Start.
  FStopEvent = rtl::CreateEvent(true, false);
  FSerialPort = APort;
  SetPriority(PlatformPriority(APort->EventThreadPriority()));
  comm::SetCommMask(APort->Handle(), EventsToMask(APort->Events()));
}

TSerialThread::~TSerialThread() {
  RequestStop();
  TerminateAndWait();
}

void TSerialThread::RequestStop() {
  FStopEvent->Set();
  std::this_thread::yield();
}

void TSerialThread::RunEventLoop() {
  const comm::HANDLE handle = FSerialPort->Handle();
  // Declared before the record: a wait still pending when the record goes is cancelled by the
  // record's destruction, and the device writes the mask until then.
  uint32_t mask = 0;
  comm::OVERLAPPED overlapped;
  overlapped.hEvent = rtl::CreateEvent(true, true);
  rtl::TEvent* const handles[] = {FStopEvent.get(), overlapped.hEvent.get()};

  for (;;) {
    mask = 0;
    if (!comm::WaitCommEvent(handle, &mask, &overlapped) && rtl::GetLastError() != rtl::ERROR_IO_PENDING) {
      // The wait never started (no device behind the handle, a device that went away, ...):
      // its record stays signalled, so waiting on it would spin. Only a stop can come now.
      rtl::WaitForSingleObject(FStopEvent, rtl::INFINITE);
      break;
    }
    if (rtl::WaitForMultipleObjects(std::span<rtl::TEvent* const>(handles), rtl::INFINITE) != rtl::WAIT_OBJECT_0 + 1)
      break;
    uint32_t count = 0;
    if (!comm::GetOverlappedResult(handle, &overlapped, &count, false)) continue;
    FEvents = MaskToEvents(mask);
    const uint64_t started = rtl::MonotonicNs();
    DispatchEvents();
    // Under a steady stream, batches come at most every kBatchSpacingNs: what arrives meanwhile
    // waits in the device's queue and comes with the next batch, so a fast line costs a few
    // hundred hand-overs a second instead of one per arrival. A stop request still ends it.
    const uint64_t spent = rtl::MonotonicNs() - started;
    if (spent < kBatchSpacingNs &&
        rtl::WaitForSingleObject(FStopEvent, static_cast<uint32_t>((kBatchSpacingNs - spent + 999'999) / 1'000'000)) ==
            rtl::WAIT_OBJECT_0)
      break;
  }
  // Not reached when a handler's exception ends the body: the queues are then left as they are.
  comm::SetCommMask(handle, 0);
  comm::PurgeComm(handle, comm::PURGE_TXCLEAR | comm::PURGE_RXCLEAR);
}

void TSerialThread::DispatchEvents() {
  switch (FSerialPort->SyncMethod()) {
    case smThreadSync:
      // The window thread runs the batch; its exception comes back here and ends the body.
      Synchronize([this] { RunEventHandlers(); });
      break;
    case smWindowSync:
      SendEventMessages();
      break;
    case smNone:
      RunEventHandlers();
      break;
  }
}

void TSerialThread::RunEventHandlers() {
  for (const auto& [event, bit] : kDispatchOrder) {
    if (FEvents.Contains(event)) FSerialPort->RunEventStep(bit);
  }
}

void TSerialThread::SendEventMessages() {
  const rtl::TMessageTarget* window = FSerialPort->FWindow.get();
  if (!window) return;
  for (const auto& [event, bit] : kDispatchOrder) {
    if (FEvents.Contains(event)) rtl::SendMessage(*window, PortEventMessage, bit, 0);
  }
}

}  // namespace serial
