// The yield report as one self-contained HTML page: the report's JSON object and a script that
// draws its charts (SVG) and its tables from it, in one file that makes no request when opened.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

namespace obrint::cli {

// `report` is the object that report --json prints; `source` says what it was made from (logs,
// since, image), shown above the figures.
std::string YieldPage(const nlohmann::ordered_json& report, const nlohmann::ordered_json& source);

}  // namespace obrint::cli
