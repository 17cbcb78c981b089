#include "vanishing_far_end.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <deque>
#include <optional>
#include <vector>

#include "runtime/clock.h"
#include "soak_util.h"

namespace soak {

VanishingFarEnd::VanishingFarEnd(rtl::UniqueFd master, Plan plan, uint64_t seed)
    : master_(std::move(master)), plan_(plan), seed_(seed) {
  thread_ = std::thread([this] { Run(); });
}

VanishingFarEnd::~VanishingFarEnd() { thread_.join(); }

void VanishingFarEnd::Run() {
  const int fd = master_.Get();
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
  ByteStream random(seed_);
  std::vector<uint8_t> chunk(4096);
  const uint64_t t0 = rtl::MonotonicUs();
  std::optional<uint64_t> closeAt;
  if (plan_.closeAtLf < 0) closeAt = t0 + plan_.closeAfterUs;
  std::deque<uint64_t> answers;  // when each pending prompt is due
  int lfs = 0;
  bool hungUp = false;
  for (;;) {
    const uint64_t now = rtl::MonotonicUs();
    if (closeAt && now >= *closeAt) break;
    while (!answers.empty() && answers.front() <= now) {
      answers.pop_front();
      (void)!::write(fd, ">", 1);
    }
    uint64_t wakeAt = now + 100'000;
    if (closeAt) wakeAt = std::min(wakeAt, *closeAt);
    if (!answers.empty()) wakeAt = std::min(wakeAt, answers.front());
    // Before the terminal opens the device (and after it closes it) the master reads as hung
    // up; then it is only watched again a millisecond later.
    if (hungUp) wakeAt = std::min(wakeAt, now + 1000);
    const uint64_t waitUs = wakeAt > now ? wakeAt - now : 0;
    const timespec timeout{static_cast<time_t>(waitUs / 1'000'000), static_cast<long>(waitUs % 1'000'000 * 1000)};
    pollfd p{hungUp ? -1 : fd, static_cast<short>(POLLIN | (plan_.stream ? POLLOUT : 0)), 0};
    if (::ppoll(&p, 1, &timeout, nullptr) < 0) continue;
    hungUp = false;
    if ((p.revents & POLLHUP) && !(p.revents & POLLIN)) {
      hungUp = true;
      continue;
    }
    if (p.revents & POLLIN) {
      char buf[4096];
      const ssize_t n = ::read(fd, buf, sizeof buf);
      for (ssize_t i = 0; i < n; ++i) {
        if (buf[i] != '\n') continue;
        const uint64_t at = rtl::MonotonicUs();
        if (lfs == plan_.closeAtLf) {
          closeAt = at + plan_.closeDelayUs;
        } else if (plan_.answerPrompts) {
          answers.push_back(at + 20'000);
        }
        ++lfs;
      }
      if (n > 0) received_ += static_cast<uint64_t>(n);
    }
    if ((p.revents & POLLOUT) && plan_.stream) {
      for (size_t i = 0; i < chunk.size(); i += 8) {
        const uint64_t w = random.Next64();
        for (size_t k = 0; k < 8; ++k) chunk[i + k] = static_cast<uint8_t>(w >> (8 * k));
      }
      (void)!::write(fd, chunk.data(), chunk.size());
    }
  }
  master_.Reset();
  vanishedAtMonotonicUs_ = rtl::MonotonicUs();
  vanishedAtUs_ = vanishedAtMonotonicUs_ - t0;
  vanished_ = true;
}

}  // namespace soak
