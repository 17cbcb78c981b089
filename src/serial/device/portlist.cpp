// The port list: sysfs tty devices, links to pseudo-terminals, and the loopback port.
#include "serial/device/portlist.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <system_error>

#include "serial/device/comm.h"

namespace comm {

namespace {

namespace fs = std::filesystem;

// True when the sysfs entry is a legacy 8250 port slot with no UART behind it.
bool IsPhantomUart(const fs::path& entry) {
  std::ifstream in(entry / "type");
  int type = -1;
  return in >> type && type == 0;
}

// tty devices with a "device" link; sysfs writes a "/" of the device name as "!".
void AddSysfsTtys(const std::string& root, std::vector<std::string>& names) {
  std::error_code ec;
  for (fs::directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
    const fs::path& entry = it->path();
    std::error_code linkEc;
    if (!fs::is_symlink(entry / "device", linkEc)) continue;
    if (IsPhantomUart(entry)) continue;
    std::string name = entry.filename().string();
    std::replace(name.begin(), name.end(), '!', '/');
    names.push_back(std::move(name));
  }
}

// Where the link leads, hop by hop, or nothing when a hop goes through /proc: /dev/stdin and
// its kin lead to the terminal this program runs in, which is not a port.
std::optional<fs::path> LinkTarget(const fs::path& link) {
  std::error_code ec;
  fs::path at = fs::canonical(link.parent_path(), ec) / link.filename();
  if (ec) return std::nullopt;
  for (int hop = 0; hop < 8; ++hop) {
    if (!fs::is_symlink(at, ec)) return at;
    fs::path target = fs::read_symlink(at, ec);
    if (ec) return std::nullopt;
    at = (target.is_absolute() ? target : at.parent_path() / target).lexically_normal();
    if (*at.begin() == "/" && std::next(at.begin()) != at.end() && *std::next(at.begin()) == "proc")
      return std::nullopt;
  }
  return std::nullopt;  // a loop, or too long a chain
}

// A link to a live pseudo-terminal slave: a character device named by a number in a folder
// named "pts".
bool IsLivePseudoTerminal(const fs::path& link) {
  std::optional<fs::path> target = LinkTarget(link);
  if (!target) return false;
  std::string number = target->filename().string();
  if (target->parent_path().filename() != "pts" || number.empty() ||
      !std::all_of(number.begin(), number.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return false;
  struct stat st {};
  return ::stat(target->c_str(), &st) == 0 && S_ISCHR(st.st_mode);  // fails once it is gone
}

// Symbolic links directly in folder that point to a live pseudo-terminal, as prefix + name.
void AddPtyLinks(const std::string& folder, const std::string& prefix, std::vector<std::string>& names) {
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code typeEc;
    if (!it->is_symlink(typeEc) || !IsLivePseudoTerminal(it->path())) continue;
    names.push_back(prefix + it->path().filename().string());
  }
}

}  // namespace

std::vector<std::string> SystemPortNames() {
  const DeviceRoots roots = GetDeviceRoots();
  std::vector<std::string> names;
  if (!roots.sysClassTty.empty()) AddSysfsTtys(roots.sysClassTty, names);
  if (!roots.dev.empty()) AddPtyLinks(roots.dev, "", names);
  if (!roots.startDir.empty()) {
    std::error_code ec;
    fs::path start = fs::absolute(roots.startDir, ec);
    if (!ec) {
      std::string prefix = start.string();
      if (prefix.empty() || prefix.back() != '/') prefix += '/';
      AddPtyLinks(start.string(), prefix, names);
    }
  }
  names.push_back("LOOPBACK");
  std::sort(names.begin(), names.end());
  names.erase(std::unique(names.begin(), names.end()), names.end());
  return names;
}

}  // namespace comm
