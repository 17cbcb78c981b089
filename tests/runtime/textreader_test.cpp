// The streaming text-file reader: line ends, Ctrl-Z, the code page, long lines and its errors.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

#include "runtime/exceptions.h"
#include "runtime/text.h"
#include "runtime/textreader.h"

using namespace rtl;
namespace fs = std::filesystem;

namespace {

class TextReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "textreader.XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Make(const std::string& name, std::string_view bytes) {
    std::string path = dir_ + "/" + name;
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return path;
  }

  static std::vector<std::u16string> ReadAllLines(const std::string& path) {
    TTextFileReader reader;
    reader.Open(path);
    std::vector<std::u16string> lines;
    while (!reader.Eof()) lines.push_back(reader.ReadLine());
    return lines;
  }

  std::string dir_;
};

// The error a call raised: its number and text.
template <typename F>
std::pair<int32_t, std::u16string> ErrorOf(F&& f) {
  try {
    f();
  } catch (const EInOutError& e) {
    return {e.ErrorCode, e.Message()};
  }
  return {0, u"no error"};
}

}  // namespace

TEST_F(TextReaderTest, LinesOfAFile) {
  using Lines = std::vector<std::u16string>;
  const std::string a64k(65535, 'a');
  const std::u16string u64k(65535, u'a');
  struct Case {
    std::string_view bytes;
    Lines lines;
  } cases[] = {
      {"AB\r\nC", {u"AB", u"C"}},
      {"AB\nC", {u"AB", u"C"}},
      {"AB\r\nC\r\n", {u"AB", u"C"}},  // no empty line after the last terminator
      {"AB\nC\n", {u"AB", u"C"}},
      {"A\rB\n", {u"AB"}},              // lone CR dropped
      {"A\r\r\nB\r", {u"A", u"B"}},
      {"X\x1AY", {u"X"}},
      {"X\r\n\x1A\r\nY\r\n", {u"X"}},
      {"\x1A" "ABC", {}},
      {"", {}},
      {"\n", {u""}},
      {"\r", {u""}},
      {"\r\n\r\n", {u"", u""}},
      {"A\n\nB\n", {u"A", u"", u"B"}},  // empty middle line
      {"\xEF\xBB\xBFHi\n", {u"ï»¿Hi"}},  // a byte-order mark is three characters
      {"\x80\x81\x92\xE9\n", {u"€\u0081’é"}},
      {std::string_view("a\0b\n", 4), {std::u16string(u"a\0b", 3)}},
  };
  for (const auto& c : cases) {
    std::string path = Make("case.txt", c.bytes);
    EXPECT_EQ(ReadAllLines(path), c.lines) << testing::PrintToString(std::string(c.bytes));
  }
  // Terminators and Ctrl-Z that straddle the end of a read block.
  struct Boundary {
    std::string bytes;
    Lines lines;
  } boundaries[] = {
      {a64k + "\r\nb", {u64k, u"b"}},
      {a64k + "\rb\n", {u64k + u"b"}},
      {a64k + "\r", {u64k}},
      {a64k + "c\x1A" "d", {u64k + u"c"}},
  };
  for (const auto& c : boundaries) EXPECT_EQ(ReadAllLines(Make("block.txt", c.bytes)), c.lines);
}

TEST_F(TextReaderTest, CharactersOneByOne) {
  TTextFileReader reader;
  reader.Open(Make("chars.txt", "ab\r\n\nc"));
  std::u16string seen;
  char16_t c;
  while (!reader.Eof()) {
    while (reader.ReadLineChar(c)) seen.push_back(c);
    seen.push_back(u'|');
  }
  EXPECT_EQ(seen, u"ab||c|");
  EXPECT_FALSE(reader.ReadLineChar(c));
  EXPECT_TRUE(reader.Eof());
}

TEST_F(TextReaderTest, AVeryLongLineIsStreamedInBoundedMemory) {
  constexpr size_t kLength = 16u << 20;  // 256 blocks
  std::string path = dir_ + "/long.txt";
  {
    std::ofstream out(path, std::ios::binary);
    std::string block(1 << 20, 'x');
    for (size_t n = 0; n < kLength; n += block.size()) out.write(block.data(), static_cast<std::streamsize>(block.size()));
    out << "\r\nend";
  }
  TTextFileReader reader;
  reader.Open(path);
  size_t count = 0, maxCapacity = 0;
  char16_t c;
  bool allX = true;
  while (reader.ReadLineChar(c)) {
    allX = allX && c == u'x';
    if (++count % 65536 == 0) maxCapacity = std::max(maxCapacity, reader.BufferCapacity());
  }
  EXPECT_EQ(count, kLength);
  EXPECT_TRUE(allX);
  EXPECT_LE(maxCapacity, 64u * 1024);
  EXPECT_EQ(reader.ReadLine(), u"end");
  EXPECT_TRUE(reader.Eof());
}

TEST_F(TextReaderTest, FilesThatCannotBeOpened) {
  Make("plain", "x");
  ASSERT_EQ(::mkfifo((dir_ + "/fifo").c_str(), 0600), 0);
  struct Case {
    std::string path;
    int32_t code;
    std::u16string message;
  } cases[] = {
      {dir_ + "/missing.txt", 2, u"Impossible de trouver le fichier spécifié"},
      {dir_ + "/nofolder/x.txt", 2, u"Impossible de trouver le fichier spécifié"},
      {dir_ + "/plain/x.txt", 3, u"Erreur E/S 3"},  // through a regular file
      {dir_, 5, u"Accès au fichier refusé"},         // a folder
      {dir_ + "/fifo", 5, u"Accès au fichier refusé"},  // must not wait for a writer
      {"/dev/zero", 5, u"Accès au fichier refusé"},
  };
  for (const auto& c : cases) {
    TTextFileReader reader;
    auto [code, message] = ErrorOf([&] { reader.Open(c.path); });
    EXPECT_EQ(code, c.code) << c.path;
    EXPECT_EQ(message, c.message) << c.path;
    EXPECT_FALSE(reader.IsOpen()) << c.path;
  }
}

TEST_F(TextReaderTest, EmptyPathFailsAtTheFirstRead) {
  TTextFileReader reader;
  reader.Open("");  // opens nothing, and never standard input
  EXPECT_TRUE(reader.IsOpen());
  auto eof = ErrorOf([&] { reader.Eof(); });
  EXPECT_EQ(eof.first, 6);
  EXPECT_EQ(eof.second, u"Erreur E/S 6");
  char16_t c;
  EXPECT_EQ(ErrorOf([&] { reader.ReadLineChar(c); }).first, 6);
}

TEST_F(TextReaderTest, ReadFailureRaisesTheInOutError) {
  // A regular file whose reads fail with EIO: this process's memory at address 0.
  TTextFileReader reader;
  reader.Open("/proc/self/mem");
  auto [code, message] = ErrorOf([&] { reader.Eof(); });
  EXPECT_EQ(code, 1167);
  EXPECT_EQ(message, u"Erreur E/S 1167");
}

TEST_F(TextReaderTest, CloseAndReopen) {
  TTextFileReader reader;
  reader.Open(Make("one.txt", "1\n2\n"));
  EXPECT_EQ(reader.ReadLine(), u"1");
  reader.Close();
  EXPECT_FALSE(reader.IsOpen());
  EXPECT_EQ(ErrorOf([&] { reader.Eof(); }).first, 6);
  reader.Open(Make("two.txt", "x"));
  EXPECT_EQ(reader.ReadLine(), u"x");
  EXPECT_TRUE(reader.Eof());
}
