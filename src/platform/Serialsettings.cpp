#include "platform/Serialsettings.h"

#include <algorithm>
#include <array>
#include <vector>

namespace tolm {

namespace {

// The speeds a termios line can be set to.
constexpr std::array<int, 30> kStandardRates = {
    50,      75,      110,     134,     150,     200,     300,     600,     1200,    1800,
    2400,    4800,    9600,    19200,   38400,   57600,   115200,  230400,  460800,  500000,
    576000,  921600,  1000000, 1152000, 1500000, 2000000, 2500000, 3000000, 3500000, 4000000};

std::vector<std::string> SplitOnCommas(const std::string& text) {
    std::vector<std::string> fields(1);
    for (char c : text) {
        if (c == ',')
            fields.emplace_back();
        else
            fields.back() += c;
    }
    return fields;
}

bool AllDigits(const std::string& s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::optional<int> ParseBaud(const std::string& field) {
    if (!AllDigits(field) || field.size() > 8) return std::nullopt;
    int baud = std::stoi(field);
    if (!IsStandardBaudRate(baud)) return std::nullopt;
    return baud;
}

std::optional<TParity> ParseParity(const std::string& field) {
    if (field.size() != 1) return std::nullopt;
    switch (field[0]) {
        case 'n': case 'N': return TParity::None;
        case 'e': case 'E': return TParity::Even;
        case 'o': case 'O': return TParity::Odd;
        case 'm': case 'M': return TParity::Mark;
        case 's': case 'S': return TParity::Space;
        default: return std::nullopt;
    }
}

std::optional<int> ParseDataBits(const std::string& field) {
    if (field.size() != 1 || field[0] < '5' || field[0] > '8') return std::nullopt;
    return field[0] - '0';
}

std::optional<TStopBits> ParseStopBits(const std::string& field) {
    if (field == "1") return TStopBits::One;
    if (field == "1.5") return TStopBits::OneAndHalf;
    if (field == "2") return TStopBits::Two;
    return std::nullopt;
}

}  // namespace

bool IsStandardBaudRate(int baud) {
    return std::find(kStandardRates.begin(), kStandardRates.end(), baud) != kStandardRates.end();
}

int TLineSettings::HalfBitsPerChar() const {
    int half = 2 * (1 + DataBits);  // start bit and data bits
    if (Parity != TParity::None) half += 2;
    switch (StopBits) {
        case TStopBits::One: half += 2; break;
        case TStopBits::OneAndHalf: half += 3; break;
        case TStopBits::Two: half += 4; break;
    }
    return half;
}

std::optional<TLineSettings> ParseSettings(const std::string& text) {
    auto fields = SplitOnCommas(text);
    if (fields.size() != 4) return std::nullopt;
    auto baud = ParseBaud(fields[0]);
    auto parity = ParseParity(fields[1]);
    auto data = ParseDataBits(fields[2]);
    auto stop = ParseStopBits(fields[3]);
    if (!baud || !parity || !data || !stop) return std::nullopt;
    return TLineSettings{*baud, *parity, *data, *stop};
}

}  // namespace tolm
