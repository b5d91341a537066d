// The settings-string parser, "baud,parity,data,stop".
// Input: the settings text.
// Properties: nothing but four comma-separated fields without blanks is
// accepted; what is accepted lies in range, and its written-out form parses
// back to the same settings.
#include <cstdint>
#include <string>

#include "FuzzSupport.h"
#include "platform/Serialsettings.h"

namespace {

using namespace tolm;

std::string Written(const TLineSettings& s, bool upperParity) {
    char p = 'n';
    switch (s.Parity) {
        case TParity::None: p = 'n'; break;
        case TParity::Even: p = 'e'; break;
        case TParity::Odd: p = 'o'; break;
        case TParity::Mark: p = 'm'; break;
        case TParity::Space: p = 's'; break;
    }
    if (upperParity) p = static_cast<char>(p - 'a' + 'A');
    const char* stop = s.StopBits == TStopBits::One ? "1" : s.StopBits == TStopBits::OneAndHalf ? "1.5" : "2";
    return std::to_string(s.BaudRate) + "," + p + "," + std::to_string(s.DataBits) + "," + stop;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text = tolm::fuzz::AsText(data, size);
    const auto parsed = ParseSettings(text);
    if (!parsed) return 0;

    int commas = 0;
    for (char c : text) {
        FUZZ_CHECK(c != ' ' && c != '\t' && c != '\0', "accepted a settings text with a blank or NUL");
        if (c == ',') ++commas;
    }
    FUZZ_CHECK(commas == 3, "accepted a settings text without exactly four fields");
    FUZZ_CHECK(IsStandardBaudRate(parsed->BaudRate), "accepted a non-standard line speed");
    FUZZ_CHECK(parsed->DataBits >= 5 && parsed->DataBits <= 8, "accepted data bits outside 5-8");
    const int half = parsed->HalfBitsPerChar();
    FUZZ_CHECK(half >= 2 * 7 && half <= 2 * 12, "character time outside 7-12 bits");

    for (bool upper : {false, true}) {
        const auto again = ParseSettings(Written(*parsed, upper));
        FUZZ_CHECK(again && *again == *parsed, "written-out settings do not parse back to the same settings");
    }
    return 0;
}
