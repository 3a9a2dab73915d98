// The simulated headset's identities, its answers under each firmware, restarts and faults.
#include <gtest/gtest.h>

#include <vector>

#include "core/reports.h"
#include "sim/headset_sim.h"

namespace obrint::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A report of the given ID and length, the rest filled with a marker the headset must overwrite
// (or, past the length, leave alone).
Bytes Report(std::uint8_t id, std::size_t length, std::uint8_t fill = 0xEE) {
  Bytes r(length, fill);
  r[0] = id;
  return r;
}

bool Get(Headset& h, Bytes& r, std::size_t length) {
  return h.GetFeature(h.generation(), r.data(), length);
}
bool Set(Headset& h, const Bytes& r) { return h.SetFeature(h.generation(), r.data(), r.size()); }

Headset BootHeadset() {
  HeadsetConfig config;
  config.startIn = Firmware::kBoot;
  return Headset(config);
}

// ---- identities -------------------------------------------------------------------------------

TEST(SimIdentity, ApplicationAndBootProductIdsAndPaths) {
  HeadsetConfig config;
  config.applicationProductId = 0x00AB;
  Headset app(config);
  EXPECT_TRUE(app.present());
  EXPECT_EQ(app.firmware(), Firmware::kApplication);
  EXPECT_EQ(app.productId(), 0x00AB);
  EXPECT_EQ(
      app.interfacePath(),
      "\\\\.\\hid#vid_2833&pid_00ab#7&1a2b3c4d&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}");

  Headset boot = BootHeadset();
  EXPECT_EQ(boot.firmware(), Firmware::kBoot);
  EXPECT_EQ(boot.productId(), kBootProductId);
  EXPECT_EQ(
      boot.interfacePath(),
      "\\\\.\\hid#vid_2833&pid_0001#7&1a2b3c4d&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}");
}

// ---- application firmware ---------------------------------------------------------------------

TEST(SimApplication, VersionAndMcuIdFillOnlyTheirLength) {
  HeadsetConfig config;
  config.applicationVersion = 0x1234;
  config.mcuId = {0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8, 0xA9, 0xAA, 0xAB};
  Headset h(config);

  Bytes r = Report(0x5F, 64);
  ASSERT_TRUE(Get(h, r, 5));
  EXPECT_EQ(Bytes(r.begin(), r.begin() + 5), (Bytes{0x5F, 0, 0, 0x34, 0x12}));
  EXPECT_EQ(r[5], 0xEE);
  EXPECT_EQ(r[63], 0xEE);

  r = Report(0x60, 64);
  ASSERT_TRUE(Get(h, r, 15));
  EXPECT_EQ(r[1], 0);
  EXPECT_EQ(r[2], 0);
  EXPECT_EQ(Bytes(r.begin() + 3, r.begin() + 15), Bytes(config.mcuId.begin(), config.mcuId.end()));
  EXPECT_EQ(r[15], 0xEE);
}

TEST(SimApplication, RestartReportAnswersUnderBothIdsUnlessOnlyAsReport6) {
  Headset h;
  Bytes r = Report(0x58, 4);
  EXPECT_TRUE(Get(h, r, 4));
  r = Report(0x06, 4);
  EXPECT_TRUE(Get(h, r, 4));

  HeadsetConfig config;
  config.restartOnlyAsReport6 = true;
  Headset only6(config);
  r = Report(0x58, 4);
  EXPECT_FALSE(Get(only6, r, 4));
  EXPECT_EQ(r, Report(0x58, 4)) << "a failed get leaves the buffer alone";
  r = Report(0x06, 4);
  EXPECT_TRUE(Get(only6, r, 4));
  EXPECT_FALSE(Set(only6, Bytes{0x58, 1, 0, 1}));
  EXPECT_TRUE(only6.present());
  EXPECT_TRUE(Set(only6, Bytes{0x06, 1, 0, 1}));
  EXPECT_FALSE(only6.present());
}

TEST(SimApplication, RunModeIsReadBackAtOnceAndRunsAfterRestart) {
  HeadsetConfig config;
  config.runMode = kRunModeDk2;
  Headset h(config);
  Bytes r = Report(0x59, 4);
  ASSERT_TRUE(Get(h, r, 4));
  EXPECT_EQ(r, (Bytes{0x59, 1, 0, kRunModeDk2}));

  ASSERT_TRUE(Set(h, Bytes{0x59, 1, 0, kRunModeDk1}));
  ASSERT_TRUE(Get(h, r, 4));
  EXPECT_EQ(r[3], kRunModeDk1);
  EXPECT_EQ(h.activeRunMode(), kRunModeDk2);

  ASSERT_TRUE(Set(h, Bytes{0x58, 1, 0, 0}));
  h.Advance(config.restartMs);
  ASSERT_TRUE(h.present());
  EXPECT_EQ(h.firmware(), Firmware::kApplication);
  EXPECT_EQ(h.activeRunMode(), kRunModeDk1);
  ASSERT_TRUE(Get(h, r, 4));
  EXPECT_EQ(r[3], kRunModeDk1);
}

