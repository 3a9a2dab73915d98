// A record's ID: a UUID, written in the record as 36 lower-case characters
// ("0f1e2d3c-4b5a-4978-8695-a4b3c2d1e0f9"), that makes it unique wherever it is stored.
#pragma once

#include <string>
#include <string_view>

namespace obrint::records {

// A new record's ID: a random UUID (version 4) from the system's random source.
std::string NewRecordId();

// The ID of a record written without one (by a version before IDs): a name-based UUID
// (version 8) of the SHA-256 of the record's canonical JSON text, its keys sorted and no blank
// between them, so that the same record gives the same ID however its line was laid out.
// `record` is the line, a JSON object without "id"; empty when it is not one.
std::string DerivedRecordId(std::string_view record);

// Whether `text` is an ID in its written form.
bool IsRecordId(std::string_view text);

}  // namespace obrint::records
