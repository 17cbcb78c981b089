// Notifications: the Fire operations, the link fan-out, the event steps and the notification
// steps of Open and Close.
#include "serial/serialport.h"

#include <algorithm>
#include <utility>

namespace serial {

namespace {

// Calls handler when it is assigned. A copy runs, so a handler that replaces itself (or clears
// its own slot) while it runs does not destroy the code being executed.
template <class Handler, class... Args>
void Call(const Handler& handler, Args&&... args) {
  if (!handler) return;
  Handler copy = handler;
  copy(std::forward<Args>(args)...);
}

// Calls fn for each link registered when the walk starts and still registered when its turn
// comes: a handler may register or remove links (itself included), so the walk keeps its own
// copy of the list, never touches a link that was removed, and tells a new one from the next
// walk on.
template <class Fn>
void WalkLinks(const std::vector<TSerialLink*>& links, Fn fn) {
  const std::vector<TSerialLink*> snapshot = links;
  for (TSerialLink* link : snapshot) {
    if (std::find(links.begin(), links.end(), link) != links.end()) fn(*link);
  }
}

}  // namespace

// --- Fire operations -------------------------------------------------------------------------

void TCustomSerialPort::FireAfterClose() { Call(FOnAfterClose, this); }
void TCustomSerialPort::FireAfterOpen() { Call(FOnAfterOpen, this); }
void TCustomSerialPort::FireBeforeClose() { Call(FOnBeforeClose, this); }
void TCustomSerialPort::FireBeforeOpen() { Call(FOnBeforeOpen, this); }
void TCustomSerialPort::FireRxChar(int32_t Count) { Call(FOnRxChar, this, Count); }
void TCustomSerialPort::FireRxBuf(const uint8_t* Buffer, int32_t Count) { Call(FOnRxBuf, this, Buffer, Count); }
void TCustomSerialPort::FireTxEmpty() { Call(FOnTxEmpty, this); }
void TCustomSerialPort::FireBreak() { Call(FOnBreak, this); }
void TCustomSerialPort::FireRing() { Call(FOnRing, this); }
void TCustomSerialPort::FireRxFlag() { Call(FOnRxFlag, this); }
void TCustomSerialPort::FireCTSChange(bool OnOff) { Call(FOnCTSChange, this, OnOff); }
void TCustomSerialPort::FireDSRChange(bool OnOff) { Call(FOnDSRChange, this, OnOff); }
void TCustomSerialPort::FireError(TSerialErrors Errors) { Call(FOnError, this, Errors); }
void TCustomSerialPort::FireRLSDChange(bool OnOff) { Call(FOnRLSDChange, this, OnOff); }
void TCustomSerialPort::FireRx80Full() { Call(FOnRx80Full, this); }

// --- Links -----------------------------------------------------------------------------------

void TCustomSerialPort::RegisterLink(TSerialLink* ALink) {
  if (!ALink || std::find(FLinks.begin(), FLinks.end(), ALink) != FLinks.end()) {
    ReportPortError(18);
  } else {
    FLinks.push_back(ALink);
  }
  FHasLink = AnyLinkWantsRxBuf();
}

void TCustomSerialPort::UnRegisterLink(TSerialLink* ALink) {
  auto it = std::find(FLinks.begin(), FLinks.end(), ALink);
  if (!ALink || it == FLinks.end()) {
    ReportPortError(18);
  } else {
    FLinks.erase(it);
  }
  FHasLink = AnyLinkWantsRxBuf();
}

void TCustomSerialPort::SignalLinks(TLinkEventKind kind, bool OnOff) {
  WalkLinks(FLinks, [&](const TSerialLink& link) {
    switch (kind) {
      case lkConn: Call(link.OnConn(), this, OnOff); break;
      case lkCTS: Call(link.OnCTSChange(), this, OnOff); break;
      case lkDSR: Call(link.OnDSRChange(), this, OnOff); break;
      case lkRLSD: Call(link.OnRLSDChange(), this, OnOff); break;
      case lkRx: Call(link.OnRx(), this, OnOff); break;
      case lkTx: Call(link.OnTx(), this, OnOff); break;
      default: break;
    }
  });
}

void TCustomSerialPort::NotifyLinks(TLinkEventKind kind) {
  WalkLinks(FLinks, [&](const TSerialLink& link) {
    switch (kind) {
      case lkRing: Call(link.OnRing(), this); break;
      case lkTxEmpty: Call(link.OnTxEmpty(), this); break;
      case lkRxFlag: Call(link.OnRxFlag(), this); break;
      default: break;
    }
  });
}

void TCustomSerialPort::TxBufToLinks(const uint8_t* Buffer, int32_t Count) {
  WalkLinks(FLinks, [&](const TSerialLink& link) { Call(link.OnTxBuf(), this, Buffer, Count); });
}

bool TCustomSerialPort::AnyLinkWantsRxBuf() const {
  for (const TSerialLink* link : FLinks) {
    if (link->OnRxBuf()) return true;
  }
  return false;
}

// --- Event steps -----------------------------------------------------------------------------

void TCustomSerialPort::HandleRxFlag() {
  NotifyLinks(lkRxFlag);
  FireRxFlag();
}

void TCustomSerialPort::HandleTxEmpty() {
  SignalLinks(lkTx, false);
  NotifyLinks(lkTxEmpty);
  FireTxEmpty();
}

void TCustomSerialPort::HandleBreak() { FireBreak(); }

void TCustomSerialPort::HandleRing() {
  NotifyLinks(lkRing);
  FireRing();
}

// The line steps report the state read now, not the change that was signalled.
void TCustomSerialPort::HandleCTSChange() {
  const bool on = Signals().Contains(csCTS);
  SignalLinks(lkCTS, on);
  FireCTSChange(on);
}

void TCustomSerialPort::HandleDSRChange() {
  const bool on = Signals().Contains(csDSR);
  SignalLinks(lkDSR, on);
  FireDSRChange(on);
}

void TCustomSerialPort::HandleRLSDChange() {
  const bool on = Signals().Contains(csRLSD);
  SignalLinks(lkRLSD, on);
  FireRLSDChange(on);
}

void TCustomSerialPort::HandleError() {
  const TSerialErrors errors = LastErrors();
  if (!errors.Empty()) FireError(errors);
}

void TCustomSerialPort::HandleRx80Full() { FireRx80Full(); }

// --- Open and close steps --------------------------------------------------------------------

void TCustomSerialPort::NotifyBeforeOpen() { FireBeforeOpen(); }

void TCustomSerialPort::NotifyAfterOpen() {
  SignalLinks(lkConn, true);
  FireAfterOpen();
  ReportLineSignals(true);
}

void TCustomSerialPort::NotifyBeforeClose() {
  ReportLineSignals(false);
  FireBeforeClose();
}

void TCustomSerialPort::NotifyAfterClose() {
  SignalLinks(lkConn, false);
  FireAfterClose();
}

void TCustomSerialPort::ReportLineSignals(bool Opening) {
  if (Opening) {
    HandleCTSChange();
    HandleDSRChange();
    HandleRLSDChange();
    return;
  }
  SignalLinks(lkCTS, false);
  SignalLinks(lkDSR, false);
  SignalLinks(lkRLSD, false);
  FireCTSChange(false);
  FireDSRChange(false);
  FireRLSDChange(false);
}

}  // namespace serial
