#include "cli/yield_output.h"

#include <algorithm>
#include <array>
#include <set>
#include <string>
#include <vector>

#include "device/text.h"

namespace obrint::cli {
namespace {

using records::FailedHeadset;
using records::GroupSummary;
using records::OutcomeName;
using records::ReasonCount;
using records::UnreadableLine;

std::string YieldText(const GroupSummary& group) {
  return group.yieldPercent ? FormatFixed(*group.yieldPercent, 1) + " %" : "-";
}

std::string Seconds(const std::optional<std::uint64_t>& ms) {
  return ms ? FormatFixed(static_cast<double>(*ms) / 1000, 1) + " s" : "-";
}

std::string PercentText(const records::HeadsetYield& yield) {
  return (yield.yieldPercent ? FormatFixed(*yield.yieldPercent, 1) + " %" : "-") + " of " +
         std::to_string(yield.headsets);
}

// The shortest prefix length, 8 digits or more, that tells every image of the report apart.
std::size_t ImagePrefixLength(const records::Yield& report) {
  std::set<std::string_view> images;
  for (const GroupSummary& group : report.groups) images.insert(group.imageSha256);
  std::size_t length = 8;
  std::string_view previous;
  for (std::string_view image : images) {  // in order: only neighbours can share a longer prefix
    const auto differ = std::mismatch(previous.begin(), previous.end(), image.begin(), image.end());
    length = std::max(length, static_cast<std::size_t>(differ.second - image.begin()) + 1);
    previous = image;
  }
  return std::min<std::size_t>(length, 64);
}

using Row = std::vector<std::string>;

std::vector<std::size_t> Widths(const std::vector<Row>& rows) {
  std::vector<std::size_t> widths;
  for (const Row& row : rows) {
    widths.resize(std::max(widths.size(), row.size()), 0);
    for (std::size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], row[c].size());
  }
  return widths;
}

// Cells padded to their column's width, numbers (`right`) aligned right, two spaces apart.
void WriteRow(std::ostream& out, const Row& row, const std::vector<std::size_t>& widths,
              const std::vector<bool>& right) {
  std::string line;
  for (std::size_t c = 0; c < row.size(); ++c) {
    const std::string pad(widths[c] - row[c].size(), ' ');
    const bool last = c + 1 == row.size();
    line += right[c] ? pad + row[c] : last ? row[c] : row[c] + pad;
    if (!last) line += "  ";
  }
  out << line << '\n';
}

std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + '"';
}

// The line's figures in short: yields, pace and durations, then the most frequent failures and
// the USB ports with the largest share of failed runs.
constexpr std::size_t kFew = 3;

void WriteLineText(const records::LineFigures& line, std::ostream& out) {
  out << "\nLine: " << line.runs << " runs, " << line.flashed << " flashed, " << line.failed
      << " failed; " << (line.headsetsPerHour ? FormatFixed(*line.headsetsPerHour, 1) : "-")
      << " headsets per hour (hours with a run: " << line.byHour.size() << ")\nFirst-pass yield "
      << PercentText(line.firstPass) << " headsets, final yield " << PercentText(line.final)
      << "\nFlashed runs' duration: median " << Seconds(line.durations.medianMs)
      << ", 95th percentile " << Seconds(line.durations.p95Ms) << '\n';
  // The few that stand out; the CSV, the JSON and the page give them all.
  for (std::size_t i = 0; i < std::min<std::size_t>(line.failuresByReason.size(), kFew); ++i) {
    const ReasonCount& r = line.failuresByReason[i];
    out << (i ? "" : "Most frequent failures:\n") << "  " << r.count << " failed: " << r.reason
        << '\n';
  }
  std::vector<records::PortCount> ports;
  std::copy_if(line.failuresByPort.begin(), line.failuresByPort.end(), std::back_inserter(ports),
               [](const records::PortCount& p) { return p.failed > 0; });
  std::stable_sort(ports.begin(), ports.end(), [](const auto& a, const auto& b) {
    return a.failed * b.runs > b.failed * a.runs;  // the larger share of failed runs first
  });
  for (std::size_t i = 0; i < std::min(ports.size(), kFew); ++i) {
    out << (i ? "" : "USB ports with the most failed runs:\n") << "  " << ports[i].failed << " of "
        << ports[i].runs << " runs failed at " << ports[i].station << " port " << ports[i].usbPort
        << '\n';
  }
}

