#include "cli/Removal.h"

namespace tolm::cli {

namespace {
bool Differ(const std::string& a, const std::string& b) { return !a.empty() && !b.empty() && a != b; }

bool Differ(const TDeviceIdentity& a, const TDeviceIdentity& b) {
    return Differ(a.ModelCode, b.ModelCode) || Differ(a.KernelDigits, b.KernelDigits);
}
}  // namespace

TRemovalRule::TRemovalRule(std::vector<TDeviceIdentity> previous, std::chrono::seconds silence, Clock::time_point now)
    : previous_(std::move(previous)), silence_(silence), lastAnswer_(now) {}

bool TRemovalRule::IsAnotherDevice(const std::vector<TDeviceIdentity>& previous, const TDeviceIdentity& who) {
    if (previous.empty() || who.Empty()) return false;
    if (!who.TerminalID.empty()) {
        bool anyId = false;
        for (const auto& device : previous) {
            if (device.TerminalID.empty()) continue;
            anyId = true;
            if (device.TerminalID == who.TerminalID) return Differ(device, who);
        }
        if (anyId) return true;
    }
    return Differ(previous.front(), who);
}

void TRemovalRule::Answered(const std::vector<TDeviceIdentity>& who, Clock::time_point now) {
    lastAnswer_ = now;
    silent_ = false;
    for (const auto& device : who) {
        if (IsAnotherDevice(previous_, device)) {
            gone_ = another_ = true;
            return;
        }
    }
}

void TRemovalRule::Silent(Clock::time_point now) {
    silent_ = true;
    if (silence_.count() > 0 && now - lastAnswer_ >= silence_) gone_ = true;
}

int TRemovalRule::SilenceLeft(Clock::time_point now) const {
    if (!silent_ || silence_.count() <= 0) return -1;
    const auto left = silence_ - (now - lastAnswer_);
    if (left <= Clock::duration::zero()) return 0;
    return static_cast<int>(std::chrono::ceil<std::chrono::seconds>(left).count());
}

std::string AfterArgument(const TDeviceIdentity& device) {
    return device.ModelCode + "\t" + device.KernelDigits + "\t" + device.TerminalID;
}

TDeviceIdentity IdentityFromArgument(const std::string& text) {
    TDeviceIdentity device;
    const size_t first = text.find('\t');
    const size_t second = first == std::string::npos ? std::string::npos : text.find('\t', first + 1);
    device.ModelCode = text.substr(0, first);
    if (first != std::string::npos) device.KernelDigits = text.substr(first + 1, second - first - 1);
    if (second != std::string::npos) device.TerminalID = text.substr(second + 1);
    return device;
}

}  // namespace tolm::cli
