#include "base/Upgradeoutcome.h"

#include <cctype>

namespace tolm {

namespace {
constexpr const char* kPass = "Upgrade PASS";
constexpr const char* kFontPass = "Font Upgrade PASS";

// "G006.0", "G002.2", "E001": a letter and digits (with a dot) before the first space or colon.
std::string LeadingCode(const std::string& text) {
    const size_t end = text.find_first_of(" :");
    const std::string word = text.substr(0, end);
    if (word.size() < 2 || !std::isupper(static_cast<unsigned char>(word[0]))) return {};
    for (size_t i = 1; i < word.size(); ++i)
        if (!std::isdigit(static_cast<unsigned char>(word[i])) && word[i] != '.') return {};
    return word;
}
}  // namespace

bool IsFirstGenerationCode(const std::string& familyCode) { return familyCode == "2LB" || familyCode == "2ND"; }

TFamily FamilyOf(int32_t family, const std::string& familyCode) {
    switch (family) {
        case 2:
            return IsFirstGenerationCode(familyCode) ? TFamily::FirstGenScanner : TFamily::TidScanner;
        case 3:
            return TFamily::Quorin;
        case 4:
            return TFamily::KV;
        default:
            return TFamily::None;
    }
}

bool IsPassResult(const std::string& resultLine) { return resultLine == kPass || resultLine == kFontPass; }

TUpgradeOutcome TUpgradeOutcome::OfResultLine(const std::string& line) {
    TUpgradeOutcome outcome;
    outcome.Text = line;
    if (line.empty()) return outcome;
    if (line == kPass) {
        outcome.Kind = TKind::Pass;
    } else if (line == kFontPass) {
        outcome.Kind = TKind::FontPass;
    } else if (line == kAlreadyUpgradedResult) {
        outcome.Kind = TKind::AlreadyUpgraded;
    } else {
        outcome.Kind = TKind::Failure;
        outcome.Code = LeadingCode(line);
    }
    return outcome;
}

}  // namespace tolm
