// A first-in first-out byte queue in one ring of memory: a device's input queue.
// Not thread-safe: its owner locks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace comm {

class ByteRing {
 public:
  explicit ByteRing(size_t capacity) : buf_(capacity) {}

  size_t Size() const { return size_; }
  size_t Capacity() const { return buf_.size(); }
  size_t Free() const { return buf_.size() - size_; }
  bool Empty() const { return size_ == 0; }

  // Appends up to n bytes; returns how many fitted.
  size_t Write(const uint8_t* data, size_t n);
  // Moves up to n bytes to out; returns how many.
  size_t Read(uint8_t* out, size_t n);
  void Clear() { head_ = size_ = 0; }
  // Grows the ring to capacity, keeping its bytes; never shrinks. May throw std::bad_alloc.
  void Reserve(size_t capacity);

 private:
  std::vector<uint8_t> buf_;
  size_t head_ = 0;  // index of the oldest byte
  size_t size_ = 0;
};

}  // namespace comm
