// The settings file: reading rules, line-preserving writes, atomic replacement and failures.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "runtime/exceptions.h"
#include "runtime/profile.h"
#include "runtime/text.h"

using namespace rtl;
namespace fs = std::filesystem;

namespace {

class ProfileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "profile.XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    path_ = dir_ + "/corvane.ini";
  }
  void TearDown() override {
    fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add);
    fs::remove_all(dir_);
  }

  static void Put(const std::string& path, std::string_view bytes) {
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  static std::string Get(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
  }
  // Names in the folder, to see that no temporary file stays behind.
  std::vector<std::string> Entries() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  std::string dir_, path_;
};

std::u16string WriteError(const std::string& path) {
  return u"Impossible d'écrire dans " + Utf8ToUtf16(path);
}

}  // namespace

TEST_F(ProfileTest, ReadingRules) {
  const std::string long3000(3000, 'v');
  const std::string quoted2049 = "\"" + std::string(2047, 'q') + "\"";
  struct Case {
    const char* what;
    std::string file;
    std::u16string_view section, key;
    std::u16string expected;
  } cases[] = {
      {"names without case", "[Serial Port]\r\nBaud Rate=9600\r\n", u"serial PORT", u"baud rate", u"9600"},
      {"Latin-1 folding", "[\xC9" "cran]\r\ncl\xE9=1\r\n", u"écran", u"CLÉ", u"1"},
      {"blanks around key and value", "[s]\r\n \tk \t=  \t v a l \t \r\n", u"s", u"k", u"v a l"},
      {"after the first =", "[s]\r\nk=a=b\r\n", u"s", u"k", u"a=b"},
      {"empty value", "[s]\r\nk=\r\n", u"s", u"k", u""},
      {"double quotes", "[s]\r\nk=\"  x  \"\r\n", u"s", u"k", u"  x  "},
      {"single quotes", "[s]\r\nk= 'x' \r\n", u"s", u"k", u"x"},
      {"unmatched quotes", "[s]\r\nk=\"x'\r\n", u"s", u"k", u"\"x'"},
      {"one quote", "[s]\r\nk=\"\r\n", u"s", u"k", u"\""},
      {"only one pair removed", "[s]\r\nk=\"\"x\"\"\r\n", u"s", u"k", u"\"x\""},
      {"cut to 2047", "[s]\r\nk=" + long3000 + "\r\n", u"s", u"k", std::u16string(2047, u'v')},
      {"quotes then cut", "[s]\r\nk=" + quoted2049 + "\r\n", u"s", u"k", std::u16string(2047, u'q')},
      {"lines without = ignored", "[s]\r\ngarbage\r\nk=v\r\n", u"s", u"garbage", u"DEF"},
      {"key after garbage", "[s]\r\ngarbage\r\nk=v\r\n", u"s", u"k", u"v"},
      {"preamble belongs to no section", "k=top\r\n[s]\r\nx=1\r\n", u"s", u"k", u"DEF"},
      {"key of another section", "[s]\r\na=1\r\n[t]\r\nk=2\r\n", u"s", u"k", u"DEF"},
      {"first section wins", "[s]\r\na=1\r\n[t]\r\n[S]\r\nk=3\r\n", u"s", u"k", u"DEF"},
      {"first key wins", "[s]\r\nk=1\r\nK=2\r\n", u"s", u"k", u"1"},
      {"LF ends", "[s]\nk=1\na=2\n", u"s", u"a", u"2"},
      {"lone CR ends", "[s]\rk=1\ra=2", u"s", u"k", u"1"},
      {"mixed ends", "[s]\rk=1\r\na=2\n", u"s", u"a", u"2"},
      {"no line end at the end", "[s]\r\nk=last", u"s", u"k", u"last"},
      {"section line with blanks", "  [s] ; note\r\nk=1\r\n", u"s", u"k", u"1"},
      {"code page", "[s]\r\nk=\x80\x92\xE9\r\n", u"s", u"k", u"€’é"},
      {"missing section", "[t]\r\nk=1\r\n", u"s", u"k", u"DEF"},
      {"empty file", "", u"s", u"k", u"DEF"},
  };
  for (const auto& c : cases) {
    Put(path_, c.file);
    EXPECT_EQ(TProfileFile(path_).ReadString(c.section, c.key, u"DEF"), c.expected) << c.what;
  }
}

