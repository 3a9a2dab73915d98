// The registry search for the headset's interface path, over an interface class of the test's
// own: listed interfaces are registry keys the test creates, attached devices are entries in the
// Wine prefix's device namespace that the test creates beside them.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "devpath/device_path.h"
#include "hid/hid_binding.h"
#include "hiddouble/sim_install.h"

namespace obrint::win {
namespace {

constexpr char kTestClass[] = "9E7B1C52-3D0A-4F6B-8E21-5A4C3B2D1E0F";
constexpr char kClassesKey[] = "SYSTEM\\CurrentControlSet\\Control\\DeviceClasses";

std::string ClassKey() { return std::string(kClassesKey) + "\\{" + kTestClass + "}"; }

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  });
  return s;
}

std::string Name(const std::string& hardware, const std::string& instance) {
  return "##?#" + hardware + "#" + instance + "#{" + Lower(kTestClass) + "}";
}

std::string PathOf(const std::string& name) { return "\\\\.\\" + name.substr(4); }

class FindHidDevicePathTest : public ::testing::Test {
 protected:
  void SetUp() override {
    devices_ = hiddouble::ToWindowsPath(hiddouble::Widen(hiddouble::DosDevicesDirectory()));
    if (devices_.empty()) GTEST_SKIP() << "needs Wine's device namespace";
    ::RegDeleteTreeA(HKEY_LOCAL_MACHINE, ClassKey().c_str());
  }
  void TearDown() override {
    for (const std::wstring& file : attached_) ::DeleteFileW(file.c_str());
    ::RegDeleteTreeA(HKEY_LOCAL_MACHINE, ClassKey().c_str());
  }

  bool List(const std::string& name) {
    // Created below the class key's handle: Wine limits whole paths, not only names.
    HKEY classKey = nullptr;
    HKEY key = nullptr;
    bool ok = ::RegCreateKeyExA(HKEY_LOCAL_MACHINE, ClassKey().c_str(), 0, nullptr, 0, KEY_WRITE,
                                nullptr, &classKey, nullptr) == ERROR_SUCCESS;
    ok = ok && ::RegCreateKeyExA(classKey, name.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                                 nullptr) == ERROR_SUCCESS;
    if (key) ::RegCloseKey(key);
    if (classKey) ::RegCloseKey(classKey);
    return ok;
  }
  void CreateClassKey() {
    HKEY key = nullptr;
    ASSERT_EQ(::RegCreateKeyExA(HKEY_LOCAL_MACHINE, ClassKey().c_str(), 0, nullptr, 0, KEY_WRITE,
                                nullptr, &key, nullptr),
              ERROR_SUCCESS);
    ::RegCloseKey(key);
  }
  // The device behind an interface name: a file in the device namespace under the name's device
  // part, in lower case as Wine looks it up.
  void Attach(const std::string& name) {
    const std::wstring file = devices_ + hiddouble::Widen(Lower(name.substr(4)));
    HANDLE h = ::CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    ::CloseHandle(h);
    attached_.push_back(file);
  }
  void ListAndAttach(const std::string& name) {
    ASSERT_TRUE(List(name));
    Attach(name);
  }
  // The subkeys in the registry's enumeration order.
  std::vector<std::string> EnumerationOrder() {
    std::vector<std::string> names;
    HKEY key = nullptr;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, ClassKey().c_str(), 0, KEY_READ, &key) != 0) {
      return names;
    }
    char name[256];
    for (DWORD i = 0;; ++i) {
      DWORD size = sizeof name;
      if (::RegEnumKeyExA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr) != 0) break;
      names.emplace_back(name, size);
    }
    ::RegCloseKey(key);
    return names;
  }
  const char* Find(std::uint16_t vid = 0x2833, std::uint16_t pid = 0x0001) {
    return FindHidDevicePath(kTestClass, vid, pid);
  }

  std::wstring devices_;
  std::vector<std::wstring> attached_;
};

TEST_F(FindHidDevicePathTest, NoClassKeyOrNoInterfacesGiveNull) {
  EXPECT_EQ(Find(), nullptr);
  CreateClassKey();
  EXPECT_EQ(Find(), nullptr);
}

TEST_F(FindHidDevicePathTest, AnAttachedMatchingInterfaceIsFoundAndOpens) {
  const std::string name = Name("HID#VID_2833&PID_0001", "7&aa&0&0000");
  ListAndAttach(name);
  const char* path = Find();
  ASSERT_NE(path, nullptr);
  EXPECT_EQ(std::string(path), PathOf(name));
  EXPECT_TRUE(UniqueHandle(OpenHidDevice(path)).valid());
}

TEST_F(FindHidDevicePathTest, NamesInLowerCaseMatchToo) {
  const std::string name = Name("hid#vid_2833&pid_0021", "7&bb&0&0000");
  ListAndAttach(name);
  EXPECT_EQ(Find(0x2833, 0x0001), nullptr);
  const char* path = Find(0x2833, 0x0021);
  ASSERT_NE(path, nullptr);
  EXPECT_EQ(std::string(path), PathOf(name));
}

