#include "cli/Jsonout.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace tolm::cli {

namespace {

constexpr const char* kReplacement = "\xEF\xBF\xBD";  // U+FFFD

// The length of the well-formed UTF-8 character at text[i], or 0.
size_t WellFormedLength(const std::string& text, size_t i) {
    auto at = [&](size_t k) { return k < text.size() ? static_cast<unsigned char>(text[k]) : 0u; };
    auto in = [](unsigned c, unsigned lo, unsigned hi) { return c >= lo && c <= hi; };
    const unsigned lead = at(i);
    if (lead < 0x80) return 1;
    if (in(lead, 0xC2, 0xDF)) return in(at(i + 1), 0x80, 0xBF) ? 2 : 0;
    if (in(lead, 0xE0, 0xEF)) {
        // No overlong forms (E0 80-9F) and no surrogates (ED A0-BF).
        const unsigned lo = lead == 0xE0 ? 0xA0 : 0x80, hi = lead == 0xED ? 0x9F : 0xBF;
        return in(at(i + 1), lo, hi) && in(at(i + 2), 0x80, 0xBF) ? 3 : 0;
    }
    if (in(lead, 0xF0, 0xF4)) {
        // No overlong forms (F0 80-8F) and nothing above U+10FFFF (F4 90-BF).
        const unsigned lo = lead == 0xF0 ? 0x90 : 0x80, hi = lead == 0xF4 ? 0x8F : 0xBF;
        return in(at(i + 1), lo, hi) && in(at(i + 2), 0x80, 0xBF) && in(at(i + 3), 0x80, 0xBF) ? 4 : 0;
    }
    return 0;
}

void WriteString(const std::string& text, std::string& out) {
    out += '"';
    for (unsigned char c : text) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20) {
                char escape[8];
                std::snprintf(escape, sizeof escape, "\\u%04x", c);
                out += escape;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    out += '"';
}

// Every integer up to 2^53 is exact in a double.
constexpr int64_t kExactInteger = int64_t{1} << 53;

void WriteDouble(double value, std::string& out) {
    if (!std::isfinite(value)) {
        out += "null";  // JSON has no infinity and no NaN
        return;
    }
    // Whole numbers that a double holds exactly are written as integers.
    if (value == std::trunc(value) && std::fabs(value) <= static_cast<double>(kExactInteger)) {
        out += std::to_string(static_cast<int64_t>(value));
        return;
    }
    // The fewest digits that read back as the same double, in exponent form
    // ("1.5e+300", "1e-05") or plain ("0.5", "1234567890123456800"), whichever
    // is shorter; plain on a tie.
    char buffer[40];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific).ptr;
    const std::string exponentForm(buffer, end);
    const size_t e = exponentForm.find('e');
    const bool negative = exponentForm[0] == '-';
    std::string digits;
    for (size_t i = negative ? 1 : 0; i < e; ++i)
        if (exponentForm[i] != '.') digits += exponentForm[i];
    const int exponent = std::stoi(exponentForm.substr(e + 1));
    std::string plain = negative ? "-" : "";
    if (exponent < 0) {
        plain += "0." + std::string(static_cast<size_t>(-exponent - 1), '0') + digits;
    } else {
        const size_t whole = static_cast<size_t>(exponent) + 1;
        if (digits.size() <= whole) {
            plain += digits + std::string(whole - digits.size(), '0');
        } else {
            plain += digits.substr(0, whole) + "." + digits.substr(whole);
        }
    }
    out += plain.size() <= exponentForm.size() ? plain : exponentForm;
}

void Write(const TJson& value, std::string& out, int depth, bool compact) {
    const std::string inner = compact ? "" : std::string(4 * (depth + 1), ' ');
    const std::string outer = compact ? "" : std::string(4 * depth, ' ');
    const char* newline = compact ? "" : "\n";
    switch (value.type()) {
    case TJson::value_t::object: {
        out += '{';
        out += newline;
        bool first = true;
        for (const auto& [key, member] : value.items()) {
            if (!first) out += compact ? "," : ",\n";
            first = false;
            out += inner;
            WriteString(key, out);
            out += compact ? ":" : ": ";
            Write(member, out, depth + 1, compact);
        }
        if (!first) out += newline;
        out += outer;
        out += '}';
        break;
    }
    case TJson::value_t::array: {
        out += '[';
        out += newline;
        bool first = true;
        for (const auto& element : value) {
            if (!first) out += compact ? "," : ",\n";
            first = false;
            out += inner;
            Write(element, out, depth + 1, compact);
        }
        if (!first) out += newline;
        out += outer;
        out += ']';
        break;
    }
    case TJson::value_t::string:
        WriteString(value.get_ref<const std::string&>(), out);
        break;
    case TJson::value_t::boolean:
        out += value.get<bool>() ? "true" : "false";
        break;
    case TJson::value_t::number_integer:
        out += std::to_string(value.get<int64_t>());
        break;
    case TJson::value_t::number_unsigned:
        out += std::to_string(value.get<uint64_t>());
        break;
    case TJson::value_t::number_float:
        WriteDouble(value.get<double>(), out);
        break;
    default:
        out += "null";
    }
}

}  // namespace

std::string ValidUtf8(const std::string& text, bool* replaced) {
    std::string out;
    out.reserve(text.size());
    bool any = false;
    for (size_t i = 0; i < text.size();) {
        const size_t n = WellFormedLength(text, i);
        if (n == 0) {
            // One U+FFFD for each byte: a cut-off character shows how many bytes it had.
            out += kReplacement;
            any = true;
            ++i;
        } else {
            out.append(text, i, n);
            i += n;
        }
    }
    if (replaced) *replaced = any;
    return out;
}

void PutText(TJson& object, const std::string& key, const std::string& text) {
    bool replaced = false;
    object[key] = ValidUtf8(text, &replaced);
    if (!replaced) return;
    std::string hex;
    char pair[3];
    for (unsigned char c : text) {
        std::snprintf(pair, sizeof pair, "%02x", c);
        hex += pair;
    }
    object[key + "_hex"] = hex;
}

std::string CompactJson(const TJson& value) {
    std::string out;
    Write(value, out, 0, true);
    return out;
}

std::string IndentedJson(const TJson& value) {
    std::string out;
    Write(value, out, 0, false);
    return out + "\n";
}

}  // namespace tolm::cli
