#include "serial/device/byte_ring.h"

#include <algorithm>
#include <cstring>

namespace comm {

size_t ByteRing::Write(const uint8_t* data, size_t n) {
  n = std::min(n, Free());
  if (n == 0) return 0;
  size_t tail = (head_ + size_) % buf_.size();
  size_t first = std::min(n, buf_.size() - tail);
  std::memcpy(buf_.data() + tail, data, first);
  std::memcpy(buf_.data(), data + first, n - first);
  size_ += n;
  return n;
}

size_t ByteRing::Read(uint8_t* out, size_t n) {
  n = std::min(n, size_);
  if (n == 0) return 0;
  size_t first = std::min(n, buf_.size() - head_);
  std::memcpy(out, buf_.data() + head_, first);
  std::memcpy(out + first, buf_.data(), n - first);
  head_ = (head_ + n) % buf_.size();
  size_ -= n;
  if (size_ == 0) head_ = 0;
  return n;
}

void ByteRing::Reserve(size_t capacity) {
  if (capacity <= buf_.size()) return;
  std::vector<uint8_t> grown(capacity);
  size_t n = size_;
  Read(grown.data(), n);
  buf_.swap(grown);
  head_ = 0;
  size_ = n;
}

}  // namespace comm
