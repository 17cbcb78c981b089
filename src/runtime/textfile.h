// Writing whole text files (saved display, log): created or replaced, with French errors that
// name the file and the system's reason.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "runtime/fd.h"

namespace rtl {

// A file opened for writing from its start (created, or its content replaced).
class TFileWriter {
 public:
  // Creates or truncates path. Raises EInOutError "Impossible de créer le fichier "<path>".
  // <reason>" when that fails (a folder in its place, a missing folder, no access, ...).
  explicit TFileWriter(const std::string& path);
  // Opens path for writing without truncating, positioned at offset; used to extend a file
  // this program wrote. Errors as the constructor.
  TFileWriter(const std::string& path, uint64_t offset);

  // Writes all of bytes. Raises EInOutError "Impossible d'écrire dans "<path>". <reason>"
  // (a full disk, an I/O error).
  void Write(std::string_view bytes);
  // Cuts the file at the current position (what was after it is gone).
  void Truncate();
  uint64_t Position() const { return position_; }
  // Closes the file; a failure to close raises as a failed write.
  void Close();

 private:
  [[noreturn]] void RaiseWriteError(int err) const;
  std::string path_;
  UniqueFd fd_;
  uint64_t position_ = 0;
};

// Replaces the content of path with bytes (errors as TFileWriter).
void ReplaceFile(const std::string& path, std::string_view bytes);

}  // namespace rtl
