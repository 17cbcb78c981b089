#include "tty_speed.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace porttest {

TtySpeeds ReadTtySpeeds(int fd) {
  struct termios2 t {};
  if (ioctl(fd, TCGETS2, &t) != 0) return {};
  return {true, t.c_ispeed, t.c_ospeed};
}

}  // namespace porttest
