// The string functions: entity escaping both ways and field splitting.
// Input: byte 0 is the field separator, the rest is the text.
// Properties: escaping leaves no raw special character and unescaping undoes
// it exactly; unescaping never lengthens a text; the fields of a text joined
// by their separator give the text back, and fields beyond the last are empty.
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "base/Strfunc.h"

namespace {

using namespace tolm;

bool StartsWithEntity(const std::string& text, size_t at) {
    static const char* kEntities[] = {"&le;", "&ge;", "&amp;", "&lt;", "&gt;", "&apos;", "&quot;", "&CO;"};
    for (const char* e : kEntities)
        if (text.compare(at, std::char_traits<char>::length(e), e) == 0) return true;
    return false;
}

void CheckEscaping(const std::string& text) {
    const std::string escaped = EscapeText(text);
    for (size_t i = 0; i < escaped.size(); ++i) {
        const char c = escaped[i];
        FUZZ_CHECK(c != '<' && c != '>' && c != '\'' && c != '"' && c != ',', "raw special character left by EscapeText");
        if (c == '&') FUZZ_CHECK(StartsWithEntity(escaped, i), "an '&' in escaped text starts no entity");
    }
    FUZZ_CHECK(UnescapeText(escaped) == text, "UnescapeText(EscapeText(x)) != x");

    const std::string unescaped = UnescapeText(text);
    FUZZ_CHECK(unescaped.size() <= text.size(), "UnescapeText made a text longer");
    // A text with no '&' holds no entity: unescaping leaves it as it is.
    if (text.find('&') == std::string::npos) FUZZ_CHECK(unescaped == text, "UnescapeText changed a text without '&'");
}

// The fields as one pass over the text sees them.
std::vector<std::string> Split(const std::string& text, char sep) {
    std::vector<std::string> fields(1);
    for (char c : text) {
        if (c == sep)
            fields.emplace_back();
        else
            fields.back() += c;
    }
    return fields;
}

void CheckFields(const std::string& text, char sep, int extra) {
    const int separators = CountChar(text, sep);
    const std::vector<std::string> fields = Split(text, sep);
    FUZZ_CHECK(separators + 1 == static_cast<int>(fields.size()), "CountChar disagrees with the separators");

    FUZZ_CHECK(FieldOf(text, sep, 0).empty(), "field 0 is not empty");
    FUZZ_CHECK(FieldOf(text, sep, -1 - extra).empty(), "a negative field is not empty");
    FUZZ_CHECK(FieldOf(text, sep, separators + 2 + extra).empty(), "a field past the last is not empty");

    // Every field for short lists; a sample for long ones (FieldOf scans from the start).
    std::vector<int> wanted;
    if (fields.size() <= 64) {
        for (int n = 1; n <= static_cast<int>(fields.size()); ++n) wanted.push_back(n);
    } else {
        wanted = {1, 2, static_cast<int>(fields.size()) / 2, static_cast<int>(fields.size()),
                  1 + extra % static_cast<int>(fields.size())};
    }
    std::string joined;
    for (int n : wanted) {
        const std::string field = FieldOf(text, sep, n);
        FUZZ_CHECK(field == fields[n - 1], "FieldOf gives another field than the separators delimit");
        if (fields.size() <= 64) joined += (n > 1 ? std::string(1, sep) : std::string()) + field;
    }
    if (fields.size() <= 64) FUZZ_CHECK(joined == text, "the fields joined do not give the text back");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const char sep = static_cast<char>(data[0]);
    const std::string text = tolm::fuzz::AsText(data + 1, size - 1);
    CheckEscaping(text);
    CheckFields(text, sep, static_cast<int>(size % 7));
    return 0;
}
