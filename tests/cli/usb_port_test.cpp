// The USB port of a hidraw node, read from a made-up sysfs tree laid out as the kernel lays it.
#include <gtest/gtest.h>

#include "posix/hidraw_bus.h"
#include "posix/usb_port.h"
#include "cli_harness.h"

namespace obrint::posix {
using obrint::cli::testing::ScratchDir;
namespace {

TEST(UsbPortTest, TheUsbDeviceFolderAboveTheInterface) {
  struct Case {
    const char* hidDevice;  // under devices/, where class/hidraw/hidraw0/device leads
    const char* port;
  };
  const Case cases[] = {
      {"pci0000:00/0000:00:14.0/usb1/1-2/1-2.3/1-2.3:1.0/0003:2833:0021.0005", "1-2.3"},
      {"pci0000:00/0000:00:14.0/usb3/3-1/3-1:1.0/0003:2833:0001.0009", "3-1"},
      {"pci0000:00/0000:00:14.0/usb2/2-4/2-4.1/2-4.1.7/2-4.1.7:1.2/0003:2833:0021.000A", "2-4.1.7"},
      // Not on USB: an I2C touch pad, and a HID device hanging straight off the root hub.
      {"platform/i2c_designware.0/i2c-1/i2c-ELAN0001:00/0018:04F3:3140.0001", ""},
      {"pci0000:00/0000:00:14.0/usb1/0003:2833:0021.0002", ""},
  };
  for (const Case& c : cases) {
    ScratchDir sysfs;
    const std::filesystem::path root = sysfs.File("sys");
    const std::filesystem::path device = root / "devices" / c.hidDevice;
    std::filesystem::create_directories(device / "hidraw" / "hidraw0");
    std::filesystem::create_directories(root / "class" / "hidraw");
    // As the kernel links them: the class entry to the node's folder, whose device link is
    // relative.
    std::filesystem::create_directory_symlink(device / "hidraw" / "hidraw0",
                                              root / "class" / "hidraw" / "hidraw0");
    std::filesystem::create_directory_symlink("../..", device / "hidraw" / "hidraw0" / "device");
    EXPECT_EQ(UsbPortOfHidraw(root, "/dev/hidraw0"), c.port) << c.hidDevice;
    EXPECT_EQ(UsbPortOfHidraw(root, "/dev/hidraw1"), "");
  }
}

// What --device names is handed to the HID library only when it is a hidraw node.
TEST(HidrawNodeTest, AFileOrAnotherDeviceIsNone) {
  for (const char* path : {"", "/etc/passwd", "/dev/null", "/dev", "/dev/hidraw999"}) {
    EXPECT_FALSE(IsHidrawNode(path)) << path;
  }
}

}  // namespace
}  // namespace obrint::posix
