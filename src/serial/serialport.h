// The serial port component: a complete line configuration, the opening and closing of its
// device, line control and status queries, the links and notifications, and the one reporting
// path for its failures. TCustomSerialPort is the component; TSerialPort is the one the windows
// place. Every operation runs on the thread that owns the component unless its comment says so.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "runtime/component.h"
#include "runtime/event.h"
#include "runtime/messagetarget.h"
#include "serial/device/comm.h"
#include "serial/serial_async.h"
#include "serial/serial_errors.h"
#include "serial/serial_link.h"
#include "serial/serial_settings.h"
#include "serial/serial_types.h"

namespace serial {

class TSerialThread;

// The message that carries one device event to the port's message target under smWindowSync:
// its first parameter is the event's EV_* bit, its second 0.
inline constexpr uint32_t PortEventMessage = rtl::WM_USER + 1;

class TCustomSerialPort : public rtl::TComponent {
 public:
  // A closed port with the default configuration (port "COM1", 9600 baud, 8 data bits, ...).
  TCustomSerialPort();
  // Closes the port (with all of Close's notifications), then frees the settings objects.
  // Registered links are neither freed nor told. Runs in the base class, so a derived class
  // whose overrides must take part in the closing closes the port in its own destructor.
  // Nothing leaves it: a failure of Close goes to the exception display, and the device and
  // the event thread are released all the same.
  ~TCustomSerialPort() override;
  const char* ClassName() const override { return "TCustomSerialPort"; }

  // --- Connection ---------------------------------------------------------------------------

  // Opens the device named by Port, pushes the settings and starts event delivery; nothing
  // when already connected. Failures go through ReportPortError (a raise leaves it closed).
  void Open();
  // Stops event delivery and closes the device; nothing when not connected. An exception out of
  // a step leaves the port connected, and a later Close starts again from the beginning.
  void Close();
  bool Connected() const { return FConnected; }
  // Opens (true) or closes (false) when the value differs; while loading, only stores it (a
  // stored true opens the port when loading ends, see Loaded).
  void SetConnected(bool value);
  // The open device, INVALID_HANDLE_VALUE when none is.
  comm::HANDLE Handle() const { return FHandle; }

  // --- Settings (window thread; a change reaches an open device at once) ---------------------

  const std::u16string& Port() const { return FPort; }
  // A different name (case-sensitive) is stored, and an open port is reopened under it.
  void SetPort(const std::u16string& value);
  TBaudRate BaudRate() const { return FBaudRate; }
  void SetBaudRate(TBaudRate value);
  // The speed used when BaudRate is brCustom.
  int32_t CustomBaudRate() const { return FCustomBaudRate; }
  void SetCustomBaudRate(int32_t value);
  TDataBits DataBits() const { return FDataBits; }
  void SetDataBits(TDataBits value);
  TStopBits StopBits() const { return FStopBits; }
  void SetStopBits(TStopBits value);
  bool DiscardNull() const { return FDiscardNull; }
  void SetDiscardNull(bool value);
  char16_t EventChar() const { return FEventChar; }
  void SetEventChar(char16_t value);

  // The owned settings objects; writing copies the given object's values in and applies them.
  TSerialParity& Parity() { return *FParity; }
  const TSerialParity& Parity() const { return *FParity; }
  void SetParity(const TSerialParity& value);
  TSerialFlowControl& FlowControl() { return *FFlowControl; }
  const TSerialFlowControl& FlowControl() const { return *FFlowControl; }
  void SetFlowControl(const TSerialFlowControl& value);
  TSerialTimeouts& Timeouts() { return *FTimeouts; }
  const TSerialTimeouts& Timeouts() const { return *FTimeouts; }
  void SetTimeouts(const TSerialTimeouts& value);
  TSerialBuffer& Buffer() { return *FBuffer; }
  const TSerialBuffer& Buffer() const { return *FBuffer; }
  void SetBuffer(const TSerialBuffer& value);

  // The watched events; read when the port opens.
  TSerialEvents Events() const { return FEvents; }
  void SetEvents(TSerialEvents value) { FEvents = value; }
  // Refused with error 14 while connected (outside the loading state).
  TSyncMethod SyncMethod() const { return FSyncMethod; }
  void SetSyncMethod(TSyncMethod value);
  TThreadPriority EventThreadPriority() const { return FEventThreadPriority; }
  void SetEventThreadPriority(TThreadPriority value);
  // True only while stored true and no registered link wants received bytes. Writing while a
  // link wants them reports error 22 first.
  bool TriggersOnRxChar() const { return FTriggersOnRxChar && !FHasLink; }
  void SetTriggersOnRxChar(bool value);
  uint32_t CodePage() const { return FCodePage; }
  void SetCodePage(uint32_t value) { FCodePage = value; }

