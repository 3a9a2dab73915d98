// The yield report as a JSON object, and the page made of it (yield_output.h).
#include <cmath>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string_view>

#include "cli/yield_output.h"
#include "device/sha256.h"
#include "device/text.h"
#include "yield_page_html.h"  // kYieldPageHtml, res/yield_page.html made a string

namespace obrint::cli {
namespace {

using namespace records;
using Json = nlohmann::ordered_json;

Json Hundredths(const std::optional<double>& value) {
  return value ? Json(std::round(*value * 100) / 100) : Json(nullptr);
}
Json OrNull(const std::optional<std::uint64_t>& value) {
  return value ? Json(*value) : Json(nullptr);
}

Json HeadsetYieldJson(const HeadsetYield& yield) {
  return {{"headsets", yield.headsets},
          {"flashed", yield.flashed},
          {"yield_percent", Hundredths(yield.yieldPercent)}};
}

Json ReasonsJson(const std::vector<ReasonCount>& counts) {
  Json json = Json::array();
  for (const ReasonCount& r : counts) json.push_back({{"reason", r.reason}, {"count", r.count}});
  return json;
}

Json LineJson(const LineFigures& line) {
  Json histogram = Json::array();
  for (const DurationBin& bin : line.durations.histogram) {
    histogram.push_back({{"from_ms", bin.fromMs}, {"to_ms", bin.toMs}, {"runs", bin.runs}});
  }
  Json days = Json::array();
  for (const DayStationYield& d : line.byDayStation) {
    days.push_back({{"day", d.day},
                    {"station", d.station},
                    {"first_pass", HeadsetYieldJson(d.firstPass)},
                    {"final", HeadsetYieldJson(d.final)}});
  }
  Json hours = Json::array();
  for (const HourCount& h : line.byHour) {
    hours.push_back({{"hour", h.hour}, {"flashed", h.flashed}, {"failed", h.failed}});
  }
  Json ports = Json::array();
  for (const PortCount& p : line.failuresByPort) {
    ports.push_back(
        {{"station", p.station}, {"usb_port", p.usbPort}, {"runs", p.runs}, {"failed", p.failed}});
  }
  return {{"runs", line.runs},
          {"flashed", line.flashed},
          {"failed", line.failed},
          {"first_pass", HeadsetYieldJson(line.firstPass)},
          {"final", HeadsetYieldJson(line.final)},
          {"headsets_per_hour", Hundredths(line.headsetsPerHour)},
          {"durations",
           {{"runs", line.durations.runs},
            {"median_ms", OrNull(line.durations.medianMs)},
            {"p95_ms", OrNull(line.durations.p95Ms)},
            {"histogram", std::move(histogram)}}},
          {"by_day_station", std::move(days)},
          {"by_hour", std::move(hours)},
          {"failures_by_reason", ReasonsJson(line.failuresByReason)},
          {"failures_by_port", std::move(ports)}};
}

// JSON to sit inside <script>: every "<" escaped (it can only stand in a string), so that no text
// of the logs can end the element.
std::string ScriptJson(const nlohmann::ordered_json& json) {
  std::string text;
  for (char c : json.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)) {
    text += c == '<' ? std::string_view("\\u003c") : std::string_view(&c, 1);
  }
  return text;
}

void Put(std::string& page, std::string_view placeholder, const std::string& text) {
  page.replace(page.find(placeholder), placeholder.size(), text);
}

}  // namespace

nlohmann::ordered_json YieldJson(const Yield& report) {
  Json groups = Json::array();
  for (const GroupSummary& g : report.groups) {
    Json group = {{"image_sha256", g.imageSha256}, {"day", g.day},
                  {"station", g.station},          {"runs", g.runs},
                  {"flashed", g.flashed},          {"failed", g.failed},
                  {"not_started", g.notStarted}};
    group["yield_percent"] = Hundredths(g.yieldPercent);
    group["median_ms"] = OrNull(g.medianMs);
    group["failures"] = ReasonsJson(g.failures);
    groups.push_back(std::move(group));
  }
  Json headsets = Json::array();
  for (const FailedHeadset& h : report.failedHeadsets) {
    Json history = Json::array();
    for (const EarlierRecord& e : h.history) {
      history.push_back({{"ended", e.ended},
                         {"station", e.station},
                         {"usb_port", e.usbPort},
                         {"image_sha256", e.imageSha256},
                         {"outcome", std::string(OutcomeName(e.outcome))},
                         {"reason", e.reason}});
    }
    headsets.push_back({{"mcu_id", h.mcuId},
                        {"ended", h.ended},
                        {"station", h.station},
                        {"image_sha256", h.imageSha256},
                        {"outcome", std::string(OutcomeName(h.outcome))},
                        {"reason", h.reason},
                        {"usb_port", h.usbPort},
                        {"history", std::move(history)}});
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
  json["line"] = LineJson(report.line);
  json["unreadable"] = {{"count", report.unreadable}, {"lines", std::move(lines)}};
  return json;
}

std::string YieldPage(const nlohmann::ordered_json& report, const nlohmann::ordered_json& source) {
  std::string page = kYieldPageHtml;
  // The page's policy lets its one script run, known by its digest, and nothing else.
  constexpr std::string_view kOpen = "<script>";
  const std::size_t begin = page.find(kOpen) + kOpen.size();
  const std::string_view script =
      std::string_view(page).substr(begin, page.find("</script>", begin) - begin);
  const std::string digest =
      Base64(Sha256({reinterpret_cast<const std::uint8_t*>(script.data()), script.size()}));
  // The last placeholder first: the text put in never comes before one still to be found.
  Put(page, "{{source}}", ScriptJson(source));
  Put(page, "{{report}}", ScriptJson(report));
  Put(page, "{{script-sha256}}", digest);
  return page;
}

}  // namespace obrint::cli
