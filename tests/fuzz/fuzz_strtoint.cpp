// Fuzz target of the whole-number conversion: it accepts exactly what the reference parser
// accepts, with the same value; a rejected text leaves the value alone and raises the message
// with the text as it was given.
//
// Input: a mode byte (bit 0: the rest is 16-bit units, else one character per byte), the text.
#include <cstdint>

#include "fuzz/reference.h"
#include "runtime/exceptions.h"
#include "runtime/strtoint.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzref::Input in(data, size);
  const uint8_t mode = in.Byte();
  std::string_view rest = in.Rest();
  const std::u16string text = (mode & 1) ? fuzzref::Units(rest) : fuzzref::Latin1(rest);

  const std::optional<int32_t> expected = fuzzref::ParseWholeNumber(text);
  int32_t value = 0x5EED;
  const bool accepted = rtl::TryStrToInt(text, value);
  FUZZ_CHECK(accepted == expected.has_value());
  FUZZ_CHECK(value == expected.value_or(0x5EED));
  try {
    int32_t v = rtl::StrToInt(text);
    FUZZ_CHECK(expected && v == *expected);
  } catch (const rtl::EConvertError& e) {
    FUZZ_CHECK(!expected);
    FUZZ_CHECK(e.Message() == u"''" + text + u"'' n'est pas une valeur entière valide");
  }
  return 0;
}
