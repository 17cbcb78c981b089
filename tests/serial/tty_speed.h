// Reads a tty's line speeds with the kernel's termios2 record (which <termios.h> cannot sit beside).
#pragma once

#include <cstdint>

namespace porttest {

struct TtySpeeds {
  bool ok = false;
  uint32_t input = 0;
  uint32_t output = 0;
};

// The speeds fd's tty is set to; for a pseudo-terminal's master, those of its slave.
TtySpeeds ReadTtySpeeds(int fd);

}  // namespace porttest
