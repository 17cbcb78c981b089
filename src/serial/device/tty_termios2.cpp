#include "serial/device/tty_termios2.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstring>

namespace comm::tty {

static_assert(sizeof(termios2) <= sizeof(SavedLine::bytes));

namespace {

int Get(int fd, termios2& t) { return ::ioctl(fd, TCGETS2, &t) == 0 ? 0 : errno; }
int Set(int fd, const termios2& t) { return ::ioctl(fd, TCSETS2, &t) == 0 ? 0 : errno; }

tcflag_t FormatFlags(int dataBits, uint8_t parity, bool extraStop) {
  tcflag_t f = dataBits == 5 ? CS5 : dataBits == 6 ? CS6 : dataBits == 7 ? CS7 : CS8;
  switch (parity) {
    case 1: f |= PARENB | PARODD; break;            // odd
    case 2: f |= PARENB; break;                     // even
    case 3: f |= PARENB | CMSPAR | PARODD; break;   // mark
    case 4: f |= PARENB | CMSPAR; break;            // space
    default: break;
  }
  if (extraStop) f |= CSTOPB;
  return f;
}

// Everything raw: no line editing, echo, signals, translation or output processing.
void MakeRaw(termios2& t, bool markErrors) {
  t.c_iflag = markErrors ? PARMRK : 0;
  t.c_oflag = 0;
  t.c_lflag = 0;
  t.c_cflag = (t.c_cflag & (CSIZE | PARENB | PARODD | CMSPAR | CSTOPB)) | CREAD | CLOCAL | HUPCL;
  std::memset(t.c_cc, 0, sizeof t.c_cc);
  // VMIN 1: a non-blocking read then says EAGAIN when nothing is there, and 0 only at hang-up.
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
}

}  // namespace

int SaveLine(int fd, SavedLine& saved) {
  termios2 t{};
  if (int e = Get(fd, t)) return e;
  std::memcpy(saved.bytes, &t, sizeof t);
  return 0;
}

int RestoreLine(int fd, const SavedLine& saved) {
  termios2 t{};
  std::memcpy(&t, saved.bytes, sizeof t);
  return Set(fd, t);
}

int SetRawLine(int fd, const LineSetup& s) {
  termios2 t{};
  if (int e = Get(fd, t)) return e;
  t.c_cflag = FormatFlags(s.dataBits, s.parity, s.extraStop);
  MakeRaw(t, s.markErrors);
  if (s.checkParity) t.c_iflag |= INPCK;
  if (s.xonOut) t.c_iflag |= IXON;
  if (s.xonIn) t.c_iflag |= IXOFF;
  if (s.rtsCts) t.c_cflag |= CRTSCTS;
  t.c_cc[VSTART] = s.xonChar;
  t.c_cc[VSTOP] = s.xoffChar;
  // The exact speed for both directions; CIBAUD 0 makes input follow output.
  t.c_cflag &= ~(CBAUD | CIBAUD);
  t.c_cflag |= BOTHER;
  t.c_ospeed = t.c_ispeed = s.speed;
  return Set(fd, t);
}

int ReadLine(int fd, LineState& state) {
  termios2 t{};
  if (int e = Get(fd, t)) return e;
  state.outSpeed = t.c_ospeed;
  state.inSpeed = t.c_ispeed;
  switch (t.c_cflag & CSIZE) {
    case CS5: state.dataBits = 5; break;
    case CS6: state.dataBits = 6; break;
    case CS7: state.dataBits = 7; break;
    default: state.dataBits = 8; break;
  }
  if (!(t.c_cflag & PARENB)) {
    state.parity = 0;
  } else if (t.c_cflag & CMSPAR) {
    state.parity = (t.c_cflag & PARODD) ? 3 : 4;
  } else {
    state.parity = (t.c_cflag & PARODD) ? 1 : 2;
  }
  state.extraStop = (t.c_cflag & CSTOPB) != 0;
  state.rtsCts = (t.c_cflag & CRTSCTS) != 0;
  return 0;
}

int MakeRawKeepingFormat(int fd, bool markErrors) {
  termios2 t{};
  if (int e = Get(fd, t)) return e;
  const tcflag_t speedBits = t.c_cflag & (CBAUD | CIBAUD);
  MakeRaw(t, markErrors);
  t.c_cflag |= speedBits;
  return Set(fd, t);
}

}  // namespace comm::tty
