#pragma once
// The JSON of the --json outputs. Documents are built as nlohmann::json
// values and written in one fixed layout that scripts already read: keys in
// byte order, either compact on one line or indented by four spaces (an
// empty array or object spans two lines), UTF-8 written as it is, control
// characters escaped, whole numbers without a fraction ("2", not "2.0") and
// other numbers in their shortest exact form ("12.5", "1e-05").
#include <nlohmann/json.hpp>

#include <string>

namespace tolm::cli {

using TJson = nlohmann::json;

// text as valid UTF-8: each byte that is not part of a well-formed UTF-8
// character becomes U+FFFD. replaced (if given) tells whether any did.
std::string ValidUtf8(const std::string& text, bool* replaced = nullptr);

// Sets object[key] to text read as UTF-8. A text that is not valid UTF-8
// (a file name in another encoding) shows U+FFFD for each invalid byte, and
// its exact bytes in hex go under key + "_hex", so the output stays valid JSON
// and still names the file exactly.
void PutText(TJson& object, const std::string& key, const std::string& text);

// On one line, without a line end.
std::string CompactJson(const TJson& value);
// Indented by four spaces, ending with a line end.
std::string IndentedJson(const TJson& value);

}  // namespace tolm::cli
