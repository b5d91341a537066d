#pragma once
// Attempt IDs: UUIDs in their 36-character text, lower case
// ("3f0c2a4e-9d1b-4c7a-8e55-0b6f1d2c3a4b").
#include <string>

namespace tolm::records {

// A new random ID (version 4) from the system's random source; empty in the
// unlikely case that the source gave nothing, so that the caller writes no
// ID rather than a guessable one.
std::string NewAttemptId();

// The ID that name always maps to (version 5: SHA-1 of name within this
// program's own namespace), for attempts recorded without an ID.
std::string NameBasedId(const std::string& name);

// True for the 36-character text of a UUID (either case).
bool IsUuid(const std::string& text);

}  // namespace tolm::records
