#include "core/error_text.h"

#include <array>
#include <cstdio>

namespace obrint {

namespace {

// The fallback texts are printed into a buffer of this size, terminator included.
constexpr std::size_t kFallbackBufferSize = 32;
constexpr std::int32_t kFirstDispatchCode = static_cast<std::int32_t>(0x80040200u);
constexpr std::int32_t kLastDispatchCode = static_cast<std::int32_t>(0x8004FFFFu);

}  // namespace

std::string TrimTrailingLineBreak(std::string_view text) {
  if (text.size() > 1 && text.back() == '\n') {
    text.remove_suffix(1);
    if (text.back() == '\r') text.remove_suffix(1);
  }
  return std::string(text);
}

std::uint16_t DispatchCode(std::uint32_t code) {
  // The range is that of HRESULTs, which are signed.
  const auto value = static_cast<std::int32_t>(code);
  if (value < kFirstDispatchCode || value > kLastDispatchCode) return 0;
  return static_cast<std::uint16_t>(code - 0x80040200u);
}

std::string FallbackErrorText(std::uint32_t code) {
  std::array<char, kFallbackBufferSize> text{};
  const std::uint16_t dispatch = DispatchCode(code);
  if (dispatch != 0) {
    std::snprintf(text.data(), text.size(), "IDispatch error #%d", static_cast<int>(dispatch));
  } else {
    std::snprintf(text.data(), text.size(), "Unknown error 0x%0lX",
                  static_cast<unsigned long>(code));
  }
  return std::string(text.data());
}

}  // namespace obrint
