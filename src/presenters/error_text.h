// Turning a platform error code into readable text: the parts that need no operating system.
//
// The Windows edge asks the system for its message and passes it through TrimTrailingLineBreak;
// when the system has no text for a code, FallbackErrorText gives the replacement.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace obrint::presenters {

// Removes the single line break that ends a system message: a final LF, and a CR right before it.
// A text of one character, or one that ends in a bare CR, comes back unchanged.
std::string TrimTrailingLineBreak(std::string_view text);

// The IDispatch error number of a code from 0x80040200 to 0x8004FFFF (its distance from
// 0x80040200); 0 for every other code, 0x80040200 itself included.
std::uint16_t DispatchCode(std::uint32_t code);

// "IDispatch error #N" for a code with a dispatch number, else "Unknown error 0xHEX" (upper case,
// no leading zeros). Never longer than 31 characters.
std::string FallbackErrorText(std::uint32_t code);

}  // namespace obrint::presenters
