#include "terminal/settings.h"

#include <QStringList>

#include "runtime/strtoint.h"

namespace terminal {

namespace {

std::u16string DataKey(int n) {
  if (n == 1) return u"Data";
  return u"Data" + QString::number(n).toStdU16String();
}

QStringList SplitLines(const QString& text) {
  QStringList lines;
  QString line;
  for (qsizetype i = 0; i < text.size(); ++i) {
    QChar c = text[i];
    if (c == u'\r' || c == u'\n') {
      lines << line;
      line.clear();
      if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') ++i;
    } else {
      line += c;
    }
  }
  lines << line;
  return lines;
}

}  // namespace

TSettingsFile::TSettingsFile(const QString& path) : file_(path.toStdString()) {}

QString TSettingsFile::Path() const { return QString::fromStdString(file_.Path()); }

QString TSettingsFile::Read(const char16_t* section, const char16_t* key, const QString& def) const {
  return QString::fromStdU16String(file_.ReadString(section, key, def.toStdU16String()));
}

void TSettingsFile::Write(const char16_t* section, const char16_t* key, const QString& value) {
  file_.WriteString(section, key, value.toStdU16String());
}

bool TSettingsFile::ReadEcho() const {
  int32_t value = 0;
  if (!rtl::TryStrToInt(file_.ReadString(kSerialSection, u"Echo", u""), value)) return true;
  return value != 0;
}

bool TSettingsFile::KeyExists(const char16_t* section, const std::u16string& key) const {
  // Two different defaults come back unchanged only when the key is missing.
  return file_.ReadString(section, key, u"\u0001") != u"\u0001" ||
         file_.ReadString(section, key, u"\u0002") != u"\u0002";
}

QString TSettingsFile::ReadSequence() const {
  QString text = QString::fromStdU16String(file_.ReadString(kAutoSendSection, u"Data", u""));
  for (int n = 2; KeyExists(kAutoSendSection, DataKey(n)); ++n)
    text += QStringLiteral("\r\n") + QString::fromStdU16String(file_.ReadString(kAutoSendSection, DataKey(n), u""));
  return text;
}

void TSettingsFile::WriteSequence(const QString& sequence) {
  const QStringList lines = SplitLines(sequence);
  for (int n = 1; n <= lines.size(); ++n)
    file_.WriteString(kAutoSendSection, DataKey(n), lines[n - 1].toStdU16String());
  for (int n = static_cast<int>(lines.size()) + 1; KeyExists(kAutoSendSection, DataKey(n)); ++n)
    file_.DeleteKey(kAutoSendSection, DataKey(n));
}

}  // namespace terminal
