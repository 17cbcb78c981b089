// The notification handler types of the port engine, and TSerialLink: a set of handlers that
// another component registers with a port to be told what happens on its line.
#pragma once

#include <cstdint>
#include <functional>

#include "runtime/component.h"
#include "serial/serial_types.h"

namespace serial {

// Handlers receive the sending port first; an empty handler is not assigned and is skipped.
using TNotifyEvent = std::function<void(rtl::TObject* Sender)>;
using TRxCharEvent = std::function<void(rtl::TObject* Sender, int32_t Count)>;
// Buffer is valid only during the call.
using TRxBufEvent = std::function<void(rtl::TObject* Sender, const uint8_t* Buffer, int32_t Count)>;
using TSerialSignalEvent = std::function<void(rtl::TObject* Sender, bool OnOff)>;
using TSerialErrorEvent = std::function<void(rtl::TObject* Sender, TSerialErrors Errors)>;

// What a port tells its links.
enum TLinkEventKind : uint8_t { lkConn, lkCTS, lkDSR, lkRLSD, lkRing, lkRx, lkTx, lkTxEmpty, lkRxFlag };

// Eleven handlers and nothing else; whoever creates a link owns it, and must unregister it from
// the port before destroying it.
class TSerialLink : public rtl::TObject {
 public:
  const char* ClassName() const override { return "TSerialLink"; }

  const TSerialSignalEvent& OnConn() const { return FOnConn; }
  const TRxBufEvent& OnRxBuf() const { return FOnRxBuf; }
  const TRxBufEvent& OnTxBuf() const { return FOnTxBuf; }
  const TNotifyEvent& OnTxEmpty() const { return FOnTxEmpty; }
  const TNotifyEvent& OnRxFlag() const { return FOnRxFlag; }
  const TSerialSignalEvent& OnCTSChange() const { return FOnCTSChange; }
  const TSerialSignalEvent& OnDSRChange() const { return FOnDSRChange; }
  const TSerialSignalEvent& OnRLSDChange() const { return FOnRLSDChange; }
  const TNotifyEvent& OnRing() const { return FOnRing; }
  const TSerialSignalEvent& OnTx() const { return FOnTx; }
  const TSerialSignalEvent& OnRx() const { return FOnRx; }

  void SetOnConn(TSerialSignalEvent value) { FOnConn = std::move(value); }
  void SetOnRxBuf(TRxBufEvent value) { FOnRxBuf = std::move(value); }
  void SetOnTxBuf(TRxBufEvent value) { FOnTxBuf = std::move(value); }
  void SetOnTxEmpty(TNotifyEvent value) { FOnTxEmpty = std::move(value); }
  void SetOnRxFlag(TNotifyEvent value) { FOnRxFlag = std::move(value); }
  void SetOnCTSChange(TSerialSignalEvent value) { FOnCTSChange = std::move(value); }
  void SetOnDSRChange(TSerialSignalEvent value) { FOnDSRChange = std::move(value); }
  void SetOnRLSDChange(TSerialSignalEvent value) { FOnRLSDChange = std::move(value); }
  void SetOnRing(TNotifyEvent value) { FOnRing = std::move(value); }
  void SetOnTx(TSerialSignalEvent value) { FOnTx = std::move(value); }
  void SetOnRx(TSerialSignalEvent value) { FOnRx = std::move(value); }

 private:
  TSerialSignalEvent FOnConn;
  TRxBufEvent FOnRxBuf;
  TRxBufEvent FOnTxBuf;
  TNotifyEvent FOnTxEmpty;
  TNotifyEvent FOnRxFlag;
  TSerialSignalEvent FOnCTSChange;
  TSerialSignalEvent FOnDSRChange;
  TSerialSignalEvent FOnRLSDChange;
  TNotifyEvent FOnRing;
  TSerialSignalEvent FOnTx;
  TSerialSignalEvent FOnRx;
};

}  // namespace serial
