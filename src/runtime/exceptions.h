// Exceptions of the runtime: a base class carrying a message, and the runtime's own kinds.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace rtl {

// Base of every exception the project raises; the message is UTF-16 text shown to the user.
class Exception : public std::exception {
 public:
  explicit Exception(std::u16string message);
  const std::u16string& Message() const noexcept { return message_; }
  void SetMessage(std::u16string message);
  // UTF-8 copy of the message, for logs and test output.
  const char* what() const noexcept override { return utf8_.c_str(); }

 private:
  std::u16string message_;
  std::string utf8_;
};

// A text that is not a value of the wanted kind, or an assignment between unrelated classes.
class EConvertError : public Exception {
 public:
  using Exception::Exception;
};

// A file operation that failed; ErrorCode is the platform's error number.
class EInOutError : public Exception {
 public:
  EInOutError(std::u16string message, int32_t errorCode)
      : Exception(std::move(message)), ErrorCode(errorCode) {}
  int32_t ErrorCode;
};

// A settings-file write that failed.
class EIniFileException : public Exception {
 public:
  using Exception::Exception;
};

// A thread the platform refused to create.
class EThread : public Exception {
 public:
  using Exception::Exception;
};

// Raised by TObject::AssignError: "Impossible d'affecter un <source> à un <target>".
[[noreturn]] void RaiseAssignError(const char* sourceClass, const char* targetClass);

}  // namespace rtl
