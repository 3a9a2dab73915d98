// The headset's state as text: a saved headset loads back into one that behaves the same, in the
// middle of a transfer too, and text that was not saved by it is refused.
#include <gtest/gtest.h>

#include <vector>

#include "sim/headset_sim.h"

namespace obrint::sim {
namespace {

using Packet = std::array<std::uint8_t, 64>;

void PutLe16(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}

Packet TransferPacket(std::uint8_t command, std::uint16_t sum, std::uint16_t length,
                      std::uint8_t fill) {
  Packet p{};
  p.fill(fill);
  p[0] = 0x61;
  p[3] = command;
  PutLe16(p.data() + 4, sum);
  PutLe16(p.data() + 6, length);
  return p;
}

// A headset with every part of its state away from the defaults, stopped between a Data packet
// and the read of its sum.
Headset MidTransfer() {
  HeadsetConfig config;
  config.applicationProductId = 0x0031;
  config.applicationVersion = 0x0140;
  config.bootVersion = 0x0207;
  config.mcuId = {9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 0xFF, 0x80};
  config.runMode = 0xFE;
  config.restartOnlyAsReport6 = true;
  config.restartMs = 750;
  Headset h(config);
  h.faults().refusedReports = {0x07, 0x0A};
  h.faults().failTransfer = 99;
  h.faults().wrongSumForBlock = 5;
  h.faults().vanishAfterTransfer = 500;

  std::array<std::uint8_t, 7> r02 = {0x02, 1, 2, 3, 4, 5, 6};
  EXPECT_TRUE(h.SetFeature(h.generation(), r02.data(), r02.size()));
  std::array<std::uint8_t, 4> mode = {0x59, 1, 0, 0xFD};
  EXPECT_TRUE(h.SetFeature(h.generation(), mode.data(), mode.size()));
  std::array<std::uint8_t, 4> restart = {0x06, 1, 0, 1};
  EXPECT_TRUE(h.SetFeature(h.generation(), restart.data(), restart.size()));
  h.Advance(750);
  EXPECT_EQ(h.firmware(), Firmware::kBoot);

  Packet p = TransferPacket(0x5A, 0, 100, 0x33);
  EXPECT_TRUE(h.SetFeature(h.generation(), p.data(), p.size()));
  h.Advance(10);
  p = TransferPacket(0x02, 0x1234, 56, 0x44);
  EXPECT_TRUE(h.SetFeature(h.generation(), p.data(), p.size()));
  h.Advance(4);
  return h;
}

TEST(SimSave, RoundTripIsExact) {
  const Headset h = MidTransfer();
  const std::string text = h.Save();
  const std::optional<Headset> loaded = Headset::Load(text);
  ASSERT_TRUE(loaded.has_value());
  EXPECT_EQ(loaded->Save(), text);

  EXPECT_EQ(loaded->present(), h.present());
  EXPECT_EQ(loaded->firmware(), h.firmware());
  EXPECT_EQ(loaded->generation(), h.generation());
  EXPECT_EQ(loaded->nowMs(), h.nowMs());
  EXPECT_EQ(loaded->received(), h.received());
  EXPECT_EQ(loaded->restarts(), h.restarts());
  EXPECT_EQ(loaded->runMode(), h.runMode());
  ASSERT_EQ(loaded->log().size(), h.log().size());
  for (std::size_t i = 0; i < h.log().size(); ++i) {
    const TransferRecord& a = h.log()[i];
    const TransferRecord& b = loaded->log()[i];
    EXPECT_EQ(a.direction, b.direction);
    EXPECT_EQ(a.reportId, b.reportId);
    EXPECT_EQ(a.length, b.length);
    EXPECT_EQ(a.bytes, b.bytes);
    EXPECT_EQ(a.ok, b.ok);
    EXPECT_EQ(a.firmware, b.firmware);
    EXPECT_EQ(a.atMs, b.atMs);
  }
  EXPECT_EQ(loaded->faults().refusedReports, h.faults().refusedReports);
  EXPECT_EQ(loaded->config().mcuId, h.config().mcuId);
}

TEST(SimSave, LoadedHeadsetCarriesOnLikeTheOriginal) {
  Headset original = MidTransfer();
  std::optional<Headset> copy = Headset::Load(original.Save());
  ASSERT_TRUE(copy.has_value());

  // Finish the transfer on both, with the same traffic, and compare every answer.
  for (Headset* h : {&original, &*copy}) {
    h->Advance(6);
    Packet answer{};
    answer[0] = 0x61;
    ASSERT_TRUE(h->GetFeature(h->generation(), answer.data(), answer.size()));
    Packet p = TransferPacket(0x02, 0, 44, 0x55);
    EXPECT_TRUE(h->SetFeature(h->generation(), p.data(), p.size()));
    h->Advance(10);
    ASSERT_TRUE(h->GetFeature(h->generation(), answer.data(), answer.size()));
    p = TransferPacket(0x10, 0x0BAD, 0, 0x66);
    EXPECT_TRUE(h->SetFeature(h->generation(), p.data(), p.size()));
    h->Advance(120);
    ASSERT_TRUE(h->GetFeature(h->generation(), answer.data(), answer.size()));
    p = TransferPacket(0x11, 0, 0, 0x77);
    EXPECT_TRUE(h->SetFeature(h->generation(), p.data(), p.size()));
    h->Advance(750);
  }
  EXPECT_EQ(copy->Save(), original.Save());
  ASSERT_GE(original.log().size(), 4u);
  EXPECT_EQ(copy->log().back().bytes, original.log().back().bytes);
}

TEST(SimSave, FlashedImageAndPendingRestartSurvive) {
  HeadsetConfig config;
  config.startIn = Firmware::kBoot;
  config.restartMs = 300;
  Headset h(config);
  Packet p = TransferPacket(0x5A, 0, 4, 0);
  ASSERT_TRUE(h.SetFeature(h.generation(), p.data(), p.size()));
  h.Advance(10);
  p = TransferPacket(0x02, 0x0302 + 0x0504, 4, 0);
  p[8] = 2;
  p[9] = 3;
  p[10] = 4;
  p[11] = 5;
  ASSERT_TRUE(h.SetFeature(h.generation(), p.data(), p.size()));
  h.Advance(10);
  p = TransferPacket(0x10, 0x0302 + 0x0504, 0, 0);
  ASSERT_TRUE(h.SetFeature(h.generation(), p.data(), p.size()));
  h.Advance(120);
  p = TransferPacket(0x11, 0, 0, 0);
  ASSERT_TRUE(h.SetFeature(h.generation(), p.data(), p.size()));
  h.Advance(100);
  ASSERT_FALSE(h.present());

  std::optional<Headset> loaded = Headset::Load(h.Save());
  ASSERT_TRUE(loaded.has_value());
  EXPECT_EQ(loaded->flashed(), (std::vector<std::uint8_t>{2, 3, 4, 5}));
  loaded->Advance(199);
  EXPECT_FALSE(loaded->present());
  loaded->Advance(1);
  EXPECT_TRUE(loaded->present());
  EXPECT_EQ(loaded->firmware(), Firmware::kApplication);
}

TEST(SimSave, WindowsLineEndsAreAccepted) {
  const Headset h = MidTransfer();
  std::string text;
  for (char c : h.Save()) {
    if (c == '\n') text += '\r';
    text += c;
  }
  const std::optional<Headset> loaded = Headset::Load(text);
  ASSERT_TRUE(loaded.has_value());
  EXPECT_EQ(loaded->Save(), h.Save());
}

TEST(SimSave, ForeignOrDamagedTextIsRefused) {
  const std::string good = MidTransfer().Save();
  auto replaced = [&](std::string_view from, std::string_view to) {
    std::string text = good;
    const std::size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return text.replace(at, from.size(), to);
  };
  EXPECT_FALSE(Headset::Load("").has_value());
  EXPECT_FALSE(Headset::Load("hello\n").has_value());
  EXPECT_FALSE(Headset::Load(good.substr(good.find('\n') + 1)).has_value()) << "no format line";
  EXPECT_FALSE(Headset::Load(good + "state.colour=blue\n").has_value());
  EXPECT_FALSE(Headset::Load(good + "no equals sign\n").has_value());
  EXPECT_FALSE(Headset::Load(replaced("config.mcuId=09", "config.mcuId=0")).has_value());
  EXPECT_FALSE(Headset::Load(replaced("config.mcuId=09", "config.mcuId=zz")).has_value());
  EXPECT_FALSE(Headset::Load(replaced("state.nowMs=", "state.nowMs=-")).has_value());
  EXPECT_FALSE(Headset::Load(replaced("state.present=1", "state.present=2")).has_value());
  EXPECT_FALSE(Headset::Load(replaced("state.firmware=boot", "state.firmware=bios")).has_value());
  EXPECT_FALSE(Headset::Load(replaced("state.report02=02", "state.report02=0201")).has_value());
  EXPECT_FALSE(Headset::Load(replaced("log=set 02 7 1", "log=put 02 7 1")).has_value());
  EXPECT_FALSE(Headset::Load(replaced("log=set 02 7 1", "log=set 02 7")).has_value());
  EXPECT_FALSE(
      Headset::Load(replaced("config.applicationVersion=320", "config.applicationVersion=70000"))
          .has_value())
      << "out of range for 16 bits";
}

TEST(SimSave, FailedGetsKeepTheirEmptyBytes) {
  Headset h;
  h.faults().refusedReports = {0x5F};
  std::array<std::uint8_t, 5> r = {0x5F};
  ASSERT_FALSE(h.GetFeature(h.generation(), r.data(), r.size()));
  const std::optional<Headset> loaded = Headset::Load(h.Save());
  ASSERT_TRUE(loaded.has_value());
  ASSERT_EQ(loaded->log().size(), 1u);
  EXPECT_TRUE(loaded->log()[0].bytes.empty());
  EXPECT_FALSE(loaded->log()[0].ok);
}

}  // namespace
}  // namespace obrint::sim
