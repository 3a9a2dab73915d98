// The headset's feature reports: their IDs and fixed lengths, the transfers of those the headset
// operations use, and typed reads and writes of their fields.
//
// Every transfer is one synchronous exchange (two for the Restart report, which falls back to
// report ID 6). Byte 0 of a report is its ID, lengths count that byte, and fields of more than one
// byte are little-endian. A buffer shorter than the report is refused (false) without a transfer.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "device/failure.h"
#include "device/hid_device.h"

namespace obrint {

// The buffer that a headset operation passes to every report it exchanges.
inline constexpr std::size_t kReportBufferSize = 64;
using ReportBuffer = std::array<std::uint8_t, kReportBufferSize>;
using ReportSpan = std::span<std::uint8_t>;

inline constexpr std::uint8_t kRestartReport = 0x58;
inline constexpr std::uint8_t kRestartFallbackReport = 0x06;
inline constexpr std::uint8_t kRunModeReport = 0x59;
inline constexpr std::uint8_t kVersionReport = 0x5F;
inline constexpr std::uint8_t kMcuIdReport = 0x60;
inline constexpr std::uint8_t kTransferReport = 0x61;

// The transfers. A get writes the ID into buf[0] and lets the headset fill the report's length; a
// set sends the report's length of `buf` as it is.
// Reading the Restart report (falling back to report ID 6) is the probe for the application
// firmware: the boot firmware does not answer it.
bool GetReport58(HidDevice& device, ReportSpan buf);
bool GetReport5F(HidDevice& device, ReportSpan buf);
bool GetReport60(HidDevice& device, ReportSpan buf);
bool GetReport61(HidDevice& device, ReportSpan buf);
bool SetReport61(HidDevice& device, ReportSpan buf);
// Sends the Restart report [0x58, 1, 0, bootFlag ? 1 : 0], falling back to report ID 6.
bool SetReport58(HidDevice& device, int bootFlag);
// Sends the Run mode report [0x59, 1, 0, runMode] once.
bool SetReport59(HidDevice& device, std::uint8_t runMode);

// The microcontroller's ID: the 12 bytes of the MCU ID report, as they come.
using McuId = std::array<std::uint8_t, 12>;
// Its 24 hexadecimal digits: the three little-endian words, each as "%08X". The one text of an
// MCU ID, for every front end.
std::string FormatMcuId(const McuId& id);
// The ID back from its 24 hexadecimal digits; nullopt for any other text.
std::optional<McuId> ParseMcuId(std::string_view text);

enum class RunMode : std::uint8_t { kDk1, kDk2 };
// The lowest firmware version that has a run mode.
inline constexpr std::uint16_t kMinRunModeVersion = 0x0025;

// Typed reads through `aBuf` (its other bytes keep what the previous exchange left). A refused
// read is Failure::kReportRefused.
Result<std::uint16_t> ReadVersion(HidDevice& device, ReportBuffer& aBuf);
Result<McuId> ReadMcuId(HidDevice& device, ReportBuffer& aBuf);
// Byte 0xFE reads as DK1; every other byte as DK2.
Result<RunMode> ReadRunMode(HidDevice& device, ReportBuffer& aBuf);
// Failure::kRunModeRefused when the report did not go through.
Status WriteRunMode(HidDevice& device, RunMode mode);

}  // namespace obrint
