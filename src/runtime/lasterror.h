// The calling thread's last-error number, with the platform's error numbers.
#pragma once

#include <cstdint>

namespace rtl {

inline constexpr uint32_t ERROR_SUCCESS = 0;
inline constexpr uint32_t ERROR_FILE_NOT_FOUND = 2;
inline constexpr uint32_t ERROR_PATH_NOT_FOUND = 3;
inline constexpr uint32_t ERROR_TOO_MANY_OPEN_FILES = 4;
inline constexpr uint32_t ERROR_ACCESS_DENIED = 5;
inline constexpr uint32_t ERROR_INVALID_HANDLE = 6;
inline constexpr uint32_t ERROR_NOT_ENOUGH_MEMORY = 8;
inline constexpr uint32_t ERROR_WRITE_PROTECT = 19;
inline constexpr uint32_t ERROR_NOT_READY = 21;
inline constexpr uint32_t ERROR_GEN_FAILURE = 31;
inline constexpr uint32_t ERROR_SHARING_VIOLATION = 32;
inline constexpr uint32_t ERROR_HANDLE_EOF = 38;
inline constexpr uint32_t ERROR_NOT_SUPPORTED = 50;
inline constexpr uint32_t ERROR_FILE_EXISTS = 80;
inline constexpr uint32_t ERROR_INVALID_PARAMETER = 87;
inline constexpr uint32_t ERROR_DISK_FULL = 112;
inline constexpr uint32_t ERROR_DIR_NOT_EMPTY = 145;
inline constexpr uint32_t ERROR_ALREADY_EXISTS = 183;
inline constexpr uint32_t ERROR_FILENAME_EXCED_RANGE = 206;
inline constexpr uint32_t ERROR_DIRECTORY = 267;
inline constexpr uint32_t ERROR_OPERATION_ABORTED = 995;
inline constexpr uint32_t ERROR_IO_INCOMPLETE = 996;
inline constexpr uint32_t ERROR_IO_PENDING = 997;
inline constexpr uint32_t ERROR_NOACCESS = 998;
inline constexpr uint32_t ERROR_DEVICE_NOT_CONNECTED = 1167;

uint32_t GetLastError() noexcept;
void SetLastError(uint32_t error) noexcept;

}  // namespace rtl
