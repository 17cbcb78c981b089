// Dispatch of the device calls: the handle table, the backend registry and the device paths.
#include "serial/device/comm.h"

#include <map>
#include <mutex>

#include "serial/device/backends.h"
#include "serial/device/device.h"
#include "runtime/text.h"

namespace comm {

namespace {

// The process's open devices and backends, as the platform's handle table is.
struct Registry {
  std::mutex mutex;
  std::map<HANDLE, std::shared_ptr<Device>> devices;
  std::map<std::string, DeviceFactory> factories;
  DeviceRoots roots;
  HANDLE next = 0x100;

  static Registry& Get() {
    static Registry registry;
    return registry;
  }
};

std::shared_ptr<Device> Find(HANDLE h) {
  Registry& r = Registry::Get();
  std::lock_guard lock(r.mutex);
  auto it = r.devices.find(h);
  if (it == r.devices.end()) return nullptr;
  return it->second;
}

// The record's outcome, waiting on its event when asked; used for every backend.
bool RecordResult(OVERLAPPED* ov, uint32_t* transferred, bool wait) {
  if (!ov) {
    rtl::SetLastError(rtl::ERROR_INVALID_PARAMETER);
    return false;
  }
  uint32_t status = ov->Internal.load(std::memory_order_acquire);
  if (status == rtl::ERROR_IO_PENDING) {
    if (!wait) {
      rtl::SetLastError(rtl::ERROR_IO_INCOMPLETE);
      return false;
    }
    if (!ov->hEvent) {
      rtl::SetLastError(rtl::ERROR_INVALID_PARAMETER);
      return false;
    }
    while ((status = ov->Internal.load(std::memory_order_acquire)) == rtl::ERROR_IO_PENDING)
      rtl::WaitForSingleObject(ov->hEvent, rtl::INFINITE);
  }
  if (transferred) *transferred = ov->InternalHigh.load(std::memory_order_acquire);
  if (status != 0) {
    rtl::SetLastError(status);
    return false;
  }
  return true;
}

// Runs fn on the device of h, or fails with 6 when h names no open device.
template <class Fn>
bool WithDevice(HANDLE h, Fn&& fn) {
  auto device = Find(h);
  if (!device) {
    rtl::SetLastError(rtl::ERROR_INVALID_HANDLE);
    return false;
  }
  return fn(*device);
}

// A start on a handle that names no device: fails at once, leaving the record signalled.
bool FailRecord(OVERLAPPED* ov) {
  if (ov) {
    ov->InternalHigh.store(0, std::memory_order_relaxed);
    ov->Internal.store(rtl::ERROR_INVALID_HANDLE, std::memory_order_release);
    if (ov->hEvent) ov->hEvent->Set();
  }
  rtl::SetLastError(rtl::ERROR_INVALID_HANDLE);
  return false;
}

}  // namespace

uint32_t ComStatFlags(const COMSTAT& s) {
  return s.fCtsHold | (s.fDsrHold << 1) | (s.fRlsdHold << 2) | (s.fXoffHold << 3) | (s.fXoffSent << 4) |
         (s.fEof << 5) | (s.fTxim << 6);
}

OVERLAPPED::~OVERLAPPED() {
  if (auto device = pendingOn.lock()) device->Cancel(this);
}

void Device::BeginOperation(OVERLAPPED* ov) {
  ov->pendingOn = weak_from_this();
  if (ov->hEvent) ov->hEvent->Reset();
  ov->InternalHigh.store(0, std::memory_order_relaxed);
  ov->Internal.store(rtl::ERROR_IO_PENDING, std::memory_order_release);
}

void Device::CompleteOperation(OVERLAPPED* ov, uint32_t error, uint32_t count) {
  ov->InternalHigh.store(count, std::memory_order_relaxed);
  ov->Internal.store(error, std::memory_order_release);
  if (ov->hEvent) ov->hEvent->Set();
}

bool Device::FailStart(OVERLAPPED* ov, uint32_t error) {
  if (ov) {
    ov->InternalHigh.store(0, std::memory_order_relaxed);
    ov->Internal.store(error, std::memory_order_release);
    if (ov->hEvent) ov->hEvent->Set();
  }
  rtl::SetLastError(error);
  return false;
}

bool Device::GetOverlappedResult(OVERLAPPED* ov, uint32_t* transferred, bool wait) {
  return RecordResult(ov, transferred, wait);
}

std::string PortPath(std::u16string_view portName) {
  std::string name = rtl::Utf16ToUtf8(portName);
  if (name.empty() || name == "LOOPBACK" || name.front() == '/') return name;
  return GetDeviceRoots().dev + "/" + name;
}

void SetDeviceRoots(const DeviceRoots& roots) {
  Registry& r = Registry::Get();
  std::lock_guard lock(r.mutex);
  r.roots = roots;
}

DeviceRoots GetDeviceRoots() {
  Registry& r = Registry::Get();
  std::lock_guard lock(r.mutex);
  return r.roots;
}

void RegisterDeviceFactory(const std::string& prefix, DeviceFactory factory) {
  Registry& r = Registry::Get();
  std::lock_guard lock(r.mutex);
  if (factory) {
    r.factories[prefix] = std::move(factory);
  } else {
    r.factories.erase(prefix);
  }
}

HANDLE CreateFile(const std::string& path, uint32_t, uint32_t shareMode, void*, uint32_t creation,
                  uint32_t, HANDLE) {
  if (creation != OPEN_EXISTING) {
    rtl::SetLastError(rtl::ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  Registry& r = Registry::Get();
  DeviceFactory factory;
  {
    std::lock_guard lock(r.mutex);
    size_t best = 0;
    for (const auto& [prefix, f] : r.factories) {
      if (path.starts_with(prefix) && (!factory || prefix.size() > best)) {
        factory = f;
        best = prefix.size();
      }
    }
  }
  uint32_t error = rtl::ERROR_FILE_NOT_FOUND;
  std::shared_ptr<Device> device;
  if (factory) {
    device = factory(path, shareMode, error);
  } else if (path == "LOOPBACK") {
    device = OpenLoopbackDevice(path, shareMode, error);
  } else if (!path.empty() && path.front() == '/') {
    device = OpenTtyDevice(path, shareMode, error);
  }
  if (!device) {
    rtl::SetLastError(error);
    return INVALID_HANDLE_VALUE;
  }
  std::lock_guard lock(r.mutex);
  HANDLE h;
  do {
    h = r.next++;
    if (r.next == INVALID_HANDLE_VALUE) r.next = 0x100;
  } while (r.devices.count(h));
  r.devices.emplace(h, std::move(device));
  return h;
}

bool CloseHandle(HANDLE h) {
  std::shared_ptr<Device> device;
  {
    Registry& r = Registry::Get();
    std::lock_guard lock(r.mutex);
    auto it = r.devices.find(h);
    if (it == r.devices.end()) {
      rtl::SetLastError(rtl::ERROR_INVALID_HANDLE);
      return false;
    }
    device = std::move(it->second);
    r.devices.erase(it);
  }
  device->Close();
  return true;
}

bool SetupComm(HANDLE h, uint32_t in, uint32_t out) {
  return WithDevice(h, [&](Device& d) { return d.SetupComm(in, out); });
}
bool GetCommState(HANDLE h, DCB* dcb) {
  return WithDevice(h, [&](Device& d) { return d.GetCommState(dcb); });
}
bool SetCommState(HANDLE h, const DCB* dcb) {
  if (!dcb) {
    rtl::SetLastError(rtl::ERROR_INVALID_PARAMETER);
    return false;
  }
  return WithDevice(h, [&](Device& d) { return d.SetCommState(*dcb); });
}
bool GetCommTimeouts(HANDLE h, COMMTIMEOUTS* t) {
  return WithDevice(h, [&](Device& d) { return d.GetCommTimeouts(t); });
}
bool SetCommTimeouts(HANDLE h, const COMMTIMEOUTS* t) {
  if (!t) {
    rtl::SetLastError(rtl::ERROR_INVALID_PARAMETER);
    return false;
  }
  return WithDevice(h, [&](Device& d) { return d.SetCommTimeouts(*t); });
}
bool GetCommMask(HANDLE h, uint32_t* mask) {
  return WithDevice(h, [&](Device& d) { return d.GetCommMask(mask); });
}
bool SetCommMask(HANDLE h, uint32_t mask) {
  return WithDevice(h, [&](Device& d) { return d.SetCommMask(mask); });
}
bool WaitCommEvent(HANDLE h, uint32_t* mask, OVERLAPPED* ov) {
  auto device = Find(h);
  if (!device) return FailRecord(ov);
  return device->WaitCommEvent(mask, ov);
}
bool ReadFile(HANDLE h, void* buffer, uint32_t count, uint32_t* done, OVERLAPPED* ov) {
  if (done) *done = 0;
  auto device = Find(h);
  if (!device) return FailRecord(ov);
  return device->ReadFile(buffer, count, done, ov);
}
bool WriteFile(HANDLE h, const void* buffer, uint32_t count, uint32_t* done, OVERLAPPED* ov) {
  if (done) *done = 0;
  auto device = Find(h);
  if (!device) return FailRecord(ov);
  return device->WriteFile(buffer, count, done, ov);
}
bool GetOverlappedResult(HANDLE h, OVERLAPPED* ov, uint32_t* transferred, bool wait) {
  // The record tells the outcome; a closed handle does not keep its records from being read.
  if (auto device = Find(h)) return device->GetOverlappedResult(ov, transferred, wait);
  return RecordResult(ov, transferred, wait);
}
bool PurgeComm(HANDLE h, uint32_t flags) {
  return WithDevice(h, [&](Device& d) { return d.PurgeComm(flags); });
}
bool ClearCommError(HANDLE h, uint32_t* errors, COMSTAT* stat) {
  return WithDevice(h, [&](Device& d) { return d.ClearCommError(errors, stat); });
}
bool GetCommModemStatus(HANDLE h, uint32_t* status) {
  return WithDevice(h, [&](Device& d) { return d.GetCommModemStatus(status); });
}
bool EscapeCommFunction(HANDLE h, uint32_t function) {
  return WithDevice(h, [&](Device& d) { return d.EscapeCommFunction(function); });
}
bool TransmitCommChar(HANDLE h, char c) {
  return WithDevice(h, [&](Device& d) { return d.TransmitCommChar(c); });
}

}  // namespace comm
