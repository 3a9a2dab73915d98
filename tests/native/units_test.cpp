// The small pieces whose edges the headset runs do not reach: sums at every block length and
// their carries, report buffers too short, the restart's one fallback, the interfaces' leases,
// error texts at their edges.
#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "device/checksum.h"
#include "device/hid_bus.h"
#include "presenters/error_text.h"
#include "device/reports.h"
#include "native/reference.h"

namespace obrint {
namespace {

TEST(Units, SumsMatchTheirDefinitionAtEveryBlockLengthAndCarry) {
  for (const std::uint8_t fill : {0x00, 0x7F, 0xFF}) {
    const auto block = fill ? reference::Bytes(56, fill) : reference::RandomBytes(56, 9);
    for (std::size_t n = 0; n <= 56; ++n) {
      EXPECT_EQ(BlockSum(std::span(block).first(n)), reference::BlockSum(block.data(), n)) << n;
    }
  }
  EXPECT_EQ(Fold(0xFFFF'FFFF), 0xFFFE) << "the carry out of the fold is dropped";
  const reference::Bytes image = reference::RandomBytes(65535, 3);
  EXPECT_EQ(ImageTotal(image), reference::ImageTotal(image));
  EXPECT_EQ(ImageChecksum(image), reference::ImageChecksum(image));
}

TEST(Units, ShortBuffersAreRefusedAndTheRestartIsTriedTwiceAtMost) {
  struct Refusing : HidDevice {
    bool GetFeature(std::uint8_t* r, std::size_t) override { return ids.push_back(r[0]), false; }
    bool SetFeature(const std::uint8_t* r, std::size_t) override {
      return ids.push_back(r[0]), false;
    }
    std::vector<std::uint8_t> ids;
  } device;
  std::array<std::uint8_t, 63> buf{};
  EXPECT_FALSE(GetReport61(device, buf) || SetReport61(device, buf) ||
               GetReport60(device, std::span(buf).first(14)) ||
               GetReport58(device, std::span(buf).first(3)));
  EXPECT_TRUE(device.ids.empty());
  EXPECT_FALSE(GetReport58(device, buf) || SetReport58(device, 1));
  EXPECT_EQ(device.ids, (std::vector<std::uint8_t>{0x58, 0x06, 0x58, 0x06}));
}

// One thread at a time: a look waits while another thread looks, and is refused at once where the
// other keeps the interface (also where that look became a keep while it waited); a keep ends with
// its holder's ReleaseAll.
TEST(Units, InterfaceLeasesHoldEachInterfaceForOneThread) {
  InterfaceLeases leases;
  std::promise<void> looking, kept, release;
  std::thread other([&] {
    InterfaceLeases::Look look(leases, "/dev/HIDRAW3");
    looking.set_value();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    look.Keep();
    kept.set_value();
    release.get_future().wait();
    leases.ReleaseAll();
  });
  looking.get_future().wait();
  EXPECT_FALSE(InterfaceLeases::Look(leases, "/dev/hidraw3")) << "kept while this one waited";
  kept.get_future().wait();
  EXPECT_TRUE(leases.HeldByOther("/dev/hidraw3"));
  EXPECT_TRUE(InterfaceLeases::Look(leases, "/dev/hidraw4"));
  release.set_value();
  other.join();
  EXPECT_TRUE(InterfaceLeases::Look(leases, "/dev/hidraw3"));
}

TEST(Units, ErrorTextsAtTheirEdges) {
  using presenters::FallbackErrorText, presenters::TrimTrailingLineBreak;
  for (const auto& [text, trimmed] :
       std::vector<std::pair<std::string, std::string>>{{"Denied.\r\n", "Denied."},
                                                        {"a\n\n", "a\n"},
                                                        {"a\r", "a\r"},
                                                        {"\n", "\n"},
                                                        {"\r\n", ""}}) {
    EXPECT_EQ(TrimTrailingLineBreak(text), trimmed);
  }
  for (const auto& [code, text] :
       std::vector<std::pair<std::uint32_t, std::string>>{{0x80040200u, "Unknown error 0x80040200"},
                                                          {0x80040201u, "IDispatch error #1"},
                                                          {0x8004FFFFu, "IDispatch error #65023"},
                                                          {0x80050000u, "Unknown error 0x80050000"},
                                                          {0u, "Unknown error 0x0"}}) {
    EXPECT_EQ(FallbackErrorText(code), text);
  }
}

}  // namespace
}  // namespace obrint
