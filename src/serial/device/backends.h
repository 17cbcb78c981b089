// The built-in backends that the dispatcher opens by path.
#pragma once

#include <memory>
#include <string>

#include "serial/device/device.h"

namespace comm {

// The virtual "LOOPBACK" port: written bytes come back as received bytes.
std::shared_ptr<Device> OpenLoopbackDevice(const std::string& path, uint32_t shareMode, uint32_t& error);

// A POSIX tty (serial port, USB adapter, pseudo-terminal) at an absolute path.
std::shared_ptr<Device> OpenTtyDevice(const std::string& path, uint32_t shareMode, uint32_t& error);

}  // namespace comm
