// The log file: the display's whole text followed by CR LF, in Windows-1252, replaced at each
// writing. When the display has only grown since the last writing, only the new text is added
// to the file this program wrote last time; the file's content is the same either way.
#pragma once

#include <QString>
#include <cstdint>
#include <optional>

#include "toolkit/display/display_text.h"

namespace toolkit {
class TDisplayView;
}

namespace terminal {

class TLogFile {
 public:
  // Writes the display's text to path. Errors raise rtl::EInOutError
  // ("Impossible de créer le fichier "<path>". <reason>", or a failed write).
  void Write(const toolkit::TDisplayView& view, const QString& path);

 private:
  bool Extend(const toolkit::DisplayText& text, const std::string& path);

  std::string path_;
  uint64_t bytes_ = 0;  // size of the file as last written, its final CR LF included
  std::optional<toolkit::DisplayText::Mark> mark_;
};

}  // namespace terminal
