#include "runtime/profile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <new>
#include <random>
#include <vector>

#include "runtime/codepage.h"
#include "runtime/exceptions.h"
#include "runtime/fd.h"
#include "runtime/text.h"

namespace rtl {

namespace {

constexpr std::string_view kCrLf = "\r\n";

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

bool IsQuotePair(std::string_view s) {
  return s.size() >= 2 && s.front() == s.back() && (s.front() == '"' || s.front() == '\'');
}

// One line of the file: its text is [begin, end), its line end [end, next).
struct Line {
  size_t begin, end, next;
};

// Lines end at CR LF, LF or a lone CR; a final line end does not start another line.
std::vector<Line> SplitLines(std::string_view data) {
  std::vector<Line> lines;
  const char* bytes = data.data();
  size_t begin = 0;
  while (begin < data.size()) {
    size_t end = begin;
    while (end < data.size() && bytes[end] != '\n' && bytes[end] != '\r') ++end;
    size_t next = end;
    if (next < data.size()) {
      if (data[next] == '\r' && next + 1 < data.size() && data[next + 1] == '\n') ++next;
      ++next;
    }
    lines.push_back({begin, end, next});
    begin = next;
  }
  return lines;
}

// The text of a line.
std::string_view Text(std::string_view data, const Line& line) {
  return data.substr(line.begin, line.end - line.begin);
}

// A section line is "[name]" after optional blanks; anything after the "]" is ignored.
bool SectionName(std::string_view text, std::string_view& name) {
  size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  if (i == text.size() || text[i] != '[') return false;
  size_t close = text.find(']', i + 1);
  if (close == std::string_view::npos) return false;
  name = TrimBlanks(text.substr(i + 1, close - i - 1));
  return true;
}

bool SameName(std::string_view stored, std::u16string_view wanted) {
  return stored.size() == wanted.size() && SameTextIgnoreCase(UnicodeFromAnsi(stored), wanted);
}

// Where a key stands in the file: its section's line and the end of that section (indexes into
// the lines), and the key's line; npos for what is missing. Only the first section of the name
// counts, and in it the first line of the key.
struct Place {
  static constexpr size_t npos = static_cast<size_t>(-1);
  size_t section = npos;
  size_t sectionEnd = npos;
  size_t key = npos;
};

// Whether the line is a key line of the given name; eq is set to the position of its "=".
bool IsKeyLine(std::string_view text, std::u16string_view key, size_t& eq) {
  eq = text.find('=');
  return eq != std::string_view::npos && SameName(TrimBlanks(text.substr(0, eq)), key);
}

Place Find(std::string_view data, const std::vector<Line>& lines, std::u16string_view section,
           std::u16string_view key) {
  Place place;
  std::string_view name;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (!SectionName(Text(data, lines[i]), name)) continue;
    if (place.section != Place::npos) {
      place.sectionEnd = i;
      break;
    }
    if (SameName(name, section)) place.section = i;
  }
  if (place.section == Place::npos) return place;
  if (place.sectionEnd == Place::npos) place.sectionEnd = lines.size();
  for (size_t i = place.section + 1; i < place.sectionEnd; ++i) {
    size_t eq;
    if (IsKeyLine(Text(data, lines[i]), key, eq)) {
      place.key = i;
      break;
    }
  }
  return place;
}

// Reads a whole regular file. False with err set when it can't; a FIFO or device is never
// opened for long (O_NONBLOCK) and never read.
bool ReadAll(const std::string& path, std::string& out, int& err) {
  out.clear();
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  struct stat st {};
  if (!fd.Valid() || ::fstat(fd.Get(), &st) != 0) {
    err = errno;
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    err = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    return false;
  }
  try {
    if (st.st_size > 0) out.reserve(static_cast<size_t>(st.st_size));
    char block[64 * 1024];
    for (;;) {
      ssize_t n = ::read(fd.Get(), block, sizeof block);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        err = errno;
        return false;
      }
      if (n == 0) return true;
      out.append(block, static_cast<size_t>(n));
    }
  } catch (const std::bad_alloc&) {  // a file far too large for a settings file
    out = std::string();
    err = ENOMEM;
    return false;
  }
}

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

[[noreturn]] void RaiseWriteError(const std::string& path) {
  throw EIniFileException(Format(u"Impossible d'écrire dans %s", {Utf8ToUtf16(path)}));
}

