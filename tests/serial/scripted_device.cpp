#include "scripted_device.h"

#include <algorithm>
#include <cstring>
#include <sstream>

#include "runtime/lasterror.h"

namespace scripted {

std::string Call::Text() const {
  std::ostringstream out;
  out << name << "(";
  bool first = true;
  if (name == "CreateFile") {
    out << '"' << path << '"';
    first = false;
  }
  for (int64_t a : args) {
    if (!first) out << ", ";
    out << a;
    first = false;
  }
  out << ")";
  return out.str();
}

namespace {

Call Named(std::string name, std::vector<int64_t> args = {}) {
  Call call;
  call.name = std::move(name);
  call.args = std::move(args);
  return call;
}

}  // namespace

// --- Script ----------------------------------------------------------------------------------

void ScriptedDevice::FailNext(const std::string& call, uint32_t error, int times) {
  std::lock_guard lock(mutex_);
  for (int i = 0; i < times; ++i) failNext_[call].push_back(error);
}

void ScriptedDevice::FailAlways(const std::string& call, uint32_t error) {
  std::lock_guard lock(mutex_);
  failAlways_[call] = error;
}

void ScriptedDevice::ClearFailures() {
  std::lock_guard lock(mutex_);
  failNext_.clear();
  failAlways_.clear();
}

void ScriptedDevice::RefuseOpen(uint32_t error) {
  std::lock_guard lock(mutex_);
  if (error) {
    failAlways_["CreateFile"] = error;
  } else {
    failAlways_.erase("CreateFile");
  }
}

void ScriptedDevice::SetModemStatus(uint32_t status) {
  std::lock_guard lock(mutex_);
  const uint32_t changed = modem_ ^ status;
  modem_ = status;
  uint32_t events = 0;
  if (changed & comm::MS_CTS_ON) events |= comm::EV_CTS;
  if (changed & comm::MS_DSR_ON) events |= comm::EV_DSR;
  if (changed & comm::MS_RING_ON) events |= comm::EV_RING;
  if (changed & comm::MS_RLSD_ON) events |= comm::EV_RLSD;
  RaiseLocked(events);
}

void ScriptedDevice::InjectLineErrors(uint32_t errors) {
  std::lock_guard lock(mutex_);
  errors_ |= errors;
  uint32_t events = 0;
  if (errors & ~comm::CE_BREAK) events |= comm::EV_ERR;
  if (errors & comm::CE_BREAK) events |= comm::EV_BREAK;
  RaiseLocked(events);
}

void ScriptedDevice::InjectReceived(std::string_view bytes) {
  std::lock_guard lock(mutex_);
  if (bytes.empty()) return;
  const bool wasBelow = input_.size() * 5 < static_cast<size_t>(inQueueSize_) * 4;
  input_.append(bytes);
  uint32_t events = comm::EV_RXCHAR;
  if (bytes.find(dcb_.EvtChar) != std::string_view::npos) events |= comm::EV_RXFLAG;
  if (wasBelow && input_.size() * 5 >= static_cast<size_t>(inQueueSize_) * 4) events |= comm::EV_RX80FULL;
  ServeReadsLocked();
  RaiseLocked(events);
}

void ScriptedDevice::RaiseEvents(uint32_t events) {
  std::lock_guard lock(mutex_);
  RaiseLocked(events);
}

void ScriptedDevice::SetStatFlags(uint32_t flags) {
  std::lock_guard lock(mutex_);
  statFlags_ = flags;
}

void ScriptedDevice::HoldWrites(bool hold) {
  std::lock_guard lock(mutex_);
  holdWrites_ = hold;
}

void ScriptedDevice::CompleteWrites(uint32_t error) {
  std::lock_guard lock(mutex_);
  bool wrote = false;
  while (!writes_.empty()) {
    PendingWrite w = std::move(writes_.front());
    writes_.pop_front();
    if (error == 0) {
      written_ += w.bytes;
      wrote = wrote || !w.bytes.empty();
    }
    CompleteOperation(w.overlapped, error, error == 0 ? static_cast<uint32_t>(w.bytes.size()) : 0);
  }
  if (wrote) RaiseLocked(comm::EV_TXEMPTY);
  changed_.notify_all();
}

void ScriptedDevice::CompleteReads(uint32_t error) {
  std::lock_guard lock(mutex_);
  while (!reads_.empty()) {
    PendingRead r = reads_.front();
    reads_.pop_front();
    const uint32_t n = error == 0 ? TakeLocked(r.buffer, r.count) : 0;
    CompleteOperation(r.overlapped, error, n);
  }
  changed_.notify_all();
}

// --- Observation -----------------------------------------------------------------------------

std::vector<Call> ScriptedDevice::Calls() const {
  std::lock_guard lock(mutex_);
  return calls_;
}

std::vector<std::string> ScriptedDevice::CallTexts() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> texts;
  for (const Call& c : calls_) texts.push_back(c.Text());
  return texts;
}

