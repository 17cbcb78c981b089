// The driver model shared by the built-in backends: the device's own input queue, the pending
// reads, writes and event wait with their timeouts, the event history, the line error word,
// purge, and one I/O thread that blocks in poll on a wake-up pipe, a timer and the backend's
// descriptor.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>

#include "runtime/fd.h"
#include "serial/device/byte_ring.h"
#include "serial/device/device.h"
#include "serial/device/timeout_rules.h"

namespace comm {

// The calls may come from any thread; one lock (mu_) guards the whole state, and a record's
// event is signalled under it, so a record's destruction (Cancel) never meets a completion.
class QueuedDevice : public Device {
 public:
  ~QueuedDevice() override;

  bool SetupComm(uint32_t inQueue, uint32_t outQueue) override;
  bool GetCommState(DCB* dcb) override;
  bool SetCommState(const DCB& dcb) override;
  bool GetCommTimeouts(COMMTIMEOUTS* timeouts) override;
  bool SetCommTimeouts(const COMMTIMEOUTS& timeouts) override;
  bool GetCommMask(uint32_t* mask) override;
  bool SetCommMask(uint32_t mask) override;
  bool WaitCommEvent(uint32_t* mask, OVERLAPPED* overlapped) override;
  bool ReadFile(void* buffer, uint32_t count, uint32_t* done, OVERLAPPED* overlapped) override;
  bool WriteFile(const void* buffer, uint32_t count, uint32_t* done, OVERLAPPED* overlapped) override;
  bool PurgeComm(uint32_t flags) override;
  bool ClearCommError(uint32_t* errors, COMSTAT* stat) override;
  bool GetCommModemStatus(uint32_t* status) override;
  bool EscapeCommFunction(uint32_t function) override;
  bool TransmitCommChar(char c) override;
  void Close() override;
  void Cancel(OVERLAPPED* overlapped) override;

  // The queue always holds at least this much, so reception never waits for the reader.
  static constexpr size_t kMinInputQueue = size_t{4} << 20;
  // SetupComm refuses queue sizes above this with 87.
  static constexpr size_t kMaxInputQueue = size_t{256} << 20;

 protected:
  using Clock = std::chrono::steady_clock;

  // Throws std::system_error when the wake-up pipe or the timer cannot be made.
  QueuedDevice();

  // Starts the I/O thread under this name; a derived constructor calls it last, and a derived
  // destructor calls Close() first. Throws std::system_error.
  void StartIo(const char* threadName);

  // What the I/O thread waits for besides its wake-up: a descriptor (-1: none) with its poll
  // events, and whether OnTick should run every sampling period.
  struct IoWait {
    int fd = -1;
    short events = 0;
    bool tick = false;
  };
  static constexpr Millis kTickPeriod{10};

  // --- Backend hooks. All run with mu_ held. ---
  // Configures the line for a DCB that passed CheckDcb; previous is null the first time.
  // Returns 0 or the error number (the line keeps its old configuration on failure).
  virtual uint32_t ApplyLine(const DCB& dcb, const DCB* previous) = 0;
  // Hands up to n bytes to the line; returns how many it took (0: not now). Sets lost when the
  // line has gone away.
  virtual size_t Transmit(const uint8_t* data, size_t n, bool& lost) = 0;
  // Sends the priority character: 1 sent, 0 not now (retried when the line can take it),
  // -1 the line has gone away.
  virtual int SendPriority(uint8_t c) = 0;
  // Bytes handed to the line and not yet sent.
  virtual uint32_t LineOutQueue() = 0;
  // Hold bits of the COMSTAT flag word (bit 0 fCtsHold ... bit 4 fXoffSent).
  virtual uint32_t LineHoldFlags() = 0;
  // Modem status word, or an error number (1167 when the line has gone away).
  virtual uint32_t ModemStatus(uint32_t* status) = 0;
  // A checked escape function; returns 0 or an error number.
  virtual uint32_t Escape(uint32_t function) = 0;
  // The line's share of PurgeComm's clear flags.
  virtual void PurgeLine(uint32_t flags) = 0;
  // Brings the error word up to date before ClearCommError reads it.
  virtual void RefreshErrors() {}
  // The event mask changed (the history of old events is gone).
  virtual void MaskChanged() {}
  // Input flow control wants the far end to go on (true) or to pause (false).
  virtual void InputFlowChanged(bool) {}
  // What the I/O thread should wait for now.
  virtual IoWait PlanIo() = 0;
  // I/O thread: the descriptor of PlanIo reported revents. May unlock lk around system calls.
  virtual void OnIo(short, std::unique_lock<std::mutex>&) {}
  // I/O thread: a sampling period has passed.
  virtual void OnTick() {}
  // After the I/O thread has ended, without mu_: releases the line.
  virtual void CloseLine() = 0;

