#pragma once
// Operator messages on the command line: every message-box text goes to
// stderr as a line, and is kept so a command can tell which ones came.
#include <string>
#include <vector>

#include "toolkit/Messages.h"

namespace tolm::cli {

class StderrLinesSink : public IMessageSink {
public:
    void Show(const std::string& text, const std::string& caption, TMsgIcon icon) override;
    const std::vector<std::string>& Texts() const { return texts_; }

private:
    std::vector<std::string> texts_;
};

}  // namespace tolm::cli
