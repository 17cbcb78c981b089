// Fuzz target of the settings file: the input is a file's content and one write or delete.
// A write reads back, changes only its own line (or adds one, or a section and one), leaves every
// other key's value alone; a delete removes exactly the key's lines; reads agree with the model.
//
// Input: flags, section, key and value lengths (or indexes), the three names, then the file.
//   flags bit 0: delete instead of write     bit 1: the section is the n-th one of the file
//         bit 2: the key is the n-th of the file   bit 3: names and value are 16-bit units
//         bit 4: names taken from the file change case   bit 5: there is no file at all
//         bit 6: the value is repeated 16 times (past the read limit)
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "fuzz/reference.h"
#include "runtime/codepage.h"
#include "runtime/exceptions.h"
#include "runtime/profile.h"

namespace {

using fuzzref::IniLine;
namespace fs = std::filesystem;

// A folder of this process for the file, removed at exit; on a RAM disk where there is one, so
// that the writes' fsync costs nothing.
class Scratch {
 public:
  Scratch() {
    fs::path base = fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
    std::string pattern = (base / "corvane-fuzz-profile.XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) fuzzref::Fail("mkdtemp", __FILE__, __LINE__);
    dir_ = pattern;
  }
  ~Scratch() {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;
  std::string File() const { return dir_ + "/corvane.ini"; }

 private:
  std::string dir_;
};

void Put(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  FUZZ_CHECK(out.good());
}

std::optional<std::string> Get(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(in), {});
}

bool SameName(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (fuzzref::FoldCase(a[i]) != fuzzref::FoldCase(b[i])) return false;
  return true;
}

std::u16string SwapCase(std::u16string s) {
  for (char16_t& c : s) {
    if ((c >= u'a' && c <= u'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7)) c = static_cast<char16_t>(c - 0x20);
    else if ((c >= u'A' && c <= u'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7)) c = static_cast<char16_t>(c + 0x20);
  }
  return s;
}

// Whether a name can be written so that reading finds it again: every character in the code
// page, no line break, no blank at either end, and no character that would end the name early
// or turn the line into a section line.
bool WritableName(std::u16string_view name, bool isSection) {
  std::optional<std::string> bytes = fuzzref::EncodeExact(name);
  if (!bytes || bytes->find_first_of("\r\n") != std::string::npos) return false;
  if (fuzzref::Trim(*bytes) != *bytes) return false;
  if (isSection) return bytes->find(']') == std::string::npos;
  return bytes->find('=') == std::string::npos && (bytes->empty() || bytes->front() != '[');
}

// A (section, key) of the file, by the names its lines give.
struct Pair {
  std::u16string section, key;
};

std::vector<Pair> KeysOf(const std::vector<IniLine>& lines) {
  std::vector<Pair> pairs;
  std::optional<std::string> section;
  for (const IniLine& line : lines) {
    if (auto s = fuzzref::SectionOf(line.text)) section = s;
    else if (auto k = fuzzref::KeyOf(line.text); k && section)
      pairs.push_back({fuzzref::Decode(*section), fuzzref::Decode(*k)});
  }
  return pairs;
}

// No value the file can hold reads as this: a lone surrogate.
const std::u16string kMissing(1, u'\xD800');

std::u16string Name(fuzzref::Input& in, uint8_t n, bool units) {
  return units ? fuzzref::Units(in.Bytes(size_t{n % 16u} * 2)) : fuzzref::Decode(in.Bytes(n % 16u));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const Scratch scratch;
  const std::string path = scratch.File();
  fuzzref::Input in(data, size);
  const uint8_t flags = in.Byte(), secN = in.Byte(), keyN = in.Byte(), valueN = in.Byte();
  const bool units = flags & 8;
  std::u16string section = Name(in, secN, units);
  std::u16string key = Name(in, keyN, units);
  std::u16string value = units ? fuzzref::Units(in.Bytes(size_t{valueN} * 2)) : fuzzref::Decode(in.Bytes(valueN));
  if (flags & 64) {
    std::u16string once = value;
    for (int i = 1; i < 16; ++i) value += once;
  }
  const bool noFile = flags & 32;
  const std::string old(noFile ? std::string_view() : in.Rest());
  const std::vector<IniLine> oldLines = fuzzref::SplitIniLines(old);
  const std::vector<Pair> pairs = KeysOf(oldLines);

  if ((flags & 2) || (flags & 4)) {
    std::vector<std::u16string> sections;
    for (const IniLine& line : oldLines)
      if (auto s = fuzzref::SectionOf(line.text)) sections.push_back(fuzzref::Decode(*s));
    if ((flags & 2) && !sections.empty()) section = sections[secN % sections.size()];
    if ((flags & 4) && !pairs.empty()) key = pairs[keyN % pairs.size()].key;
    if (flags & 16) {
      section = SwapCase(section);
      key = SwapCase(key);
    }
  }

  std::error_code ignored;
  fs::remove(path, ignored);
  if (!noFile) Put(path, old);
  rtl::TProfileFile ini(path);

  // Reads of the untouched file agree with the model: the chosen key and every key it holds.
  FUZZ_CHECK(ini.ReadString(section, key, kMissing) ==
             fuzzref::ReadValue(oldLines, section, key).value_or(kMissing));
  const size_t checked = std::min<size_t>(pairs.size(), 24);
  for (size_t i = 0; i < checked; ++i)
    FUZZ_CHECK(ini.ReadString(pairs[i].section, pairs[i].key, kMissing) ==
               fuzzref::ReadValue(oldLines, pairs[i].section, pairs[i].key).value_or(kMissing));

  const fuzzref::IniPlace place = fuzzref::Locate(oldLines, section, key);
  if (flags & 1) {
    ini.DeleteKey(section, key);
    std::optional<std::string> now = Get(path);
    if (noFile) {
      FUZZ_CHECK(!now);
      return 0;
    }
    FUZZ_CHECK(now);
    std::vector<IniLine> expected;
    for (size_t i = 0; i < oldLines.size(); ++i) {
      bool gone = place.key && i >= *place.key && i < place.sectionEnd &&
                  fuzzref::KeyOf(oldLines[i].text) && fuzzref::NameIs(*fuzzref::KeyOf(oldLines[i].text), key);
      if (!gone) expected.push_back(oldLines[i]);
    }
    // Compared as bytes: a lone CR end before a removed line and an LF-only line after it read
    // as one CR LF afterwards, which no byte-preserving removal can avoid.
    std::string kept;
    for (const IniLine& line : expected) kept += line.text + line.end;
    FUZZ_CHECK(*now == kept);
    FUZZ_CHECK(ini.ReadString(section, key, kMissing) == kMissing);
    for (size_t i = 0; i < checked; ++i) {
      if (SameName(pairs[i].section, section) && SameName(pairs[i].key, key)) continue;
      FUZZ_CHECK(ini.ReadString(pairs[i].section, pairs[i].key, kMissing) ==
                 fuzzref::ReadValue(oldLines, pairs[i].section, pairs[i].key).value_or(kMissing));
    }
    return 0;
  }

  const std::string valueBytes = rtl::AnsiFromUnicode(value);
  const bool refused = valueBytes.find_first_of("\r\n") != std::string::npos ||
                       !WritableName(section, true) || !WritableName(key, false);
  try {
    ini.WriteString(section, key, value);
    FUZZ_CHECK(!refused);
  } catch (const rtl::EIniFileException&) {
    fuzzref::Fail("a write of a plain file failed", __FILE__, __LINE__);
  } catch (const rtl::Exception&) {
    FUZZ_CHECK(refused);
    FUZZ_CHECK(Get(path) == (noFile ? std::nullopt : std::optional<std::string>(old)));
    return 0;
  }

  std::optional<std::string> now = Get(path);
  FUZZ_CHECK(now);
  const std::vector<IniLine> newLines = fuzzref::SplitIniLines(*now);
  const std::u16string expected = fuzzref::Decode(valueBytes).substr(0, rtl::kProfileValueLimit);
  FUZZ_CHECK(ini.ReadString(section, key, kMissing) == expected);
  FUZZ_CHECK(fuzzref::ReadValue(newLines, section, key) == expected);

  if (place.key) {
    // Only the text after the key's "=" changed.
    FUZZ_CHECK(newLines.size() == oldLines.size());
    for (size_t i = 0; i < oldLines.size(); ++i) {
      if (i != *place.key) {
        FUZZ_CHECK(newLines[i] == oldLines[i]);
        continue;
      }
      const std::string& before = oldLines[i].text;
      FUZZ_CHECK(newLines[i].end == oldLines[i].end);
      FUZZ_CHECK(newLines[i].text.compare(0, before.find('=') + 1, before, 0, before.find('=') + 1) == 0);
    }
  } else {
    // One line more (two with the section); the old ones all there, in order, as they were,
    // but that a last line without an end gets CR LF.
    FUZZ_CHECK(newLines.size() == oldLines.size() + (place.section ? 1 : 2));
    size_t j = 0;
    for (size_t i = 0; i < oldLines.size(); ++i) {
      IniLine wanted = oldLines[i];
      bool lastWithoutEnd = i + 1 == oldLines.size() && wanted.end.empty();
      while (j < newLines.size() && !(newLines[j] == wanted) &&
             !(lastWithoutEnd && newLines[j].text == wanted.text && newLines[j].end == "\r\n"))
        ++j;
      FUZZ_CHECK(j < newLines.size());
      ++j;
    }
  }
  // No other key's value moved.
  for (size_t i = 0; i < checked; ++i) {
    if (SameName(pairs[i].section, section) && SameName(pairs[i].key, key)) continue;
    FUZZ_CHECK(ini.ReadString(pairs[i].section, pairs[i].key, kMissing) ==
               fuzzref::ReadValue(oldLines, pairs[i].section, pairs[i].key).value_or(kMissing));
  }
  return 0;
}
