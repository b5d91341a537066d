#include "cli/Consoletext.h"

namespace tolm::cli {

void Print(std::FILE* out, const std::string& text) { std::fwrite(text.data(), 1, text.size(), out); }

}  // namespace tolm::cli
