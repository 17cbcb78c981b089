#include "terminal/logfile.h"

#include "runtime/codepage.h"
#include "runtime/textfile.h"
#include "toolkit/display/display_view.h"

namespace terminal {

void TLogFile::Write(const toolkit::TDisplayView& view, const QString& path) {
  const std::string bytes = rtl::AnsiFromUnicode(view.PlainText().toStdU16String()) + "\r\n";
  path_ = path;
  rtl::ReplaceFile(path.toStdString(), bytes);
  bytes_ = bytes.size();
}

}  // namespace terminal
