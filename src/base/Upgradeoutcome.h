#pragma once
// What an upgrade is for and how it ended, as types: the device family a file
// is for, and the outcome of one "Upgrade" press. The form produces both
// from what it shows (its family number and code, its result line, whether
// it could open the port); the command line, the multi-port runs, the
// station and the windows read them instead of texts and numbers.
#include <cstdint>
#include <string>

namespace tolm {

enum class TFamily {
    None,             // no known family (or no file checked yet)
    FirstGenScanner,  // family 2, codes "2LB" and "2ND"
    TidScanner,       // family 2, the other codes ("2TW", "2GH"): scanners and docks with terminal IDs
    Quorin,           // family 3 ("3QR"): terminals that announce themselves
    KV,               // family 4 ("4KV")
};

// A first-generation scanner's family code.
bool IsFirstGenerationCode(const std::string& familyCode);
// The family of a file the form identified as number family (2, 3, 4) with code familyCode.
TFamily FamilyOf(int32_t family, const std::string& familyCode);

// "Upgrade PASS" or "Font Upgrade PASS": the only result lines that are passes.
bool IsPassResult(const std::string& resultLine);
// The result line of a device a station did not upgrade because its terminal
// ID passed with the same firmware already: neither a pass nor a failure.
inline constexpr const char* kAlreadyUpgradedResult = "Upgrade skipped (already upgraded)";

struct TUpgradeOutcome {
    enum class TKind {
        None,           // no result (yet)
        Pass,           // "Upgrade PASS"
        FontPass,       // "Font Upgrade PASS"
        Failure,        // any other result line ("G006.0 Connection Error", "Upgrade Error", ...)
        PortNotOpened,  // E001: the port could not be opened, nothing was sent
        FileRefused,    // the file check refused the file
        Stopped,        // a stop ended the upgrade after its current exchange
        AlreadyUpgraded,  // a station's device that passed with this firmware before: not sent again
    };
    TKind Kind = TKind::None;
    std::string Code;  // of a failure whose text begins with one ("G006.0", "E001"); else empty
    std::string Text;  // the result line (or message) as the form shows it

    bool Passed() const { return Kind == TKind::Pass || Kind == TKind::FontPass; }
    // The outcome a result line tells: a pass, a failure, or none when empty.
    static TUpgradeOutcome OfResultLine(const std::string& line);
};

}  // namespace tolm