// The CSV's columns; each row fills those of its kind.
constexpr std::string_view kCsvColumns[] = {
    "kind",    "image_sha256", "day",         "station",       "runs",
    "flashed", "failed",       "not_started", "yield_percent", "median_ms",
    "reason",  "count",        "headsets",    "p95_ms",        "headsets_per_hour",
    "hour",    "usb_port",     "from_ms",     "to_ms"};
using CsvCells = std::vector<std::pair<std::string_view, std::string>>;

// RFC 4180 quoting; the cells of `where` and then of `figures`, the others empty.
void WriteCsvRow(std::ostream& out, std::string_view kind, const CsvCells& where,
                 const CsvCells& figures) {
  std::array<std::string, std::size(kCsvColumns)> row;
  row[0] = kind;
  for (const CsvCells* cells : {&where, &figures}) {
    for (const auto& [column, text] : *cells) {
      row.at(std::find(std::begin(kCsvColumns), std::end(kCsvColumns), column) -
             std::begin(kCsvColumns)) = CsvField(text);
    }
  }
  for (std::size_t c = 0; c < row.size(); ++c) out << (c ? "," : "") << row[c];
  out << '\n';
}

}  // namespace

void WriteYieldText(const records::Yield& report, std::ostream& out) {
  out << report.records << " records";
  if (report.outsideFilter > 0) out << " (and " << report.outsideFilter << " outside the filter)";
  out << " in " << report.groups.size() << " groups of image, day and station\n";
  const std::size_t prefix = ImagePrefixLength(report);

  if (!report.groups.empty()) {
    std::vector<Row> rows = {
        {"Image", "Day", "Station", "Runs", "Flashed", "Failed", "Not started", "Yield", "Median"}};
    for (const GroupSummary& g : report.groups) {
      rows.push_back({g.imageSha256.substr(0, prefix), g.day, g.station, std::to_string(g.runs),
                      std::to_string(g.flashed), std::to_string(g.failed),
                      std::to_string(g.notStarted), YieldText(g), Seconds(g.medianMs)});
    }
    const std::vector<std::size_t> widths = Widths(rows);
    const std::vector<bool> right = {false, false, false, true, true, true, true, true, true};
    out << '\n';
    WriteRow(out, rows[0], widths, right);
    for (std::size_t i = 0; i < report.groups.size(); ++i) {
      WriteRow(out, rows[i + 1], widths, right);
      // Its failures beneath it: count, then reason.
      for (const ReasonCount& failure : report.groups[i].failures) {
        out << "    " << failure.count << " failed: " << failure.reason << '\n';
      }
    }
  }

  WriteLineText(report.line, out);
  out << "\nHeadsets whose last record failed: " << report.failedHeadsets.size() << '\n';
  if (!report.failedHeadsets.empty()) {
    std::vector<Row> rows = {{"MCU ID", "Ended", "Station", "Image", "Outcome", "Reason"}};
    for (const FailedHeadset& h : report.failedHeadsets) {
      rows.push_back({h.mcuId, h.ended, h.station, h.imageSha256.substr(0, prefix),
                      std::string(OutcomeName(h.outcome)), h.reason});
    }
    const std::vector<std::size_t> widths = Widths(rows);
    for (const Row& row : rows) WriteRow(out, row, widths, std::vector<bool>(row.size(), false));
  }
  if (report.withoutMcuId > 0) {
    out << "Records without an MCU ID, which name no headset: " << report.withoutMcuId << '\n';
  }
  out << '\n';
  WriteUnreadableLines(report, out);
}