std::string DirName(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// The file a write goes to: the path with its symbolic links followed, whether it exists, its
// status and its bytes. False when the target can't be read or is not a regular file.
struct Target {
  std::string path;
  bool exists = false;
  struct stat st {};
  std::string data;
};

bool ResolveTarget(const std::string& path, Target& target) {
  if (path.empty()) return false;
  std::string p = path;
  for (int hops = 0;; ++hops) {
    struct stat st {};
    if (::lstat(p.c_str(), &st) != 0) {
      if (errno != ENOENT) return false;
      target.path = p;  // created by the write (its folder must exist)
      return true;
    }
    if (!S_ISLNK(st.st_mode)) break;
    if (hops == 40) return false;  // a loop of links
    std::string link(PATH_MAX, '\0');
    ssize_t n = ::readlink(p.c_str(), link.data(), link.size());
    if (n <= 0 || static_cast<size_t>(n) >= link.size()) return false;
    link.resize(static_cast<size_t>(n));
    p = link.front() == '/' ? link : DirName(p) + "/" + link;
  }
  target.path = p;
  int err = 0;
  if (!ReadAll(p, target.data, err)) return false;
  if (::stat(p.c_str(), &target.st) != 0) return false;
  target.exists = true;
  return true;
}

// Removes a temporary file unless it was renamed into place.
class TempFile {
 public:
  TempFile() = default;
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  ~TempFile() {
    if (!path_.empty()) ::unlink(path_.c_str());
  }
  // Creates a new file beside target; 0, or the errno of the folder's refusal.
  int Create(const std::string& target, UniqueFd& fd) {
    std::string dir = DirName(target);
    std::string base = target.substr(target.rfind('/') == std::string::npos ? 0 : target.rfind('/') + 1);
    // Names only need to differ between writers; a clash is retried.
    std::minstd_rand random(static_cast<unsigned>(::getpid()) ^
                            static_cast<unsigned>(
                                std::chrono::steady_clock::now().time_since_epoch().count()));
    for (int attempt = 0; attempt < 100; ++attempt) {
      char suffix[16];
      std::snprintf(suffix, sizeof suffix, "%08x", static_cast<unsigned>(random()));
      std::string name = dir + "/." + base + "." + suffix + ".tmp";
      // 0666 lets the umask decide the mode of a new file.
      fd.Reset(::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666));
      if (fd.Valid()) {
        path_ = name;
        return 0;
      }
      if (errno != EEXIST) return errno;
    }
    return EEXIST;
  }
  const std::string& Path() const { return path_; }
  void Release() { path_.clear(); }

 private:
  std::string path_;
};

bool SyncFolder(const std::string& dir) {
  UniqueFd fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd.Valid()) return true;  // the rename is done; a folder we may not open can't be synced
  return ::fsync(fd.Get()) == 0 || errno == EINVAL;
}

