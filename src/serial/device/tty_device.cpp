// The tty backend: serial ports, USB adapters and pseudo-terminals, over a non-blocking
// descriptor that the I/O thread drains into the device's own input queue.
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <system_error>
#include <vector>

#include "runtime/fd.h"
#include "runtime/lasterror.h"
#include "runtime/syserror.h"
#include "serial/device/backends.h"
#include "serial/device/queued_device.h"
#include "serial/device/tty_marks.h"
#include "serial/device/tty_termios2.h"

namespace comm {

namespace {

constexpr uint32_t kModemEvents = EV_CTS | EV_DSR | EV_RLSD | EV_RING;
constexpr size_t kReadChunk = 64 * 1024;

// Unix98 pseudo-terminal slaves have majors 136 to 143; legacy BSD ones 3.
bool IsPseudoTerminal(dev_t rdev) {
  const unsigned m = major(rdev);
  return (m >= 136 && m <= 143) || m == 3;
}

// An errno of a call on the open device: the ones that mean it is gone give 1167.
uint32_t ErrorOfLine(int err) {
  switch (err) {
    case EIO:
    case ENXIO:
    case ENODEV:
    case EPIPE: return rtl::ERROR_DEVICE_NOT_CONNECTED;
    default: return rtl::WinErrorFromErrno(err);
  }
}

bool SpeedClose(uint32_t actual, uint32_t wanted) {
  const uint64_t diff = actual > wanted ? actual - wanted : wanted - actual;
  return diff * 100 <= uint64_t{wanted} * 3;
}

class TtyDevice final : public QueuedDevice {
  struct Tag {};

 public:
  TtyDevice(Tag, rtl::UniqueFd fd, bool pty, bool exclusive)
      : fd_(std::move(fd)), pty_(pty), markErrors_(!pty), exclusive_(exclusive) {}
  ~TtyDevice() override { Close(); }

  static std::shared_ptr<Device> Open(const std::string& path, uint32_t shareMode, uint32_t& error);

 private:
  using Counters = serial_icounter_struct;

  uint32_t Init();

  uint32_t ApplyLine(const DCB& dcb, const DCB* previous) override;
  size_t Transmit(const uint8_t* data, size_t n, bool& lost) override;
  int SendPriority(uint8_t c) override;
  uint32_t LineOutQueue() override;
  uint32_t LineHoldFlags() override;
  uint32_t ModemStatus(uint32_t* status) override;
  uint32_t Escape(uint32_t function) override;
  void PurgeLine(uint32_t flags) override;
  void RefreshErrors() override;
  void MaskChanged() override;
  void InputFlowChanged(bool on) override;
  IoWait PlanIo() override;
  void OnIo(short revents, std::unique_lock<std::mutex>& lock) override;
  void OnTick() override;
  void CloseLine() override;

  void ReadFromLine(short revents, std::unique_lock<std::mutex>& lock);
  void Deliver(const uint8_t* data, size_t n);
  bool ReadCounters(Counters& c) const { return ::ioctl(fd_.Get(), TIOCGICOUNT, &c) == 0; }
  void ApplyCounters(const Counters& c);
  bool ModemLines(int& lines) const { return !noModem_ && ::ioctl(fd_.Get(), TIOCMGET, &lines) == 0; }
  int SetModemLine(int line, bool on) {
    return ::ioctl(fd_.Get(), on ? TIOCMBIS : TIOCMBIC, &line) == 0 ? 0 : errno;
  }
  bool DsrFlow() const { return Dcb().fOutxDsrFlow && !noModem_; }
  uint32_t ApplyRtsMode(uint32_t mode);

