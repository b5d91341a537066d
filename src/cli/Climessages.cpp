#include "cli/Climessages.h"

#include <cstdio>

#include "cli/Consoletext.h"

namespace tolm::cli {

void StderrLinesSink::Show(const std::string& text, const std::string& caption, TMsgIcon) {
    texts_.push_back(text);
    // The error boxes carry the caption "Tolm"; plain boxes the program's title.
    if (caption == "Tolm")
        Printf(stderr, "Tolm: %s\n", text.c_str());
    else
        Printf(stderr, "%s\n", text.c_str());
    std::fflush(stderr);
}

}  // namespace tolm::cli