std::vector<std::string> ScriptedDevice::CallTexts(const std::string& name) const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> texts;
  for (const Call& c : calls_) {
    if (c.name == name) texts.push_back(c.Text());
  }
  return texts;
}

void ScriptedDevice::ClearCalls() {
  std::lock_guard lock(mutex_);
  calls_.clear();
}

bool ScriptedDevice::WaitForCalls(const std::string& name, size_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] {
    return static_cast<size_t>(std::count_if(calls_.begin(), calls_.end(),
                                             [&](const Call& c) { return c.name == name; })) >= count;
  });
}

bool ScriptedDevice::IsOpen() const {
  std::lock_guard lock(mutex_);
  return open_;
}
int ScriptedDevice::Opens() const {
  std::lock_guard lock(mutex_);
  return opens_;
}
comm::DCB ScriptedDevice::State() const {
  std::lock_guard lock(mutex_);
  return dcb_;
}
comm::COMMTIMEOUTS ScriptedDevice::Timeouts() const {
  std::lock_guard lock(mutex_);
  return timeouts_;
}
uint32_t ScriptedDevice::Mask() const {
  std::lock_guard lock(mutex_);
  return mask_;
}
bool ScriptedDevice::Dtr() const {
  std::lock_guard lock(mutex_);
  return dtr_;
}
bool ScriptedDevice::Rts() const {
  std::lock_guard lock(mutex_);
  return rts_;
}
bool ScriptedDevice::Break() const {
  std::lock_guard lock(mutex_);
  return break_;
}
bool ScriptedDevice::XoffSet() const {
  std::lock_guard lock(mutex_);
  return xoff_;
}
std::string ScriptedDevice::Written() const {
  std::lock_guard lock(mutex_);
  return written_;
}
std::string ScriptedDevice::Transmitted() const {
  std::lock_guard lock(mutex_);
  return transmitted_;
}
size_t ScriptedDevice::PendingWaits() const {
  std::lock_guard lock(mutex_);
  return wait_ ? 1 : 0;
}
size_t ScriptedDevice::PendingReads() const {
  std::lock_guard lock(mutex_);
  return reads_.size();
}
size_t ScriptedDevice::PendingWrites() const {
  std::lock_guard lock(mutex_);
  return writes_.size();
}

// --- Internals -------------------------------------------------------------------------------

uint32_t ScriptedDevice::Enter(Call call) {
  const std::string name = call.name;
  calls_.push_back(std::move(call));
  changed_.notify_all();
  if (auto it = failNext_.find(name); it != failNext_.end() && !it->second.empty()) {
    const uint32_t error = it->second.front();
    it->second.pop_front();
    return error;
  }
  if (auto it = failAlways_.find(name); it != failAlways_.end()) return it->second;
  return 0;
}

void ScriptedDevice::RaiseLocked(uint32_t events) {
  events &= mask_;
  if (!events || !open_) return;
  if (wait_) {
    *wait_->mask = events;
    CompleteOperation(wait_->overlapped, 0, 0);
    wait_.reset();
  } else {
    kept_ |= events;
  }
  changed_.notify_all();
}

