#include "posix/usb_port.h"

#include <algorithm>
#include <system_error>

namespace obrint::posix {
namespace {

// A USB device's folder: bus, a dash, then port numbers joined by dots ("1-2.3"). Root hubs
// ("usb1") and interfaces ("1-2.3:1.0") are not.
bool IsUsbDeviceName(const std::string& name) {
  const std::size_t dash = name.find('-');
  if (dash == 0 || dash == std::string::npos || dash + 1 == name.size()) return false;
  bool digitBefore = false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    const char c = name[i];
    if (c >= '0' && c <= '9') {
      digitBefore = true;
    } else if ((c == '.' && i > dash) || i == dash) {
      if (!digitBefore) return false;
      digitBefore = false;
    } else {
      return false;
    }
  }
  return digitBefore;
}

}  // namespace

std::string UsbPortOfHidraw(const std::filesystem::path& sysfsRoot, const std::string& hidrawNode) {
  const std::string node = std::filesystem::path(hidrawNode).filename().string();
  if (node.empty()) return "";
  std::error_code ec;
  const std::filesystem::path device =
      std::filesystem::canonical(sysfsRoot / "class" / "hidraw" / node / "device", ec);
  if (ec) return "";
  // Up from the HID device: its USB interface ("1-2.3:1.0"), then the USB device ("1-2.3").
  std::string child;
  for (std::filesystem::path at = device; at.has_relative_path(); at = at.parent_path()) {
    const std::string name = at.filename().string();
    if (IsUsbDeviceName(name)) return child.starts_with(name + ":") ? name : "";
    child = name;
  }
  return "";
}

}  // namespace obrint::posix
