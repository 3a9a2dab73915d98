// Windows: the window's HID link over hid.dll, its clock, and the registry's list of HID
// interfaces for listing every attached interface of the vendor.
#include "cli/backend.h"
#include "win/hid_link.h"
#include "win/clock.h"

namespace obrint::cli {
namespace {

class WinBackend : public Backend {
 public:
  HidLink& link() override { return link_; }
  Clock& clock() override { return clock_; }
  std::string_view name() const override { return "hid.dll"; }

  std::vector<AttachedInterface> Enumerate(std::uint16_t vid) override {
    std::vector<AttachedInterface> found;
    for (const win::HidInterface& attached : win::AttachedHidInterfaces(vid)) {
      found.push_back(
          {attached.path, attached.vid, attached.pid, attached.interfaceNumber, attached.port});
    }
    return found;
  }

 private:
  win::WinHidLink link_;
  win::Win32Clock clock_;
};

}  // namespace

std::unique_ptr<Backend> MakeHardwareBackend(std::string&) {
  return std::make_unique<WinBackend>();
}

}  // namespace obrint::cli