uint32_t ScriptedDevice::TakeLocked(uint8_t* buffer, uint32_t count) {
  const auto n = static_cast<uint32_t>(std::min<size_t>(count, input_.size()));
  if (n) std::memcpy(buffer, input_.data(), n);
  input_.erase(0, n);
  return n;
}

bool ScriptedDevice::ReturnAtOnceLocked() const {
  return timeouts_.ReadIntervalTimeout == comm::MAXDWORD && timeouts_.ReadTotalTimeoutMultiplier == 0 &&
         timeouts_.ReadTotalTimeoutConstant == 0;
}

void ScriptedDevice::ServeReadsLocked() {
  while (!reads_.empty() && input_.size() >= reads_.front().count) {
    PendingRead r = reads_.front();
    reads_.pop_front();
    CompleteOperation(r.overlapped, 0, TakeLocked(r.buffer, r.count));
  }
}

// --- comm::Device ----------------------------------------------------------------------------

bool ScriptedDevice::OpenFromFactory(const std::string& path, uint32_t shareMode, uint32_t& error) {
  std::lock_guard lock(mutex_);
  Call call = Named("CreateFile", {shareMode});
  call.path = path;
  error = Enter(std::move(call));
  if (!error && open_) error = rtl::ERROR_ACCESS_DENIED;  // not shared: one opener at a time
  if (error) return false;
  open_ = true;
  ++opens_;
  mask_ = kept_ = errors_ = 0;
  input_.clear();
  dtr_ = rts_ = break_ = xoff_ = false;
  return true;
}

bool ScriptedDevice::SetupComm(uint32_t inQueue, uint32_t outQueue) {
  std::lock_guard lock(mutex_);
  if (uint32_t e = Enter(Named("SetupComm", {inQueue, outQueue}))) return FailStart(nullptr, e);
  inQueueSize_ = inQueue;
  return true;
}

bool ScriptedDevice::GetCommState(comm::DCB* dcb) {
  std::lock_guard lock(mutex_);
  if (uint32_t e = Enter(Named("GetCommState"))) return FailStart(nullptr, e);
  if (dcb) *dcb = dcb_;
  return true;
}

bool ScriptedDevice::SetCommState(const comm::DCB& dcb) {
  std::lock_guard lock(mutex_);
  Call call = Named("SetCommState");
  call.dcb = dcb;
  if (uint32_t e = Enter(std::move(call))) return FailStart(nullptr, e);
  dcb_ = dcb;
  return true;
}

bool ScriptedDevice::GetCommTimeouts(comm::COMMTIMEOUTS* timeouts) {
  std::lock_guard lock(mutex_);
  if (uint32_t e = Enter(Named("GetCommTimeouts"))) return FailStart(nullptr, e);
  if (timeouts) *timeouts = timeouts_;
  return true;
}

bool ScriptedDevice::SetCommTimeouts(const comm::COMMTIMEOUTS& t) {
  std::lock_guard lock(mutex_);
  Call call = Named("SetCommTimeouts", {t.ReadIntervalTimeout, t.ReadTotalTimeoutMultiplier,
                                       t.ReadTotalTimeoutConstant, t.WriteTotalTimeoutMultiplier,
                                       t.WriteTotalTimeoutConstant});
  call.timeouts = t;
  if (uint32_t e = Enter(std::move(call))) return FailStart(nullptr, e);
  timeouts_ = t;
  return true;
}

bool ScriptedDevice::GetCommMask(uint32_t* mask) {
  std::lock_guard lock(mutex_);
  if (uint32_t e = Enter(Named("GetCommMask"))) return FailStart(nullptr, e);
  if (mask) *mask = mask_;
  return true;
}

bool ScriptedDevice::SetCommMask(uint32_t mask) {
  std::lock_guard lock(mutex_);
  if (uint32_t e = Enter(Named("SetCommMask", {mask}))) return FailStart(nullptr, e);
  mask_ = mask;
  kept_ = 0;
  if (wait_) {
    // A new mask ends the pending wait with no event.
    *wait_->mask = 0;
    CompleteOperation(wait_->overlapped, 0, 0);
    wait_.reset();
  }
  return true;
}