TEST_F(ProfileTest, ReadingWhatIsNoFileGivesTheDefault) {
  Put(dir_ + "/plain", "[s]\r\nk=1\r\n");
  ASSERT_EQ(::mkfifo((dir_ + "/fifo").c_str(), 0600), 0);  // must not wait for a writer
  for (std::string path : {dir_ + "/missing.ini", dir_, dir_ + "/plain/corvane.ini", dir_ + "/fifo",
                           std::string("/dev/zero"), std::string()})
    EXPECT_EQ(TProfileFile(path).ReadString(u"s", u"k", u"DEF"), u"DEF") << path;
  EXPECT_FALSE(TProfileFile(dir_ + "/missing.ini").Exists());
  EXPECT_FALSE(TProfileFile(dir_).Exists());
  EXPECT_TRUE(TProfileFile(dir_ + "/plain").Exists());
}

TEST_F(ProfileTest, AFileWrittenFromNothing) {
  TProfileFile ini(path_);
  const std::u16string_view keys[][3] = {
      {u"Serial Port", u"Com Number", u"COM1"}, {u"Serial Port", u"Baud Rate", u"19200"},
      {u"Serial Port", u"Data Bits", u"8"},     {u"Serial Port", u"Parity", u"None"},
      {u"Serial Port", u"Stop Bits", u"1"},     {u"Serial Port", u"Echo", u"1"},
      {u"Auto Send", u"Period", u"10"},         {u"Auto Send", u"Data", u""},
  };
  for (const auto& k : keys) ini.WriteString(k[0], k[1], k[2]);
  EXPECT_EQ(Get(path_),
            "[Serial Port]\r\nCom Number=COM1\r\nBaud Rate=19200\r\nData Bits=8\r\nParity=None\r\n"
            "Stop Bits=1\r\nEcho=1\r\n[Auto Send]\r\nPeriod=10\r\nData=\r\n");
  for (const auto& k : keys) EXPECT_EQ(ini.ReadString(k[0], k[1], u"DEF"), k[2]);
  EXPECT_EQ(Entries(), std::vector<std::string>{"corvane.ini"});
}

TEST_F(ProfileTest, WritesChangeOnlyTheirLine) {
  struct Case {
    const char* what;
    std::string before;
    std::u16string_view section, key, value;
    std::string after;
  } cases[] = {
      {"replace keeps the text up to the first =", "x\n[s]\r\n  KEY \t=  old=1  \r\nother=1\n",
       u"S", u"key", u"new", "x\n[s]\r\n  KEY \t=new\r\nother=1\n"},
      {"replace keeps a lone CR end", "[s]\rk=1\rz\r", u"s", u"k", u"2", "[s]\rk=2\rz\r"},
      {"replace on the last line without end", "[s]\r\nk=1", u"s", u"k", u"2", "[s]\r\nk=2"},
      {"replace in the first of two sections", "[s]\r\nk=1\r\n[s]\r\nk=9\r\n", u"s", u"k", u"2",
       "[s]\r\nk=2\r\n[s]\r\nk=9\r\n"},
      {"added after the section's last non-blank line",
       "[s]\r\na=1\r\njunk\n \t\r\n\r\n[t]\r\nb=1\r\n", u"s", u"k", u"v",
       "[s]\r\na=1\r\njunk\nk=v\r\n \t\r\n\r\n[t]\r\nb=1\r\n"},
      {"added to the last section without end", "[s]\r\na=1", u"s", u"k", u"v",
       "[s]\r\na=1\r\nk=v\r\n"},
      {"added under an empty section", "[s]\n[t]\n", u"s", u"k", u"v", "[s]\nk=v\r\n[t]\n"},
      {"section added at the end", "; top\n[t]\r\nb=1\r\n", u"s", u"k", u"v",
       "; top\n[t]\r\nb=1\r\n[s]\r\nk=v\r\n"},
      {"section added after a line without end", "[t]\r\nb=1", u"s", u"k", u"v",
       "[t]\r\nb=1\r\n[s]\r\nk=v\r\n"},
      {"a preamble key is not the section's", "k=top\r\n", u"s", u"k", u"v",
       "k=top\r\n[s]\r\nk=v\r\n"},
      {"code page and best fit", "", u"s", u"k", u"é€’ấ中", "[s]\r\nk=\xE9\x80\x92\xE2?\r\n"},
  };
  for (const auto& c : cases) {
    Put(path_, c.before);
    TProfileFile(path_).WriteString(c.section, c.key, c.value);
    EXPECT_EQ(Get(path_), c.after) << c.what;
  }
}

