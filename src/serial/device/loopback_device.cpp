// The "LOOPBACK" port: a line whose far end is wired back to itself. Written bytes come back as
// received bytes, RTS drives CTS, DTR drives DSR and RLSD, and a break is received as a break.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <memory>
#include <system_error>

#include "runtime/lasterror.h"
#include "serial/device/backends.h"
#include "serial/device/queued_device.h"

namespace comm {

namespace {

// The one loopback port of the process is exclusive like a real one.
std::atomic<bool>& LoopbackClaimed() {
  static std::atomic<bool> claimed{false};
  return claimed;
}

class LoopbackDevice final : public QueuedDevice {
  struct Tag {};

 public:
  explicit LoopbackDevice(Tag) {}
  ~LoopbackDevice() override { Close(); }

  static std::shared_ptr<Device> Open(uint32_t& error) {
    bool expected = false;
    if (!LoopbackClaimed().compare_exchange_strong(expected, true)) {
      error = rtl::ERROR_ACCESS_DENIED;
      return nullptr;
    }
    try {
      auto device = std::make_shared<LoopbackDevice>(Tag{});
      device->claimed_ = true;
      device->StartIo("corvane-loop-io");
      return device;
    } catch (const std::system_error& e) {
      error = e.code().value() == EMFILE ? rtl::ERROR_TOO_MANY_OPEN_FILES : rtl::ERROR_NOT_ENOUGH_MEMORY;
    } catch (const std::bad_alloc&) {
      error = rtl::ERROR_NOT_ENOUGH_MEMORY;
    }
    LoopbackClaimed().store(false);
    return nullptr;
  }

 private:
  uint32_t ApplyLine(const DCB& dcb, const DCB* previous) override {
    if (!previous || previous->fDtrControl != dcb.fDtrControl) SetDtr(dcb.fDtrControl != DTR_CONTROL_DISABLE);
    if (!previous || previous->fRtsControl != dcb.fRtsControl)
      SetRts(dcb.fRtsControl == RTS_CONTROL_ENABLE || dcb.fRtsControl == RTS_CONTROL_HANDSHAKE);
    return 0;
  }

  // Output waits while the far end's flow control holds it; here the far end is this port.
  bool Held() const {
    const DCB& d = Dcb();
    return (d.fOutxCtsFlow && !rts_) || (d.fOutxDsrFlow && !dtr_) || xoffHold_ || break_;
  }

  size_t Transmit(const uint8_t* data, size_t n, bool&) override {
    const DCB& d = Dcb();
    const auto xon = static_cast<uint8_t>(d.XonChar), xoff = static_cast<uint8_t>(d.XoffChar);
    size_t used = 0;
    while (used < n && !Held()) {
      size_t len = std::min(n - used, InputFree());
      if (len == 0) break;  // the reader frees room
      if (d.fOutX) {
        // XON and XOFF sent come back as flow control for the output itself.
        for (size_t i = used; i < used + len; ++i) {
          if (data[i] == xon || data[i] == xoff) {
            len = i - used;
            break;
          }
        }
        if (len == 0) {
          xoffHold_ = data[used] == xoff;
          ++used;
          continue;
        }
      }
      Receive(data + used, len);
      used += len;
    }
    return used;
  }

  int SendPriority(uint8_t c) override {
    if (InputFree() == 0) return 0;
    const DCB& d = Dcb();
    if (d.fOutX && (c == static_cast<uint8_t>(d.XonChar) || c == static_cast<uint8_t>(d.XoffChar))) {
      xoffHold_ = c == static_cast<uint8_t>(d.XoffChar);
    } else {
      Receive(&c, 1);
    }
    return 1;
  }

  uint32_t LineOutQueue() override { return 0; }  // bytes arrive as they are sent

  uint32_t LineHoldFlags() override {
    const DCB& d = Dcb();
    uint32_t flags = xoffHold_ ? 8u : 0u;
    if (!WritesIdle()) {
      if (d.fOutxCtsFlow && !rts_) flags |= 1;
      if (d.fOutxDsrFlow && !dtr_) flags |= 2;
    }
    return flags;
  }

  uint32_t ModemStatus(uint32_t* status) override {
    *status = (rts_ ? MS_CTS_ON : 0) | (dtr_ ? MS_DSR_ON | MS_RLSD_ON : 0);
    return 0;
  }

  uint32_t Escape(uint32_t function) override {
    switch (function) {
      case SETRTS: SetRts(true); break;
      case CLRRTS: SetRts(false); break;
      case SETDTR: SetDtr(true); break;
      case CLRDTR: SetDtr(false); break;
      case SETBREAK:
        if (!break_) AddErrors(CE_BREAK);  // the far end (this port) receives the break
        break_ = true;
        break;
      case CLRBREAK: break_ = false; break;
      case SETXOFF: xoffHold_ = true; break;
      case SETXON: xoffHold_ = false; break;
      default: break;
    }
    return 0;
  }

  void InputFlowChanged(bool on) override {
    const DCB& d = Dcb();
    if (d.fDtrControl == DTR_CONTROL_HANDSHAKE) SetDtr(on);
    if (d.fRtsControl == RTS_CONTROL_HANDSHAKE) SetRts(on);
  }

  void PurgeLine(uint32_t) override {}
  IoWait PlanIo() override { return {}; }  // only the deadlines of pending transfers

  void CloseLine() override {
    if (claimed_) LoopbackClaimed().store(false);
    claimed_ = false;
  }

  void SetRts(bool on) {
    if (rts_ == on) return;
    rts_ = on;
    RaiseEvents(EV_CTS);
  }
  void SetDtr(bool on) {
    if (dtr_ == on) return;
    dtr_ = on;
    RaiseEvents(EV_DSR | EV_RLSD);
  }

  bool claimed_ = false;
  bool rts_ = false;
  bool dtr_ = false;
  bool break_ = false;
  bool xoffHold_ = false;
};

}  // namespace

std::shared_ptr<Device> OpenLoopbackDevice(const std::string&, uint32_t, uint32_t& error) {
  return LoopbackDevice::Open(error);
}

}  // namespace comm
