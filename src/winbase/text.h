// UTF-8 <-> UTF-16 conversion at the Win32 edge: the program keeps its texts in UTF-8 and hands
// them to the wide-character API.
#pragma once

#include <string>
#include <string_view>

namespace obrint::winbase {

// Invalid sequences become U+FFFD.
std::wstring Widen(std::string_view utf8);
std::string Narrow(std::wstring_view utf16);

}  // namespace obrint::winbase
