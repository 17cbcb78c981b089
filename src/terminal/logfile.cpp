#include "terminal/logfile.h"

#include <sys/stat.h>

#include "runtime/codepage.h"
#include "runtime/textfile.h"
#include "toolkit/display/display_view.h"

namespace terminal {

bool TLogFile::Extend(const toolkit::DisplayText& text, const std::string& path) {
  if (!mark_ || path != path_) return false;
  // Only a file that is still the one written last time may be extended.
  struct stat st{};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || static_cast<uint64_t>(st.st_size) != bytes_ ||
      bytes_ < 2)
    return false;
  std::optional<rtl::TFileWriter> file;
  bool same = text.WriteSince(*mark_, [&](std::u16string_view piece) {
    if (!file) file.emplace(path, bytes_ - 2);  // over the old final CR LF
    file->Write(rtl::AnsiFromUnicode(piece));
  });
  if (!same) return false;
  if (!file) return true;  // nothing new
  file->Write("\r\n");
  file->Truncate();
  bytes_ = file->Position();
  file->Close();
  mark_ = text.EndMark();
  return true;
}

void TLogFile::Write(const toolkit::TDisplayView& view, const QString& path) {
  const toolkit::DisplayText& text = view.Text();
  const std::string target = path.toStdString();
  if (Extend(text, target)) return;
  mark_.reset();
  rtl::TFileWriter file(target);
  text.Write([&](std::u16string_view piece) { file.Write(rtl::AnsiFromUnicode(piece)); });
  file.Write("\r\n");
  bytes_ = file.Position();
  file.Close();
  path_ = target;
  mark_ = text.EndMark();
}

}  // namespace terminal
