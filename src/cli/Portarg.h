#pragma once
// The --port argument: a port number ("3"), a COM name in any case ("COM3",
// "Com3") or a device path ("/dev/ttyUSB0"), which is given a port number for
// this run through a private port directory.
#include <optional>
#include <string>

namespace tolm::cli {

// The number a port number or a COM name in any case gives ("3", "COM3",
// "com3"); nothing for any other text. Throws UsageError for a number
// outside 1 to 255. (Portarg.cpp; the rest of PortArg is per system.)
std::optional<int> ComNumber(const std::string& text);

// The forms the --port help names: those this system's PortArg takes.
extern const char* const kPortForms;

class PortArg {
public:
    // Throws UsageError for text that is none of the three forms.
    explicit PortArg(const std::string& text);
    ~PortArg();  // removes the private port directory, if one was made
    PortArg(const PortArg&) = delete;
    PortArg& operator=(const PortArg&) = delete;
    int Number() const { return number_; }
    const std::string& Text() const { return text_; }

private:
    int number_ = 1;
    std::string text_;
    std::string privateDir_;
};

}  // namespace tolm::cli
