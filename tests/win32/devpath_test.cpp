// The registry's list of HID interfaces as the headset search, the window's adoption of a
// headset and obrint-cli's list walk it. Listed interfaces are registry keys the test adds under a
// vendor ID of its own; an attached device is a file in the Wine prefix's device namespace under
// the interface's name.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <tuple>
#include <vector>

#include "device/discovery.h"
#include "devpath/device_path.h"
#include "kesticdlg.h"
#include "win/hid_bus.h"
#include "winbase/handles.h"

namespace obrint::devpath {
namespace {

constexpr std::uint16_t kTestVendor = 0x2834;
const std::string kClassKey =
    std::string("SYSTEM\\CurrentControlSet\\Control\\DeviceClasses\\{") + kHidClassGuidText + "}";

std::string Lower(std::string s) {
  for (char& c : s) c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  return s;
}
std::string Name(const std::string& device, const std::string& instance) {
  return "##?#" + device + "#" + instance + "#{" + Lower(kHidClassGuidText) + "}";
}
std::string PathOf(const std::string& name) { return "\\\\.\\" + name.substr(4); }

class InterfaceListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* prefix = std::getenv("WINEPREFIX");
    if (prefix == nullptr) GTEST_SKIP() << "needs a Wine prefix's device namespace";
    devices_ = std::string("Z:") + prefix + "/dosdevices/";
    std::replace(devices_.begin(), devices_.end(), '/', '\\');
  }
  void TearDown() override {
    winbase::UniqueKey classKey;
    ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kClassKey.c_str(), 0, KEY_WRITE, classKey.out());
    for (const std::string& name : listed_) {
      ::RegDeleteKeyA(classKey.get(), name.c_str());
      ::DeleteFileA((devices_ + Lower(name.substr(4))).c_str());
    }
  }
  // Created below the class key's handle: Wine limits whole key paths, not only names.
  void List(const std::string& name, bool attached) {
    winbase::UniqueKey classKey;
    winbase::UniqueKey key;
    ASSERT_EQ(::RegCreateKeyExA(HKEY_LOCAL_MACHINE, kClassKey.c_str(), 0, nullptr, 0, KEY_WRITE,
                                nullptr, classKey.out(), nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(::RegCreateKeyExA(classKey.get(), name.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                                key.out(), nullptr),
              ERROR_SUCCESS);
    listed_.push_back(name);
    if (attached) {
      winbase::UniqueHandle file(::CreateFileA((devices_ + Lower(name.substr(4))).c_str(),
                                               GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0,
                                               nullptr));
      ASSERT_TRUE(file.valid());
    }
  }
  std::string devices_;
  std::vector<std::string> listed_;
};

TEST_F(InterfaceListTest, TheSearchTakesTheFirstAttachedMatchAndTheListEveryAttachedOne) {
  const std::string absent = Name("HID#VID_2834&PID_0001", "7&10&0&0000");
  const std::string attached = Name("HID#VID_2834&PID_0001", "7&20&0&0000");
  const std::string lowerCase = Name("hid#vid_2834&pid_0021", "7&30&0&0000");
  const std::string secondInterface = Name("USB#VID_2834&PID_0031&MI_01", "8&40&0&0001");
  // 254 characters fit the name buffer, 255 do not; neither may disturb the rest.
  std::string longest = Name("HID#VID_2834&PID_0001", "7&50&0&0000");
  longest.insert(4, std::string(254 - longest.size(), '0'));
  std::string tooLong = longest;
  tooLong.insert(4, 1, '0');
  for (const auto& [name, isAttached] : {std::pair{absent, false},
                                         {attached, true},
                                         {lowerCase, true},
                                         {secondInterface, true},
                                         {Name("HID#VID_2835&PID_0001", "7&60&0&0000"), true},
                                         {longest, false},
                                         {tooLong, false}}) {
    List(name, isAttached);
  }
  std::vector<std::string> order;
  VisitInterfaceNames(kHidClassGuidText, [&](std::string_view name) {
    order.emplace_back(name);
    return false;
  });
  ASSERT_LT(std::find(order.begin(), order.end(), absent),
            std::find(order.begin(), order.end(), attached))
      << "the absent interface is met first";
  EXPECT_EQ(std::find(order.begin(), order.end(), tooLong), order.end());

  const char* found = FindHidDevicePath(kHidClassGuidText, kTestVendor, 0x0001);
  EXPECT_EQ(std::string(found ? found : "(none)"), PathOf(attached));
  found = FindHidDevicePath(kHidClassGuidText, kTestVendor, 0x0021);
  EXPECT_EQ(std::string(found ? found : "(none)"), PathOf(lowerCase));
  EXPECT_EQ(FindHidDevicePath(kHidClassGuidText, kTestVendor, 0x0031), nullptr)
      << "only interface 0 of a composite device is the headset";

  std::vector<std::string> listedAttached;
  win::Win32HidBus bus;
  for (const obrint::HidInterface& hid : bus.Enumerate(kTestVendor)) {
    listedAttached.push_back(hid.path + " " + std::to_string(hid.pid) + " " +
                             std::to_string(hid.interfaceNumber));
  }
  std::sort(listedAttached.begin(), listedAttached.end());
  EXPECT_EQ(listedAttached,
            (std::vector<std::string>{PathOf(attached) + " 1 -1", PathOf(secondInterface) + " 49 1",
                                      PathOf(lowerCase) + " 33 -1"}));
}

// The path that later searches start from and the IDs they search under change together: to the
// path found under the adopted IDs, or not at all when no interface of theirs opens.
TEST_F(InterfaceListTest, AHeadsetIsAdoptedWithThePathFoundUnderItsOwnIds) {
  const std::string first = Name("HID#VID_2834&PID_0041", "7&70&0&0000");
  const std::string second = Name("HID#VID_2834&PID_0043", "7&90&0&0000");
  List(first, true);
  List(Name("HID#VID_2834&PID_0042", "7&80&0&0000"), false);
  List(second, true);
  HeadsetLocation& location = TheHeadsetLocation();
  const HeadsetLocation before = location;
  CKesticDlg window;
  using Id = std::uint16_t;
  for (const auto& [pid, path, adoptedPid] :
       {std::tuple{Id{0x41}, first, Id{0x41}}, {0x42, first, 0x41}, {0x43, second, 0x43}}) {
    window.AdoptHeadset(kTestVendor, pid);
    EXPECT_EQ(std::tie(location.devicePath, location.vid, location.pid),
              std::tuple(PathOf(path), kTestVendor, adoptedPid))
        << "after " << pid;
  }
  location = before;
}

TEST(DevicePath, StartsEmptyAndStoresOnlyResultsThatFitAPathBuffer) {
  HeadsetLocation& location = TheHeadsetLocation();
  EXPECT_TRUE(location.devicePath.empty());
  EXPECT_EQ(location.pid, kBootProductId);
  EXPECT_FALSE(StoreDevicePath(location, nullptr));
  const std::string longest(MAX_PATH - 1, 'p');
  EXPECT_TRUE(StoreDevicePath(location, longest.c_str()));
  EXPECT_FALSE(StoreDevicePath(location, std::string(MAX_PATH, 'q').c_str()));
  EXPECT_EQ(location.devicePath, longest);
}

}  // namespace
}  // namespace obrint::devpath
