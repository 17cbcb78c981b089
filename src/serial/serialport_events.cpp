// Event delivery on the port's side: starting it in Open, the receive step with its read-ahead,
// the step of one event bit, and the message target's procedure.
#include <algorithm>
#include <exception>
#include <vector>

#include "runtime/messagetarget.h"
#include "serial/serial_thread.h"
#include "serial/serialport.h"

namespace serial {

void TCustomSerialPort::StartEventDelivery() {
  if (FSyncMethod == smWindowSync) {
    FWindow = std::make_unique<rtl::TMessageTarget>(
        [this](uint32_t msg, uintptr_t wParam, intptr_t lParam) { return PortWindowProc(msg, wParam, lParam); });
  }
  try {
    FEventThread = std::make_unique<TSerialThread>(this);
  } catch (...) {
    FWindow.reset();
    throw;
  }
  FThreadCreated = true;
  FEventThread->Start();
}

void TCustomSerialPort::HandleRxChar() {
  int32_t Count = InputCount();
  if (Count <= 0) return;
  SignalLinks(lkRx, true);
  if (!TriggersOnRxChar()) {
    // Freed on every way out, a handler's exception included; valid only during the calls.
    std::vector<uint8_t> buffer;
    bool read = false;
    auto readAhead = [&] {
      read = true;
      buffer.assign(static_cast<size_t>(Count), 0);
      Read(buffer.data(), Count);
      FireRxBuf(buffer.data(), Count);
    };
    // A handler may register or remove links: walk a copy, skipping links removed meanwhile.
    const std::vector<TSerialLink*> links = FLinks;
    for (TSerialLink* link : links) {
      if (std::find(FLinks.begin(), FLinks.end(), link) == FLinks.end() || !link->OnRxBuf()) continue;
      if (!read) readAhead();
      const TRxBufEvent handler = link->OnRxBuf();
      handler(this, buffer.data(), Count);
    }
    if (!read && !FTriggersOnRxChar) readAhead();
    if (read) Count = 0;
  }
  if (Count > 0) FireRxChar(Count);
}

void TCustomSerialPort::RunEventStep(uint32_t bit) {
  switch (bit) {
    case comm::EV_RXCHAR: HandleRxChar(); break;
    case comm::EV_RXFLAG: HandleRxFlag(); break;
    case comm::EV_TXEMPTY: HandleTxEmpty(); break;
    case comm::EV_CTS: HandleCTSChange(); break;
    case comm::EV_DSR: HandleDSRChange(); break;
    case comm::EV_RLSD: HandleRLSDChange(); break;
    case comm::EV_BREAK: HandleBreak(); break;
    case comm::EV_ERR: HandleError(); break;
    case comm::EV_RING: HandleRing(); break;
    case comm::EV_RX80FULL: HandleRx80Full(); break;
    default: break;
  }
}

intptr_t TCustomSerialPort::PortWindowProc(uint32_t Msg, uintptr_t WParam, intptr_t) {
  if (Msg != PortEventMessage) return 0;
  try {
    // Releases the event thread first, so it watches the device again while the step runs.
    if (rtl::InSendMessage()) rtl::ReplyMessage(0);
    if (FConnected) RunEventStep(static_cast<uint32_t>(WParam));
  } catch (...) {
    // Shown, not passed on: delivery goes on with the next event.
    try {
      ShowException(std::current_exception());
    } catch (...) {
    }
  }
  return 0;
}

}  // namespace serial