void WriteYieldCsv(const records::Yield& report, std::ostream& out) {
  for (std::size_t c = 0; c < std::size(kCsvColumns); ++c) out << (c ? "," : "") << kCsvColumns[c];
  out << '\n';
  const auto yieldCell = [](const std::optional<double>& p) { return p ? FormatFixed(*p, 2) : ""; };
  const auto msCell = [](const std::optional<std::uint64_t>& ms) {
    return ms ? std::to_string(*ms) : "";
  };
  for (const GroupSummary& g : report.groups) {
    const CsvCells where = {
        {"image_sha256", g.imageSha256}, {"day", g.day}, {"station", g.station}};
    WriteCsvRow(out, "group", where,
                {{"runs", std::to_string(g.runs)},
                 {"flashed", std::to_string(g.flashed)},
                 {"failed", std::to_string(g.failed)},
                 {"not_started", std::to_string(g.notStarted)},
                 {"yield_percent", yieldCell(g.yieldPercent)},
                 {"median_ms", msCell(g.medianMs)}});
    for (const ReasonCount& failure : g.failures) {
      WriteCsvRow(out, "failure", where,
                  {{"reason", failure.reason}, {"count", std::to_string(failure.count)}});
    }
  }
  const records::LineFigures& line = report.line;
  WriteCsvRow(out, "line", {},
              {{"runs", std::to_string(line.runs)},
               {"flashed", std::to_string(line.flashed)},
               {"failed", std::to_string(line.failed)},
               {"median_ms", msCell(line.durations.medianMs)},
               {"p95_ms", msCell(line.durations.p95Ms)},
               {"headsets_per_hour", yieldCell(line.headsetsPerHour)}});
  const auto headsetRow = [&](const char* kind, const CsvCells& where,
                              const records::HeadsetYield& y) {
    WriteCsvRow(out, kind, where,
                {{"headsets", std::to_string(y.headsets)},
                 {"flashed", std::to_string(y.flashed)},
                 {"yield_percent", yieldCell(y.yieldPercent)}});
  };
  headsetRow("line_first_pass", {}, line.firstPass);
  headsetRow("line_final", {}, line.final);
  for (const records::DayStationYield& d : line.byDayStation) {
    headsetRow("first_pass", {{"day", d.day}, {"station", d.station}}, d.firstPass);
    headsetRow("final", {{"day", d.day}, {"station", d.station}}, d.final);
  }
  for (const records::HourCount& h : line.byHour) {
    WriteCsvRow(out, "hour", {{"hour", h.hour}},
                {{"flashed", std::to_string(h.flashed)}, {"failed", std::to_string(h.failed)}});
  }
  for (const ReasonCount& r : line.failuresByReason) {
    WriteCsvRow(out, "reason", {}, {{"reason", r.reason}, {"count", std::to_string(r.count)}});
  }
  for (const records::PortCount& p : line.failuresByPort) {
    WriteCsvRow(out, "port", {{"station", p.station}, {"usb_port", p.usbPort}},
                {{"runs", std::to_string(p.runs)}, {"failed", std::to_string(p.failed)}});
  }
  for (const records::DurationBin& b : line.durations.histogram) {
    WriteCsvRow(out, "duration", {},
                {{"from_ms", std::to_string(b.fromMs)},
                 {"to_ms", std::to_string(b.toMs)},
                 {"runs", std::to_string(b.runs)}});
  }
}

void WriteUnreadableLines(const records::Yield& report, std::ostream& out) {
  out << "Unreadable lines: " << report.unreadable << '\n';
  for (const UnreadableLine& line : report.namedUnreadable) {
    out << "  " << line.where << ": " << line.why << '\n';
  }
  if (report.unreadable > report.namedUnreadable.size()) {
    out << "  and " << report.unreadable - report.namedUnreadable.size() << " more\n";
  }
}

}  // namespace obrint::cli
