// The record of one overlapped transfer of a port: the device's overlapped block with its
// completion event, the kind of operation, and the private copy of a write's bytes.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "serial/device/comm.h"

namespace serial {

enum TOperationKind : uint8_t { okWrite, okRead };

struct TAsync {
  comm::OVERLAPPED Overlapped;
  TOperationKind Kind = okWrite;
  // The bytes of the last write started on the record; the device writes from this copy, and
  // the links are given it when the write's wait ends.
  std::vector<uint8_t> Data;
  int32_t Size = 0;
  // Where ReadStrAsync reads into; it lives with the record.
  std::vector<uint8_t> ReadData;
  // The device refused the last start at once (already reported): the record carries no
  // operation, and its wait gives 0 without waiting or reporting again.
  bool Refused = false;
};

// The caller owns the record; an empty pointer is "no record".
using PAsync = std::unique_ptr<TAsync>;

// Makes a cleared record whose completion event (manual reset) starts signalled, so a wait on
// a record that carried no operation returns at once with 0 bytes.
void AllocAsync(PAsync& AsyncPtr);
// Frees the record (an operation still pending on it is cancelled first) and empties AsyncPtr.
void ReleaseAsync(PAsync& AsyncPtr);

}  // namespace serial