  rtl::UniqueFd fd_;
  const bool pty_;         // a pseudo-terminal: no line, so no format, modem lines or break
  const bool markErrors_;  // PARMRK: breaks and bad bytes come marked in the stream
  const bool exclusive_;   // TIOCEXCL was set and is cleared at close
  bool noModem_ = false;   // the driver refuses the modem-line ioctls
  bool haveCounters_ = false;
  bool haveLsr_ = false;
  Counters last_{};
  int lastLines_ = 0;
  int64_t breakBudget_ = -1;  // breaks the counters announced and the stream has not shown yet
  tty::MarkParser marks_;
  bool rs485_ = false;     // the driver raises RTS while sending
  bool rtsUp_ = false;     // RTS raised for sending (RTS toggle without driver support)
  bool dsrHold_ = false;   // output held for DSR
  bool xoffHold_ = false;  // output stopped by SETXOFF
  std::vector<uint8_t> scratch_ = std::vector<uint8_t>(kReadChunk);   // I/O thread only
  std::vector<uint8_t> parsed_ = std::vector<uint8_t>(kReadChunk + 1);
};

std::shared_ptr<Device> TtyDevice::Open(const std::string& path, uint32_t shareMode, uint32_t& error) {
  rtl::UniqueFd fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!fd.Valid()) {
    error = rtl::WinErrorFromErrno(errno);
    return nullptr;
  }
  struct stat st {};
  if (::fstat(fd.Get(), &st) != 0 || !S_ISCHR(st.st_mode) || !::isatty(fd.Get())) {
    error = rtl::ERROR_NOT_SUPPORTED;  // not a serial device
    return nullptr;
  }
  // flock holds against every opener that also locks; TIOCEXCL against non-root openers.
  if (::flock(fd.Get(), (shareMode == 0 ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0) {
    error = rtl::ERROR_ACCESS_DENIED;
    return nullptr;
  }
  const bool exclusive = shareMode == 0 && ::ioctl(fd.Get(), TIOCEXCL) == 0;
  std::shared_ptr<TtyDevice> device;
  try {
    device = std::make_shared<TtyDevice>(Tag{}, std::move(fd), IsPseudoTerminal(st.st_rdev), exclusive);
    error = device->Init();
  } catch (const std::system_error& e) {
    error = rtl::WinErrorFromErrno(e.code().value());
  } catch (const std::bad_alloc&) {
    error = rtl::ERROR_NOT_ENOUGH_MEMORY;
  }
  if (error != 0) {
    if (device) device->Close();
    return nullptr;
  }
  return device;
}

uint32_t TtyDevice::Init() {
  // Raw at once: a cooked tty would echo what arrives back onto the line.
  if (int e = tty::MakeRawKeepingFormat(fd_.Get(), markErrors_)) return ErrorOfLine(e);
  ::tcflush(fd_.Get(), TCIFLUSH);  // a fresh port has an empty queue
  noModem_ = pty_ || ::ioctl(fd_.Get(), TIOCMGET, &lastLines_) != 0;
  haveCounters_ = !pty_ && ReadCounters(last_);
  breakBudget_ = haveCounters_ ? 0 : -1;
  unsigned int lsr = 0;
  haveLsr_ = !pty_ && ::ioctl(fd_.Get(), TIOCSERGETLSR, &lsr) == 0;

  tty::LineState st;
  if (int e = tty::ReadLine(fd_.Get(), st)) return ErrorOfLine(e);
  DCB dcb{};
  dcb.BaudRate = st.outSpeed;
  dcb.fBinary = 1;
  dcb.fDtrControl = DTR_CONTROL_ENABLE;  // open raises DTR and RTS
  dcb.fRtsControl = RTS_CONTROL_ENABLE;
  dcb.ByteSize = static_cast<uint8_t>(st.dataBits);
  dcb.Parity = st.parity;
  dcb.StopBits = !st.extraStop ? ONESTOPBIT : st.dataBits == 5 ? ONE5STOPBITS : TWOSTOPBITS;
  dcb.XonChar = 17;
  dcb.XoffChar = 19;
  SetInitialDcb(dcb);
  StartIo("corvane-tty-io");
  return 0;
}

uint32_t TtyDevice::ApplyLine(const DCB& dcb, const DCB* previous) {
  tty::LineSetup s;
  s.speed = dcb.BaudRate;
  s.dataBits = dcb.ByteSize;
  s.parity = dcb.Parity;
  s.extraStop = dcb.StopBits != ONESTOPBIT;
  // CRTSCTS couples CTS output flow and RTS input flow: set when either is asked.
  s.rtsCts = dcb.fOutxCtsFlow || dcb.fRtsControl == RTS_CONTROL_HANDSHAKE;
  s.xonOut = dcb.fOutX;
  s.xonIn = dcb.fInX;
  s.xonChar = static_cast<uint8_t>(dcb.XonChar);
  s.xoffChar = static_cast<uint8_t>(dcb.XoffChar);
  s.checkParity = dcb.fParity;
  s.markErrors = markErrors_;

  tty::SavedLine saved;
  if (int e = tty::SaveLine(fd_.Get(), saved)) return ErrorOfLine(e);
  int e = tty::SetRawLine(fd_.Get(), s);
  tty::LineState st;
  if (e == 0) e = tty::ReadLine(fd_.Get(), st);
  if (e != 0 && ErrorOfLine(e) == rtl::ERROR_DEVICE_NOT_CONNECTED) return rtl::ERROR_DEVICE_NOT_CONNECTED;
  // A driver that rounds a speed too far, falls back to another, or drops a format bit has
  // refused the setting: put the old line back rather than run on something else.
  bool ok = e == 0 && SpeedClose(st.outSpeed, s.speed) && (st.inSpeed == 0 || SpeedClose(st.inSpeed, s.speed));
  if (ok && !pty_)  // a pseudo-terminal forces 8 data bits without parity: no line to format
    ok = st.dataBits == s.dataBits && st.parity == s.parity && st.extraStop == s.extraStop && st.rtsCts == s.rtsCts;
  if (!ok) {
    tty::RestoreLine(fd_.Get(), saved);
    return rtl::ERROR_INVALID_PARAMETER;
  }
  if (noModem_) return 0;
  // The lines follow their modes when a mode changes, as on the platform.
  if (!previous || previous->fDtrControl != dcb.fDtrControl) {
    if (int err = SetModemLine(TIOCM_DTR, dcb.fDtrControl != DTR_CONTROL_DISABLE)) return ErrorOfLine(err);
  }
  if (!previous || previous->fRtsControl != dcb.fRtsControl) return ApplyRtsMode(dcb.fRtsControl);
  return 0;
}

uint32_t TtyDevice::ApplyRtsMode(uint32_t mode) {
  if (mode == RTS_CONTROL_TOGGLE) {
    serial_rs485 rs{};
    rs.flags = SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
    rs485_ = ::ioctl(fd_.Get(), TIOCSRS485, &rs) == 0;
    rtsUp_ = false;
    if (rs485_) return 0;
    // Emulated: RTS is raised when output starts and lowered once it has left the line.
    return ErrorOfLine(SetModemLine(TIOCM_RTS, false));
  }
  if (rs485_) {
    serial_rs485 rs{};
    ::ioctl(fd_.Get(), TIOCSRS485, &rs);
    rs485_ = false;
  }
  rtsUp_ = false;
  if (int err = SetModemLine(TIOCM_RTS, mode != RTS_CONTROL_DISABLE)) return ErrorOfLine(err);
  return 0;
}

size_t TtyDevice::Transmit(const uint8_t* data, size_t n, bool& lost) {
  if (DsrFlow()) {
    int lines = 0;
    if (ModemLines(lines) && !(lines & TIOCM_DSR)) {
      dsrHold_ = true;  // the watcher looks again
      return 0;
    }
    dsrHold_ = false;
  }
  if (Dcb().fRtsControl == RTS_CONTROL_TOGGLE && !rs485_ && !noModem_ && !rtsUp_) {
    SetModemLine(TIOCM_RTS, true);
    rtsUp_ = true;
  }
  ssize_t k;
  do {
    k = ::write(fd_.Get(), data, n);
  } while (k < 0 && errno == EINTR);
  if (k >= 0) return static_cast<size_t>(k);
  if (errno != EAGAIN) lost = true;
  return 0;
}

int TtyDevice::SendPriority(uint8_t c) {
  ssize_t k;
  do {
    k = ::write(fd_.Get(), &c, 1);
  } while (k < 0 && errno == EINTR);
  if (k == 1) return 1;
  return k < 0 && errno != EAGAIN ? -1 : 0;
}

uint32_t TtyDevice::LineOutQueue() {
  // A pseudo-terminal hands written bytes straight to the far end's input: no output queue.
  if (pty_) return 0;
  int n = 0;
  if (::ioctl(fd_.Get(), TIOCOUTQ, &n) != 0 || n < 0) n = 0;
  // The kernel's count leaves out the byte in the transmitter; the line status register has it.
  unsigned int lsr = 0;
  if (n == 0 && haveLsr_ && ::ioctl(fd_.Get(), TIOCSERGETLSR, &lsr) == 0 && !(lsr & TIOCSER_TEMT)) n = 1;
  return static_cast<uint32_t>(n);
}

uint32_t TtyDevice::LineHoldFlags() {
  uint32_t flags = xoffHold_ ? 8u : 0u;
  const DCB& d = Dcb();
  int lines = 0;
  if ((d.fOutxCtsFlow || DsrFlow()) && (!WritesIdle() || LineOutQueue() > 0) && ModemLines(lines)) {
    if (d.fOutxCtsFlow && !(lines & TIOCM_CTS)) flags |= 1;
    if (DsrFlow() && !(lines & TIOCM_DSR)) flags |= 2;
  }
  return flags;
}

uint32_t TtyDevice::ModemStatus(uint32_t* status) {
  *status = 0;
  if (noModem_) return 0;  // no modem lines: all off
  int lines = 0;
  if (::ioctl(fd_.Get(), TIOCMGET, &lines) != 0) return ErrorOfLine(errno);
  if (lines & TIOCM_CTS) *status |= MS_CTS_ON;
  if (lines & TIOCM_DSR) *status |= MS_DSR_ON;
  if (lines & TIOCM_RNG) *status |= MS_RING_ON;
  if (lines & TIOCM_CD) *status |= MS_RLSD_ON;
  return 0;
}

uint32_t TtyDevice::Escape(uint32_t function) {
  int err = 0;
  switch (function) {
    case SETXOFF:
      if (::tcflow(fd_.Get(), TCOOFF) != 0) err = errno;
      if (!err) xoffHold_ = true;
      break;
    case SETXON:
      if (::tcflow(fd_.Get(), TCOON) != 0) err = errno;
      if (!err) xoffHold_ = false;
      break;
    case SETRTS:
    case CLRRTS:
      if (!noModem_) err = SetModemLine(TIOCM_RTS, function == SETRTS);
      break;
    case SETDTR:
    case CLRDTR:
      if (!noModem_) err = SetModemLine(TIOCM_DTR, function == SETDTR);
      break;
    case SETBREAK:
    case CLRBREAK:
      if (!pty_ && ::ioctl(fd_.Get(), function == SETBREAK ? TIOCSBRK : TIOCCBRK) != 0) err = errno;
      break;
    default: break;
  }
  return err ? ErrorOfLine(err) : 0;
}

void TtyDevice::PurgeLine(uint32_t flags) {
  if (flags & PURGE_TXCLEAR) ::tcflush(fd_.Get(), TCOFLUSH);
  if (flags & PURGE_RXCLEAR) {
    ::tcflush(fd_.Get(), TCIFLUSH);
    marks_.Reset();
  }
}

void TtyDevice::RefreshErrors() {
  Counters c{};
  if (haveCounters_ && ReadCounters(c)) ApplyCounters(c);
}

void TtyDevice::MaskChanged() {
  // Line changes count from now on, not from before the mask asked for them.
  Counters c{};
  if (haveCounters_ && ReadCounters(c)) {
    ApplyCounters(c);  // errors and breaks up to now still count
  }
  ModemLines(lastLines_);
}

void TtyDevice::InputFlowChanged(bool on) {
  if (Dcb().fDtrControl == DTR_CONTROL_HANDSHAKE && !noModem_) SetModemLine(TIOCM_DTR, on);
}

void TtyDevice::ApplyCounters(const Counters& c) {
  uint32_t ce = 0, events = 0;
  if (c.frame != last_.frame) ce |= CE_FRAME;
  if (c.parity != last_.parity) ce |= CE_RXPARITY;
  if (c.overrun != last_.overrun) ce |= CE_OVERRUN;
  if (c.buf_overrun != last_.buf_overrun) ce |= CE_RXOVER;
  if (c.brk != last_.brk) {
    ce |= CE_BREAK;
    breakBudget_ += static_cast<uint32_t>(c.brk - last_.brk);
  }
  if (c.cts != last_.cts) events |= EV_CTS;
  if (c.dsr != last_.dsr) events |= EV_DSR;
  if (c.dcd != last_.dcd) events |= EV_RLSD;
  if (c.rng != last_.rng) events |= EV_RING;
  last_ = c;
  AddErrors(ce);
  RaiseEvents(events);
}

QueuedDevice::IoWait TtyDevice::PlanIo() {
  IoWait w;
  w.fd = fd_.Get();
  if (InputFree() > 1) w.events |= POLLIN;  // a split mark may add one byte
  if (!WritesIdle() && !dsrHold_) w.events |= POLLOUT;
  const uint32_t mask = Mask();
  w.tick = (!noModem_ && (mask & kModemEvents)) || (TxActive() && (mask & EV_TXEMPTY)) || rtsUp_ || dsrHold_;
  return w;
}

void TtyDevice::OnIo(short revents, std::unique_lock<std::mutex>& lock) {
  if (revents & POLLNVAL) {
    DeviceLost();
    return;
  }
  if (revents & (POLLIN | POLLHUP | POLLERR)) ReadFromLine(revents, lock);
  if (Lost() || Closing()) return;
  if (revents & POLLOUT) TryTransmit();
}

void TtyDevice::ReadFromLine(short revents, std::unique_lock<std::mutex>& lock) {
  const size_t room = InputFree();
  if (room < 2) {
    // Nothing can be read into a full queue; a hang-up still ends the device.
    if (revents & (POLLHUP | POLLERR)) DeviceLost();
    return;
  }
  const size_t want = std::min(scratch_.size(), room - 1);
  const uint64_t purges = PurgeCount();
  lock.unlock();
  ssize_t n;
  do {
    n = ::read(fd_.Get(), scratch_.data(), want);
  } while (n < 0 && errno == EINTR);
  const int err = errno;
  Counters c{};
  const bool counted = haveCounters_ && ReadCounters(c);
  lock.lock();
  if (Closing()) return;
  if (counted) ApplyCounters(c);
  if (n > 0) {
    if (purges == PurgeCount()) Deliver(scratch_.data(), static_cast<size_t>(n));  // else read before a purge
  } else if (n == 0 || err != EAGAIN) {
    // With VMIN 1 a read gives 0 only at hang-up; EIO when the far end or the adapter is gone.
    DeviceLost();
  }
}

void TtyDevice::Deliver(const uint8_t* data, size_t n) {
  const DCB& d = Dcb();
  if (d.fDsrSensitivity && !noModem_) {
    int lines = 0;
    if (ModemLines(lines) && !(lines & TIOCM_DSR)) return;  // input ignored while DSR is low
  }
  if (!markErrors_) {
    Receive(data, n);
    return;
  }
  std::optional<uint8_t> replacement;
  if (d.fParity && d.fErrorChar) replacement = static_cast<uint8_t>(d.ErrorChar);
  auto r = marks_.Parse(data, n, parsed_.data(), replacement, breakBudget_);
  if (!haveCounters_) AddErrors((r.breaks ? CE_BREAK : 0) | (r.badBytes ? CE_RXPARITY : 0));
  Receive(parsed_.data(), r.size);
}

void TtyDevice::OnTick() {
  const uint32_t mask = Mask();
  if (!noModem_ && (mask & kModemEvents)) {
    Counters c{};
    if (haveCounters_ && ReadCounters(c)) ApplyCounters(c);
    // Levels too: not every driver with counters counts the modem lines.
    int lines = 0;
    if (ModemLines(lines)) {
      const int changed = lines ^ lastLines_;
      uint32_t events = 0;
      if (changed & TIOCM_CTS) events |= EV_CTS;
      if (changed & TIOCM_DSR) events |= EV_DSR;
      if (changed & TIOCM_CD) events |= EV_RLSD;
      if ((changed & TIOCM_RNG) && !(lines & TIOCM_RNG)) events |= EV_RING;  // end of a ring
      lastLines_ = lines;
      RaiseEvents(events);
    } else if (errno == EIO || errno == ENXIO || errno == ENODEV) {
      DeviceLost();
      return;
    }
  }
  if (dsrHold_) {
    int lines = 0;
    if (!ModemLines(lines) || (lines & TIOCM_DSR)) {
      dsrHold_ = false;
      TryTransmit();
    }
  }
  if (rtsUp_ && WritesIdle() && LineOutQueue() == 0) {
    SetModemLine(TIOCM_RTS, false);
    rtsUp_ = false;
  }
  CheckTxEmpty();
}

void TtyDevice::CloseLine() {
  const int fd = fd_.Get();
  if (fd < 0) return;
  // Output that flow control holds would keep close() waiting for the driver's drain time
  // (30 s on most UARTs): drop it, as a held line will not take it anyway.
  int lines = 0;
  const bool ctsHeld = Dcb().fOutxCtsFlow && ModemLines(lines) && !(lines & TIOCM_CTS);
  if ((xoffHold_ || ctsHeld) && LineOutQueue() > 0) ::tcflush(fd, TCOFLUSH);
  if (xoffHold_) ::tcflow(fd, TCOON);  // do not leave the next opener a stopped line
  if (rs485_) {
    serial_rs485 rs{};
    ::ioctl(fd, TIOCSRS485, &rs);
  }
  if (exclusive_) ::ioctl(fd, TIOCNXCL);
  ::flock(fd, LOCK_UN);
  fd_.Reset();
}

}  // namespace

std::shared_ptr<Device> OpenTtyDevice(const std::string& path, uint32_t shareMode, uint32_t& error) {
  return TtyDevice::Open(path, shareMode, error);
}

}  // namespace comm
