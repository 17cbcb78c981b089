#include "runtime/textfile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "runtime/exceptions.h"
#include "runtime/syserror.h"
#include "runtime/text.h"

namespace rtl {

namespace {

[[noreturn]] void RaiseCreateError(const std::string& path, int err) {
  throw EInOutError(Format(u"Impossible de créer le fichier \"%s\". %s",
                           {Utf8ToUtf16(path), SysErrorMessage(WinErrorFromErrno(err))}),
                    static_cast<int32_t>(WinErrorFromErrno(err)));
}

int OpenForWriting(const std::string& path, int flags) {
  if (path.empty()) RaiseCreateError(path, ENOENT);
  int fd;
  do {
    fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY | flags, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) RaiseCreateError(path, errno);
  return fd;
}

}  // namespace

TFileWriter::TFileWriter(const std::string& path) : path_(path), fd_(OpenForWriting(path, O_TRUNC)) {}

TFileWriter::TFileWriter(const std::string& path, uint64_t offset)
    : path_(path), fd_(OpenForWriting(path, 0)), position_(offset) {
  if (::lseek(fd_.Get(), static_cast<off_t>(offset), SEEK_SET) < 0) RaiseCreateError(path, errno);
}

void TFileWriter::RaiseWriteError(int err) const {
  throw EInOutError(Format(u"Impossible d'écrire dans \"%s\". %s",
                           {Utf8ToUtf16(path_), SysErrorMessage(WinErrorFromErrno(err))}),
                    static_cast<int32_t>(WinErrorFromErrno(err)));
}

void TFileWriter::Write(std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::write(fd_.Get(), bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      RaiseWriteError(errno);
    }
    if (n == 0) RaiseWriteError(ENOSPC);
    bytes.remove_prefix(static_cast<size_t>(n));
    position_ += static_cast<uint64_t>(n);
  }
}

void TFileWriter::Truncate() {
  if (::ftruncate(fd_.Get(), static_cast<off_t>(position_)) < 0 && errno != EINVAL) RaiseWriteError(errno);
}

void TFileWriter::Close() {
  if (fd_.Valid() && fd_.Reset() < 0 && errno != EINTR) RaiseWriteError(errno);
}

void ReplaceFile(const std::string& path, std::string_view bytes) {
  TFileWriter file(path);
  file.Write(bytes);
  file.Close();
}

}  // namespace rtl
