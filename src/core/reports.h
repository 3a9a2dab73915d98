// The headset's feature reports: their IDs, fixed lengths and the get and set operations.
//
// Every operation makes one synchronous transfer (two for the Restart report, which falls back to
// report ID 6) and returns true when the transfer was done. Byte 0 of a report is its ID, lengths
// count that byte, and fields of more than one byte are little-endian. A buffer shorter than the
// report is refused (false) without any transfer.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "core/bytes.h"
#include "core/hid_device.h"

namespace obrint {

// The report buffer that each headset operation passes to every report operation it makes.
inline constexpr std::size_t kReportBufferSize = 64;
using ReportBuffer = std::array<std::uint8_t, kReportBufferSize>;

// Report IDs with a meaning of their own.
inline constexpr std::uint8_t kRestartReport = 0x58;
inline constexpr std::uint8_t kRestartFallbackReport = 0x06;
inline constexpr std::uint8_t kRunModeReport = 0x59;
inline constexpr std::uint8_t kVersionReport = 0x5F;
inline constexpr std::uint8_t kMcuIdReport = 0x60;
inline constexpr std::uint8_t kTransferReport = 0x61;

// Run modes carried in byte 3 of the Run mode report.
inline constexpr std::uint8_t kRunModeDk1 = 0xFE;
inline constexpr std::uint8_t kRunModeDk2 = 0xFD;

// Length in bytes (byte 0 included) of a report of the catalogue; 0 for an ID not in it.
std::size_t ReportLength(std::uint8_t reportId);

using ReportSpan = std::span<std::uint8_t>;

bool GetReport02(HidDevice& device, ReportSpan buf);
bool GetReport03(HidDevice& device, ReportSpan buf);
bool GetReport04(HidDevice& device, ReportSpan buf);
bool GetReport05(HidDevice& device, ReportSpan buf);
bool GetReport07(HidDevice& device, ReportSpan buf);
bool GetReport08(HidDevice& device, ReportSpan buf);
bool GetReport09(HidDevice& device, ReportSpan buf);
bool GetReport0A(HidDevice& device, ReportSpan buf);
bool GetReport58(HidDevice& device, ReportSpan buf);  // falls back to report ID 6
bool GetReport59(HidDevice& device, ReportSpan buf);
bool GetReport5F(HidDevice& device, ReportSpan buf);
bool GetReport60(HidDevice& device, ReportSpan buf);
bool GetReport61(HidDevice& device, ReportSpan buf);

bool SetReport02(HidDevice& device, ReportSpan buf);
bool SetReport03(HidDevice& device, ReportSpan buf);
bool SetReport04(HidDevice& device, ReportSpan buf);
bool SetReport05(HidDevice& device, ReportSpan buf);
bool SetReport07(HidDevice& device, ReportSpan buf);
bool SetReport08(HidDevice& device, ReportSpan buf);
bool SetReport09(HidDevice& device, ReportSpan buf);
bool SetReport0A(HidDevice& device, ReportSpan buf);
bool SetReport61(HidDevice& device, ReportSpan buf);

// Sends the Restart report [0x58, 1, 0, bootFlag ? 1 : 0], falling back to report ID 6.
bool SetReport58(HidDevice& device, int bootFlag);
// Sends the Run mode report [0x59, 1, 0, runMode] once.
bool SetReport59(HidDevice& device, std::uint8_t runMode);

}  // namespace obrint