TEST_F(ProfileTest, ValuesThatReadingWouldAlterAreQuoted) {
  struct Case {
    std::u16string_view value;
    std::string_view line;
  } cases[] = {
      {u"plain", "k=plain"},         {u" lead", "k=\" lead\""},   {u"trail\t", "k=\"trail\t\""},
      {u"\"q\"", "k=\"\"q\"\""},   {u"'q'", "k=\"'q'\""},       {u"\"", "k=\""},
      {u"'q\"", "k='q\""},           {u"a \"b\" c", "k=a \"b\" c"}, {u"", "k="},
      {u" ", "k=\" \""},             {u"x=y", "k=x=y"},
  };
  TProfileFile ini(path_);
  for (const auto& c : cases) {
    ini.WriteString(u"s", u"k", c.value);
    EXPECT_EQ(Get(path_), "[s]\r\n" + std::string(c.line) + "\r\n");
    EXPECT_EQ(ini.ReadString(u"s", u"k", u"DEF"), c.value);
  }
}

TEST_F(ProfileTest, LineBreaksAreRefused) {
  Put(path_, "[s]\r\nk=1\r\n");
  TProfileFile ini(path_);
  const std::u16string_view bad[][3] = {
      {u"s", u"k", u"two\r\nlines"}, {u"s", u"k", u"a\nb"}, {u"s", u"k", u"a\r"},
      {u"s", u"k\n", u"v"},          {u"s\r", u"k", u"v"},
  };
  for (const auto& b : bad) {
    EXPECT_THROW(ini.WriteString(b[0], b[1], b[2]), Exception);
    EXPECT_EQ(Get(path_), "[s]\r\nk=1\r\n");
  }
  TProfileFile fresh(dir_ + "/new.ini");
  EXPECT_THROW(fresh.WriteString(u"s", u"k", u"a\nb"), Exception);
  EXPECT_FALSE(fresh.Exists());
}

TEST_F(ProfileTest, DeleteKey) {
  struct Case {
    const char* what;
    std::string before;
    std::u16string_view key;
    std::string after;
  } cases[] = {
      {"its line goes", "[s]\r\na=1\r\nk=2\n\rb=3", u"K", "[s]\r\na=1\r\n\rb=3"},
      {"every line of it in the section", "[s]\r\nk=1\r\nx\r\nK = 2\r\n[t]\r\nk=3\r\n", u"k",
       "[s]\r\nx\r\n[t]\r\nk=3\r\n"},
      {"the last line without end", "[s]\r\na=1\r\nk=2", u"k", "[s]\r\na=1\r\n"},
      {"missing key changes nothing", "[s]\r\na=1", u"k", "[s]\r\na=1"},
  };
  for (const auto& c : cases) {
    Put(path_, c.before);
    TProfileFile(path_).DeleteKey(u"s", c.key);
    EXPECT_EQ(Get(path_), c.after) << c.what;
    EXPECT_EQ(TProfileFile(path_).ReadString(u"s", c.key, u"DEF"), u"DEF") << c.what;
  }
  TProfileFile missing(dir_ + "/missing.ini");
  missing.DeleteKey(u"s", u"k");
  EXPECT_FALSE(missing.Exists());
}

