// The simulated headset that every other test trusts: which reports each firmware serves, the
// transfer protocol's sums and pacing, restarts, and its state as text.
#include <gtest/gtest.h>

#include "native/reference.h"
#include "sim/headset_sim.h"

namespace obrint::sim {
namespace {

using reference::Bytes;

struct Exchange {
  bool set;
  Bytes report;
  bool ok;
};

bool Transfer(Headset& headset, const Exchange& e) {
  Bytes buf = e.report;
  const bool ok = e.set ? headset.SetFeature(headset.generation(), buf.data(), buf.size())
                        : headset.GetFeature(headset.generation(), buf.data(), buf.size());
  if (!e.set && !ok) {
    EXPECT_EQ(buf, e.report) << "a failed get leaves the buffer alone";
  }
  return ok;
}

TEST(SimTest, EachFirmwareServesItsReportsOnly) {
  const std::vector<Exchange> application = {
      {false, {0x58, 0, 0, 0}, true},    {false, {0x06, 0, 0, 0}, true},
      {false, {0x58, 0, 0}, false},      {true, {0x59, 1, 0, 0xFE}, true},
      {true, {0x59, 2, 0, 0xFE}, false}, {false, {0x59, 0, 0, 0}, true},
      {false, {0x5F, 0, 0, 0, 0}, true}, {true, {0x5F, 0, 0, 0, 0}, false},
      {false, Bytes(15, 0x60), true},    {false, Bytes(64, 0x61), false},
      {true, Bytes(7, 0x02), true},      {false, {0x42, 0, 0, 0}, false},
      {true, {0x58, 1, 0, 2}, false},    {true, {0x58, 1, 0, 0}, true},
  };
  Headset headset;
  for (std::size_t i = 0; i < application.size(); ++i) {
    EXPECT_EQ(Transfer(headset, application[i]), application[i].ok) << "application #" << i;
  }
  EXPECT_EQ(headset.runMode(), 0xFE);
  EXPECT_EQ(headset.activeRunMode(), 0xFD) << "the mode runs after the restart";
  headset.Advance(500);
  EXPECT_EQ(headset.activeRunMode(), 0xFE);

  const std::vector<Exchange> boot = {
      {false, {0x58, 0, 0, 0}, false}, {false, {0x06, 0, 0, 0}, false},
      {false, {0x59, 0, 0, 0}, false}, {false, {0x5F, 0, 0, 0, 0}, true},
      {false, Bytes(15, 0x60), true},  {false, Bytes(64, 0x61), true},
  };
  headset = Headset({.startIn = Firmware::kBoot});
  for (std::size_t i = 0; i < boot.size(); ++i) {
    EXPECT_EQ(Transfer(headset, boot[i]), boot[i].ok) << "boot #" << i;
  }
}

// Sums over blocks whose words carry past 16 bits, paced by virtual time.
TEST(SimTest, TheBootFirmwareSumsAndPacesTheTransfer) {
  Headset headset({.startIn = Firmware::kBoot});
  const Bytes image(112, 0xFF);
  Bytes packet(64, 0);
  const auto send = [&](std::uint8_t command, std::uint16_t sum, std::uint16_t length) {
    packet[0] = 0x61;
    packet[3] = command;
    packet[4] = static_cast<std::uint8_t>(sum);
    packet[5] = static_cast<std::uint8_t>(sum >> 8);
    packet[6] = static_cast<std::uint8_t>(length);
    packet[7] = static_cast<std::uint8_t>(length >> 8);
    return headset.SetFeature(headset.generation(), packet.data(), 64);
  };
  const auto answeredSum = [&] {
    Bytes answer(64, 0x61);
    EXPECT_TRUE(headset.GetFeature(headset.generation(), answer.data(), 64));
    return answer[4] | answer[5] << 8;
  };
  const std::uint16_t blockSum = reference::BlockSum(image.data(), 56);
  ASSERT_TRUE(send(0x5A, 0, 112));
  headset.Advance(9);
  std::copy_n(image.begin(), 56, packet.begin() + 8);
  ASSERT_TRUE(send(0x02, blockSum, 56));
  EXPECT_EQ(headset.received().size(), 0u) << "lost while the headset still erases";
  ASSERT_TRUE(send(0x5A, 0, 112));
  headset.Advance(10);
  for (int block = 0; block < 2; ++block) {
    ASSERT_TRUE(send(0x02, blockSum, 56));
    headset.Advance(9);
    EXPECT_EQ(answeredSum(), 0) << "not ready before 10 ms";
    headset.Advance(1);
    EXPECT_EQ(answeredSum(), blockSum);
  }
  ASSERT_TRUE(send(0x10, reference::ImageTotal(image), 0));
  headset.Advance(119);
  EXPECT_EQ(answeredSum(), 0) << "not ready before 120 ms";
  headset.Advance(1);
  EXPECT_EQ(answeredSum(), reference::ImageTotal(image));
  ASSERT_TRUE(send(0x11, 0, 0));
  EXPECT_EQ(headset.flashed(), image);
}

TEST(SimTest, AHandleGoesStaleWhenTheHeadsetRestarts) {
  Headset headset;
  SimHidLink link(headset);
  link.LoadHidLibrary();
  auto device = link.OpenHidDevice(headset.interfacePath());
  ASSERT_TRUE(device);
  std::uint8_t restart[4] = {0x58, 1, 0, 1};
  ASSERT_TRUE(device->SetFeature(restart, 4));
  std::uint8_t version[5] = {0x5F};
  EXPECT_FALSE(device->GetFeature(version, 5));
  headset.Advance(500);
  EXPECT_FALSE(device->GetFeature(version, 5)) << "still stale once the headset is back";
  auto boot = link.OpenHidDevice(headset.interfacePath());
  ASSERT_TRUE(boot);
  EXPECT_EQ(headset.productId(), 0x0001);
  EXPECT_TRUE(boot->GetFeature(version, 5));
  link.FreeHidLibrary();
  EXPECT_FALSE(boot->GetFeature(version, 5)) << "unbound, nothing reaches the headset";
  EXPECT_EQ(link.unboundTransfers(), 1);
}

TEST(SimTest, StateSurvivesItsTextAndDamagedTextIsRefused) {
  Headset headset({.applicationVersion = 0x0031, .runMode = 0xFE});
  headset.faults().wrongSumForBlock = 2;
  std::uint8_t restart[4] = {0x58, 1, 0, 1};
  ASSERT_TRUE(headset.SetFeature(headset.generation(), restart, 4));
  const std::string text = headset.Save();
  const std::optional<Headset> loaded = Headset::Load(text);
  ASSERT_TRUE(loaded);
  EXPECT_EQ(loaded->Save(), text);
  EXPECT_EQ(loaded->faults().wrongSumForBlock, 2);
  EXPECT_EQ(loaded->log().size(), 1u);
  for (const std::string& damaged :
       {std::string(), text.substr(1), text + "nonsense\n", text + "config.runMode=zz\n"}) {
    EXPECT_FALSE(Headset::Load(damaged)) << damaged;
  }
}

}  // namespace
}  // namespace obrint::sim
