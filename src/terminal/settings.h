// The terminal's settings file: the keys of the "Serial Port" and "Auto Send" sections, their
// defaults, and the auto-send sequence kept over several keys so that every line survives.
#pragma once

#include <QString>

#include "runtime/profile.h"

namespace terminal {

inline constexpr char16_t kSerialSection[] = u"Serial Port";
inline constexpr char16_t kAutoSendSection[] = u"Auto Send";

class TSettingsFile {
 public:
  explicit TSettingsFile(const QString& path);
  bool Exists() const { return file_.Exists(); }
  QString Path() const;

  // A key's value, or def when the file or the key is missing.
  QString Read(const char16_t* section, const char16_t* key, const QString& def) const;
  // Writes one key; a failure raises rtl::EIniFileException ("Impossible d'écrire dans ...").
  void Write(const char16_t* section, const char16_t* key, const QString& value);

  // "Echo" as an integer: 0 unticked, any other number ticked; missing, empty or not a number
  // gives the default, ticked.
  bool ReadEcho() const;

  // The auto-send sequence: "Data" holds its first line, "Data2", "Data3", ... the others;
  // reading joins them with CR LF. A file with "Data" alone reads as that one line.
  QString ReadSequence() const;
  // Writes "Data", "Data2", ... for the lines of sequence (split at CR LF, lone CR or LF) and
  // removes the keys a longer sequence left behind.
  void WriteSequence(const QString& sequence);

 private:
  bool KeyExists(const char16_t* section, const std::u16string& key) const;
  rtl::TProfileFile file_;
};

}  // namespace terminal