TEST_F(FindHidDevicePathTest, AListedInterfaceWhoseDeviceIsAbsentIsPassedOver) {
  const std::string absent = Name("HID#VID_2833&PID_0001", "7&10&0&0000");
  const std::string attached = Name("HID#VID_2833&PID_0001", "7&20&0&0000");
  ASSERT_TRUE(List(absent));
  ListAndAttach(attached);
  const auto order = EnumerationOrder();
  ASSERT_LT(std::find(order.begin(), order.end(), absent),
            std::find(order.begin(), order.end(), attached))
      << "the absent interface is met first";
  const char* path = Find();
  ASSERT_NE(path, nullptr);
  EXPECT_EQ(std::string(path), PathOf(attached));
}

TEST_F(FindHidDevicePathTest, TheLowestAttachedIndexWins) {
  const std::vector<std::string> names = {
      Name("HID#VID_2833&PID_0001", "7&30&0&0000"),
      Name("USB#VID_2833&PID_0001&MI_00", "8&31&0&0000"),
      Name("HID#VID_2833&PID_0001", "7&32&0&0000"),
  };
  for (const auto& name : names) ListAndAttach(name);
  ASSERT_TRUE(List(Name("HID#VID_1234&PID_0001", "7&00&0&0000")));
  std::string first;
  for (const std::string& listed : EnumerationOrder()) {
    if (std::find(names.begin(), names.end(), listed) != names.end()) {
      first = listed;
      break;
    }
  }
  const char* path = Find();
  ASSERT_NE(path, nullptr);
  EXPECT_EQ(std::string(path), PathOf(first));
}

TEST_F(FindHidDevicePathTest, OnlyInterfaceZeroOfACompositeDeviceIsFound) {
  const std::string second = Name("USB#VID_2833&PID_0001&MI_01", "8&40&0&0001");
  ListAndAttach(second);
  EXPECT_EQ(Find(), nullptr);
  const std::string first = Name("USB#VID_2833&PID_0001&MI_00", "8&40&0&0000");
  ListAndAttach(first);
  const char* path = Find();
  ASSERT_NE(path, nullptr);
  EXPECT_EQ(std::string(path), PathOf(first));
}

TEST_F(FindHidDevicePathTest, OtherIdentitiesAreNotFound) {
  ListAndAttach(Name("HID#VID_2833&PID_0021", "7&50&0&0000"));
  ListAndAttach(Name("HID#VID_2834&PID_0001", "7&51&0&0000"));
  ListAndAttach(Name("HID#VID_2833&PID_0001&COL01", "7&52&0&0000"));
  EXPECT_EQ(Find(), nullptr);
}

TEST_F(FindHidDevicePathTest, TheResultLivesInTheSearchBufferUntilTheNextSearch) {
  const std::string a = Name("HID#VID_2833&PID_0001", "7&60&0&0000");
  const std::string b = Name("HID#VID_2833&PID_0021", "7&61&0&0000");
  ListAndAttach(a);
  ListAndAttach(b);
  const char* first = Find(0x2833, 0x0001);
  ASSERT_NE(first, nullptr);
  const char* second = Find(0x2833, 0x0021);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(first, second) << "one buffer serves every search";
  EXPECT_EQ(std::string(first), PathOf(b));
}

TEST_F(FindHidDevicePathTest, LongNamesAreReadOrSkippedWithoutHarm) {
  // 254 characters, the longest name the 255-byte name buffer takes with its terminator, and as
  // long a candidate path. Wine opens no device of so long a name, so it is passed over.
  std::string longName = Name("HID#VID_2833&PID_0001", "7&70&0&0000");
  longName.insert(4, std::string(254 - longName.size(), '0'));
  ASSERT_TRUE(List(longName));
  // 255 characters: too long for the name buffer, so the name cannot be read and is skipped.
  std::string tooLong = Name("HID#VID_2833&PID_0001", "7&72&0&0000");
  tooLong.insert(4, std::string(255 - tooLong.size(), '0'));
  ASSERT_TRUE(List(tooLong));
  const std::string fits = Name("HID#VID_2833&PID_0001", "7&71&0&0000");
  ListAndAttach(fits);
  const auto order = EnumerationOrder();
  ASSERT_EQ(order.size(), 3u);
  ASSERT_NE(std::find(order.begin(), order.end(), fits), order.begin())
      << "the long names are met first";
  const char* path = Find();
  ASSERT_NE(path, nullptr);
  EXPECT_EQ(std::string(path), PathOf(fits));
}

TEST(HeadsetLocationState, StartsEmptyWithTheBootIdentity) {
  HeadsetLocation& location = TheHeadsetLocation();
  EXPECT_EQ(&location, &TheHeadsetLocation());
  EXPECT_TRUE(location.devicePath.empty());
  EXPECT_EQ(location.vid, 0x2833);
  EXPECT_EQ(location.pid, 0x0001);
}

TEST(HeadsetLocationState, StoresOnlyResultsThatFitAPathBuffer) {
  HeadsetLocation location;
  location.devicePath = "\\\\.\\old";
  EXPECT_FALSE(StoreDevicePath(location, nullptr));
  EXPECT_EQ(location.devicePath, "\\\\.\\old") << "a null result leaves the path as it was";
  const std::string longest(MAX_PATH - 1, 'p');
  EXPECT_TRUE(StoreDevicePath(location, longest.c_str()));
  EXPECT_EQ(location.devicePath, longest);
  const std::string tooLong(MAX_PATH, 'q');
  EXPECT_FALSE(StoreDevicePath(location, tooLong.c_str()));
  EXPECT_EQ(location.devicePath, longest);
}

}  // namespace
}  // namespace obrint::win
