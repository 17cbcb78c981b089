#include "runtime/lasterror.h"

namespace rtl {

namespace {
thread_local uint32_t tLastError = 0;
}

uint32_t GetLastError() noexcept { return tLastError; }
void SetLastError(uint32_t error) noexcept { tLastError = error; }

}  // namespace rtl
