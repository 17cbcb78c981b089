#include "serial/portlist.h"

#include <algorithm>

#include "runtime/text.h"
#include "serial/device/portlist.h"

namespace serial {

void ListSerialPorts(TStrings& list) {
  std::vector<std::u16string> names;
  for (const std::string& name : comm::SystemPortNames()) names.push_back(rtl::Utf8ToUtf16(name));
  std::stable_sort(names.begin(), names.end(), [](const std::u16string& a, const std::u16string& b) {
    return rtl::CompareTextIgnoreCase(a, b) < 0;
  });
  list.Clear();
  for (const auto& name : names) list.Add(name);
}

}  // namespace serial
