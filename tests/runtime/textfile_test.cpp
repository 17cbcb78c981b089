// Writing whole files: creation, replacement, extension, and the two French error texts.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "runtime/exceptions.h"
#include "runtime/text.h"
#include "runtime/textfile.h"

namespace fs = std::filesystem;
using namespace rtl;

namespace {

class TextFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (fs::temp_directory_path() / "corvane-textfile-XXXXXX").string();
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    dir = tmpl;
  }
  void TearDown() override { fs::remove_all(dir); }
  std::string Read(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
  }
  fs::path dir;
};

std::string MessageOf(const std::function<void()>& fn) {
  try {
    fn();
  } catch (const EInOutError& e) {
    return Utf16ToUtf8(e.Message());
  }
  return "no error";
}

}  // namespace

TEST_F(TextFileTest, ReplacesAndExtends) {
  fs::path p = dir / "log.txt";
  ReplaceFile(p, "first, longer content\r\n");
  ReplaceFile(p, "AB\r\n");
  EXPECT_EQ(Read(p), "AB\r\n");
  {
    TFileWriter w(p, 2);  // over the old terminator
    w.Write("CD\r\n");
    w.Truncate();
    w.Close();
  }
  EXPECT_EQ(Read(p), "ABCD\r\n");
}

TEST_F(TextFileTest, CreateFailuresNameTheFileAndTheReason) {
  fs::create_directory(dir / "folder.txt");
  std::ofstream(dir / "plain") << "x";
  struct Case {
    fs::path path;
    std::string reason;
  } cases[] = {
      {dir / "folder.txt", "Accès refusé."},
      {dir / "plain" / "data.txt", "Le chemin d’accès spécifié est introuvable."},
      {dir / "missing" / "data.txt", "Le fichier spécifié est introuvable."},
  };
  for (const auto& c : cases)
    EXPECT_EQ(MessageOf([&] { ReplaceFile(c.path, "x"); }),
              "Impossible de créer le fichier \"" + c.path.string() + "\". " + c.reason);
}

TEST_F(TextFileTest, FullDiskIsAWriteFailure) {
  EXPECT_EQ(MessageOf([] { ReplaceFile("/dev/full", "data"); }),
            "Impossible d'écrire dans \"/dev/full\". Espace insuffisant sur le disque.");
}