TEST_F(ProfileTest, DamagedFilesReadAndKeepTheirBytes) {
  std::string allBytes;
  for (int b = 0; b < 256; ++b) allBytes.push_back(static_cast<char>(b));
  const std::string nuls("\0\0[s\0]\0k=\0", 10);
  const std::string longLine(10u << 20, 'z');
  struct Case {
    const char* what;
    std::string file;
  } cases[] = {
      {"all byte values", allBytes + allBytes},
      {"NUL bytes", nuls},
      {"a 10 MB line", "[s]\r\n" + longLine},
      {"a 10 MB key line", "[s]\r\nk=" + longLine + "\r\n"},
      {"only CRs", std::string(1000, '\r')},
      {"no newline at the end", "[t]\r\nk=1"},
  };
  for (const auto& c : cases) {
    Put(path_, c.file);
    TProfileFile ini(path_);
    std::u16string value = ini.ReadString(u"s", u"k", u"DEF");
    EXPECT_LE(value.size(), kProfileValueLimit) << c.what;
    ini.WriteString(u"new", u"key", u"v");
    std::string after = Get(path_);
    // Everything that was there is still there, byte for byte, and the new key reads back.
    ASSERT_GE(after.size(), c.file.size()) << c.what;
    EXPECT_EQ(after.compare(0, c.file.size(), c.file), 0) << c.what;
    EXPECT_EQ(ini.ReadString(u"new", u"key", u"DEF"), u"v") << c.what;
  }
}

TEST_F(ProfileTest, AWriteReplacesTheFileAndKeepsItsMode) {
  Put(path_, "[s]\r\nk=1\r\n");
  ASSERT_EQ(::chmod(path_.c_str(), 0640), 0);
  std::ifstream before(path_, std::ios::binary);  // a reader of the old file
  TProfileFile(path_).WriteString(u"s", u"k", u"2");
  struct stat st {};
  ASSERT_EQ(::stat(path_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(Get(path_), "[s]\r\nk=2\r\n");
  // The old file was replaced, not rewritten: its reader still sees the old bytes.
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(before), {}), "[s]\r\nk=1\r\n");
  EXPECT_EQ(Entries(), std::vector<std::string>{"corvane.ini"});
}

