#include "flow/Flowtext.h"

#include <cstdint>

#include "toolkit/Exception.h"

namespace tolm::flowtext {

std::string Trim(const std::string& text) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && static_cast<unsigned char>(text[begin]) <= ' ') ++begin;
    while (end > begin && static_cast<unsigned char>(text[end - 1]) <= ' ') --end;
    return text.substr(begin, end - begin);
}

std::vector<std::string> SplitAll(const std::string& text, char sep) {
    return SplitAll(text, std::string(1, sep));
}

std::vector<std::string> SplitAll(const std::string& text, const std::string& sep) {
    std::vector<std::string> pieces;
    size_t start = 0;
    for (;;) {
        size_t at = text.find(sep, start);
        if (at == std::string::npos) break;
        pieces.push_back(text.substr(start, at - start));
        start = at + sep.size();
    }
    pieces.push_back(text.substr(start));
    return pieces;
}

TField SplitField(const std::string& field) {
    size_t eq = field.find('=');
    if (eq == std::string::npos) return {Trim(field), ""};
    return {Trim(field.substr(0, eq)), field.substr(eq + 1)};
}

int StrToInt(const std::string& text) {
    const std::string t = Trim(text);
    size_t i = 0;
    bool negative = false;
    if (i < t.size() && (t[i] == '-' || t[i] == '+')) negative = t[i++] == '-';
    if (i == t.size()) throw EConvertError("\"" + text + "\" is not a decimal integer");
    int64_t value = 0;
    for (; i < t.size(); ++i) {
        if (t[i] < '0' || t[i] > '9') throw EConvertError("\"" + text + "\" is not a decimal integer");
        value = value * 10 + (t[i] - '0');
        if (value > static_cast<int64_t>(INT32_MAX) + 1)
            throw EConvertError("\"" + text + "\" is out of the 32-bit range");
    }
    if (negative) value = -value;
    if (value > INT32_MAX || value < INT32_MIN) throw EConvertError("\"" + text + "\" is out of the 32-bit range");
    return static_cast<int>(value);
}

}  // namespace tolm::flowtext