bool ScriptedDevice::WaitCommEvent(uint32_t* mask, comm::OVERLAPPED* overlapped) {
  std::lock_guard lock(mutex_);
  if (uint32_t e = Enter(Named("WaitCommEvent"))) return FailStart(overlapped, e);
  // As the platform: no mask, no record, or a wait already pending is a bad parameter.
  if (!mask || !overlapped || mask_ == 0 || wait_) return FailStart(overlapped, rtl::ERROR_INVALID_PARAMETER);
  BeginOperation(overlapped);
  if (kept_ & mask_) {
    *mask = kept_ & mask_;
    kept_ = 0;
    CompleteOperation(overlapped, 0, 0);
    return true;
  }
  wait_ = PendingWait{mask, overlapped};
  rtl::SetLastError(rtl::ERROR_IO_PENDING);
  return false;
}

bool ScriptedDevice::ReadFile(void* buffer, uint32_t count, uint32_t* done, comm::OVERLAPPED* overlapped) {
  std::lock_guard lock(mutex_);
  if (uint32_t e = Enter(Named("ReadFile", {count}))) return FailStart(overlapped, e);
  auto* bytes = static_cast<uint8_t*>(buffer);
  const bool atOnce = input_.size() >= count || ReturnAtOnceLocked() || !overlapped;
  if (atOnce) {
    if (overlapped) BeginOperation(overlapped);
    const uint32_t n = TakeLocked(bytes, count);
    if (done) *done = n;
    if (overlapped) CompleteOperation(overlapped, 0, n);
    return true;
  }
  BeginOperation(overlapped);
  reads_.push_back({bytes, count, overlapped});
  rtl::SetLastError(rtl::ERROR_IO_PENDING);
  return false;
}

bool ScriptedDevice::WriteFile(const void* buffer, uint32_t count, uint32_t* done, comm::OVERLAPPED* overlapped) {
  std::lock_guard lock(mutex_);
  if (uint32_t e = Enter(Named("WriteFile", {count}))) return FailStart(overlapped, e);
  std::string bytes(static_cast<const char*>(buffer), count);
  if (!holdWrites_ || !overlapped) {
    if (overlapped) BeginOperation(overlapped);
    written_ += bytes;
    if (done) *done = count;
    if (overlapped) CompleteOperation(overlapped, 0, count);
    if (count) RaiseLocked(comm::EV_TXEMPTY);
    return true;
  }
  BeginOperation(overlapped);
  writes_.push_back({std::move(bytes), overlapped});
  rtl::SetLastError(rtl::ERROR_IO_PENDING);
  return false;
}

bool ScriptedDevice::GetOverlappedResult(comm::OVERLAPPED* overlapped, uint32_t* transferred, bool wait) {
  {
    std::lock_guard lock(mutex_);
    if (uint32_t e = Enter(Named("GetOverlappedResult", {wait ? 1 : 0}))) return FailStart(nullptr, e);
  }
  return comm::Device::GetOverlappedResult(overlapped, transferred, wait);
}

bool ScriptedDevice::PurgeComm(uint32_t flags) {
  std::lock_guard lock(mutex_);
  if (uint32_t e = Enter(Named("PurgeComm", {flags}))) return FailStart(nullptr, e);
  if (flags & comm::PURGE_TXABORT) {
    for (auto& w : writes_) CompleteOperation(w.overlapped, rtl::ERROR_OPERATION_ABORTED, 0);
    writes_.clear();
  }
  if (flags & comm::PURGE_RXABORT) {
    for (auto& r : reads_) CompleteOperation(r.overlapped, rtl::ERROR_OPERATION_ABORTED, 0);
    reads_.clear();
  }
  if (flags & comm::PURGE_RXCLEAR) input_.clear();
  return true;
}

