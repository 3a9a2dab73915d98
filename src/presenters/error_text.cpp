#include "presenters/error_text.h"

#include "device/text.h"

namespace obrint::presenters {

namespace {

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
  const std::uint16_t dispatch = DispatchCode(code);
  if (dispatch != 0) return "IDispatch error #" + std::to_string(dispatch);
  return "Unknown error 0x" + FormatHex(code, 1);
}

}  // namespace obrint::presenters
