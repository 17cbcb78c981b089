// The terminal's settings file: the Echo rule, and the auto-send sequence over several keys.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "terminal/settings.h"

using terminal::TSettingsFile;

namespace {

class SettingsTest : public ::testing::Test {
 protected:
  QTemporaryDir dir;
  QString path() const { return dir.filePath(QStringLiteral("corvane.ini")); }
  void WriteFile(const QByteArray& bytes) {
    QFile f(path());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
  }
  QByteArray ReadFile() {
    QFile f(path());
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  }
};

}  // namespace

TEST_F(SettingsTest, EchoIsAnInteger) {
  struct Case {
    const char* line;
    bool ticked;
  } cases[] = {{"", true},           {"Echo=0\r\n", false}, {"Echo=1\r\n", true},
               {"Echo=0x10\r\n", true}, {"Echo=$0\r\n", false}, {"Echo=yes\r\n", true},
               {"Echo=\r\n", true},   {"Echo= 0 \r\n", false}, {"echo=0\r\n", false}};
  for (const auto& c : cases) {
    WriteFile(QByteArray("[Serial Port]\r\n") + c.line);
    EXPECT_EQ(TSettingsFile(path()).ReadEcho(), c.ticked) << c.line;
  }
}

TEST_F(SettingsTest, MultiLineSequenceSurvivesARestart) {
  const QString sequences[] = {
      QStringLiteral("AT\r\nX"),
      QStringLiteral("one line"),
      QStringLiteral(""),
      QStringLiteral("AT\r\n"),
      QStringLiteral("\r\n\r\nmiddle\r\n\r\n"),
      QStringLiteral("key=value\r\n[Serial Port]\r\nCom Number=COM7"),
      QStringLiteral("  padded  \r\n\"quoted\"\r\n'single'"),
  };
  for (const QString& s : sequences) {
    TSettingsFile ini(path());
    ini.Write(terminal::kSerialSection, u"Com Number", QStringLiteral("COM1"));
    ini.WriteSequence(s);
    TSettingsFile again(path());
    EXPECT_EQ(again.ReadSequence(), s) << s.toStdString();
    // Lines that look like keys or sections stay inside the value.
    EXPECT_EQ(again.Read(terminal::kSerialSection, u"Com Number", QString()), QStringLiteral("COM1"));
    EXPECT_EQ(again.Read(terminal::kAutoSendSection, u"key", QStringLiteral("none")), QStringLiteral("none"));
  }
}

TEST_F(SettingsTest, ShorterSequenceRemovesTheKeysALongerOneLeft) {
  TSettingsFile ini(path());
  ini.WriteSequence(QStringLiteral("a\r\nb\r\nc\r\nd"));
  ini.WriteSequence(QStringLiteral("x\r\ny"));
  EXPECT_EQ(ini.ReadSequence(), QStringLiteral("x\r\ny"));
  EXPECT_FALSE(ReadFile().contains("Data3"));
  EXPECT_FALSE(ReadFile().contains("Data4"));
}

TEST_F(SettingsTest, FileWrittenTheOldWayReadsItsFirstLine) {
  WriteFile("[Auto Send]\r\nPeriod=10\r\nData=AT\r\nX\r\n");
  EXPECT_EQ(TSettingsFile(path()).ReadSequence(), QStringLiteral("AT"));
}
