#include "runtime/exceptions.h"

#include "runtime/text.h"

namespace rtl {

Exception::Exception(std::u16string message)
    : message_(std::move(message)), utf8_(Utf16ToUtf8(message_)) {}

void Exception::SetMessage(std::u16string message) {
  message_ = std::move(message);
  utf8_ = Utf16ToUtf8(message_);
}

void RaiseAssignError(const char* sourceClass, const char* targetClass) {
  throw EConvertError(Format(u"Impossible d'affecter un %s à un %s",
                             {Utf8ToUtf16(sourceClass ? sourceClass : "nil"), Utf8ToUtf16(targetClass)}));
}

}  // namespace rtl
