// Linux's arrival watch and bus: a recorded udev event stream replayed through the watch's
// parsing, the USB port from a usb_device's sysname, the real monitor opened on this machine's
// udev, and the hidraw bus's list over the HID library's.
#include <gtest/gtest.h>
#include <hidapi/hidapi.h>

#include <fstream>
#include <thread>

#include "posix/hidraw_bus.h"
#include "posix/udev_watch.h"

namespace obrint::posix {
namespace {

// The udevadm monitor's property blocks, one event each.
std::vector<UdevEvent> Recorded(const std::string& path) {
  std::vector<UdevEvent> events;
  std::ifstream in(path);
  UdevEvent event;
  const auto flush = [&] {
    if (!event.action.empty()) events.push_back(event);
    event = {};
  };
  for (std::string line; std::getline(in, line);) {
    if (line.empty()) flush();
    const std::size_t equals = line.find('=');
    if (line.starts_with("#") || equals == std::string::npos) continue;
    const std::string key = line.substr(0, equals), value = line.substr(equals + 1);
    if (key == "ACTION") event.action = value;
    if (key == "SUBSYSTEM") event.subsystem = value;
    if (key == "DEVNAME") event.devnode = value;
  }
  flush();
  return events;
}

TEST(UdevWatchTest, AHeadsetsFlashAsUdevTellsIt) {
  std::vector<std::string> told;
  for (const UdevEvent& event : Recorded(OBRINT_SOURCE_DIR "/tests/cli/data/udev-hidraw.txt")) {
    if (const std::optional<BusChange> change = ChangeOf(event)) {
      told.push_back((change->kind == BusChange::Kind::kAttached ? "+" : "-") + change->path);
    }
  }
  // Plugged in, restarted into the boot firmware (a keyboard meanwhile), rebooted, pulled out;
  // neither the HID devices' own events nor bind and change are arrivals.
  EXPECT_EQ(told, (std::vector<std::string>{"+/dev/hidraw3", "-/dev/hidraw3", "+/dev/hidraw4",
                                            "+/dev/hidraw3", "-/dev/hidraw3", "+/dev/hidraw3",
                                            "-/dev/hidraw3"}));
}

TEST(UdevWatchTest, ThePortIsTheUsbDevicesName) {
  EXPECT_EQ(UsbPortOf("1-2.3"), "1-2.3");
  EXPECT_EQ(UsbPortOf("3-1"), "3-1");
  EXPECT_EQ(UsbPortOf("usb1"), "");  // a root hub
}

// The monitor as the station opens it; where this machine's netlink has no udev, none is had.
TEST(UdevWatchTest, TheMonitorWaitsAndTimesOut) {
  const std::unique_ptr<UdevWatch> watch = UdevWatch::Start();
  if (!watch) GTEST_SKIP() << "no udev monitor on this machine";
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(watch->Next(50));  // no hidraw device comes or goes here
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));
  const std::unique_ptr<Udev> udev = Udev::Start();
  ASSERT_TRUE(udev);
  EXPECT_EQ(udev->UsbPortOfNode("/dev/null"), "");  // no USB device behind it
}

// The HID library's list, as this test gives it: the hidraw bus's own code reads it in place of
// the machine's (these definitions come before the library's).
std::vector<std::string> gListed;
std::vector<hid_device_info> gList;

}  // namespace
}  // namespace obrint::posix

extern "C" hid_device_info* hid_enumerate(unsigned short vendor, unsigned short) {
  using obrint::posix::gList, obrint::posix::gListed;
  gList.assign(gListed.size(), hid_device_info{});
  for (std::size_t i = 0; i < gList.size(); ++i) {
    gList[i].path = gListed[i].data();
    gList[i].vendor_id = vendor;
    gList[i].next = i + 1 < gList.size() ? &gList[i + 1] : nullptr;
  }
  return gList.empty() ? nullptr : gList.data();
}

extern "C" void hid_free_enumeration(hid_device_info*) {}

namespace obrint::posix {
namespace {

// Only the interfaces that open are listed: one that another thread keeps is listed unopened.
TEST(HidrawBusTest, ListsOnlyTheInterfacesThatOpen) {
  const std::unique_ptr<HidrawBus> bus = HidrawBus::Start();
  if (!bus) GTEST_SKIP() << "no udev on this machine";
  gListed = {"/dev/null", "/dev/hidraw999", "/dev/hidraw998"};
  std::thread([&] { EXPECT_TRUE(bus->leases().Keep("/dev/hidraw998")); }).join();
  std::vector<std::string> paths;
  for (const HidInterface& listed : bus->Enumerate(kHeadsetVendorId)) paths.push_back(listed.path);
  EXPECT_EQ(paths, std::vector<std::string>{"/dev/hidraw998"});
}

// What --device names is handed to the HID library only when it is a hidraw node.
TEST(HidrawNodeTest, AFileOrAnotherDeviceIsNone) {
  for (const char* path : {"", "/etc/passwd", "/dev/null", "/dev", "/dev/hidraw999"}) {
    EXPECT_FALSE(IsHidrawNode(path)) << path;
  }
}

}  // namespace
}  // namespace obrint::posix
