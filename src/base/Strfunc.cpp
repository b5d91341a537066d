#include "base/Strfunc.h"

#include <array>
#include <string_view>

namespace tolm {

namespace {
struct Entity {
    std::string_view chars;
    std::string_view entity;
};
// Two-character pairs first: they are tested before the single characters.
constexpr std::array<Entity, 8> kEntities{{
    {"<=", "&le;"},
    {">=", "&ge;"},
    {"&", "&amp;"},
    {"<", "&lt;"},
    {">", "&gt;"},
    {"'", "&apos;"},
    {"\"", "&quot;"},
    {",", "&CO;"},
}};
}  // namespace

int CountChar(const std::string& text, char c) {
    int count = 0;
    for (char ch : text)
        if (ch == c) ++count;
    return count;
}

std::string FieldOf(const std::string& text, char sep, int n) {
    std::string result;
    int field = 0;  // separators passed so far
    for (char ch : text) {
        if (ch == sep) {
            ++field;
        } else if (n < field + 1) {
            break;
        } else if (n == field + 1) {
            result += ch;
        }
    }
    return result;
}

std::string EscapeText(const std::string& text) {
    if (text.empty()) return text;
    std::string out;
    out.reserve(text.size() + text.size() / 4);
    std::string_view rest(text);
    while (!rest.empty()) {
        bool replaced = false;
        for (const auto& e : kEntities) {
            if (rest.starts_with(e.chars)) {
                out += e.entity;
                rest.remove_prefix(e.chars.size());
                replaced = true;
                break;
            }
        }
        if (!replaced) {
            out += rest.front();
            rest.remove_prefix(1);
        }
    }
    return out;
}

std::string UnescapeText(const std::string& text) {
    if (text.empty()) return text;
    std::string out;
    out.reserve(text.size());
    std::string_view rest(text);
    while (!rest.empty()) {
        bool replaced = false;
        if (rest.front() == '&') {
            for (const auto& e : kEntities) {
                if (rest.starts_with(e.entity)) {
                    out += e.chars;
                    rest.remove_prefix(e.entity.size());
                    replaced = true;
                    break;
                }
            }
        }
        if (!replaced) {
            out += rest.front();
            rest.remove_prefix(1);
        }
    }
    return out;
}

}  // namespace tolm
