// Checks a record against docs/record.schema.json: the part of JSON Schema the file uses (type,
// required, properties, additionalProperties, enum, pattern, minimum, maximum, minLength, $ref).
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <string>

#include <nlohmann/json.hpp>

namespace obrint::cli::testing {

inline const nlohmann::json& RecordSchema() {
  static const nlohmann::json schema =
      nlohmann::json::parse(std::ifstream(OBRINT_SOURCE_DIR "/docs/record.schema.json"));
  return schema;
}

// Every way `value` breaks `rule`, one line each; empty when it keeps it.
inline std::string SchemaProblems(const nlohmann::json& value, const nlohmann::json& rule,
                                  const std::string& at = "") {
  if (rule.contains("$ref")) {
    const std::string ref = rule["$ref"];  // "#/$defs/name"
    return SchemaProblems(value, RecordSchema()[nlohmann::json::json_pointer(ref.substr(1))], at);
  }
  std::string problems;
  const auto problem = [&](const std::string& what) { problems += at + ": " + what + "\n"; };
  const std::string type = rule.value("type", "");
  if ((type == "object" && !value.is_object()) || (type == "string" && !value.is_string()) ||
      (type == "integer" && !value.is_number_integer())) {
    problem("not " + type);
    return problems;
  }
  if (rule.contains("enum") &&
      std::find(rule["enum"].begin(), rule["enum"].end(), value) == rule["enum"].end()) {
    problem("not one of " + rule["enum"].dump());
  }
  if (value.is_string()) {
    const std::string text = value;
    if (rule.contains("pattern") &&
        !std::regex_search(text, std::regex(rule["pattern"].get<std::string>()))) {
      problem("\"" + text + "\" does not match " + rule["pattern"].get<std::string>());
    }
    if (text.size() < rule.value("minLength", 0u)) problem("too short");
  }
  if (value.is_number()) {
    if (rule.contains("minimum") && value < rule["minimum"]) problem("below its minimum");
    if (rule.contains("maximum") && value > rule["maximum"]) problem("above its maximum");
  }
  if (value.is_object()) {
    for (const auto& name : rule.value("required", nlohmann::json::array())) {
      if (!value.contains(name)) problem("no " + name.get<std::string>());
    }
    for (const auto& [name, field] : value.items()) {
      if (rule["properties"].contains(name)) {
        problems += SchemaProblems(field, rule["properties"][name], at + "/" + name);
      } else if (rule.value("additionalProperties", true) == false) {
        problem("unknown field " + name);
      }
    }
  }
  return problems;
}

inline void ExpectRecord(const nlohmann::json& record) {
  EXPECT_EQ(SchemaProblems(record, RecordSchema()), "") << record.dump();
  EXPECT_TRUE(record.contains("id")) << "this version writes an ID in every record";
}

}  // namespace obrint::cli::testing
