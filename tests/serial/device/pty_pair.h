// A pseudo-terminal pair for the device tests: the device opens the slave by its path, the test
// plays the far end on the master.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "runtime/fd.h"

namespace devtest {

class PtyPair {
 public:
  PtyPair();  // fails the current test when the system has no pseudo-terminals

  const std::string& Path() const { return path_; }
  int Master() const { return master_.Get(); }
  // A descriptor of the slave kept by the test, to read the line's settings back.
  int Slave() const { return slave_.Get(); }

  // The far end writes all of bytes (blocking).
  void Send(std::string_view bytes);
  // The far end reads until it has n bytes or timeoutMs passes without any.
  std::string Receive(size_t n, int timeoutMs = 2000);
  // Bytes the far end can read at once, without waiting.
  std::string Drain();
  // The far end goes away: the slave side hangs up.
  void CloseFar() { master_.Reset(); }
  void CloseSlaveCopy() { slave_.Reset(); }

 private:
  rtl::UniqueFd master_, slave_;
  std::string path_;
};

}  // namespace devtest
