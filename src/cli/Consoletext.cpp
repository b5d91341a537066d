#include "cli/Consoletext.h"

#include <cstdarg>
#include <vector>

namespace tolm::cli {

void Printf(std::FILE* out, const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    char small[512];
    const int n = std::vsnprintf(small, sizeof small, format, args);
    va_end(args);
    if (n < 0) {
        va_end(again);
        return;
    }
    if (static_cast<size_t>(n) < sizeof small) {
        va_end(again);
        Print(out, std::string(small, static_cast<size_t>(n)));
        return;
    }
    std::vector<char> large(static_cast<size_t>(n) + 1);
    std::vsnprintf(large.data(), large.size(), format, again);
    va_end(again);
    Print(out, std::string(large.data(), static_cast<size_t>(n)));
}

}  // namespace tolm::cli
