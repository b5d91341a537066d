#include "cli/Climessages.h"

#include <algorithm>
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

bool StderrLinesSink::Saw(const std::string& text) const {
    return std::any_of(texts_.begin(), texts_.end(),
                       [&](const std::string& t) { return t.substr(0, t.find('\n')) == text; });
}

}  // namespace tolm::cli
