// The log file: the display's whole text followed by CR LF, in Windows-1252, replaced at each
// writing. When the display has only grown since the last writing, only the new text is added.
#pragma once

#include <QString>
#include <cstdint>

namespace toolkit {
class TDisplayView;
}

namespace terminal {

class TLogFile {
 public:
  // Writes the display's text to path. Errors raise rtl::EInOutError
  // ("Impossible de créer le fichier "<path>". <reason>").
  void Write(const toolkit::TDisplayView& view, const QString& path);

 private:
  QString path_;
  uint64_t bytes_ = 0;  // size of the file as last written, its final CR LF included
};

}  // namespace terminal
