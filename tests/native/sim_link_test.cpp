// The HID link and the clock over the simulated headset: opens, handles, binding, discovery and
// virtual waits.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <vector>

#include "core/ports.h"
#include "core/reports.h"
#include "sim/headset_sim.h"

namespace obrint::sim {
namespace {

std::string Upper(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return s;
}

class SimLinkTest : public ::testing::Test {
 protected:
  Headset headset_;
  SimHidLink link_{headset_};
  SimClock clock_{headset_};
};

TEST_F(SimLinkTest, OpensOnlyTheCurrentPathWhilePresent) {
  const std::string path = headset_.interfacePath();
  EXPECT_EQ(link_.OpenHidDevice(""), nullptr);
  EXPECT_EQ(link_.OpenHidDevice(path + "x"), nullptr);
  std::string otherPid = path;
  otherPid.replace(otherPid.find("pid_"), 8, "pid_0001");
  EXPECT_EQ(link_.OpenHidDevice(otherPid), nullptr);
  EXPECT_EQ(link_.failedOpens(), 3);
  EXPECT_EQ(link_.opens(), 0);

  {
    auto a = link_.OpenHidDevice(path);
    auto b = link_.OpenHidDevice(Upper(path));
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr) << "paths compare without regard to case; shared opens are allowed";
    EXPECT_EQ(link_.opens(), 2);
    EXPECT_EQ(link_.openHandles(), 2);
    a.reset();
    EXPECT_EQ(link_.openHandles(), 1);
  }
  EXPECT_EQ(link_.openHandles(), 0);
  EXPECT_EQ(link_.opens(), 2);

  headset_.Unplug();
  EXPECT_EQ(link_.OpenHidDevice(path), nullptr);
}

TEST_F(SimLinkTest, BindingIsIdempotent) {
  EXPECT_FALSE(link_.bound());
  link_.FreeHidLibrary();
  EXPECT_EQ(link_.frees(), 0) << "free while unbound does nothing";
  link_.LoadHidLibrary();
  link_.LoadHidLibrary();
  EXPECT_TRUE(link_.bound());
  EXPECT_EQ(link_.loads(), 1);
  link_.FreeHidLibrary();
  link_.FreeHidLibrary();
  EXPECT_FALSE(link_.bound());
  EXPECT_EQ(link_.frees(), 1);
  link_.LoadHidLibrary();
  EXPECT_EQ(link_.loads(), 2);
}

TEST_F(SimLinkTest, TransfersWhileUnboundNeverReachTheHeadset) {
  auto device = link_.OpenHidDevice(headset_.interfacePath());
  ASSERT_NE(device, nullptr);
  ReportBuffer buf{};
  EXPECT_FALSE(GetReport5F(*device, buf));
  EXPECT_FALSE(SetReport59(*device, kRunModeDk1));
  EXPECT_EQ(link_.unboundTransfers(), 2);
  EXPECT_TRUE(headset_.log().empty());
  EXPECT_EQ(headset_.transfers(), 0);

  link_.LoadHidLibrary();
  EXPECT_TRUE(GetReport5F(*device, buf));
  EXPECT_EQ(ReadLe16(&buf[3]), headset_.config().applicationVersion);
  link_.FreeHidLibrary();
  EXPECT_FALSE(GetReport5F(*device, buf));
  EXPECT_EQ(headset_.log().size(), 1u);
}

TEST_F(SimLinkTest, HandlesGoStaleAcrossARestart) {
  link_.LoadHidLibrary();
  auto app = link_.OpenHidDevice(headset_.interfacePath());
  ASSERT_NE(app, nullptr);
  const std::string appPath = headset_.interfacePath();
  ASSERT_TRUE(SetReport58(*app, 1));
  ReportBuffer buf{};
  EXPECT_FALSE(GetReport5F(*app, buf));

  clock_.Sleep(2000);
  ASSERT_TRUE(headset_.present());
  EXPECT_FALSE(GetReport5F(*app, buf)) << "the handle belongs to the headset before the restart";
  EXPECT_EQ(link_.OpenHidDevice(appPath), nullptr);

  auto boot = link_.OpenHidDevice(headset_.interfacePath());
  ASSERT_NE(boot, nullptr);
  EXPECT_TRUE(GetReport5F(*boot, buf));
  EXPECT_EQ(ReadLe16(&buf[3]), headset_.config().bootVersion);
  EXPECT_FALSE(GetReport58(*boot, buf)) << "the probe fails on the boot firmware";
}

TEST_F(SimLinkTest, DiscoveryFindsTheCurrentIdentityOnly) {
  const std::uint16_t appPid = headset_.productId();
  EXPECT_EQ(link_.FindHidDevicePath(kHidClassGuidText, kHeadsetVendorId, appPid),
            headset_.interfacePath());
  EXPECT_EQ(
      link_.FindHidDevicePath("4d1e55b2-f16f-11cf-88cb-001111000030", kHeadsetVendorId, appPid),
      headset_.interfacePath());
  EXPECT_EQ(
      link_.FindHidDevicePath("4D36E966-E325-11CE-BFC1-08002BE10318", kHeadsetVendorId, appPid),
      std::nullopt);
  EXPECT_EQ(link_.FindHidDevicePath(kHidClassGuidText, 0x2834, appPid), std::nullopt);
  EXPECT_EQ(link_.FindHidDevicePath(kHidClassGuidText, kHeadsetVendorId, kBootProductId),
            std::nullopt);
  EXPECT_EQ(link_.searches(), 5);
  EXPECT_EQ(link_.opens(), 0) << "the search's presence test is not one of the operation's opens";

  link_.LoadHidLibrary();
  auto device = link_.OpenHidDevice(headset_.interfacePath());
  ASSERT_TRUE(SetReport58(*device, 1));
  EXPECT_EQ(link_.FindHidDevicePath(kHidClassGuidText, kHeadsetVendorId, kBootProductId),
            std::nullopt)
      << "off the bus while restarting";
  clock_.Sleep(headset_.config().restartMs);
  const auto found = link_.FindHidDevicePath(kHidClassGuidText, kHeadsetVendorId, kBootProductId);
  ASSERT_TRUE(found.has_value());
  EXPECT_NE(found->find("pid_0001"), std::string::npos);
  EXPECT_NE(link_.OpenHidDevice(*found), nullptr);
}

TEST_F(SimLinkTest, DevicesMayOutliveTheLink) {
  std::unique_ptr<HidDevice> device;
  {
    SimHidLink link(headset_);
    link.LoadHidLibrary();
    device = link.OpenHidDevice(headset_.interfacePath());
  }
  ReportBuffer buf{};
  EXPECT_TRUE(GetReport5F(*device, buf));
}

}  // namespace
}  // namespace obrint::sim
