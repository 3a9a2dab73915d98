#include "cli/yield_output.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

namespace obrint::cli {
namespace {

using records::FailedHeadset;
using records::GroupSummary;
using records::OutcomeName;
using records::ReasonCount;
using records::UnreadableLine;

std::string Fixed(double value, int decimals) {
  char text[32];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

std::string YieldText(const GroupSummary& group) {
  return group.yieldPercent ? Fixed(*group.yieldPercent, 1) + " %" : "-";
}

std::string MedianText(const GroupSummary& group) {
  return group.medianMs ? Fixed(static_cast<double>(*group.medianMs) / 1000, 1) + " s" : "-";
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
                      std::to_string(g.notStarted), YieldText(g), MedianText(g)});
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
  out << "kind,image_sha256,day,station,runs,flashed,failed,not_started,yield_percent,median_ms,"
         "reason,count\n";
  for (const GroupSummary& g : report.groups) {
    const std::string group = g.imageSha256 + ',' + g.day + ',' + CsvField(g.station) + ',';
    out << "group," << group << g.runs << ',' << g.flashed << ',' << g.failed << ',' << g.notStarted
        << ',' << (g.yieldPercent ? Fixed(*g.yieldPercent, 2) : "") << ','
        << (g.medianMs ? std::to_string(*g.medianMs) : "") << ",,\n";
    for (const ReasonCount& failure : g.failures) {
      out << "failure," << group << ",,,,,," << CsvField(failure.reason) << ',' << failure.count
          << '\n';
    }
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

nlohmann::ordered_json YieldJson(const records::Yield& report) {
  using Json = nlohmann::ordered_json;
  Json groups = Json::array();
  for (const GroupSummary& g : report.groups) {
    Json failures = Json::array();
    for (const ReasonCount& f : g.failures)
      failures.push_back({{"reason", f.reason}, {"count", f.count}});
    Json group = {{"image_sha256", g.imageSha256}, {"day", g.day},
                  {"station", g.station},          {"runs", g.runs},
                  {"flashed", g.flashed},          {"failed", g.failed},
                  {"not_started", g.notStarted}};
    group["yield_percent"] =
        g.yieldPercent ? Json(std::round(*g.yieldPercent * 100) / 100) : Json(nullptr);
    group["median_ms"] = g.medianMs ? Json(*g.medianMs) : Json(nullptr);
    group["failures"] = std::move(failures);
    groups.push_back(std::move(group));
  }
  Json headsets = Json::array();
  for (const FailedHeadset& h : report.failedHeadsets) {
    headsets.push_back({{"mcu_id", h.mcuId},
                        {"ended", h.ended},
                        {"station", h.station},
                        {"image_sha256", h.imageSha256},
                        {"outcome", std::string(OutcomeName(h.outcome))},
                        {"reason", h.reason}});
  }
  Json lines = Json::array();
  for (const UnreadableLine& line : report.namedUnreadable) {
    lines.push_back({{"where", line.where}, {"why", line.why}});
  }
  Json json;
  json["records"] = report.records;
  json["outside_filter"] = report.outsideFilter;
  json["records_without_mcu_id"] = report.withoutMcuId;
  json["groups"] = std::move(groups);
  json["failed_headsets"] = std::move(headsets);
  json["unreadable"] = {{"count", report.unreadable}, {"lines", std::move(lines)}};
  return json;
}

}  // namespace obrint::cli