  // Settings written between BeginUpdate and the EndUpdate that brings the depth back to 0
  // reach the device together, at that EndUpdate.
  void BeginUpdate();
  void EndUpdate();

  // --- Line control and queries: one device call each, on Handle, connected or not ----------

  void SetDTR(bool OnOff);
  void SetRTS(bool OnOff);
  void SetBreak(bool OnOff);
  void SetXonXoff(bool OnOff);
  // Discards the driver's input and/or output queue (the call is made even for neither).
  void ClearBuffer(bool Input, bool Output);
  // Ends every pending read and write on the handle.
  void AbortAllAsync();
  // Bytes in the driver's input / output queue; 0 after a reported failure.
  int32_t InputCount();
  int32_t OutputCount();
  // The driver's hold flags; empty after a reported failure.
  TSerialStateFlags StateFlags();
  // The line errors since the last status query (which clears them); the parity error only
  // while Parity.Check is set. Empty after a reported failure.
  TSerialErrors LastErrors();
  // The modem input lines; empty after a reported failure.
  TSerialSignals Signals();
  // Sends the low 8 bits of Ch ahead of the queued output.
  void TransmitChar(char16_t Ch);
  // Waits up to Timeout ms (taken as unsigned: -1 is no limit) for one of Events, or until
  // StopEvent (may be empty) is signalled; Events becomes the events that occurred (empty after a timeout, a
  // stop or a reported failure). Refused with error 20 while an event thread exists.
  void WaitForEvent(TSerialEvents& Events, const rtl::EventHandle& StopEvent, int32_t Timeout);

  // --- Data transfer (window thread; each form reports its failures and goes on) ------------

  // Starts writing Count bytes of Buffer (copied into the record, which the device writes
  // from). Returns the bytes written at once, 0 while the write runs. No record: error 4.
  int32_t WriteAsync(const void* Buffer, int32_t Count, PAsync& AsyncPtr);
  // Starts reading up to Count bytes into Buffer, which must stay valid until the wait.
  // Returns the bytes read at once, 0 while the read runs.
  int32_t ReadAsync(void* Buffer, int32_t Count, PAsync& AsyncPtr);
  // Converts Str to Windows-1252 and starts writing those bytes; 0 (nothing started) for "".
  int32_t WriteStrAsync(const std::u16string& Str, PAsync& AsyncPtr);
  // Starts reading up to Count bytes into the record; Str gets the text of what was read at
  // once. Count below 1: Str empty, nothing started.
  int32_t ReadStrAsync(std::u16string& Str, int32_t Count, PAsync& AsyncPtr);
  // Waits without limit for the record's operation to end; returns the bytes it transferred.
  int32_t WaitForAsync(PAsync& AsyncPtr);
  // Whether the record's operation has ended successfully (no wait).
  bool IsAsyncCompleted(const TAsync* AsyncPtr);
  // Synchronous forms: a record of their own, started and waited for, released in every case.
  int32_t Write(const void* Buffer, int32_t Count);
  int32_t Read(void* Buffer, int32_t Count);
  // Sends Str in Windows-1252 and returns when it is written: the number of bytes written.
  int32_t WriteStr(const std::u16string& Str);
  // Reads up to Count bytes (the read timeouts decide how long it waits) into Str, one
  // character per byte; returns the number read. Count below 1: Str empty, nothing read.
  int32_t ReadStr(std::u16string& Str, int32_t Count);

  // --- Links (not owned) ----------------------------------------------------------------------

  // Appends ALink; one already registered (or none) reports error 18.
  void RegisterLink(TSerialLink* ALink);
  // Removes the first occurrence of ALink; one not registered reports error 18.
  void UnRegisterLink(TSerialLink* ALink);

  // --- Notifications (Sender is this port) -----------------------------------------------------

