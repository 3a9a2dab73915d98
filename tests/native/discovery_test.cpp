// Which registry subkey names the headset search accepts, and the paths it builds from them.
#include "core/discovery.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/ports.h"

namespace obrint {
namespace {

constexpr char kGuidSuffix[] = "#{4d1e55b2-f16f-11cf-88cb-001111000030}";

std::string SubkeyName(const std::string& hardwarePart) {
  return "##?#" + hardwarePart + "#7&1a2b3c4d&0&0000" + kGuidSuffix;
}

// Records every candidate the search tries and answers from a list of paths that open.
class FakeOpener {
 public:
  explicit FakeOpener(std::vector<bool> answers = {}) : answers_(std::move(answers)) {}
  OpensFn fn() {
    return [this](const char* path) {
      tried.emplace_back(path);
      const std::size_t i = tried.size() - 1;
      return i < answers_.size() && answers_[i];
    };
  }
  std::vector<std::string> tried;

 private:
  std::vector<bool> answers_;
};

TEST(DiscoveryPatterns, CarryTheIdsAsFourLowerCaseHexDigits) {
  char buf[kDiscoveryBufferSize];
  EXPECT_EQ(
      FormatDiscoveryPattern(buf, DiscoveryPattern::kDevice, kHeadsetVendorId, kBootProductId),
      "#VID_2833&PID_0001#");
  EXPECT_EQ(FormatDiscoveryPattern(buf, DiscoveryPattern::kFirstInterface, kHeadsetVendorId,
                                   kBootProductId),
            "#VID_2833&PID_0001&MI_00#");
  EXPECT_STREQ(buf, "#VID_2833&PID_0001&MI_00#") << "the text is zero-terminated in the buffer";
  EXPECT_EQ(FormatDiscoveryPattern(buf, DiscoveryPattern::kDevice, 0xABCD, 0x00EF),
            "#VID_abcd&PID_00ef#");
}

TEST(DiscoveryPatterns, ShortBuffersAreNeverOverrun) {
  char small[8] = {};
  EXPECT_EQ(FormatDiscoveryPattern(small, DiscoveryPattern::kDevice, 0x2833, 1), "#VID_28");
  EXPECT_EQ(small[7], '\0');
  EXPECT_EQ(FormatDiscoveryPattern(std::span<char>(), DiscoveryPattern::kDevice, 0x2833, 1), "");
}

TEST(CandidatePath, ReplacesTheFirstFourCharactersOfTheName) {
  char buf[kDiscoveryBufferSize];
  EXPECT_EQ(FormatCandidatePath(buf, SubkeyName("HID#VID_2833&PID_0001")),
            std::string("\\\\.\\HID#VID_2833&PID_0001#7&1a2b3c4d&0&0000") + kGuidSuffix);
  // The first four characters are dropped whatever they are.
  EXPECT_EQ(FormatCandidatePath(buf, "XYZWhid#vid_2833&pid_0001#x"),
            "\\\\.\\hid#vid_2833&pid_0001#x");
  EXPECT_STREQ(buf, "\\\\.\\hid#vid_2833&pid_0001#x");
}

TEST(CandidatePath, NamesOfFourCharactersOrFewerGiveThePrefixAlone) {
  char buf[kDiscoveryBufferSize];
  for (const char* name : {"", "#", "##?", "##?#"}) {
    EXPECT_EQ(FormatCandidatePath(buf, name), "\\\\.\\") << "name '" << name << "'";
  }
  EXPECT_EQ(FormatCandidatePath(buf, "##?#a"), "\\\\.\\a");
}

TEST(CandidatePath, TheLongestReadableNameFitsTheBuffer) {
  char buf[kDiscoveryBufferSize];
  const std::string name = "##?#" + std::string(250, 'n');  // 254 characters
  const std::string_view path = FormatCandidatePath(buf, name);
  EXPECT_EQ(path.size(), 254u);
  EXPECT_EQ(path.substr(4), std::string(250, 'n'));

  char small[10];
  EXPECT_EQ(FormatCandidatePath(small, name), "\\\\.\\nnnnn");
}

TEST(CaseInsensitiveSearch, FoldsAsciiLettersOnly) {
  EXPECT_TRUE(ContainsIgnoringAsciiCase("ab#VID_2833&pid_0001#cd", "#vid_2833&PID_0001#"));
  EXPECT_TRUE(ContainsIgnoringAsciiCase("#vid_abcd#", "#VID_ABCD#"));
  EXPECT_FALSE(ContainsIgnoringAsciiCase("#vid_2833", "#vid_2833#"));
  EXPECT_FALSE(ContainsIgnoringAsciiCase("short", "longer than the haystack"));
  // Bytes outside ASCII compare as they are: no code-page case mapping.
  EXPECT_FALSE(ContainsIgnoringAsciiCase("\xC4", "\xE4"));
  EXPECT_TRUE(ContainsIgnoringAsciiCase("x\xC4y", "\xC4Y"));
  // '@' and '[' sit next to the upper-case letters and must not fold into '`' and '{'.
  EXPECT_FALSE(ContainsIgnoringAsciiCase("@[", "`{"));
  EXPECT_TRUE(ContainsIgnoringAsciiCase("anything", ""));
}

class SubkeyDecision : public ::testing::Test {
 protected:
  bool Try(const std::string& name, FakeOpener& opener, std::uint16_t vid = 0x2833,
           std::uint16_t pid = 0x0001) {
    return TryDiscoverySubkey(buf_, name, vid, pid, opener.fn());
  }
  char buf_[kDiscoveryBufferSize] = {};
};

// The device pattern in either case, hex digits of any case, and the first interface of a
// composite device: one candidate, the name's own, which the buffer holds after it opened.
TEST_F(SubkeyDecision, MatchingNamesTryTheirOwnCandidate) {
  const struct {
    const char* part;
    std::uint16_t vid;
    std::uint16_t pid;
  } cases[] = {
      {"HID#VID_2833&PID_0001", 0x2833, 0x0001},       {"hid#vid_2833&pid_0001", 0x2833, 0x0001},
      {"HID#Vid_2833&pId_0001", 0x2833, 0x0001},       {"HID#VID_ABCD&PID_00EF", 0xABCD, 0x00EF},
      {"USB#VID_2833&PID_0001&MI_00", 0x2833, 0x0001},
  };
  for (const auto& c : cases) {
    const std::string name = SubkeyName(c.part);
    FakeOpener opener({true});
    EXPECT_TRUE(Try(name, opener, c.vid, c.pid)) << name;
    ASSERT_EQ(opener.tried.size(), 1u) << name;
    EXPECT_EQ(opener.tried[0], "\\\\.\\" + name.substr(4));
    EXPECT_EQ(std::string(buf_), opener.tried[0]) << "the buffer holds the path that opened";
  }
}

TEST_F(SubkeyDecision, LaterInterfacesAndOtherProductsNeverMatch) {
  for (const char* part :
       {"USB#VID_2833&PID_0001&MI_01", "USB#VID_2833&PID_0001&MI_0", "HID#VID_2833&PID_00012",
        "HID#VID_2833&PID_0001&COL01", "HID#VID_2833&PID_0001X", "HID#VID_2833&PID_0021",
        "HID#VID_2834&PID_0001", "HID#VID_2833PID_0001", "HID#VID_02833&PID_0001"}) {
    FakeOpener opener({true, true});
    EXPECT_FALSE(Try(SubkeyName(part), opener)) << part;
    EXPECT_TRUE(opener.tried.empty()) << part << ": no candidate is tried for a name that does "
                                      << "not carry a pattern";
  }
}

TEST_F(SubkeyDecision, ThePatternMayStandAnywhereInTheName) {
  FakeOpener opener({true});
  // No "##?#" start: the first four characters still make way for the prefix.
  EXPECT_TRUE(Try("abcdef#VID_2833&PID_0001#tail", opener));
  ASSERT_EQ(opener.tried.size(), 1u);
  EXPECT_EQ(opener.tried[0], "\\\\.\\ef#VID_2833&PID_0001#tail");
}

TEST_F(SubkeyDecision, ACandidateThatDoesNotOpenIsPassedOver) {
  FakeOpener opener({false});
  EXPECT_FALSE(Try(SubkeyName("HID#VID_2833&PID_0001"), opener));
  EXPECT_EQ(opener.tried.size(), 1u) << "the interface-0 pattern is not in the name";
}

TEST_F(SubkeyDecision, DevicePatternIsTriedBeforeTheInterfacePattern) {
  // A name carrying both: the device pattern's candidate first, then the same candidate again for
  // the interface-0 pattern.
  const std::string name = "##?#HID#VID_2833&PID_0001#x#VID_2833&PID_0001&MI_00#";
  FakeOpener failsOnce({false, true});
  EXPECT_TRUE(Try(name, failsOnce));
  EXPECT_EQ(failsOnce.tried.size(), 2u);

  FakeOpener opensAtOnce({true, true});
  EXPECT_TRUE(Try(name, opensAtOnce));
  EXPECT_EQ(opensAtOnce.tried.size(), 1u) << "the first candidate that opens ends the decision";

  FakeOpener neverOpens;
  EXPECT_FALSE(Try(name, neverOpens));
  EXPECT_EQ(neverOpens.tried.size(), 2u);
}

TEST_F(SubkeyDecision, AnEmptyBufferTriesNothing) {
  FakeOpener opener({true});
  EXPECT_FALSE(TryDiscoverySubkey(std::span<char>(), SubkeyName("HID#VID_2833&PID_0001"), 0x2833,
                                  0x0001, opener.fn()));
  EXPECT_TRUE(opener.tried.empty());
}

}  // namespace
}  // namespace obrint