bool ScriptedDevice::ClearCommError(uint32_t* errors, comm::COMSTAT* stat) {
  std::lock_guard lock(mutex_);
  if (uint32_t e = Enter(Named("ClearCommError"))) return FailStart(nullptr, e);
  if (errors) *errors = errors_;
  errors_ = 0;
  if (stat) {
    *stat = comm::COMSTAT{};
    stat->fCtsHold = statFlags_ & 1;
    stat->fDsrHold = (statFlags_ >> 1) & 1;
    stat->fRlsdHold = (statFlags_ >> 2) & 1;
    stat->fXoffHold = (statFlags_ >> 3) & 1;
    stat->fXoffSent = (statFlags_ >> 4) & 1;
    stat->fEof = (statFlags_ >> 5) & 1;
    stat->fTxim = (statFlags_ >> 6) & 1;
    stat->cbInQue = static_cast<uint32_t>(input_.size());
    size_t out = 0;
    for (const auto& w : writes_) out += w.bytes.size();
    stat->cbOutQue = static_cast<uint32_t>(out);
  }
  return true;
}

bool ScriptedDevice::GetCommModemStatus(uint32_t* status) {
  std::lock_guard lock(mutex_);
  if (uint32_t e = Enter(Named("GetCommModemStatus"))) return FailStart(nullptr, e);
  if (status) *status = modem_;
  return true;
}

bool ScriptedDevice::EscapeCommFunction(uint32_t function) {
  std::lock_guard lock(mutex_);
  if (uint32_t e = Enter(Named("EscapeCommFunction", {function}))) return FailStart(nullptr, e);
  switch (function) {
    case comm::SETDTR: dtr_ = true; break;
    case comm::CLRDTR: dtr_ = false; break;
    case comm::SETRTS: rts_ = true; break;
    case comm::CLRRTS: rts_ = false; break;
    case comm::SETBREAK: break_ = true; break;
    case comm::CLRBREAK: break_ = false; break;
    case comm::SETXOFF: xoff_ = true; break;
    case comm::SETXON: xoff_ = false; break;
    default: return FailStart(nullptr, rtl::ERROR_INVALID_PARAMETER);
  }
  return true;
}

bool ScriptedDevice::TransmitCommChar(char c) {
  std::lock_guard lock(mutex_);
  if (uint32_t e = Enter(Named("TransmitCommChar", {static_cast<uint8_t>(c)}))) {
    return FailStart(nullptr, e);
  }
  transmitted_ += c;
  return true;
}

void ScriptedDevice::Close() {
  std::lock_guard lock(mutex_);
  calls_.push_back(Named("CloseHandle"));
  if (wait_) CompleteOperation(wait_->overlapped, rtl::ERROR_OPERATION_ABORTED, 0);
  wait_.reset();
  for (auto& r : reads_) CompleteOperation(r.overlapped, rtl::ERROR_OPERATION_ABORTED, 0);
  reads_.clear();
  for (auto& w : writes_) CompleteOperation(w.overlapped, rtl::ERROR_OPERATION_ABORTED, 0);
  writes_.clear();
  open_ = false;
  changed_.notify_all();
}

void ScriptedDevice::Cancel(comm::OVERLAPPED* overlapped) {
  std::lock_guard lock(mutex_);
  if (wait_ && wait_->overlapped == overlapped) wait_.reset();
  std::erase_if(reads_, [&](const PendingRead& r) { return r.overlapped == overlapped; });
  std::erase_if(writes_, [&](const PendingWrite& w) { return w.overlapped == overlapped; });
}

// --- Installation ----------------------------------------------------------------------------

ScriptedInstall::ScriptedInstall(std::string prefix, std::shared_ptr<ScriptedDevice> device)
    : prefix_(std::move(prefix)) {
  comm::RegisterDeviceFactory(
      prefix_, [device](const std::string& path, uint32_t shareMode, uint32_t& error) -> std::shared_ptr<comm::Device> {
        if (!device->OpenFromFactory(path, shareMode, error)) return nullptr;
        return device;
      });
}

ScriptedInstall::~ScriptedInstall() { comm::RegisterDeviceFactory(prefix_, nullptr); }

}  // namespace scripted