  const TRxCharEvent& OnRxChar() const { return FOnRxChar; }
  const TRxBufEvent& OnRxBuf() const { return FOnRxBuf; }
  const TNotifyEvent& OnTxEmpty() const { return FOnTxEmpty; }
  const TNotifyEvent& OnBreak() const { return FOnBreak; }
  const TNotifyEvent& OnRing() const { return FOnRing; }
  const TSerialSignalEvent& OnCTSChange() const { return FOnCTSChange; }
  const TSerialSignalEvent& OnDSRChange() const { return FOnDSRChange; }
  const TSerialSignalEvent& OnRLSDChange() const { return FOnRLSDChange; }
  const TSerialErrorEvent& OnError() const { return FOnError; }
  const TNotifyEvent& OnRxFlag() const { return FOnRxFlag; }
  const TNotifyEvent& OnAfterOpen() const { return FOnAfterOpen; }
  const TNotifyEvent& OnAfterClose() const { return FOnAfterClose; }
  const TNotifyEvent& OnBeforeOpen() const { return FOnBeforeOpen; }
  const TNotifyEvent& OnBeforeClose() const { return FOnBeforeClose; }
  const TNotifyEvent& OnRx80Full() const { return FOnRx80Full; }
  const TSerialExceptionEvent& OnException() const { return FOnException; }
  void SetOnRxChar(TRxCharEvent value) { FOnRxChar = std::move(value); }
  void SetOnRxBuf(TRxBufEvent value) { FOnRxBuf = std::move(value); }
  void SetOnTxEmpty(TNotifyEvent value) { FOnTxEmpty = std::move(value); }
  void SetOnBreak(TNotifyEvent value) { FOnBreak = std::move(value); }
  void SetOnRing(TNotifyEvent value) { FOnRing = std::move(value); }
  void SetOnCTSChange(TSerialSignalEvent value) { FOnCTSChange = std::move(value); }
  void SetOnDSRChange(TSerialSignalEvent value) { FOnDSRChange = std::move(value); }
  void SetOnRLSDChange(TSerialSignalEvent value) { FOnRLSDChange = std::move(value); }
  void SetOnError(TSerialErrorEvent value) { FOnError = std::move(value); }
  void SetOnRxFlag(TNotifyEvent value) { FOnRxFlag = std::move(value); }
  void SetOnAfterOpen(TNotifyEvent value) { FOnAfterOpen = std::move(value); }
  void SetOnAfterClose(TNotifyEvent value) { FOnAfterClose = std::move(value); }
  void SetOnBeforeOpen(TNotifyEvent value) { FOnBeforeOpen = std::move(value); }
  void SetOnBeforeClose(TNotifyEvent value) { FOnBeforeClose = std::move(value); }
  void SetOnRx80Full(TNotifyEvent value) { FOnRx80Full = std::move(value); }
  void SetOnException(TSerialExceptionEvent value) { FOnException = std::move(value); }

  // The application's standard exception display, given the exceptions that must not
  // propagate (an Open at the end of loading, a failure while the destructor closes the port).
  // Empty: they are dropped.
  void SetExceptionDisplay(std::function<void(std::exception_ptr)> display) {
    FExceptionDisplay = std::move(display);
  }

 protected:
  friend class TSerialTimeouts;
  friend class TSerialFlowControl;
  friend class TSerialParity;
  friend class TSerialBuffer;
  friend class TSerialThread;

  // Each calls its handler with this port as Sender when the handler is assigned. They may run
  // on the event thread (smNone).
  virtual void FireAfterClose();
  virtual void FireAfterOpen();
  virtual void FireBeforeClose();
  virtual void FireBeforeOpen();
  virtual void FireRxChar(int32_t Count);
  virtual void FireRxBuf(const uint8_t* Buffer, int32_t Count);
  virtual void FireTxEmpty();
  virtual void FireBreak();
  virtual void FireRing();
  virtual void FireRxFlag();
  virtual void FireCTSChange(bool OnOff);
  virtual void FireDSRChange(bool OnOff);
  virtual void FireError(TSerialErrors Errors);
  virtual void FireRLSDChange(bool OnOff);
  virtual void FireRx80Full();

  // Push one group to the device; nothing unless connected, outside BeginUpdate and not
  // loading. A refused call reports 7, 8 or 9.
  virtual void ApplyLineSettings();
  virtual void ApplyTimeoutSettings();
  virtual void ApplyBufferSizes();
  // Opens the device of Port into FHandle; a refusal reports 1.
  virtual void OpenDevice();
  // Closes FHandle when valid; the handle becomes invalid only when the close succeeded.
  virtual void CloseDevice();
  // Buffer sizes, then line settings, then timeouts.
  virtual void ApplyPortSettings();

  // The one reporting path: with OnException assigned, calls it and returns; otherwise raises
  // ESerialPort. Runs on the calling thread.
  void ReportPortError(uint16_t code, int64_t winError = 0);

  // A stored Connected true opens the port once loading ends; an exception out of that Open
  // goes to the exception display.
  void Loaded() override;
  // Hands e to the exception display (drops it when there is none).
  void ShowException(std::exception_ptr e) const;

