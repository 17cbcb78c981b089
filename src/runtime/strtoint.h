// The whole-number conversion used for the fields the user types numbers into.
#pragma once

#include <cstdint>
#include <string_view>

namespace rtl {

// Reads text as a signed 32-bit integer: leading blanks, an optional sign, then decimal digits or
// hexadecimal digits after "$", "x", "X", "0x" or "0X"; nothing may follow. Returns false when
// the text is not such a number (value is then left unchanged).
bool TryStrToInt(std::u16string_view text, int32_t& value);

// As TryStrToInt; a rejected text raises EConvertError
// "''<text>'' n'est pas une valeur entière valide".
int32_t StrToInt(std::u16string_view text);

}  // namespace rtl
