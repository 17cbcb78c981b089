// Test helper: the far end of a pseudo-terminal, played on its master side by a thread of its
// own. It records every byte it receives with the time it arrived, and can answer.
#pragma once

#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "runtime/clock.h"
#include "runtime/fd.h"

class FarEnd {
 public:
  struct Byte {
    char c;
    uint64_t us;  // rtl::MonotonicUs when it arrived
  };

  // fd: the master side (not owned). answer, if set, runs on the far end's thread for each byte
  // and returns what to send back.
  // realtime: run the far end's thread at a real-time priority where allowed (benchmarks), so
  // that its timestamps are not delayed by the rest of the machine.
  explicit FarEnd(int fd, std::function<std::string(char)> answer = nullptr, bool realtime = false)
      : fd_(fd), answer_(std::move(answer)) {
    int p[2];
    if (::pipe(p) == 0) {
      stopRead_.Reset(p[0]);
      stopWrite_.Reset(p[1]);
    }
    thread_ = std::thread([this, realtime] {
      if (realtime) {
        sched_param sp{};
        sp.sched_priority = 50;
        pthread_setschedparam(pthread_self(), SCHED_FIFO, &sp);
      }
      Run();
    });
  }
  ~FarEnd() {
    char x = 0;
    (void)!::write(stopWrite_.Get(), &x, 1);
    thread_.join();
  }
  FarEnd(const FarEnd&) = delete;
  FarEnd& operator=(const FarEnd&) = delete;

  std::string Text() const {
    std::lock_guard lock(mutex_);
    std::string s;
    for (const Byte& b : bytes_) s += b.c;
    return s;
  }
  std::vector<Byte> Bytes() const {
    std::lock_guard lock(mutex_);
    return bytes_;
  }
  // Sends text to the device side.
  void Send(const std::string& text) const { (void)!::write(fd_, text.data(), text.size()); }

 private:
  void Run() {
    pollfd fds[2] = {{fd_, POLLIN, 0}, {stopRead_.Get(), POLLIN, 0}};
    for (;;) {
      if (::poll(fds, 2, -1) < 0) continue;
      if (fds[1].revents) return;
      if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL) && !(fds[0].revents & POLLIN)) {
        fds[0].fd = -1;  // the device side is closed: wait for the stop only
        continue;
      }
      if (!(fds[0].revents & POLLIN)) continue;
      char buf[512];
      ssize_t n = ::read(fd_, buf, sizeof buf);
      if (n <= 0) {
        fds[0].fd = -1;
        continue;
      }
      const uint64_t now = rtl::MonotonicUs();
      std::string reply;
      {
        std::lock_guard lock(mutex_);
        for (ssize_t i = 0; i < n; ++i) bytes_.push_back({buf[i], now});
      }
      if (answer_)
        for (ssize_t i = 0; i < n; ++i) reply += answer_(buf[i]);
      if (!reply.empty()) Send(reply);
    }
  }

  int fd_;
  std::function<std::string(char)> answer_;
  rtl::UniqueFd stopRead_, stopWrite_;
  mutable std::mutex mutex_;
  std::vector<Byte> bytes_;
  std::thread thread_;
};
