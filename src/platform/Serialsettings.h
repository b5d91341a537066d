#pragma once
// The settings string of a serial port, "baud,parity,data,stop" such as
// "115200,n,8,1", and its parsed form.
#include <optional>
#include <string>

namespace tolm {

enum class TParity { None, Even, Odd, Mark, Space };
enum class TStopBits { One, OneAndHalf, Two };

struct TLineSettings {
    int BaudRate = 115200;
    TParity Parity = TParity::None;
    int DataBits = 8;
    TStopBits StopBits = TStopBits::One;

    // Bits on the wire per character (start + data + parity + stop), in half
    // bits so that 1.5 stop bits stay exact: 8N1 gives 20 (10 bits).
    int HalfBitsPerChar() const;
    bool operator==(const TLineSettings&) const = default;
};

// Parses "baud,parity,data,stop": baud one of the standard line speeds,
// parity one of n e o m s (either case), data 5 to 8, stop 1, 1.5 or 2.
// Single commas, no blanks; anything else is rejected (nullopt).
std::optional<TLineSettings> ParseSettings(const std::string& text);

// True when baud is one of the standard speeds the parser accepts.
bool IsStandardBaudRate(int baud);

}  // namespace tolm
