// Fuzz target of the text-file reader: the lines it gives are those of the reference splitter,
// however the caller reads them, and it never holds more than one block whatever the lines.
//
// Input: a mode byte, then the file. Mode bits 0-1: read by ReadLine; by ReadLineChar; by
// ReadLineChar with Eof asked before each character; by ReadLine, then once more at the end;
// bits 2-5 all set: the file starts with filler bytes up to a little before the end of the
// first read block (bits 6-7 say how far before), so that the input's bytes straddle the block
// boundary (seldom, as such a file costs as much as a hundred small ones).
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/reference.h"
#include "runtime/fd.h"
#include "runtime/textreader.h"

namespace {

constexpr size_t kBlock = 64 * 1024;  // the reader's block, its bound on memory

// The file, in memory; its /proc path opens it afresh like any file.
std::string MakeFile(std::string_view bytes, rtl::UniqueFd& fd) {
  fd.Reset(::memfd_create("fuzz-textreader", MFD_CLOEXEC));
  FUZZ_CHECK(fd.Valid());
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd.Get(), bytes.data() + done, bytes.size() - done);
    FUZZ_CHECK(n > 0);
    done += static_cast<size_t>(n);
  }
  return "/proc/self/fd/" + std::to_string(fd.Get());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzref::Input in(data, size);
  const uint8_t mode = in.Byte();
  std::string content;
  if ((mode & 0x3C) == 0x3C) content.assign(kBlock - (mode >> 6), 'f');
  content += in.Rest();

  rtl::UniqueFd fd;
  rtl::TTextFileReader reader;
  reader.Open(MakeFile(content, fd));
  std::vector<std::u16string> lines;
  const int style = mode & 3;
  while (!reader.Eof()) {
    std::u16string line;
    if (style == 0 || style == 3) {
      line = reader.ReadLine();
    } else {
      char16_t c;
      for (;;) {
        // Asking for the end between characters consumes nothing; at the end no character comes.
        const bool atEnd = style == 2 && reader.Eof();
        if (!reader.ReadLineChar(c)) break;
        FUZZ_CHECK(!atEnd);
        line.push_back(c);
      }
    }
    lines.push_back(line);
    FUZZ_CHECK(reader.BufferCapacity() <= kBlock);
    FUZZ_CHECK(lines.size() <= content.size());
  }
  FUZZ_CHECK(reader.Eof());
  char16_t c;
  FUZZ_CHECK(!reader.ReadLineChar(c));
  if (style == 3) FUZZ_CHECK(reader.ReadLine().empty());

  const std::vector<std::u16string> expected = fuzzref::SplitTextLines(content);
  FUZZ_CHECK(lines == expected);
  return 0;
}
