// The simulated headset that every other test trusts: which reports each firmware serves, the
// transfer's sums and pacing, restarts, and its state as text.
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

void ExpectServed(Headset& headset, const std::vector<Exchange>& exchanges) {
  for (const Exchange& e : exchanges) {
    Bytes buf = e.report;
    EXPECT_EQ(e.set ? headset.SetFeature(headset.generation(), buf.data(), buf.size())
                    : headset.GetFeature(headset.generation(), buf.data(), buf.size()),
              e.ok)
        << reference::Spaced(e.report);
    EXPECT_TRUE(e.ok || buf == e.report) << "a failed get leaves the buffer alone";
  }
}

// (What the boot firmware refuses, the upgrade tests' replays show.)
TEST(SimTest, TheApplicationFirmwareServesItsReportsOnly) {
  Headset headset;
  // clang-format off
  ExpectServed(headset, {
      {false, {0x58, 0, 0, 0}, true},    {false, {0x06, 0, 0, 0}, true},
      {false, {0x58, 0, 0}, false},      {true, {0x59, 1, 0, 0xFE}, true},
      {true, {0x59, 2, 0, 0xFE}, false}, {false, {0x59, 0, 0, 0}, true},
      {false, {0x5F, 0, 0, 0, 0}, true}, {true, {0x5F, 0, 0, 0, 0}, false},
      {false, Bytes(15, 0x60), true},    {false, Bytes(64, 0x61), false},
      {true, Bytes(7, 0x02), true},      {false, {0x42, 0, 0, 0}, false},
      {true, {0x58, 1, 0, 2}, false},    {true, {0x58, 1, 0, 0}, true}});
  // clang-format on
  EXPECT_EQ(headset.runMode(), 0xFE);
  EXPECT_EQ(headset.activeRunMode(), 0xFD) << "the mode runs after the restart";
  headset.Advance(500);
  EXPECT_EQ(headset.activeRunMode(), 0xFE);
}

// A block of 0xFF words carries past 16 bits; the answers come 10 and 120 ms after their packet.
TEST(SimTest, TheBootFirmwareSumsAndPacesTheTransfer) {
  Headset headset({.startIn = Firmware::kBoot});
  const Bytes image(112, 0xFF);
  const std::uint16_t blockSum = reference::BlockSum(image.data(), 56);
  const auto send = [&](std::uint8_t command, std::uint16_t sum, std::uint16_t length) {
    Bytes packet(64, 0);
    std::copy_n(image.begin(), 56, packet.begin() + 8);
    const std::uint8_t head[8] = {0x61,
                                  0,
                                  0,
                                  command,
                                  std::uint8_t(sum),
                                  std::uint8_t(sum >> 8),
                                  std::uint8_t(length),
                                  std::uint8_t(length >> 8)};
    std::copy_n(head, 8, packet.begin());
    EXPECT_TRUE(headset.SetFeature(headset.generation(), packet.data(), 64));
  };
  const auto answerAfter = [&](unsigned ms) {
    headset.Advance(ms);
    Bytes answer(64, 0x61);
    EXPECT_TRUE(headset.GetFeature(headset.generation(), answer.data(), 64));
    return answer[4] | answer[5] << 8;
  };
  send(0x5A, 0, 112);
  headset.Advance(9);
  send(0x02, blockSum, 56);
  EXPECT_TRUE(headset.received().empty()) << "lost while the headset still erases";
  send(0x5A, 0, 112);
  headset.Advance(10);
  for (int block = 0; block < 2; ++block) {
    send(0x02, blockSum, 56);
    EXPECT_EQ(answerAfter(9), 0) << "not ready before 10 ms";
    EXPECT_EQ(answerAfter(1), blockSum);
  }
  send(0x10, reference::ImageTotal(image), 0);
  EXPECT_EQ(answerAfter(119), 0) << "not ready before 120 ms";
  EXPECT_EQ(answerAfter(1), reference::ImageTotal(image));
  send(0x11, 0, 0);
  EXPECT_EQ(headset.flashed(), image);
}

TEST(SimTest, AHandleGoesStaleWhenTheHeadsetRestarts) {
  Headset headset;
  SimBus bus(headset);
  auto session = bus.OpenSession();
  auto device = bus.Open(headset.interfacePath());
  std::uint8_t restart[4] = {0x58, 1, 0, 1}, version[5] = {0x5F};
  ASSERT_TRUE(device->SetFeature(restart, 4));
  headset.Advance(500);
  EXPECT_FALSE(device->GetFeature(version, 5)) << "stale once the headset is back";
  auto boot = bus.Open(headset.interfacePath());
  EXPECT_EQ(headset.productId(), 0x0001);
  EXPECT_TRUE(boot->GetFeature(version, 5));
  session.reset();
  EXPECT_FALSE(boot->GetFeature(version, 5)) << "unbound, nothing reaches the headset";
  EXPECT_EQ(bus.unboundTransfers(), 1);
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
       {std::string(), text.substr(1), text + "nonsense\n", text + "config.runMode=zz\n",
        text + "config.mcuId=" + std::string(26, '0') + "\n"}) {
    EXPECT_FALSE(Headset::Load(damaged)) << damaged;
  }
}

}  // namespace
}  // namespace obrint::sim
