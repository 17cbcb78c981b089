// Temporary: the tty and loopback backends are being written; until then they refuse to open.
#include "serial/device/backends.h"

namespace comm {

std::shared_ptr<Device> OpenLoopbackDevice(const std::string&, uint32_t, uint32_t& error) {
  error = rtl::ERROR_NOT_SUPPORTED;
  return nullptr;
}

std::shared_ptr<Device> OpenTtyDevice(const std::string&, uint32_t, uint32_t& error) {
  error = rtl::ERROR_NOT_SUPPORTED;
  return nullptr;
}

}  // namespace comm
