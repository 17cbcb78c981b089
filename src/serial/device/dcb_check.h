// The checks every backend makes on a device control block before it touches the line.
#pragma once

#include <cstdint>

#include "serial/device/comm.h"

namespace comm {

// 0 when the DCB describes a line the platform accepts, else 87: a speed of 0, 5 to 8 data bits,
// parity 0 to 4, 1.5 stop bits only with 5 data bits and 2 never with 5, a DTR mode of 0 to 2,
// and different XON and XOFF characters.
uint32_t CheckDcb(const DCB& dcb);

}  // namespace comm
