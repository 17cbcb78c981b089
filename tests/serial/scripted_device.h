// A scripted serial device for engine tests: it records every call with its arguments, fails the
// calls it is told to fail, holds reads, writes and event waits pending until the test (or an
// injected arrival) completes them, and injects received bytes, modem-line changes and line errors.
// Installed for a path prefix, so a port named "/script/a" opens it. Thread-safe.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "serial/device/device.h"

namespace scripted {

// One recorded call: its name (the device call's, "CreateFile" for an open, "CloseHandle" for
// the close), its scalar arguments in order without the handle, and the records it was given.
struct Call {
  std::string name;
  std::vector<int64_t> args;
  std::string path;                          // CreateFile
  std::optional<comm::DCB> dcb;              // SetCommState
  std::optional<comm::COMMTIMEOUTS> timeouts;  // SetCommTimeouts (its five values are also args)

  // "Name(arg, arg)"; CreateFile shows its path first.
  std::string Text() const;
};

class ScriptedDevice : public comm::Device {
 public:
  // The open state and queues start afresh at each open; the modem lines persist.
  ScriptedDevice() = default;

  // --- Script ------------------------------------------------------------------------------

  // The next `times` calls named call fail with error (the last-error number). "CreateFile"
  // refuses the open.
  void FailNext(const std::string& call, uint32_t error, int times = 1);
  // Every call named call fails with error until ClearFailures.
  void FailAlways(const std::string& call, uint32_t error);
  void ClearFailures();
  // Refuses every open with error (0: opens again).
  void RefuseOpen(uint32_t error);

  // Sets the modem status word (MS_*_ON); EV_CTS, EV_DSR, EV_RING, EV_RLSD for changed lines.
  void SetModemStatus(uint32_t status);
  // Adds CE_* bits to the line error word (cleared by ClearCommError); EV_ERR, and EV_BREAK for
  // CE_BREAK.
  void InjectLineErrors(uint32_t errors);
  // Appends to the input queue: EV_RXCHAR, EV_RXFLAG when the DCB's EvtChar is among them,
  // EV_RX80FULL when the queue reaches 80% of the SetupComm input size; a pending read that can
  // now be satisfied completes.
  void InjectReceived(std::string_view bytes);
  // Raises events (EV_* bits) directly.
  void RaiseEvents(uint32_t events);
  // The hold flags that ClearCommError reports (COMSTAT flag word bits).
  void SetStatFlags(uint32_t flags);

  // While held, writes stay pending (counted in cbOutQue) until CompleteWrites.
  void HoldWrites(bool hold);
  // Completes every pending write: error 0 writes all their bytes, otherwise none.
  void CompleteWrites(uint32_t error = 0);
  // Completes every pending read now, as a timeout would: with what is queued (error 0), or
  // with error and nothing.
  void CompleteReads(uint32_t error = 0);

  // --- Observation -------------------------------------------------------------------------

  std::vector<Call> Calls() const;
  // Text() of every call, in order.
  std::vector<std::string> CallTexts() const;
  // Text() of the calls named name.
  std::vector<std::string> CallTexts(const std::string& name) const;
  void ClearCalls();
  // Waits until count calls named name have been recorded; false after timeout.
  bool WaitForCalls(const std::string& name, size_t count, std::chrono::milliseconds timeout) const;

  bool IsOpen() const;
  int Opens() const;
  comm::DCB State() const;
  comm::COMMTIMEOUTS Timeouts() const;
  uint32_t Mask() const;
  bool Dtr() const;
  bool Rts() const;
  bool Break() const;
  bool XoffSet() const;
  std::string Written() const;      // bytes of completed writes, in order
  std::string Transmitted() const;  // TransmitCommChar characters, in order
  size_t PendingWaits() const;
  size_t PendingReads() const;
  size_t PendingWrites() const;

  // --- comm::Device ------------------------------------------------------------------------

  bool SetupComm(uint32_t inQueue, uint32_t outQueue) override;
  bool GetCommState(comm::DCB* dcb) override;
  bool SetCommState(const comm::DCB& dcb) override;
  bool GetCommTimeouts(comm::COMMTIMEOUTS* timeouts) override;
  bool SetCommTimeouts(const comm::COMMTIMEOUTS& timeouts) override;
  bool GetCommMask(uint32_t* mask) override;
  bool SetCommMask(uint32_t mask) override;
  bool WaitCommEvent(uint32_t* mask, comm::OVERLAPPED* overlapped) override;
  bool ReadFile(void* buffer, uint32_t count, uint32_t* done, comm::OVERLAPPED* overlapped) override;
  bool WriteFile(const void* buffer, uint32_t count, uint32_t* done, comm::OVERLAPPED* overlapped) override;
  bool GetOverlappedResult(comm::OVERLAPPED* overlapped, uint32_t* transferred, bool wait) override;
  bool PurgeComm(uint32_t flags) override;
  bool ClearCommError(uint32_t* errors, comm::COMSTAT* stat) override;
  bool GetCommModemStatus(uint32_t* status) override;
  bool EscapeCommFunction(uint32_t function) override;
  bool TransmitCommChar(char c) override;
  void Close() override;
  void Cancel(comm::OVERLAPPED* overlapped) override;

  // The factory's open: records CreateFile, applies the script, refuses a second opener with 5.
  bool OpenFromFactory(const std::string& path, uint32_t shareMode, uint32_t& error);

 private:
  struct PendingRead {
    uint8_t* buffer;
    uint32_t count;
    comm::OVERLAPPED* overlapped;
  };
  struct PendingWrite {
    std::string bytes;
    comm::OVERLAPPED* overlapped;
  };
  struct PendingWait {
    uint32_t* mask;
    comm::OVERLAPPED* overlapped;
  };

  // Under mutex_: records the call and returns the scripted failure for it (0: none).
  uint32_t Enter(Call call);
  void RaiseLocked(uint32_t events);
  void ServeReadsLocked();
  uint32_t TakeLocked(uint8_t* buffer, uint32_t count);
  bool ReturnAtOnceLocked() const;

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<Call> calls_;
  std::map<std::string, std::deque<uint32_t>> failNext_;
  std::map<std::string, uint32_t> failAlways_;

  bool open_ = false;
  int opens_ = 0;
  comm::DCB dcb_{};
  comm::COMMTIMEOUTS timeouts_{};
  uint32_t inQueueSize_ = 4096;
  uint32_t mask_ = 0;
  uint32_t kept_ = 0;  // events that occurred while no wait was pending
  uint32_t modem_ = 0;
  uint32_t errors_ = 0;
  uint32_t statFlags_ = 0;
  bool dtr_ = false, rts_ = false, break_ = false, xoff_ = false;
  bool holdWrites_ = false;
  std::string input_;
  std::string written_;
  std::string transmitted_;
  std::optional<PendingWait> wait_;
  std::deque<PendingRead> reads_;
  std::deque<PendingWrite> writes_;
};

// Installs device for the paths that start with prefix, for the guard's lifetime.
class ScriptedInstall {
 public:
  ScriptedInstall(std::string prefix, std::shared_ptr<ScriptedDevice> device);
  ~ScriptedInstall();
  ScriptedInstall(const ScriptedInstall&) = delete;
  ScriptedInstall& operator=(const ScriptedInstall&) = delete;

 private:
  std::string prefix_;
};

}  // namespace scripted