TEST(SimApplication, MalformedComposedReportsAreRefused) {
  Headset h;
  EXPECT_FALSE(Set(h, Bytes{0x59, 0, 0, kRunModeDk1}));
  EXPECT_FALSE(Set(h, Bytes{0x59, 1, 1, kRunModeDk1}));
  EXPECT_EQ(h.runMode(), h.config().runMode);
  EXPECT_FALSE(Set(h, Bytes{0x58, 1, 0, 2}));
  EXPECT_FALSE(Set(h, Bytes{0x58, 0, 0, 1}));
  EXPECT_TRUE(h.present());
  EXPECT_EQ(h.restarts(), 0);
}

TEST(SimApplication, EveryTransferMustUseTheReportsOwnLength) {
  Headset h;
  for (std::uint8_t id :
       {0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x58, 0x59, 0x5F, 0x60}) {
    const std::size_t length = ReportLength(id);
    ASSERT_GT(length, 0u);
    Bytes r = Report(id, 80);
    EXPECT_TRUE(Get(h, r, length)) << int{id};
    EXPECT_FALSE(Get(h, r, length - 1)) << int{id};
    EXPECT_FALSE(Get(h, r, length + 1)) << int{id};
  }
  Bytes r = Report(0x5E, 64);
  EXPECT_FALSE(Get(h, r, 4)) << "an ID outside the catalogue";
  EXPECT_FALSE(h.GetFeature(h.generation(), r.data(), 0));
}

TEST(SimApplication, ReadOnlyReportsAndTheTransferReportRefuseSets) {
  Headset h;
  EXPECT_FALSE(Set(h, Report(0x5F, 5)));
  EXPECT_FALSE(Set(h, Report(0x60, 15)));
  EXPECT_FALSE(Set(h, Report(0x61, 64)));
  Bytes r = Report(0x61, 64);
  EXPECT_FALSE(Get(h, r, 64));
}

TEST(SimApplication, PlainReportsEchoTheirLastSet) {
  Headset h;
  for (std::uint8_t id : {0x02, 0x03, 0x04, 0x05, 0x07, 0x08, 0x09, 0x0A}) {
    const std::size_t length = ReportLength(id);
    Bytes r = Report(id, length);
    ASSERT_TRUE(Get(h, r, length));
    EXPECT_EQ(r, Report(id, length, 0)) << "zeros before any set, id " << int{id};

    Bytes sent(length);
    sent[0] = id;
    for (std::size_t i = 1; i < length; ++i) sent[i] = static_cast<std::uint8_t>(i * 7 + id);
    ASSERT_TRUE(Set(h, sent));
    r = Report(id, length);
    ASSERT_TRUE(Get(h, r, length));
    EXPECT_EQ(r, sent) << int{id};
  }
}

// ---- boot firmware ----------------------------------------------------------------------------

TEST(SimBoot, AnswersOnlyVersionMcuIdAndTransfer) {
  HeadsetConfig config;
  config.startIn = Firmware::kBoot;
  config.bootVersion = 0x0203;
  Headset h(config);

  Bytes r = Report(0x58, 4);
  EXPECT_FALSE(Get(h, r, 4)) << "the host's probe must fail on the boot firmware";
  r = Report(0x06, 4);
  EXPECT_FALSE(Get(h, r, 4));
  EXPECT_FALSE(Set(h, Bytes{0x58, 1, 0, 1}));
  r = Report(0x59, 4);
  EXPECT_FALSE(Get(h, r, 4));
  r = Report(0x02, 7);
  EXPECT_FALSE(Get(h, r, 7));

  r = Report(0x5F, 5);
  ASSERT_TRUE(Get(h, r, 5));
  EXPECT_EQ(r, (Bytes{0x5F, 0, 0, 0x03, 0x02}));
  r = Report(0x60, 15);
  ASSERT_TRUE(Get(h, r, 15));
  EXPECT_EQ(Bytes(r.begin() + 3, r.end()), Bytes(config.mcuId.begin(), config.mcuId.end()));
  r = Report(0x61, 64);
  EXPECT_TRUE(Get(h, r, 64));
  EXPECT_FALSE(Get(h, r, 63));
}

// ---- restarts ---------------------------------------------------------------------------------

TEST(SimRestart, BootFlagOneLeavesAtOnceAndReturnsAsBootFirmware) {
  Headset h;
  const std::uint32_t before = h.generation();
  const std::uint16_t appPid = h.productId();
  ASSERT_TRUE(Set(h, Bytes{0x58, 1, 0, 1}));
  EXPECT_FALSE(h.present());
  EXPECT_NE(h.generation(), before);
  EXPECT_EQ(h.restarts(), 1);

  Bytes r = Report(0x5F, 5);
  EXPECT_FALSE(h.GetFeature(before, r.data(), 5)) << "the old handle is stale";

  h.Advance(h.config().restartMs - 1);
  EXPECT_FALSE(h.present());
  const std::uint32_t away = h.generation();
  h.Advance(1);
  ASSERT_TRUE(h.present());
  EXPECT_EQ(h.firmware(), Firmware::kBoot);
  EXPECT_EQ(h.productId(), kBootProductId);
  EXPECT_NE(h.generation(), away);
  EXPECT_NE(h.generation(), before);
  EXPECT_FALSE(h.GetFeature(before, r.data(), 5));
  EXPECT_FALSE(h.GetFeature(away, r.data(), 5));
  EXPECT_TRUE(h.GetFeature(h.generation(), r.data(), 5));
  EXPECT_NE(appPid, h.productId());
}

