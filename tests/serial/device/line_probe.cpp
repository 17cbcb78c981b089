#include "serial/device/line_probe.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace devtest {

bool ProbeLine(int fd, LineProbe& p) {
  termios2 t{};
  if (::ioctl(fd, TCGETS2, &t) != 0) return false;
  p.ospeed = t.c_ospeed;
  p.ispeed = t.c_ispeed;
  p.cbaudIsOther = (t.c_cflag & CBAUD) == BOTHER;
  const tcflag_t cooked = ICANON | ECHO | ECHOE | ECHONL | ISIG | IEXTEN;
  const tcflag_t translated = ICRNL | INLCR | IGNCR | ISTRIP | IUCLC | IXANY | BRKINT | IGNBRK;
  p.raw = !(t.c_lflag & cooked) && !(t.c_iflag & translated) && !(t.c_oflag & OPOST);
  p.cread = t.c_cflag & CREAD;
  p.clocal = t.c_cflag & CLOCAL;
  p.cstopb = t.c_cflag & CSTOPB;
  p.parodd = t.c_cflag & PARODD;
  p.cmspar = t.c_cflag & CMSPAR;
  p.crtscts = t.c_cflag & CRTSCTS;
  p.ixon = t.c_iflag & IXON;
  p.ixoff = t.c_iflag & IXOFF;
  p.inpck = t.c_iflag & INPCK;
  p.vstart = t.c_cc[VSTART];
  p.vstop = t.c_cc[VSTOP];
  return true;
}

}  // namespace devtest
