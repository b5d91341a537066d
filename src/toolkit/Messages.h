#pragma once
// Operator message service: ShowMessage and a message box with caption and
// icon. A sink is installed by the front end (window, command line, tests);
// messages raised off the main thread are handed to it without waiting.
#include <memory>
#include <string>

namespace tolm {

enum class TMsgIcon { None, Information, Warning, Error, Question };

class IMessageSink {
public:
    virtual ~IMessageSink() = default;
    // Always called on the main thread.
    virtual void Show(const std::string& text, const std::string& caption, TMsgIcon icon) = 0;
};

// Installs the sink that receives every message; returns the previous one.
std::shared_ptr<IMessageSink> InstallMessageSink(std::shared_ptr<IMessageSink> sink);

// Plain message box (application title as caption).
void ShowMessage(const std::string& text);
// Message box with caption and icon.
void MessageBox(const std::string& text, const std::string& caption, TMsgIcon icon);

// Default sink: writes "caption: text" lines to stderr.
class StderrMessageSink : public IMessageSink {
public:
    void Show(const std::string& text, const std::string& caption, TMsgIcon icon) override;
};

}  // namespace tolm