TEST(SimRestart, BootFlagZeroRestartsTheApplication) {
  HeadsetConfig config;
  config.restartMs = 0;
  Headset h(config);
  ASSERT_TRUE(Set(h, Bytes{0x06, 1, 0, 0}));
  EXPECT_FALSE(h.present());
  Bytes r = Report(0x5F, 5);
  EXPECT_FALSE(Get(h, r, 5));
  h.Advance(0);
  ASSERT_TRUE(h.present());
  EXPECT_EQ(h.firmware(), Firmware::kApplication);
  EXPECT_EQ(h.productId(), config.applicationProductId);
}

TEST(SimRestart, UnplugAbandonsARestartAndPlugInStartsTheApplication) {
  Headset h;
  ASSERT_TRUE(Set(h, Bytes{0x58, 1, 0, 1}));
  h.Unplug();
  h.Advance(10000);
  EXPECT_FALSE(h.present());
  const std::uint32_t away = h.generation();
  h.PlugIn();
  EXPECT_TRUE(h.present());
  EXPECT_EQ(h.firmware(), Firmware::kApplication);
  EXPECT_NE(h.generation(), away);
}

// ---- faults -----------------------------------------------------------------------------------

TEST(SimFaults, RefusedReportsFailBothWays) {
  Headset h;
  h.faults().refusedReports = {0x5F, 0x59};
  Bytes r = Report(0x5F, 5);
  EXPECT_FALSE(Get(h, r, 5));
  r = Report(0x59, 4);
  EXPECT_FALSE(Get(h, r, 4));
  EXPECT_FALSE(Set(h, Bytes{0x59, 1, 0, kRunModeDk1}));
  EXPECT_NE(h.runMode(), kRunModeDk1);
  r = Report(0x60, 15);
  EXPECT_TRUE(Get(h, r, 15));
}

TEST(SimFaults, TheNthTransferFailsWithoutEffect) {
  Headset h;
  h.faults().failTransfer = 2;
  Bytes r = Report(0x5F, 5);
  EXPECT_TRUE(Get(h, r, 5));
  EXPECT_FALSE(Set(h, Bytes{0x59, 1, 0, kRunModeDk1}));
  EXPECT_NE(h.runMode(), kRunModeDk1);
  EXPECT_TRUE(Set(h, Bytes{0x59, 1, 0, kRunModeDk1}));
  EXPECT_EQ(h.runMode(), kRunModeDk1);
  EXPECT_EQ(h.transfers(), 3);
}

// ---- log --------------------------------------------------------------------------------------

TEST(SimLog, RecordsEveryTransferFailedOnesIncluded) {
  HeadsetConfig config;
  config.applicationVersion = 0x0431;
  Headset h(config);
  h.Advance(7);
  Bytes r = Report(0x5F, 64);
  ASSERT_TRUE(Get(h, r, 5));
  const std::uint32_t stale = h.generation();
  ASSERT_TRUE(Set(h, Bytes{0x58, 1, 0, 1}));
  h.Advance(h.config().restartMs);
  EXPECT_FALSE(h.GetFeature(stale, r.data(), 5));
  r = Report(0x58, 4);
  EXPECT_FALSE(Get(h, r, 4));

  const auto& log = h.log();
  ASSERT_EQ(log.size(), 4u);
  EXPECT_EQ(log[0].direction, TransferRecord::Direction::kGet);
  EXPECT_EQ(log[0].reportId, 0x5F);
  EXPECT_EQ(log[0].length, 5u);
  EXPECT_TRUE(log[0].ok);
  EXPECT_EQ(log[0].bytes, (Bytes{0x5F, 0, 0, 0x31, 0x04}));
  EXPECT_EQ(log[0].firmware, Firmware::kApplication);
  EXPECT_EQ(log[0].atMs, 7u);

  EXPECT_EQ(log[1].direction, TransferRecord::Direction::kSet);
  EXPECT_EQ(log[1].bytes, (Bytes{0x58, 1, 0, 1}));
  EXPECT_TRUE(log[1].ok);

  EXPECT_FALSE(log[2].ok);
  EXPECT_TRUE(log[2].bytes.empty());
  EXPECT_EQ(log[3].reportId, 0x58);
  EXPECT_FALSE(log[3].ok);
  EXPECT_EQ(log[3].firmware, Firmware::kBoot);
  EXPECT_EQ(log[3].atMs, 7u + h.config().restartMs);

  h.ClearLog();
  EXPECT_TRUE(h.log().empty());
}

}  // namespace
}  // namespace obrint::sim
