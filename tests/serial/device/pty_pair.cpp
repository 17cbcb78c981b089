#include "serial/device/pty_pair.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <cerrno>

namespace devtest {

PtyPair::PtyPair() {
  int m = -1, s = -1;
  char name[128] = {};
  if (::openpty(&m, &s, name, nullptr, nullptr) != 0) {
    ADD_FAILURE() << "openpty: " << errno;
    return;
  }
  master_.Reset(m);
  slave_.Reset(s);
  path_ = name;
  // The far end's own line discipline must not touch what the device sends.
  termios t{};
  ::tcgetattr(m, &t);
  ::cfmakeraw(&t);
  ::tcsetattr(m, TCSANOW, &t);
}

void PtyPair::Send(std::string_view bytes) {
  size_t off = 0;
  while (off < bytes.size()) {
    ssize_t n = ::write(master_.Get(), bytes.data() + off, bytes.size() - off);
    if (n < 0 && errno == EINTR) continue;
    ASSERT_GT(n, 0) << "far end write: " << errno;
    off += static_cast<size_t>(n);
  }
}

std::string PtyPair::Receive(size_t n, int timeoutMs) {
  std::string out;
  char buf[65536];
  while (out.size() < n) {
    pollfd p{master_.Get(), POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) <= 0) break;
    ssize_t k = ::read(master_.Get(), buf, std::min(sizeof buf, n - out.size()));
    if (k <= 0) break;
    out.append(buf, static_cast<size_t>(k));
  }
  return out;
}

std::string PtyPair::Drain() {
  std::string out;
  char buf[65536];
  for (;;) {
    pollfd p{master_.Get(), POLLIN, 0};
    if (::poll(&p, 1, 0) <= 0) break;
    ssize_t k = ::read(master_.Get(), buf, sizeof buf);
    if (k <= 0) break;
    out.append(buf, static_cast<size_t>(k));
  }
  return out;
}

}  // namespace devtest
