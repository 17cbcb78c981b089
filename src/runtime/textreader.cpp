#include "runtime/textreader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "runtime/codepage.h"
#include "runtime/lasterror.h"
#include "runtime/syserror.h"
#include "runtime/text.h"

namespace rtl {

namespace {

constexpr size_t kBlockSize = 64 * 1024;
constexpr unsigned char kCtrlZ = 0x1A;

}  // namespace

void RaiseInOutError(uint32_t err) {
  std::u16string message;
  switch (err) {
    case ERROR_FILE_NOT_FOUND: message = u"Impossible de trouver le fichier spécifié"; break;
    case ERROR_ACCESS_DENIED: message = u"Accès au fichier refusé"; break;
    default: message = Format(u"Erreur E/S %d", {err}); break;
  }
  throw EInOutError(std::move(message), static_cast<int32_t>(err));
}

void TTextFileReader::Open(const std::string& path) {
  Close();
  if (!path.empty()) {
    // O_NONBLOCK so that opening a FIFO cannot wait for a writer; only regular files are read.
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!fd.Valid()) RaiseInOutError(WinErrorFromErrno(errno));
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0) RaiseInOutError(WinErrorFromErrno(errno));
    if (!S_ISREG(st.st_mode)) RaiseInOutError(ERROR_ACCESS_DENIED);
    fd_ = std::move(fd);
  }
  opened_ = true;
}

void TTextFileReader::Close() {
  fd_.Reset();
  opened_ = false;
  buf_.clear();
  pos_ = 0;
  eof_ = false;
}

void TTextFileReader::Fill() {
  if (!fd_.Valid()) RaiseInOutError(ERROR_INVALID_HANDLE);
  buf_.resize(kBlockSize);  // capacity stays at one block
  ssize_t n;
  do {
    n = ::read(fd_.Get(), buf_.data(), buf_.size());
  } while (n < 0 && errno == EINTR);
  if (n < 0) {
    int err = errno;
    buf_.clear();
    RaiseInOutError(WinErrorFromErrno(err));
  }
  buf_.resize(static_cast<size_t>(n));
  pos_ = 0;
  if (n == 0) eof_ = true;
}

int TTextFileReader::PeekByte() {
  if (eof_) return -1;
  if (pos_ >= buf_.size()) {
    Fill();
    if (eof_) return -1;
  }
  if (buf_[pos_] == kCtrlZ) {
    eof_ = true;  // nothing from here on is ever read
    return -1;
  }
  return buf_[pos_];
}

bool TTextFileReader::Eof() { return PeekByte() < 0; }

bool TTextFileReader::ReadLineChar(char16_t& c) {
  for (;;) {
    int b = PeekByte();
    if (b < 0) return false;
    ++pos_;
    if (b == '\n') return false;
    if (b == '\r') {
      if (PeekByte() == '\n') {
        ++pos_;
        return false;
      }
      continue;  // a lone CR is dropped
    }
    c = AnsiCharToUnicode(static_cast<unsigned char>(b));
    return true;
  }
}

std::u16string TTextFileReader::ReadLine() {
  std::u16string line;
  char16_t c;
  while (ReadLineChar(c)) line.push_back(c);
  return line;
}

}  // namespace rtl