// Rewrites an existing file in place, for a folder that refuses new files.
bool WriteInPlace(const Target& target, std::string_view data) {
  UniqueFd fd(::open(target.path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (!fd.Valid()) return false;
  return WriteAll(fd.Get(), data) && ::ftruncate(fd.Get(), static_cast<off_t>(data.size())) == 0 &&
         ::fsync(fd.Get()) == 0 && fd.Reset() == 0;
}

// Replaces the target's bytes by data: a temporary file beside it, synced, renamed over it.
bool Replace(const Target& target, std::string_view data) {
  UniqueFd fd;
  TempFile temp;
  if (int err = temp.Create(target.path, fd); err != 0) {
    if (target.exists && (err == EACCES || err == EPERM)) return WriteInPlace(target, data);
    return false;
  }
  if (target.exists) {
    if (::fchmod(fd.Get(), target.st.st_mode & 07777) != 0) return false;
    // Only root can give the file back to its owner; elsewhere this fails and changes nothing.
    if (target.st.st_uid != ::geteuid() || target.st.st_gid != ::getegid()) {
      int ignored = ::fchown(fd.Get(), target.st.st_uid, target.st.st_gid);
      static_cast<void>(ignored);
    }
  }
  if (!WriteAll(fd.Get(), data) || ::fsync(fd.Get()) != 0 || fd.Reset() != 0) return false;
  if (::rename(temp.Path().c_str(), target.path.c_str()) != 0) return false;
  temp.Release();
  return SyncFolder(DirName(target.path));
}

void RefuseLineBreaks(std::string_view bytes) {
  if (bytes.find_first_of(kCrLf) != std::string_view::npos)
    throw Exception(u"Une entrée du fichier de paramètres ne peut pas contenir de saut de ligne");
}

// A name that reading would not find again: one the code page can't hold, blanks at an end
// (reading trims them), a "]" in a section or an "=" in a key (either ends the name early), a
// key that starts with "[" (its line could read as a section line). Writing one would add a new
// line at every write and could split its section.
void RefuseUnreadableName(std::u16string_view name, std::string_view bytes, bool section) {
  bool unreadable = UnicodeFromAnsi(bytes) != name || TrimBlanks(bytes).size() != bytes.size() ||
                    (section ? bytes.find(']') != std::string_view::npos
                             : bytes.find('=') != std::string_view::npos ||
                                   (!bytes.empty() && bytes.front() == '['));
  if (unreadable)
    throw Exception(Format(u"Nom invalide dans le fichier de paramètres : %s", {name}));
}

}  // namespace

TProfileFile::TProfileFile(std::string path) : path_(std::move(path)) {}

bool TProfileFile::Exists() const {
  struct stat st {};
  return ::stat(path_.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

std::u16string TProfileFile::ReadString(std::u16string_view section, std::u16string_view key,
                                        std::u16string_view def) const {
  std::string data;
  int err = 0;
  if (!ReadAll(path_, data, err)) return std::u16string(def);
  std::vector<Line> lines = SplitLines(data);
  Place place = Find(data, lines, section, key);
  if (place.key == Place::npos) return std::u16string(def);
  std::string_view text = Text(data, lines[place.key]);
  std::string_view value = TrimBlanks(text.substr(text.find('=') + 1));
  if (IsQuotePair(value)) value = value.substr(1, value.size() - 2);
  return UnicodeFromAnsi(value.substr(0, kProfileValueLimit));
}

void TProfileFile::WriteString(std::u16string_view section, std::u16string_view key,
                               std::u16string_view value) {
  std::string sectionBytes = AnsiFromUnicode(section);
  std::string keyBytes = AnsiFromUnicode(key);
  std::string valueBytes = AnsiFromUnicode(value);
  RefuseLineBreaks(sectionBytes);
  RefuseLineBreaks(keyBytes);
  RefuseLineBreaks(valueBytes);
  RefuseUnreadableName(section, sectionBytes, true);
  RefuseUnreadableName(key, keyBytes, false);
  // Decided on the bytes, which are what reading will see.
  if (!valueBytes.empty() &&
      (IsBlank(valueBytes.front()) || IsBlank(valueBytes.back()) || IsQuotePair(valueBytes)))
    valueBytes = '"' + valueBytes + '"';

  Target target;
  if (!ResolveTarget(path_, target)) RaiseWriteError(path_);
  const std::string& data = target.data;
  std::vector<Line> lines = SplitLines(data);
  Place place = Find(data, lines, section, key);
  std::string out;
  out.reserve(data.size() + keyBytes.size() + valueBytes.size() + sectionBytes.size() + 8);
  if (place.key != Place::npos) {
    const Line& line = lines[place.key];
    size_t eq = data.find('=', line.begin);
    out.append(data, 0, eq + 1);
    out += valueBytes;
    out.append(data, line.end);
  } else if (place.section != Place::npos) {
    size_t last = place.section;
    for (size_t i = place.section + 1; i < place.sectionEnd; ++i)
      if (!TrimBlanks(Text(data, lines[i])).empty()) last = i;
    const Line& line = lines[last];
    out.append(data, 0, line.next);
    if (line.next == line.end) out += kCrLf;  // the last line of the file had no line end
    out += keyBytes + '=' + valueBytes;
    out += kCrLf;
    out.append(data, line.next);
  } else {
    out = data;
    if (!out.empty() && out.back() != '\n' && out.back() != '\r') out += kCrLf;
    out += '[' + sectionBytes + ']';
    out += kCrLf;
    out += keyBytes + '=' + valueBytes;
    out += kCrLf;
  }
  if (!Replace(target, out)) RaiseWriteError(path_);
}

void TProfileFile::DeleteKey(std::u16string_view section, std::u16string_view key) {
  Target target;
  if (!ResolveTarget(path_, target)) RaiseWriteError(path_);
  if (!target.exists) return;
  const std::string& data = target.data;
  std::vector<Line> lines = SplitLines(data);
  Place place = Find(data, lines, section, key);
  if (place.key == Place::npos) return;
  // Every line of the key in its section goes, so that the key then reads as missing.
  std::string out;
  out.reserve(data.size());
  size_t kept = 0;
  for (size_t i = place.key; i < place.sectionEnd; ++i) {
    size_t eq;
    if (!IsKeyLine(Text(data, lines[i]), key, eq)) continue;
    out.append(data, kept, lines[i].begin - kept);
    kept = lines[i].next;
  }
  out.append(data, kept);
  if (!Replace(target, out)) RaiseWriteError(path_);
}

}  // namespace rtl
