// The calls of the driver model and its queues of pending transfers.
#include "serial/device/queued_device.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>

#include "runtime/lasterror.h"
#include "serial/device/dcb_check.h"

namespace comm {

namespace {

using Clock = std::chrono::steady_clock;
constexpr Clock::time_point kNever = Clock::time_point::max();

constexpr uint32_t EV_PERR = 0x0200, EV_EVENT1 = 0x0800, EV_EVENT2 = 0x1000;
constexpr uint32_t kValidEvents = EV_RXCHAR | EV_RXFLAG | EV_TXEMPTY | EV_CTS | EV_DSR | EV_RLSD | EV_BREAK |
                                  EV_ERR | EV_RING | EV_PERR | EV_RX80FULL | EV_EVENT1 | EV_EVENT2;
constexpr uint32_t kPurgeFlags = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;

bool Fail(uint32_t error) {
  rtl::SetLastError(error);
  return false;
}

// Runs an overlapped start on a record of its own and waits for it: the call without a record.
template <class Start>
bool RunWithOwnRecord(Device& device, uint32_t* done, Start&& start) {
  OVERLAPPED own;
  own.hEvent = rtl::CreateEvent(true, false);
  uint32_t n = 0;
  bool ok = start(&own, &n);
  if (!ok && rtl::GetLastError() == rtl::ERROR_IO_PENDING) ok = device.GetOverlappedResult(&own, &n, true);
  if (done) *done = n;
  return ok;
}

}  // namespace

// --- Operations on the queues -----------------------------------------------------------------

void QueuedDevice::FinishRead(ReadOp& r, uint32_t error) { CompleteOperation(r.ov, error, r.got); }

void QueuedDevice::FinishWrite(WriteOp& w, uint32_t error) { CompleteOperation(w.ov, error, w.done); }

void QueuedDevice::AbortReads(uint32_t error) {
  for (ReadOp& r : reads_) FinishRead(r, error);
  reads_.clear();
}

void QueuedDevice::AbortWrites(uint32_t error) {
  for (WriteOp& w : writes_) FinishWrite(w, error);
  writes_.clear();
}

void QueuedDevice::EndWait(uint32_t error, uint32_t events) {
  *wait_->mask = events;
  CompleteOperation(wait_->ov, error, 0);
  wait_.reset();
}

void QueuedDevice::ServeReads() {
  bool took = false;
  const Clock::time_point now = Clock::now();
  while (!reads_.empty()) {
    ReadOp& r = reads_.front();
    if (!r.active) {
      r.active = true;
      r.rule = ReadRuleFor(timeouts_, r.count);
      r.totalDeadline = r.rule.total ? now + *r.rule.total : kNever;
    }
    size_t n = input_.Read(r.buffer + r.got, r.count - r.got);
    if (n > 0) {
      r.got += static_cast<uint32_t>(n);
      r.lastArrival = now;
      took = true;
    }
    const bool done = r.got == r.count || r.rule.mode == ReadRule::Mode::Immediate ||
                      (r.rule.mode == ReadRule::Mode::FirstByte && r.got > 0);
    if (!done && !lost_) break;
    // Once the line is gone nothing more can come: a read ends with what the queue held.
    FinishRead(r, done || r.got > 0 ? 0 : rtl::ERROR_DEVICE_NOT_CONNECTED);
    reads_.pop_front();
  }
  if (took) QueueShrank();
}

void QueuedDevice::QueueShrank() {
  UpdateInputFlow();
  if (!WritesIdle()) TryTransmit();
  Replan();
}

void QueuedDevice::UpdateInputFlow() {
  bool on = inputFlowOn_;
  if (on && input_.Free() <= dcb_.XoffLim) {
    on = false;
  } else if (!on && input_.Size() <= dcb_.XonLim && input_.Free() > dcb_.XoffLim) {
    on = true;
  }
  if (on == inputFlowOn_) return;
  inputFlowOn_ = on;
  if (dcb_.fDtrControl == DTR_CONTROL_HANDSHAKE || dcb_.fRtsControl == RTS_CONTROL_HANDSHAKE)
    InputFlowChanged(on);
}

void QueuedDevice::Receive(const uint8_t* data, size_t n) {
  if (n == 0) return;
  const size_t before = input_.Size();
  const bool scanFlag = (mask_ & EV_RXFLAG) != 0;
  const uint8_t flag = static_cast<uint8_t>(dcb_.EvtChar);
  uint32_t events = 0;
  size_t offered = 0, queued = 0;
  auto put = [&](const uint8_t* p, size_t len) {
    size_t w = input_.Write(p, len);
    offered += len;
    queued += w;
    if (scanFlag && w > 0 && std::memchr(p, flag, w)) events |= EV_RXFLAG;
  };
  if (!dcb_.fNull) {
    put(data, n);
  } else {
    const uint8_t* p = data;
    const uint8_t* end = data + n;
    while (p < end) {
      auto* nul = static_cast<const uint8_t*>(std::memchr(p, 0, static_cast<size_t>(end - p)));
      const uint8_t* stop = nul ? nul : end;
      if (stop > p) put(p, static_cast<size_t>(stop - p));
      p = nul ? nul + 1 : end;
    }
  }
  if (queued < offered) errors_ |= CE_RXOVER;
  if (input_.Size() > before) events |= EV_RXCHAR;
  const size_t full80 = input_.Capacity() / 10 * 8;
  if (before < full80 && input_.Size() >= full80) events |= EV_RX80FULL;
  RaiseEvents(events);
  ServeReads();
  UpdateInputFlow();
}

void QueuedDevice::RaiseEvents(uint32_t events) {
  events &= mask_;
  if (events == 0) return;
  if (wait_) {
    EndWait(0, events);
  } else {
    kept_ |= events;
  }
}

void QueuedDevice::AddErrors(uint32_t ce) {
  if (ce == 0) return;
  errors_ |= ce;
  uint32_t events = 0;
  if (ce & (CE_FRAME | CE_OVERRUN | CE_RXPARITY)) events |= EV_ERR;
  if (ce & CE_BREAK) events |= EV_BREAK;
  RaiseEvents(events);
  if (dcb_.fAbortOnError) {
    AbortReads(rtl::ERROR_OPERATION_ABORTED);
    AbortWrites(rtl::ERROR_OPERATION_ABORTED);
  }
}

void QueuedDevice::DeviceLost() {
  if (lost_) return;
  lost_ = true;
  AbortReads(rtl::ERROR_DEVICE_NOT_CONNECTED);
  AbortWrites(rtl::ERROR_DEVICE_NOT_CONNECTED);
  if (wait_) EndWait(rtl::ERROR_DEVICE_NOT_CONNECTED, 0);
  priority_.reset();
  txActive_ = false;
  Replan();
}

void QueuedDevice::TryTransmit() {
  if (inTransmit_) {
    // Reached again from inside a transmission (the loopback receives what it sends).
    transmitAgain_ = true;
    return;
  }
  inTransmit_ = true;
  bool lost = false;
  do {
    transmitAgain_ = false;
    if (priority_ && !lost_) {
      int r = SendPriority(*priority_);
      if (r < 0) {
        lost = true;
      } else if (r > 0) {
        priority_.reset();
        txActive_ = true;
      }
    }
    while (!lost && !lost_ && !priority_ && !writes_.empty()) {
      WriteOp& w = writes_.front();
      if (!w.active) {
        w.active = true;
        auto total = WriteTotalFor(timeouts_, w.count);
        w.deadline = total ? Clock::now() + *total : kNever;
      }
      if (w.done < w.count) {
        OVERLAPPED* ov = w.ov;
        size_t n = Transmit(w.data + w.done, w.count - w.done, lost);
        if (writes_.empty() || writes_.front().ov != ov) continue;  // ended meanwhile
        WriteOp& same = writes_.front();
        same.done += static_cast<uint32_t>(n);
        if (n > 0) txActive_ = true;
        if (lost || same.done < same.count) break;
      }
      FinishWrite(writes_.front(), 0);
      writes_.pop_front();
    }
  } while (transmitAgain_ && !lost && !lost_);
  inTransmit_ = false;
  if (lost) {
    DeviceLost();
    return;
  }
  if (WritesIdle()) CheckTxEmpty();
  Replan();  // output under way may need the watcher (output empty, RTS toggle, DSR hold)
}

void QueuedDevice::CheckTxEmpty() {
  if (!txActive_ || !WritesIdle() || lost_) return;
  if (!(mask_ & EV_TXEMPTY)) return;  // an event outside the mask is not kept anyway
  if (LineOutQueue() != 0) return;
  txActive_ = false;
  RaiseEvents(EV_TXEMPTY);
}

bool QueuedDevice::OwnsOperation(const OVERLAPPED* ov) const {
  if (wait_ && wait_->ov == ov) return true;
  for (const ReadOp& r : reads_)
    if (r.ov == ov) return true;
  for (const WriteOp& w : writes_)
    if (w.ov == ov) return true;
  return false;
}

uint32_t QueuedDevice::StartRefusal(bool readable) const {
  if (closing_) return rtl::ERROR_INVALID_HANDLE;
  if (lost_ && !readable) return rtl::ERROR_DEVICE_NOT_CONNECTED;
  if (dcb_.fAbortOnError && errors_ != 0) return rtl::ERROR_OPERATION_ABORTED;
  return 0;
}

bool QueuedDevice::ResultOfStart(OVERLAPPED* ov, uint32_t* done) {
  if (OwnsOperation(ov)) {
    Replan();
    return Fail(rtl::ERROR_IO_PENDING);
  }
  const uint32_t error = ov->Internal.load(std::memory_order_relaxed);
  if (done) *done = ov->InternalHigh.load(std::memory_order_relaxed);
  return error == 0 ? true : Fail(error);
}

// --- The calls --------------------------------------------------------------------------------

bool QueuedDevice::SetupComm(uint32_t inQueue, uint32_t outQueue) {
  if (inQueue > kMaxInputQueue || outQueue > kMaxInputQueue) return Fail(rtl::ERROR_INVALID_PARAMETER);
  std::lock_guard lock(mu_);
  if (lost_) return Fail(rtl::ERROR_DEVICE_NOT_CONNECTED);
  try {
    input_.Reserve(std::max<size_t>(kMinInputQueue, inQueue));
  } catch (const std::bad_alloc&) {
    return Fail(rtl::ERROR_NOT_ENOUGH_MEMORY);
  }
  return true;
}

bool QueuedDevice::GetCommState(DCB* dcb) {
  if (!dcb) return Fail(rtl::ERROR_INVALID_PARAMETER);
  std::lock_guard lock(mu_);
  *dcb = dcb_;
  return true;
}

bool QueuedDevice::SetCommState(const DCB& dcb) {
  if (uint32_t e = CheckDcb(dcb)) return Fail(e);
  std::lock_guard lock(mu_);
  if (lost_) return Fail(rtl::ERROR_DEVICE_NOT_CONNECTED);
  if (uint32_t e = ApplyLine(dcb, dcbSet_ ? &dcb_ : nullptr)) {
    if (e == rtl::ERROR_DEVICE_NOT_CONNECTED) DeviceLost();
    return Fail(e);
  }
  dcb_ = dcb;
  dcb_.DCBlength = sizeof(DCB);
  dcbSet_ = true;
  if (!WritesIdle()) TryTransmit();  // a flow setting may release held output
  Replan();
  return true;
}

bool QueuedDevice::GetCommTimeouts(COMMTIMEOUTS* timeouts) {
  if (!timeouts) return Fail(rtl::ERROR_INVALID_PARAMETER);
  std::lock_guard lock(mu_);
  *timeouts = timeouts_;
  return true;
}

bool QueuedDevice::SetCommTimeouts(const COMMTIMEOUTS& timeouts) {
  if (!TimeoutsValid(timeouts)) return Fail(rtl::ERROR_INVALID_PARAMETER);
  std::lock_guard lock(mu_);
  if (lost_) return Fail(rtl::ERROR_DEVICE_NOT_CONNECTED);
  timeouts_ = timeouts;  // for the transfers that start from now on
  return true;
}

bool QueuedDevice::GetCommMask(uint32_t* mask) {
  if (!mask) return Fail(rtl::ERROR_INVALID_PARAMETER);
  std::lock_guard lock(mu_);
  *mask = mask_;
  return true;
}

bool QueuedDevice::SetCommMask(uint32_t mask) {
  if (mask & ~kValidEvents) return Fail(rtl::ERROR_INVALID_PARAMETER);
  std::lock_guard lock(mu_);
  if (lost_) return Fail(rtl::ERROR_DEVICE_NOT_CONNECTED);
  mask_ = mask;
  kept_ = 0;
  if (wait_) EndWait(0, 0);
  MaskChanged();
  Replan();
  return true;
}

bool QueuedDevice::WaitCommEvent(uint32_t* mask, OVERLAPPED* ov) {
  if (!ov) return RunWithOwnRecord(*this, nullptr, [&](OVERLAPPED* own, uint32_t*) { return WaitCommEvent(mask, own); });
  std::lock_guard lock(mu_);
  if (OwnsOperation(ov)) return Fail(rtl::ERROR_INVALID_PARAMETER);  // the record is busy
  if (!mask || wait_) return FailStart(ov, rtl::ERROR_INVALID_PARAMETER);
  if (kept_ == 0) {
    if (uint32_t e = StartRefusal(false); e && e != rtl::ERROR_OPERATION_ABORTED) return FailStart(ov, e);
  }
  if (mask_ == 0) return FailStart(ov, rtl::ERROR_INVALID_PARAMETER);
  BeginOperation(ov);
  if (kept_ != 0) {
    *mask = kept_;
    kept_ = 0;
    CompleteOperation(ov, 0, 0);
    return true;
  }
  wait_ = WaitOp{ov, mask};
  return Fail(rtl::ERROR_IO_PENDING);
}

bool QueuedDevice::ReadFile(void* buffer, uint32_t count, uint32_t* done, OVERLAPPED* ov) {
  if (!ov)
    return RunWithOwnRecord(*this, done, [&](OVERLAPPED* own, uint32_t* n) { return ReadFile(buffer, count, n, own); });
  std::lock_guard lock(mu_);
  if (OwnsOperation(ov)) return Fail(rtl::ERROR_INVALID_PARAMETER);
  if (!buffer && count) return FailStart(ov, rtl::ERROR_INVALID_PARAMETER);
  if (uint32_t e = StartRefusal(!input_.Empty())) return FailStart(ov, e);
  BeginOperation(ov);
  ReadOp& r = reads_.emplace_back();
  r.ov = ov;
  r.buffer = static_cast<uint8_t*>(buffer);
  r.count = count;
  ServeReads();
  return ResultOfStart(ov, done);
}

bool QueuedDevice::WriteFile(const void* buffer, uint32_t count, uint32_t* done, OVERLAPPED* ov) {
  if (!ov)
    return RunWithOwnRecord(*this, done, [&](OVERLAPPED* own, uint32_t* n) { return WriteFile(buffer, count, n, own); });
  std::lock_guard lock(mu_);
  if (OwnsOperation(ov)) return Fail(rtl::ERROR_INVALID_PARAMETER);
  if (!buffer && count) return FailStart(ov, rtl::ERROR_INVALID_PARAMETER);
  if (uint32_t e = StartRefusal(false)) return FailStart(ov, e);
  BeginOperation(ov);
  WriteOp& w = writes_.emplace_back();
  w.ov = ov;
  w.data = static_cast<const uint8_t*>(buffer);
  w.count = count;
  TryTransmit();
  return ResultOfStart(ov, done);
}

bool QueuedDevice::PurgeComm(uint32_t flags) {
  if (flags & ~kPurgeFlags) return Fail(rtl::ERROR_INVALID_PARAMETER);
  std::lock_guard lock(mu_);
  if (lost_) return Fail(rtl::ERROR_DEVICE_NOT_CONNECTED);
  if (flags & PURGE_TXABORT) AbortWrites(rtl::ERROR_OPERATION_ABORTED);
  if (flags & PURGE_RXABORT) AbortReads(rtl::ERROR_OPERATION_ABORTED);
  if (flags & PURGE_TXCLEAR) PurgeLine(PURGE_TXCLEAR);
  if (flags & PURGE_RXCLEAR) {
    input_.Clear();
    ++purges_;
    PurgeLine(PURGE_RXCLEAR);
    QueueShrank();
  }
  if (!WritesIdle()) TryTransmit();
  Replan();
  return true;
}

bool QueuedDevice::ClearCommError(uint32_t* errors, COMSTAT* stat) {
  std::lock_guard lock(mu_);
  if (lost_ && input_.Empty()) return Fail(rtl::ERROR_DEVICE_NOT_CONNECTED);
  if (!lost_) RefreshErrors();
  if (errors) *errors = errors_;
  errors_ = 0;
  if (stat) {
    const uint32_t hold = lost_ ? 0 : LineHoldFlags();
    COMSTAT s{};
    s.fCtsHold = hold & 1;
    s.fDsrHold = (hold >> 1) & 1;
    s.fRlsdHold = (hold >> 2) & 1;
    s.fXoffHold = (hold >> 3) & 1;
    s.fXoffSent = (hold >> 4) & 1;
    s.fTxim = priority_ ? 1 : 0;
    s.cbInQue = static_cast<uint32_t>(input_.Size());
    uint64_t out = lost_ ? 0 : LineOutQueue();
    for (const WriteOp& w : writes_) out += w.count - w.done;
    s.cbOutQue = static_cast<uint32_t>(std::min<uint64_t>(out, UINT32_MAX));
    *stat = s;
  }
  return true;
}

bool QueuedDevice::GetCommModemStatus(uint32_t* status) {
  if (!status) return Fail(rtl::ERROR_INVALID_PARAMETER);
  std::lock_guard lock(mu_);
  if (lost_) return Fail(rtl::ERROR_DEVICE_NOT_CONNECTED);
  if (uint32_t e = ModemStatus(status)) {
    if (e == rtl::ERROR_DEVICE_NOT_CONNECTED) DeviceLost();
    return Fail(e);
  }
  return true;
}

bool QueuedDevice::EscapeCommFunction(uint32_t function) {
  switch (function) {
    case SETXOFF: case SETXON: case SETRTS: case CLRRTS: case SETDTR: case CLRDTR: case SETBREAK: case CLRBREAK:
      break;
    default:
      return Fail(rtl::ERROR_INVALID_PARAMETER);
  }
  std::lock_guard lock(mu_);
  if (lost_) return Fail(rtl::ERROR_DEVICE_NOT_CONNECTED);
  // A line that flow control drives cannot be set by hand, as on the platform.
  if ((function == SETRTS || function == CLRRTS) &&
      (dcb_.fRtsControl == RTS_CONTROL_HANDSHAKE || dcb_.fRtsControl == RTS_CONTROL_TOGGLE))
    return Fail(rtl::ERROR_INVALID_PARAMETER);
  if ((function == SETDTR || function == CLRDTR) && dcb_.fDtrControl == DTR_CONTROL_HANDSHAKE)
    return Fail(rtl::ERROR_INVALID_PARAMETER);
  if (uint32_t e = Escape(function)) {
    if (e == rtl::ERROR_DEVICE_NOT_CONNECTED) DeviceLost();
    return Fail(e);
  }
  if (!WritesIdle()) TryTransmit();
  Replan();
  return true;
}

bool QueuedDevice::TransmitCommChar(char c) {
  std::lock_guard lock(mu_);
  if (lost_) return Fail(rtl::ERROR_DEVICE_NOT_CONNECTED);
  if (priority_) return Fail(rtl::ERROR_NOT_READY);  // the previous one has not gone out yet
  int r = SendPriority(static_cast<uint8_t>(c));
  if (r < 0) {
    DeviceLost();
    return Fail(rtl::ERROR_DEVICE_NOT_CONNECTED);
  }
  if (r > 0) {
    txActive_ = true;
    CheckTxEmpty();
  } else {
    priority_ = static_cast<uint8_t>(c);  // ahead of every pending write
  }
  Replan();
  return true;
}

void QueuedDevice::Cancel(OVERLAPPED* ov) {
  std::lock_guard lock(mu_);
  if (wait_ && wait_->ov == ov) wait_.reset();
  auto r = std::find_if(reads_.begin(), reads_.end(), [&](const ReadOp& op) { return op.ov == ov; });
  if (r != reads_.end()) {
    const bool front = r == reads_.begin();
    reads_.erase(r);
    if (front) ServeReads();
  }
  auto w = std::find_if(writes_.begin(), writes_.end(), [&](const WriteOp& op) { return op.ov == ov; });
  if (w != writes_.end()) {
    const bool front = w == writes_.begin();
    writes_.erase(w);
    if (front) TryTransmit();
  }
  Replan();
}

void QueuedDevice::Close() {
  {
    std::lock_guard lock(mu_);
    if (closed_) return;
    closed_ = true;
    closing_ = true;
    AbortReads(rtl::ERROR_OPERATION_ABORTED);
    AbortWrites(rtl::ERROR_OPERATION_ABORTED);
    if (wait_) EndWait(rtl::ERROR_OPERATION_ABORTED, 0);
    priority_.reset();
    Wake();
  }
  if (io_.joinable()) io_.join();
  CloseLine();
}

}  // namespace comm
