// The settings file: an INI profile read and written one key at a time, as the platform's
// profile functions do (names without regard to case, every other line kept as it was).
#pragma once

#include <string>
#include <string_view>

namespace rtl {

// Longest value a read returns, in characters.
inline constexpr size_t kProfileValueLimit = 2047;

class TProfileFile {
 public:
  explicit TProfileFile(std::string path);
  const std::string& Path() const { return path_; }

  // The value of key in section: the text after the first "=" of the key's line, blanks at
  // either end removed, one pair of enclosing single or double quotes removed, cut to 2047
  // characters. def when the file, the section or the key is missing or unreadable.
  std::u16string ReadString(std::u16string_view section, std::u16string_view key,
                            std::u16string_view def) const;

  // Replaces the key's value, or adds the key at the end of its section (the section at the end
  // of the file, the file when missing). A value that reading would alter (blanks at an end, or
  // enclosed in a pair of quotes) is written between double quotes. The file is replaced
  // atomically (in place when its folder refuses new files); a symbolic link is written through.
  // A section, key or value holding CR or LF is refused with Exception (it would split the
  // line), and so is a name that reading would not find again: one the code page lacks, with
  // blanks at an end, a section with "]", a key with "=" or starting with "[". Failure, or a
  // path that names no regular file, raises EIniFileException "Impossible d'écrire dans <path>".
  void WriteString(std::u16string_view section, std::u16string_view key, std::u16string_view value);

  // Removes the key's line (every line of it in its section), when present; a missing file is
  // left missing. Failure raises EIniFileException as WriteString.
  void DeleteKey(std::u16string_view section, std::u16string_view key);

  // Whether a file (anything but a folder) exists at the path.
  bool Exists() const;

 private:
  std::string path_;
};

}  // namespace rtl
