// Streaming reader of a text file in the ANSI code page, line by line: LF or CR LF ends a line,
// a lone CR is dropped, Ctrl-Z ends the file. Memory stays bounded whatever the line length.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "runtime/exceptions.h"
#include "runtime/fd.h"

namespace rtl {

class TTextFileReader {
 public:
  TTextFileReader() = default;
  ~TTextFileReader() = default;
  TTextFileReader(const TTextFileReader&) = delete;
  TTextFileReader& operator=(const TTextFileReader&) = delete;

  // Opens path read-only (other readers may share it). An empty path opens nothing: the first
  // read then fails with "Erreur E/S 6". A file that can't be opened raises EInOutError:
  // "Impossible de trouver le fichier spécifié" (2), "Accès au fichier refusé" (5, also for
  // anything but a regular file: a folder, a FIFO or a device is never read), otherwise
  // "Erreur E/S <n>". Window thread (any one thread per reader).
  void Open(const std::string& path);

  // True when no line is left: at the end of the file or at a Ctrl-Z.
  bool Eof();

  // Next character of the current line. False at the end of the line (its terminator is then
  // consumed) or of the file. Read failures raise EInOutError.
  bool ReadLineChar(char16_t& c);

  // The rest of the current line as one text (convenience for small files and tests).
  std::u16string ReadLine();

  void Close();
  bool IsOpen() const { return opened_; }

  // Bytes the reader holds at most: one block, whatever the length of the lines.
  size_t BufferCapacity() const { return buf_.capacity(); }

 private:
  int PeekByte();  // next byte, -1 at the end; raises on failure
  void Fill();

  bool opened_ = false;
  UniqueFd fd_;
  std::vector<unsigned char> buf_;
  size_t pos_ = 0;
  bool eof_ = false;  // end of file or Ctrl-Z reached
};

// Raises the EInOutError of a failed file operation with platform error number err.
[[noreturn]] void RaiseInOutError(uint32_t err);

}  // namespace rtl
