// Reads a tty's settings as the kernel holds them (termios2), for checking what the device set.
#pragma once

#include <cstdint>

namespace devtest {

struct LineProbe {
  uint32_t ospeed = 0, ispeed = 0;
  bool cbaudIsOther = false;    // speed given as a number (BOTHER), input following output
  bool raw = false;             // no line editing, echo, signals, translation, output processing
  bool cread = false, clocal = false;
  bool cstopb = false, parodd = false, cmspar = false, crtscts = false;
  bool ixon = false, ixoff = false, inpck = false;
  uint8_t vstart = 0, vstop = 0;
};

// False when the ioctl fails.
bool ProbeLine(int fd, LineProbe& probe);

}  // namespace devtest
