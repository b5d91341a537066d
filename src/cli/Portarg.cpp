#include "cli/Portarg.h"

#include <cctype>

#include "cli/Cliargs.h"

namespace tolm::cli {

namespace {
bool AllDigits(const std::string& s) {
    if (s.empty() || s.size() > 4) return false;
    for (unsigned char c : s)
        if (!std::isdigit(c)) return false;
    return true;
}

bool IsComPrefix(const std::string& text) {
    return text.size() > 3 && std::toupper(static_cast<unsigned char>(text[0])) == 'C' &&
           std::toupper(static_cast<unsigned char>(text[1])) == 'O' &&
           std::toupper(static_cast<unsigned char>(text[2])) == 'M';
}
}  // namespace

std::optional<int> ComNumber(const std::string& text) {
    const std::string digits = IsComPrefix(text) ? text.substr(3) : text;
    if (!AllDigits(digits)) return std::nullopt;
    const int number = std::stoi(digits);
    if (number < 1 || number > 255) throw UsageError("port number " + digits + " is outside 1 to 255");
    return number;
}

}  // namespace tolm::cli
