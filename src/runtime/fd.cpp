#include "runtime/fd.h"

#include <unistd.h>

namespace rtl {

int UniqueFd::Reset(int fd) {
  int r = 0;
  if (fd_ >= 0) r = ::close(fd_);
  fd_ = fd;
  return r;
}

}  // namespace rtl
