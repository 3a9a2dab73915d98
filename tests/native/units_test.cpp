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
#include "device/sha256.h"
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

// The standard's answers for the empty message and "abc", and lengths on either side of where the
// padding spills into a second block (55/56 bytes) and where the message fills one (63-65).
TEST(Units, Sha256AtThePaddingBoundaries) {
  const std::vector<std::pair<std::string, std::string>> known = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {std::string(55, 'a'), "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
      {std::string(56, 'a'), "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a"},
      {std::string(63, 'a'), "7d3e74a05d7db15bce4ad9ec0658ea98e3f06eeecf16b4c6fff2da457ddc2f34"},
      {std::string(64, 'a'), "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
      {std::string(65, 'a'), "635361c48bb9eab14198e76ea8ab7f1a41685d6ad62aa9146d301d4f17eb0ae0"},
  };
  for (const auto& [message, digest] : known) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(message.data());
    EXPECT_EQ(Sha256Hex({bytes, message.size()}), digest) << message.size() << " bytes";
  }
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
