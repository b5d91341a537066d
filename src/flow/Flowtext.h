#pragma once
// Small text helpers of the diagram's file format: splitting a line into
// fields, trimming keys, decimal numbers with the conversion error.
#include <string>
#include <vector>

namespace tolm::flowtext {

// Blanks and control characters (everything up to " ") removed at both ends.
std::string Trim(const std::string& text);

// All fields of text split at every sep, in one pass (count of sep + 1
// fields). Node lines with pictures are long, so this stays linear.
std::vector<std::string> SplitAll(const std::string& text, char sep);

// All pieces of text split at every occurrence of the separator text.
std::vector<std::string> SplitAll(const std::string& text, const std::string& sep);

// A key=value field: key is the trimmed text before the first "=", value
// everything after it. A field without "=" has an empty value.
struct TField {
    std::string Key;
    std::string Value;
};
TField SplitField(const std::string& field);

// A 32-bit decimal integer with an optional sign, blanks allowed around it;
// anything else raises EConvertError.
int StrToInt(const std::string& text);

}  // namespace tolm::flowtext