TEST_F(ProfileTest, ANewFileTakesTheUmask) {
  mode_t old = ::umask(027);
  TProfileFile(path_).WriteString(u"s", u"k", u"v");
  ::umask(old);
  struct stat st {};
  ASSERT_EQ(::stat(path_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST_F(ProfileTest, WritesGoThroughSymbolicLinks) {
  fs::create_directory(dir_ + "/real");
  Put(dir_ + "/real/target.ini", "[s]\r\nk=1\r\n");
  fs::create_symlink("real/target.ini", path_);  // relative to the link's folder
  fs::create_symlink(dir_ + "/real/absent.ini", dir_ + "/dangling.ini");
  TProfileFile(path_).WriteString(u"s", u"k", u"2");
  TProfileFile(dir_ + "/dangling.ini").WriteString(u"s", u"k", u"3");
  EXPECT_TRUE(fs::is_symlink(path_));
  EXPECT_TRUE(fs::is_symlink(dir_ + "/dangling.ini"));
  EXPECT_EQ(Get(dir_ + "/real/target.ini"), "[s]\r\nk=2\r\n");
  EXPECT_EQ(Get(dir_ + "/real/absent.ini"), "[s]\r\nk=3\r\n");
}

TEST_F(ProfileTest, FailedWritesRaiseAndLeaveTheFile) {
  Put(dir_ + "/plain", "[s]\r\nk=1\r\n");
  fs::create_directory(dir_ + "/folder.ini");
  fs::create_symlink("/dev/full", dir_ + "/full.ini");
  fs::create_symlink("loop.ini", dir_ + "/loop.ini");
  const std::string paths[] = {
      dir_ + "/folder.ini",           // a folder where the file should be
      dir_ + "/plain/corvane.ini",    // a path through a regular file
      dir_ + "/nofolder/corvane.ini",
      dir_ + "/full.ini",             // a device is never replaced by a file
      dir_ + "/loop.ini",
      std::string(),
  };
  for (const auto& path : paths) {
    TProfileFile ini(path);
    try {
      ini.WriteString(u"s", u"k", u"v");
      ADD_FAILURE() << "written: " << path;
    } catch (const EIniFileException& e) {
      EXPECT_EQ(e.Message(), WriteError(path));
    }
    // A missing file has no key to delete; anything else that can't be read raises.
    if (path.find("nofolder") == std::string::npos) {
      EXPECT_THROW(ini.DeleteKey(u"s", u"k"), EIniFileException) << path;
    }
  }
  EXPECT_EQ(Get(dir_ + "/plain"), "[s]\r\nk=1\r\n");
  EXPECT_TRUE(fs::is_character_file("/dev/full"));
}

TEST_F(ProfileTest, AWriteThatRunsOutOfSpaceLeavesTheOldFile) {
  // A file size limit makes the temporary file's write fail as a full disk would.
  const std::string old = "[s]\r\nk=1\r\n";
  Put(path_, old);
  struct rlimit saved {};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  struct sigaction ignore {}, previous {};
  ignore.sa_handler = SIG_IGN;
  ASSERT_EQ(::sigaction(SIGXFSZ, &ignore, &previous), 0);
  struct rlimit small = saved;
  small.rlim_cur = 64;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  bool raised = false;
  try {
    TProfileFile(path_).WriteString(u"s", u"k", std::u16string(200, u'x'));
  } catch (const EIniFileException& e) {
    raised = e.Message() == WriteError(path_);
  }
  ::setrlimit(RLIMIT_FSIZE, &saved);
  ::sigaction(SIGXFSZ, &previous, nullptr);
  EXPECT_TRUE(raised);
  EXPECT_EQ(Get(path_), old);
  EXPECT_EQ(Entries(), std::vector<std::string>{"corvane.ini"});
}

TEST_F(ProfileTest, AFolderThatRefusesNewFilesIsWrittenInPlace) {
  if (::geteuid() == 0) GTEST_SKIP() << "root writes into any folder; the in-place path needs a user";
  Put(path_, "[s]\r\nk=1\r\nrest\r\n");
  ASSERT_EQ(::chmod(dir_.c_str(), 0500), 0);
  TProfileFile(path_).WriteString(u"s", u"k", u"2");
  EXPECT_EQ(Get(path_), "[s]\r\nk=2\r\nrest\r\n");
  TProfileFile(path_).DeleteKey(u"s", u"k");
  EXPECT_EQ(Get(path_), "[s]\r\nrest\r\n");
  ASSERT_EQ(::chmod(path_.c_str(), 0400), 0);
  EXPECT_THROW(TProfileFile(path_).WriteString(u"s", u"k", u"3"), EIniFileException);
  EXPECT_THROW(TProfileFile(dir_ + "/new.ini").WriteString(u"s", u"k", u"3"), EIniFileException);
}

TEST_F(ProfileTest, NamesThatWouldNotReadBackAreRefused) {
  // Each would leave a line that reading never finds again, so that every write added one more,
  // or would start a section of its own.
  const std::string before = "[s]\r\na=1\r\n[t]\r\nk=1\r\n";
  const std::u16string_view bad[][2] = {
      {u"s", u"a=b"},  {u"s", u"[t]"},  {u"s", u"[x"},   {u"a]b", u"k"},  {u"s", u" k"},
      {u"s", u"k\t"},  {u" t", u"k"},   {u"t ", u"k"},   {u"s", u"中"},  {u"ā", u"k"},
      {u"s", std::u16string_view(u"\xD800", 1)},
  };
  for (const auto& b : bad) {
    Put(path_, before);
    EXPECT_THROW(TProfileFile(path_).WriteString(b[0], b[1], u"v"), Exception)
        << Utf16ToUtf8(b[0]) << " / " << Utf16ToUtf8(b[1]);
    EXPECT_EQ(Get(path_), before);
  }
  // Names that hold these characters elsewhere are fine, and so are empty ones.
  const std::u16string_view good[][2] = {
      {u"s", u"a]b"}, {u"[x", u"k"}, {u"a=b", u"k"}, {u"s", u"x[y"}, {u"", u""}, {u"écran", u"Clé"},
  };
  for (const auto& g : good) {
    Put(path_, before);
    TProfileFile ini(path_);
    ini.WriteString(g[0], g[1], u"v1");
    const size_t size = Get(path_).size();
    ini.WriteString(g[0], g[1], u"v2");  // found again: replaced, not added
    EXPECT_EQ(Get(path_).size(), size) << Utf16ToUtf8(g[0]) << " / " << Utf16ToUtf8(g[1]);
    EXPECT_EQ(ini.ReadString(g[0], g[1], u"DEF"), u"v2") << Utf16ToUtf8(g[0]) << " / " << Utf16ToUtf8(g[1]);
    EXPECT_EQ(ini.ReadString(u"t", u"k", u"DEF"), u"1");
  }
}
