#include "core/interface_name.h"
#include "core/ports.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace obrint {
namespace {

constexpr char kHidGuidSuffix[] = "#{4d1e55b2-f16f-11cf-88cb-001111000030}";

// An interface name with the given vendor and product fields at their fixed places.
std::string UsbName(const std::string& vidField, const std::string& pidField) {
  return "\\\\?\\USB#VID_" + vidField + "&PID_" + pidField + "#5&1f2e3d&0&1" + kHidGuidSuffix;
}

TEST(DeviceInstanceId, DerivesTheSetupFormOfAnInterfaceName) {
  EXPECT_EQ(DeviceInstanceIdFromInterfaceName(
                std::string("\\\\?\\hid#vid_2833&pid_0021#7&1a2b3c&0&0000") + kHidGuidSuffix),
            "HID\\VID_2833&PID_0021\\7&1A2B3C&0&0000");
  EXPECT_EQ(DeviceInstanceIdFromInterfaceName(
                std::string("\\\\?\\USB#VID_2833&PID_0021&MI_00#8&2b3c&0&0000") + kHidGuidSuffix),
            "USB\\VID_2833&PID_0021&MI_00\\8&2B3C&0&0000");
}

TEST(DeviceInstanceId, CutsOnlyAtTheLastHash) {
  EXPECT_EQ(DeviceInstanceIdFromInterfaceName("\\\\?\\a#b#c#d"), "A\\B\\C");
  EXPECT_EQ(DeviceInstanceIdFromInterfaceName("\\\\?\\a##"), "A\\");
  // The first four characters go whatever they are.
  EXPECT_EQ(DeviceInstanceIdFromInterfaceName("wxyzhid#1#g"), "HID\\1");
}

TEST(DeviceInstanceId, LeavesNonAsciiBytesAlone) {
  EXPECT_EQ(DeviceInstanceIdFromInterfaceName("\\\\?\\hid#\xc3\xa9z#g"), "HID\\\xc3\xa9Z");
}

TEST(DeviceInstanceId, RefusesNamesOfAnotherShape) {
  const std::vector<std::string> malformed = {
      "",
      "\\\\?\\",                       // prefix only
      "\\\\?\\HID",                    // no '#' after the prefix
      "##?#HID",                       // the registry's spelling has its '#'s in the prefix only
      "\\\\?\\#{guid}",                // nothing before the last '#'
      "\\\\?\\HID\\VID_2833#7&1#{g}",  // a '\' would make a separator that is not the name's
  };
  for (const auto& name : malformed) {
    EXPECT_EQ(DeviceInstanceIdFromInterfaceName(name), std::nullopt) << name;
  }
  // A '\' in the dropped GUID part does not matter.
  EXPECT_EQ(DeviceInstanceIdFromInterfaceName("\\\\?\\HID#1#a\\b"), "HID\\1");
}

TEST(DeviceInstanceId, ReadsNothingPastTheGivenLength) {
  const std::string full =
      std::string("\\\\?\\hid#vid_2833&pid_0021#7&1a2b3c&0&0000") + kHidGuidSuffix;
  for (std::size_t n = 0; n <= full.size(); ++n) {
    // An exact-size heap copy without terminator, so that a sanitizer build sees any overrun.
    std::vector<char> bytes(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(n));
    const auto id = DeviceInstanceIdFromInterfaceName(std::string_view(bytes.data(), bytes.size()));
    if (id) {
      EXPECT_LT(id->size(), n);
      EXPECT_EQ(id->find('#'), std::string::npos);
    }
  }
}

TEST(Enumerator, IsTheTextBeforeTheFirstBackslash) {
  EXPECT_EQ(EnumeratorOf("HID\\VID_2833&PID_0021\\7&1A2B3C&0&0000"), "HID");
  EXPECT_EQ(EnumeratorOf("ROOT\\SYSTEM\\0001"), kRootEnumerator);
  EXPECT_EQ(EnumeratorOf("NOSEPARATOR"), "NOSEPARATOR");
  EXPECT_EQ(EnumeratorOf("\\LEADING"), "");
  EXPECT_EQ(EnumeratorOf(""), "");
}

TEST(ParseVidPid, AcceptsAnyProductIdOfTheHeadsetVendor) {
  for (const char* pidField : {"0001", "0021", "ffff", "FFFF", "0000"}) {
    std::uint16_t vid = 0;
    std::uint16_t pid = 0;
    EXPECT_TRUE(ParseVidPid(UsbName("2833", pidField), vid, pid)) << pidField;
    EXPECT_EQ(pid, std::stoul(pidField, nullptr, 16)) << pidField;
  }
}

// Every field of four hexadecimal digits, in either case, reads as scanf "%4x" reads it, and only
// vendor 0x2833 counts as the headset's.
TEST(ParseVidPid, AgreesWithScanfOnHexadecimalFieldsOfEitherCase) {
  for (unsigned value = 0; value <= 0xFFFF; value += 0x0101) {
    for (const char* format : {"%04x", "%04X"}) {
      char field[8];
      std::snprintf(field, sizeof field, format, value);
      const std::string name = UsbName(field, field);
      unsigned scanned = 0;
      ASSERT_EQ(std::sscanf(name.c_str() + kVendorIdOffset, "%4x", &scanned), 1);
      std::uint16_t vid = 0;
      std::uint16_t pid = 0;
      EXPECT_EQ(ParseVidPid(name, vid, pid), scanned == kHeadsetVendorId) << name;
      EXPECT_EQ(vid, scanned) << name;
      EXPECT_EQ(pid, scanned) << name;
    }
  }
  std::uint16_t vid = 0;
  std::uint16_t pid = 0;
  EXPECT_TRUE(ParseVidPid(UsbName("2833", "00aB"), vid, pid));
  EXPECT_EQ(pid, 0x00AB);
}

TEST(ParseVidPid, StopsAfterFourDigitsOrAtTheFirstOtherCharacter) {
  std::uint16_t vid = 0;
  std::uint16_t pid = 0;
  // Fields placed by hand: "VID_" at 8, the vendor field at 12, the product field at 21.
  EXPECT_FALSE(ParseVidPid("\\\\?\\HID#VID_28&&&PID_21&&#tail", vid, pid));
  EXPECT_EQ(vid, 0x28);
  EXPECT_EQ(pid, 0x21);
  EXPECT_TRUE(ParseVidPid("\\\\?\\HID#VID_2833&PID_12345678#tail", vid, pid));
  EXPECT_EQ(vid, 0x2833);
  EXPECT_EQ(pid, 0x1234);
  // Five digits at the vendor field: the fifth is not read (it would make 0x28330, 0x8330 in 16
  // bits).
  EXPECT_TRUE(ParseVidPid("\\\\?\\HID#VID_28330PID_0021#tail", vid, pid));
  EXPECT_EQ(vid, 0x2833);
}

TEST(ParseVidPid, NeedsANameLongerThanTheTemplate) {
  const std::string exact = "\\\\?\\USB#VID_2833&PID_0021";
  ASSERT_EQ(exact.size(), kInterfaceNameTemplateLength);
  std::uint16_t vid = 7;
  std::uint16_t pid = 9;
  EXPECT_FALSE(ParseVidPid(exact, vid, pid));
  EXPECT_EQ(vid, 7);
  EXPECT_EQ(pid, 9);
  EXPECT_TRUE(ParseVidPid(exact + "#", vid, pid));
  EXPECT_EQ(pid, 0x0021);
}

TEST(ParseVidPid, TakesAFieldThatDoesNotStartWithAHexDigitForNotTheHeadsets) {
  // Blanks, signs and "0x" are what scanf would have skipped or taken; none is accepted here.
  for (const char* bad : {" 833", "+833", "-833", "X833", "g833", "&&&&"}) {
    std::uint16_t vid = 7;
    std::uint16_t pid = 9;
    EXPECT_FALSE(ParseVidPid(UsbName(bad, "0021") + "padding", vid, pid)) << bad;
    EXPECT_FALSE(ParseVidPid(UsbName("2833", bad) + "padding", vid, pid)) << bad;
    EXPECT_EQ(vid, 7) << bad;
    EXPECT_EQ(pid, 9) << bad;
  }
}

TEST(ParseVidPid, TakesNoHexadecimalPrefix) {
  std::uint16_t vid = 0;
  std::uint16_t pid = 0;
  // scanf would read 0x28 here; the digits stop at the 'x'.
  EXPECT_FALSE(ParseVidPid(UsbName("0x28", "0021"), vid, pid));
  EXPECT_EQ(vid, 0);
  EXPECT_TRUE(ParseVidPid(UsbName("2833", "0x21"), vid, pid));
  EXPECT_EQ(pid, 0);
}

TEST(ParseVidPid, ReadsNothingPastTheGivenLength) {
  const std::string full = UsbName("2833", "0021");
  for (std::size_t n = 0; n <= full.size(); ++n) {
    std::vector<char> bytes(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(n));
    std::uint16_t vid = 0;
    std::uint16_t pid = 0;
    EXPECT_EQ(ParseVidPid(std::string_view(bytes.data(), bytes.size()), vid, pid),
              n > kInterfaceNameTemplateLength)
        << n;
  }
}

TEST(IsHeadsetVendor, OnlyTheHeadsetVendorId) {
  EXPECT_TRUE(IsHeadsetVendor(0x2833));
  for (std::uint16_t other : {0x0000, 0x2832, 0x2834, 0x3328, 0x845E, 0xFFFF}) {
    EXPECT_FALSE(IsHeadsetVendor(other)) << other;
  }
}

}  // namespace
}  // namespace obrint
