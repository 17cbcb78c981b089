// French texts of the platform's error numbers, and the mapping of POSIX errno to those numbers.
#pragma once

#include <cstdint>
#include <string>

namespace rtl {

// The platform's own text for an error number ("Accès refusé."), empty for an unknown number.
std::u16string SysErrorMessage(uint32_t error);

// "Erreur système.  Code : <n>.\r\n<text of n>", or, for 0,
// "Un appel à une fonction du système d'exploitation a échoué".
std::u16string SystemErrorText(uint32_t error);

// The platform's number for a POSIX errno value (ENOENT gives 2, EACCES 5, EIO 1167, ...).
uint32_t WinErrorFromErrno(int err) noexcept;

// Sets the calling thread's last-error number from errno value err; returns the number.
uint32_t SetLastErrorFromErrno(int err) noexcept;

}  // namespace rtl
