#include "serial/device/dcb_check.h"

#include "runtime/lasterror.h"

namespace comm {

uint32_t CheckDcb(const DCB& d) {
  const bool ok = d.BaudRate != 0 && d.ByteSize >= 5 && d.ByteSize <= 8 && d.Parity <= SPACEPARITY &&
                  d.StopBits <= TWOSTOPBITS && (d.StopBits != ONE5STOPBITS || d.ByteSize == 5) &&
                  (d.StopBits != TWOSTOPBITS || d.ByteSize != 5) && d.fDtrControl <= DTR_CONTROL_HANDSHAKE &&
                  d.XonChar != d.XoffChar;
  return ok ? 0 : rtl::ERROR_INVALID_PARAMETER;
}

}  // namespace comm