  // Link fan-out, in registration order, to the handlers that are assigned.
  void SignalLinks(TLinkEventKind kind, bool OnOff);
  void NotifyLinks(TLinkEventKind kind);
  void TxBufToLinks(const uint8_t* Buffer, int32_t Count);
  bool AnyLinkWantsRxBuf() const;

  // The event steps: what one device event turns into.
  // Arrived bytes: counted; read ahead and handed to OnRxBuf (the port's and the links') when a
  // link wants them or TriggersOnRxChar is off, otherwise their count goes to OnRxChar. A
  // failed count (0) notifies nothing.
  void HandleRxChar();
  void HandleRxFlag();
  void HandleTxEmpty();
  void HandleBreak();
  void HandleRing();
  void HandleCTSChange();
  void HandleDSRChange();
  void HandleRLSDChange();
  void HandleError();
  void HandleRx80Full();

  // The notification steps of Open and Close.
  void NotifyBeforeOpen();
  void NotifyAfterOpen();
  void NotifyBeforeClose();
  void NotifyAfterClose();
  // Opening: the current CTS, DSR and RLSD states; closing: all three off, without asking.
  void ReportLineSignals(bool Opening);

  // The procedure of the message target under smWindowSync (window thread): for
  // PortEventMessage it replies at once, then runs the step of the event bit while connected;
  // an exception of the step goes to the exception display. Other messages: 0.
  intptr_t PortWindowProc(uint32_t Msg, uintptr_t WParam, intptr_t LParam);

 private:
  // Whether an apply operation may reach the device now.
  bool CanApply() const;
  // One ClearCommError; false after a reported failure.
  bool QueryStatus(uint32_t& errors, comm::COMSTAT& stat);
  // Reports code with the calling thread's last error.
  void ReportLastError(uint16_t code);
  // Open's event delivery: the message target for smWindowSync, then the event thread, started.
  // A refused thread raises rtl::EThread and leaves neither behind.
  void StartEventDelivery();
  // Runs the event step of one EV_* bit (nothing for another value); on the calling thread.
  void RunEventStep(uint32_t bit);

  std::unique_ptr<TSerialThread> FEventThread;
  bool FThreadCreated = false;
  comm::HANDLE FHandle = comm::INVALID_HANDLE_VALUE;
  std::unique_ptr<rtl::TMessageTarget> FWindow;
  int32_t FUpdateCount = 0;
  std::vector<TSerialLink*> FLinks;
  bool FTriggersOnRxChar = true;
  TThreadPriority FEventThreadPriority = tpNormal;
  bool FHasLink = false;
  bool FConnected = false;
  TBaudRate FBaudRate = br9600;
  int32_t FCustomBaudRate = 9600;
  std::u16string FPort = u"COM1";
  TStopBits FStopBits = sbOneStopBit;
  TDataBits FDataBits = dbEight;
  bool FDiscardNull = false;
  char16_t FEventChar = 0;
  TSerialEvents FEvents = TSerialEvents::All();
  std::unique_ptr<TSerialBuffer> FBuffer;
  std::unique_ptr<TSerialParity> FParity;
  std::unique_ptr<TSerialTimeouts> FTimeouts;
  std::unique_ptr<TSerialFlowControl> FFlowControl;
  TSyncMethod FSyncMethod = smThreadSync;
  TRxCharEvent FOnRxChar;
  TRxBufEvent FOnRxBuf;
  TNotifyEvent FOnTxEmpty;
  TNotifyEvent FOnBreak;
  TNotifyEvent FOnRing;
  TSerialSignalEvent FOnCTSChange;
  TSerialSignalEvent FOnDSRChange;
  TSerialSignalEvent FOnRLSDChange;
  TSerialErrorEvent FOnError;
  TNotifyEvent FOnRxFlag;
  TNotifyEvent FOnAfterOpen;
  TNotifyEvent FOnAfterClose;
  TNotifyEvent FOnBeforeOpen;
  TNotifyEvent FOnBeforeClose;
  TNotifyEvent FOnRx80Full;
  TSerialExceptionEvent FOnException;
  uint32_t FCodePage = 0;
  std::function<void(std::exception_ptr)> FExceptionDisplay;
};

// The port the windows place: TCustomSerialPort with every property settable from the window's
// stored description (all but CustomBaudRate, EventThreadPriority and Handle).
class TSerialPort : public TCustomSerialPort {
 public:
  const char* ClassName() const override { return "TSerialPort"; }
};

}  // namespace serial
