#include "cli/Cliargs.h"

#include <cctype>

namespace tolm::cli {

CLI::Validator WholeNumber(long min, long max) {
    const std::string range = std::to_string(min) + " to " + std::to_string(max);
    return CLI::Validator(
        [min, max, range](std::string& text) -> std::string {
            const std::string why = "takes a whole number from " + range + ", not \"" + text + "\"";
            if (text.empty() || text.size() > 18) return why;
            for (unsigned char c : text)
                if (!std::isdigit(c)) return why;
            const long value = std::stol(text);
            if (value < min || value > max) return why;
            text = std::to_string(value);  // "010" is ten, whatever CLI11 makes of a leading zero
            return {};
        },
        "");
}

}  // namespace tolm::cli
