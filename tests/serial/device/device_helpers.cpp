#include "serial/device/device_helpers.h"

#include <dirent.h>
#include <time.h>

#include <fstream>
#include <vector>

#include "runtime/lasterror.h"

namespace devtest {

Port::Port(const std::string& path)
    : h_(comm::CreateFile(path, comm::GENERIC_READ | comm::GENERIC_WRITE, 0, nullptr, comm::OPEN_EXISTING,
                          comm::FILE_FLAG_OVERLAPPED, 0)) {
  if (h_ == comm::INVALID_HANDLE_VALUE) openError_ = rtl::GetLastError();
}

bool Port::Close() {
  if (h_ == comm::INVALID_HANDLE_VALUE) return true;
  bool ok = comm::CloseHandle(h_);
  h_ = comm::INVALID_HANDLE_VALUE;
  return ok;
}

Outcome Finish(comm::HANDLE h, Record& r) {
  uint32_t n = 0;
  bool ok = comm::GetOverlappedResult(h, &r.ov, &n, true);
  return {ok, n, ok ? 0 : rtl::GetLastError()};
}

comm::DCB LineDcb(uint32_t baud) {
  comm::DCB d{};
  d.BaudRate = baud;
  d.fBinary = 1;
  d.ByteSize = 8;
  d.Parity = comm::NOPARITY;
  d.StopBits = comm::ONESTOPBIT;
  d.XonChar = 17;
  d.XoffChar = 19;
  return d;
}

comm::COMMTIMEOUTS Timeouts(uint32_t interval, uint32_t multiplier, uint32_t constant, uint32_t writeMultiplier,
                            uint32_t writeConstant) {
  return {interval, multiplier, constant, writeMultiplier, writeConstant};
}

namespace {

int CountEntries(const char* dir) {
  DIR* d = ::opendir(dir);
  if (!d) return -1;
  int n = 0;
  while (dirent* e = ::readdir(d))
    if (e->d_name[0] != '.') ++n;
  ::closedir(d);
  return n - 1;  // the listing's own descriptor
}

}  // namespace

namespace {

// Thread ids of this process whose name is name.
std::vector<int> ThreadsNamed(const std::string& name) {
  std::vector<int> ids;
  DIR* d = ::opendir("/proc/self/task");
  if (!d) return ids;
  while (dirent* e = ::readdir(d)) {
    if (e->d_name[0] == '.') continue;
    std::ifstream comm(std::string("/proc/self/task/") + e->d_name + "/comm");
    std::string n;
    std::getline(comm, n);
    if (n == name) ids.push_back(std::stoi(e->d_name));
  }
  ::closedir(d);
  return ids;
}

}  // namespace

std::optional<int> FindThread(const std::string& name) {
  std::vector<int> ids = ThreadsNamed(name);
  if (ids.size() != 1) return std::nullopt;
  return ids.front();
}

int CountThreads(const std::string& name) { return static_cast<int>(ThreadsNamed(name).size()); }

std::optional<uint64_t> ThreadCpuNs(int tid) {
  // The kernel's per-thread CPU clock of a thread of this process (CPUCLOCK_SCHED).
  const clockid_t id = static_cast<clockid_t>((~static_cast<unsigned>(tid) << 3) | 6u);
  timespec ts{};
  if (::clock_gettime(id, &ts) != 0) return std::nullopt;
  return static_cast<uint64_t>(ts.tv_sec) * 1000000000u + static_cast<uint64_t>(ts.tv_nsec);
}

std::optional<uint64_t> ThreadWakeups(int tid) {
  std::ifstream status("/proc/self/task/" + std::to_string(tid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("voluntary_ctxt_switches:", 0) == 0) return std::stoull(line.substr(line.find(':') + 1));
  }
  return std::nullopt;
}

int OpenFdCount() { return CountEntries("/proc/self/fd"); }

}  // namespace devtest
