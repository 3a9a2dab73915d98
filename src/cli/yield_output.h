// The yield report's forms: a text table for a person, CSV for a spreadsheet, a JSON object for a
// program, a page for a browser. Yield is a percentage; the median a duration in milliseconds
// (seconds in the text), both absent where a group has no run to give them.
#pragma once

#include <ostream>
#include <string>

#include <nlohmann/json_fwd.hpp>

#include "records/yield.h"

namespace obrint::cli {

// One row per group with its failures by reason beneath, the line's figures in short (yields,
// pace, durations, the most frequent failures and the USB ports that fail most), then the headsets
// whose last record failed, the records without an MCU ID, and the unreadable lines with their
// count. Images show as their shortest prefix (8 digits or more) that tells the report's images
// apart.
void WriteYieldText(const records::Yield& report, std::ostream& out);

// A header line, then rows of several kinds, told by the first column, so that a column sums
// right over the rows of one kind: a "group" row of a group's totals, followed by a "failure" row
// per failure reason (the group's image, day and station, the reason and its count); then the
// line's figures: a "line" row (runs, flashed, failed, median_ms, p95_ms, headsets_per_hour),
// "line_first_pass" and "line_final" rows (headsets, flashed, yield_percent), "first_pass" and
// "final" rows of those per day and station, "hour" rows (hour, flashed, failed), "reason" rows
// (reason, count), "port" rows (station, usb_port, runs, failed) and "duration" rows (from_ms,
// to_ms, runs). RFC 4180 quoting. Rows end with "\n": a text-mode stream on Windows makes that
// the CR LF the RFC names. Only figures: the caller tells of unreadable lines apart
// (WriteUnreadableLines on the error stream).
void WriteYieldCsv(const records::Yield& report, std::ostream& out);

// The unreadable lines: their count, then "LOG:LINE: why" for each named one, and how many more
// were not named.
void WriteUnreadableLines(const records::Yield& report, std::ostream& out);

// records, outside_filter, records_without_mcu_id, groups (image_sha256, day, station, runs,
// flashed, failed, not_started, yield_percent, median_ms, failures [{reason, count}]),
// failed_headsets (mcu_id, ended, station, image_sha256, outcome, reason, usb_port, history
// [{ended, station, usb_port, image_sha256, outcome, reason}]), line (the line's figures of
// line_figures.h, described in the README) and unreadable (count, lines [{where, why}]). An absent
// yield, median or rate is null.
nlohmann::ordered_json YieldJson(const records::Yield& report);

// One self-contained HTML page (its template res/yield_page.html) that makes no request when
// opened: the object of YieldJson, `report`, and a script that draws its charts (SVG) and tables;
// `source` says what it was made from (logs, since, image), shown above the figures.
std::string YieldPage(const nlohmann::ordered_json& report, const nlohmann::ordered_json& source);

}  // namespace obrint::cli
