#pragma once
// When a device that was upgraded counts as gone from its port: decided from
// facts, never from a guess.
//  - the port's node disappeared or changed (its parent watches it);
//  - a device with another identity answers (terminal ID, model code, kernel digits);
//  - only where silence counts (a port whose node never changes, such as a
//    built-in UART), the device has not answered for longer than the silence time.
// A device that stops answering for a while after its upgrade (rebooting into
// the new firmware) is therefore never taken for a new one by its silence alone.
#include <chrono>
#include <string>
#include <vector>

#include "cli/Devicetap.h"

namespace tolm::cli {

class TRemovalRule {
public:
    using Clock = std::chrono::steady_clock;
    // previous: what the upgraded device told of itself (a scanner and its
    // docking station: both). silence: zero when silence never counts.
    TRemovalRule(std::vector<TDeviceIdentity> previous, std::chrono::seconds silence, Clock::time_point now);

    void NodeChanged() { gone_ = true; }
    // A probe that got answers: who answered (a line may carry two devices).
    void Answered(const std::vector<TDeviceIdentity>& who, Clock::time_point now);
    // A probe that opened the port and got no answer.
    void Silent(Clock::time_point now);

    bool Gone() const { return gone_; }
    // Gone because another device answered: that device has arrived.
    bool AnotherDeviceAnswered() const { return another_; }
    // Whole seconds left before silence makes the device count as gone; -1
    // while it answers, or where silence does not count.
    int SilenceLeft(Clock::time_point now) const;

    // True when who is surely not one of the previous devices: another
    // terminal ID, or another model code or kernel digits where both tell.
    static bool IsAnotherDevice(const std::vector<TDeviceIdentity>& previous, const TDeviceIdentity& who);

private:
    std::vector<TDeviceIdentity> previous_;
    std::chrono::seconds silence_;
    Clock::time_point lastAnswer_;
    bool silent_ = false, gone_ = false, another_ = false;
};

// A device's identity as one argument of a station's child ("--after"):
// model code, kernel digits and terminal ID, separated by tabs.
std::string AfterArgument(const TDeviceIdentity& device);

// True when the device behind path (a port's entry or device) is a built-in
// UART: the one kind of port whose node stays when its device is unplugged,
// so that only silence can tell that the device went. On Linux: the tty has
// a device in sysfs with no USB ancestor ($TOLM_SYSFS_ROOT instead of /sys
// lets tests name a pseudo-terminal one); a pseudo-terminal, an adapter or a
// Bluetooth link is none. On Windows: the COM port's device is the system's
// serial driver (\\Device\\Serial...), not an adapter's or Bluetooth's.
bool IsBuiltinUart(const std::string& path);
TDeviceIdentity IdentityFromArgument(const std::string& text);

}  // namespace tolm::cli