  // --- Services for the backends. All need mu_ held. ---
  // Bytes as they came off the line: NUL bytes dropped under fNull, EvtChar and queue events
  // raised, queued, pending reads served. n must not exceed InputFree().
  void Receive(const uint8_t* data, size_t n);
  // Records events (those in the mask): completes the pending wait or keeps them for the next.
  void RaiseEvents(uint32_t events);
  // Adds line errors to the error word, raising EV_ERR and EV_BREAK for them.
  void AddErrors(uint32_t ce);
  // The line is gone: pending operations fail with 1167, later ones too (queued input stays
  // readable). The I/O thread then stops watching the line.
  void DeviceLost();
  // Pushes pending writes to the line as far as it takes them.
  void TryTransmit();
  // Raises EV_TXEMPTY when everything written has left the line.
  void CheckTxEmpty();
  // Wakes the I/O thread when what it waits for has changed.
  void Replan();

  size_t InputFree() const { return input_.Free(); }
  bool Lost() const { return lost_; }
  bool Closing() const { return closing_; }
  const DCB& Dcb() const { return dcb_; }
  uint32_t Mask() const { return mask_; }
  bool TxActive() const { return txActive_; }
  // No write and no priority character waits for the line.
  bool WritesIdle() const { return writes_.empty() && !priority_; }
  // Counts the input purges, so that bytes read off the line before one are dropped.
  uint64_t PurgeCount() const { return purges_; }
  // The configuration GetCommState reports before the first SetCommState.
  void SetInitialDcb(const DCB& dcb) { dcb_ = dcb; }

  mutable std::mutex mu_;

 private:
  struct ReadOp {
    OVERLAPPED* ov = nullptr;
    uint8_t* buffer = nullptr;
    uint32_t count = 0;
    uint32_t got = 0;
    bool active = false;
    ReadRule rule;
    Clock::time_point totalDeadline = Clock::time_point::max();
    Clock::time_point lastArrival{};
  };
  struct WriteOp {
    OVERLAPPED* ov = nullptr;
    const uint8_t* data = nullptr;
    uint32_t count = 0;
    uint32_t done = 0;
    bool active = false;
    Clock::time_point deadline = Clock::time_point::max();
  };
  struct WaitOp {
    OVERLAPPED* ov;
    uint32_t* mask;
  };
  struct Planned {
    int fd = -1;
    short events = 0;
    Clock::time_point deadline = Clock::time_point::max();
  };

  void IoLoop();
  void Wake();
  void DrainWake();
  void ArmTimer(Clock::time_point deadline);
  void TimerFired();
  Clock::time_point NextDeadline() const;
  void ExpireOperations(Clock::time_point now);
  void ServeReads();
  void QueueShrank();
  void UpdateInputFlow();
  bool OwnsOperation(const OVERLAPPED* ov) const;
  // The error a new read (readable: input is queued), write or wait start meets, or 0.
  uint32_t StartRefusal(bool readable) const;
  void FinishRead(ReadOp& r, uint32_t error);
  void FinishWrite(WriteOp& w, uint32_t error);
  void AbortReads(uint32_t error);
  void AbortWrites(uint32_t error);
  void EndWait(uint32_t error, uint32_t events);
  bool ResultOfStart(OVERLAPPED* ov, uint32_t* done);

  rtl::UniqueFd wakeRead_, wakeWrite_;
  // Brings an earlier deadline to the I/O thread without waking it to plan again.
  rtl::UniqueFd timer_;
  Clock::time_point armed_ = Clock::time_point::max();
  std::thread io_;
  bool ioStarted_ = false;
  bool wakePending_ = false;
  Planned planned_;
  Clock::time_point nextTick_ = Clock::time_point::max();

  ByteRing input_{kMinInputQueue};
  std::deque<ReadOp> reads_;
  std::deque<WriteOp> writes_;
  std::optional<WaitOp> wait_;
  std::optional<uint8_t> priority_;
  DCB dcb_{};
  bool dcbSet_ = false;
  COMMTIMEOUTS timeouts_{};
  uint32_t mask_ = 0;
  uint32_t kept_ = 0;
  uint32_t errors_ = 0;
  bool inputFlowOn_ = true;
  bool txActive_ = false;
  bool lost_ = false;
  bool closing_ = false;
  bool closed_ = false;
  bool inTransmit_ = false;
  bool transmitAgain_ = false;
  uint64_t purges_ = 0;
};

}  // namespace comm
