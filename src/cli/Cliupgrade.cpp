// tolm-upgrade-cli upgrade: the window's file check and "Upgrade" press, on
// the terminal.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <thread>

#include "app/Unit1.h"
#include "base/Logfile.h"
#include "cli/Cliargs.h"
#include "cli/Climessages.h"
#include "cli/Commands.h"
#include "cli/Consoletext.h"
#include "cli/Filecheck.h"
#include "cli/Portarg.h"
#include "cli/Multiupgrade.h"
#include "cli/Sitedatabase.h"
#include "cli/Portlist.h"
#include "cli/Portowner.h"
#include "cli/Progressview.h"
#include "cli/Removal.h"
#include "cli/Reportedrun.h"
#include "cli/Stopsignals.h"
#include "toolkit/MainThread.h"

namespace tolm::cli {

namespace {
struct UpgradeOptions {
    std::string file;
    std::vector<std::string> ports;  // as given: each may be a list
    std::string log;
    long waitSeconds = 60;
    bool json = false;
    // How a multi-port or station run starts its children (Reportedrun.h).
    int progressFd = -1;
    bool station = false;
    std::vector<std::string> after;  // the device upgraded before on the port (AfterArgument)
    long removalSilence = 0;
    // The record of a one-off run: a results file, and the site database it is sent to.
    std::string results;
    std::string stationName;
    std::string operatorId;
    TDatabaseOptions db;
};

std::vector<TDeviceIdentity> AfterDevices(const std::vector<std::string>& texts) {
    std::vector<TDeviceIdentity> devices;
    for (const auto& text : texts) devices.push_back(IdentityFromArgument(text));
    return devices;
}

// Runs the main thread's messages until done() holds or the time is up;
// false on time-out. done() is looked at after each wake-up, and at least
// every 50 ms for what no message announces (a stop signal).
bool PumpUntil(const std::function<bool()>& done, int timeoutMs) {
    const auto start = std::chrono::steady_clock::now();
    while (!done()) {
        if (timeoutMs >= 0 && std::chrono::steady_clock::now() - start >= std::chrono::milliseconds(timeoutMs))
            return false;
        WaitMessages(50);
    }
    return true;
}

// Selects port n in ComList; ports above the list's ten get an item of their own.
void SelectPort(TForm1& form, int port) {
    const std::string item = "Com" + std::to_string(port);
    auto items = form.ComList.Items();
    for (size_t i = 0; i < items.size(); ++i) {
        if (items[i] == item) {
            form.ComList.SetItemIndex(static_cast<int>(i));
            return;
        }
    }
    items.push_back(item);
    form.ComList.SetItems(items);
    form.ComList.SetItemIndex(static_cast<int>(items.size()) - 1);
}
// One "Upgrade" press in this process, on one port: the form with its file
// checked, and what the run reports to (the terminal, or a parent process).
// Each kind of run is one method: a device on the port now (told on the
// terminal or reported to a parent), a Quorin terminal's announcement waited
// for, and a station's run that waits for its device.
class TUpgradeRun {
public:
    TUpgradeRun(const UpgradeOptions& options, int port) : options_(options), port_(port) {
        const std::string file = options.file;
        form_.OpenDialog1.SetChooser([file](const TOpenDialog&, std::string& chosen) {
            chosen = file;
            return true;
        });
        if (options.progressFd >= 0) report_ = std::make_unique<TReportedRun>(options.progressFd, form_);
        // A reported run's progress goes to its parent, not to the terminal.
        if (!report_) progress_.emplace(form_.PBar, form_.PBar_num, stderr, isatty(STDERR_FILENO) != 0);
    }
    TUpgradeRun(const TUpgradeRun&) = delete;
    TUpgradeRun& operator=(const TUpgradeRun&) = delete;

    // The file check, as at the window's first activation; kExitPass when
    // the file was accepted, else the status to end with.
    int CheckFile() {
        const std::string& file = options_.file;
        bool checkRaised = false;
        form_.RunEvent([&] {
            try {
                form_.FormActivate();
            } catch (...) {
                checkRaised = true;
                throw;
            }
        });
        if (checkRaised || form_.FirmwareFile.empty()) {
            if (!form_.Error.Caption().empty()) Printf(stderr, "%s\n", form_.Error.Caption().c_str());
            Printf(stderr, "tolm-upgrade-cli: %s was refused by the file check\n", file.c_str());
            if (report_) report_->Finish(form_.Error.Caption(), kFileRefusedNote);
            return kExitUsage;
        }
        if (form_.Family() == TFamily::None) {
            Printf(stderr, "tolm-upgrade-cli: %s names no known device family in its trailer\n", file.c_str());
            Printf(stdout, "G001.1 Upgrade file invalid\n");
            if (report_) report_->Finish("G001.1 Upgrade file invalid", kFileRefusedNote);
            return kExitUsage;
        }
        SelectPort(form_, port_);
        if (report_) report_->Family();
        return kExitPass;
    }

    bool Announces() const { return form_.Family() == TFamily::Quorin; }

    // The device is on the port now: the press, and the docking station's
    // image that a two-image file sends after it.
    int OnePort() {
        if (report_) report_->State("upgrading");
        if (!Press()) return PortNotOpened();
        if (form_.Docking_Times.Enabled()) PumpUntil([&] { return !form_.Docking_Times.Enabled() || Stopped(); }, -1);
        return Result("", false);
    }

    // A Quorin file: the press opens the port, and the terminal's
    // announcement starts the transfer inside the receive handler; it is
    // over once the result line holds its outcome.
    int Announced() {
        if (!Press()) return PortNotOpened();
        const long waitSeconds = options_.waitSeconds;
        Printf(stderr, "waiting up to %ld s for the terminal's announcement on port %d\n", waitSeconds, port_);
        const bool timedOut = !PumpUntil([&] { return !form_.Error.Caption().empty() || Stopped(); },
                                         static_cast<int>(waitSeconds * 1000));
        // A terminal that acknowledges the connect request ends the sequence
        // without a transfer or a message, so the wait runs out then too.
        std::string note;
        if (timedOut) {
            note = "no result within " + std::to_string(waitSeconds) +
                   " s: no announcement came, or the terminal acknowledged the connect request and no transfer "
                   "followed";
            Printf(stderr, "tolm-upgrade-cli: %s\n", note.c_str());
        }
        return Result(note, timedOut);
    }

    // Under a station: waits for the device (Reportedrun.h), then upgrades it;
    // the station judges the attempt before its first byte.
    int Station() {
        report_->AfterDevice(AfterDevices(options_.after), std::chrono::seconds(options_.removalSilence));
        report_->AskBeforeFirstSend();
        if (!Announces()) {
            if (!report_->AwaitDevice(port_)) return kExitStopped;
            report_->State("upgrading");
            if (!Press()) return kExitPort;  // taken between the probe and the press: waited for again
            if (form_.Docking_Times.Enabled())
                PumpUntil([&] { return !form_.Docking_Times.Enabled() || Stopped(); }, -1);
            return Result("", false);
        }
        // The press opens the port for the terminal's announcement; a line
        // that hangs up before one came is opened again once it is back.
        while (true) {
            if (!report_->AwaitDevice(port_)) return kExitStopped;
            form_.RunEvent([&] { form_.UpgradeClick(); });
            if (form_.TolmSerialComm1.GetSerialComIsOpen(port_) != 1) {  // taken meanwhile
                std::this_thread::sleep_for(std::chrono::milliseconds(500));
                continue;
            }
            const auto end = report_->AwaitAnnouncedTransfer();
            if (end == TReportedRun::TAnnounced::TransferEnded) break;
            form_.TolmSerialComm1.CloseComPort(port_);
            if (end == TReportedRun::TAnnounced::Stopped && !report_->Refusal().empty()) {
                report_->Finish(report_->Refusal(), "");
                return kExitFailed;
            }
            if (end == TReportedRun::TAnnounced::Stopped) return kExitStopped;
            if (end == TReportedRun::TAnnounced::LineLost) {
                // The terminal was answered, then its line went before a transfer ended.
                report_->Finish("", "the line was lost after the terminal announced itself; no transfer ended");
                return kExitFailed;
            }
        }
        return Result("", false);
    }

private:
    // From the press on, a signal stops the upgrade after its current
    // exchange. A reported run is stopped by its parent instead
    // (Reportedrun.h): it ignores the terminal's Ctrl-C, which is the
    // parent's to judge. False when the port could not be opened.
    bool Press() {
        if (!report_) stop_.emplace([this] { form_.TolmSerialComm1.RequestStop(); });
        form_.RunEvent([&] { form_.UpgradeClick(); });
        return form_.Outcome().Kind != TUpgradeOutcome::TKind::PortNotOpened;
    }

    bool Stopped() const { return stop_ ? stop_->Stopped() : StopAsked(); }

    int PortNotOpened() {
        if (progress_) progress_->Finish();
        if (report_) report_->Finish(form_.Outcome().Text, "");
        return kExitPort;
    }

    // The result line on stdout, the closing records of a reported run, and
    // the exit status.
    int Result(const std::string& note, bool timedOut) {
        if (progress_) progress_->Finish();
        std::string result = form_.Error.Caption();
        // A signal that came after the whole upgrade had passed changes nothing.
        const bool complete = IsPassResult(result) && !form_.Docking_Times.Enabled();
        if (Stopped() && !complete) {
            // Nothing more is sent; the port is closed before the outcome is told.
            form_.Docking_Times.SetEnabled(false);
            form_.TolmSerialComm1.CloseComPort(port_);
            // A failure that the stop itself caused (a send it refused) is the
            // stop; an attempt the station refused before its first byte, the refusal.
            const bool refused = report_ && !report_->Refusal().empty();
            if (refused)
                result = report_->Refusal();
            else if (result.empty() || IsPassResult(result) || (report_ && report_->StoppedMidway()))
                result = "Upgrade stopped";
            Printf(stdout, "%s\n", result.c_str());
            std::fflush(stdout);
            if (report_) report_->Finish(result, "");
            if (refused) return kExitFailed;
            return stop_ ? stop_->ExitStatus() : kExitStopped;
        }
        Printf(stdout, "%s\n", result.c_str());
        std::fflush(stdout);
        const int exitCode = IsPassResult(result) && !timedOut ? kExitPass : kExitFailed;
        // A Quorin run that ended early leaves its port open.
        if (options_.station) form_.TolmSerialComm1.CloseComPort(port_);
        if (report_) report_->Finish(result, note);
        return exitCode;
    }

    // The form's messages go to stderr, line by line, for as long as the form lives.
    struct TMessagesOnStderr {
        std::shared_ptr<IMessageSink> previous = InstallMessageSink(std::make_shared<StderrLinesSink>());
        ~TMessagesOnStderr() { InstallMessageSink(previous); }
    };

    const UpgradeOptions& options_;
    const int port_;
    TMessagesOnStderr messages_;
    TForm1 form_;
    std::unique_ptr<TReportedRun> report_;
    std::optional<ProgressView> progress_;
    std::optional<TStopSignals> stop_;
};

// Refused when a station serves one of the ports (its own runs aside).
bool PortsOwnedByAStation(const std::vector<std::string>& ports) {
    bool owned = false;
    for (const auto& port : ports) {
        if (const std::string why = TPortOwner::OwnedBy(port); !why.empty()) {
            Printf(stderr, "tolm-upgrade-cli: %s\n", why.c_str());
            owned = true;
        }
    }
    return owned;
}

int Upgrade(const UpgradeOptions& options) {
    auto ports = ExpandPortList(options.ports);
    if (ports.empty()) ports = {"1"};
    if (!options.db.connection.empty() && options.results.empty())
        throw UsageError("--db sends the lines of a results file: give --results too");
    if (!options.station && PortsOwnedByAStation(ports)) return kExitUsage;
    if (ports.size() > 1 || options.json || !options.results.empty())
        return MultiUpgrade({ports, options.file, options.log, options.waitSeconds, options.json, options.results,
                             options.stationName, options.operatorId, options.db});
    const PortArg port(ports[0]);
    if (!options.log.empty()) SetLogPath(options.log);
    if (options.station && options.progressFd < 0) throw UsageError("--station-run runs under tolm-upgrade-cli station");
    std::string whyNot;
    if (!CanReadFile(options.file, whyNot)) {
        Printf(stderr, "tolm-upgrade-cli: %s\n", whyNot.c_str());
        return kExitUsage;
    }
    TUpgradeRun run(options, port.Number());
    if (const int refused = run.CheckFile(); refused != kExitPass) return refused;
    if (options.station) return run.Station();
    return run.Announces() ? run.Announced() : run.OnePort();
}
}  // namespace

void AddUpgradeCommand(CLI::App& app, CommandRun& run) {
    auto options = std::make_shared<UpgradeOptions>();
    CLI::App* cmd = app.add_subcommand("upgrade", "upgrade a device with FILE");
    cmd->add_option("FILE", options->file, "firmware (.bin) or font (.fon) file")->required();
    cmd->add_option("--port", options->ports,
                    std::string(kPortForms) + "; default 1. Repeat it, or\n"
                    "give a list (3,4,7-10), to upgrade every port at once")
        ->type_name("P")
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    cmd->add_flag("--json", options->json, "print one JSON document of the results instead of result lines");
    // Not for operators: how multi-port and station runs start their children.
    cmd->add_option("--progress-fd", options->progressFd)->check(WholeNumber(3, 1 << 20))->group("");
    cmd->add_flag("--station-run", options->station)->group("");
    cmd->add_option("--after", options->after)->group("")->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    cmd->add_option("--removal-silence", options->removalSilence)->check(WholeNumber(0, 3600))->group("");
    cmd->add_option("--log", options->log, "write the diagnostic hex-dump log to FILE")->type_name("FILE");
    cmd->add_option("--results", options->results, "append one line per port's attempt to this CSV file")
        ->type_name("FILE.csv");
    cmd->add_option("--station", options->stationName,
                    "the station's name in the results file's lines (default the host name)")
        ->type_name("NAME");
    cmd->add_option("--operator", options->operatorId, "who works at the bench, named in the results file's lines")
        ->type_name("ID");
    AddDatabaseOptions(cmd, options->db, true);
    cmd->add_option("--wait", options->waitSeconds,
                    "how long a Quorin file waits for the terminal's announcement (default 60)")
        ->type_name("SECONDS")
        ->check(WholeNumber(0, 24 * 3600));
    cmd->footer(
        "Checks FILE as the window does and runs the \"Upgrade\" press on port P.\n"
        "The last line on stdout is the result line. Exit status: 0 \"Upgrade PASS\" or \"Font Upgrade PASS\";\n"
        "1 any other outcome; 2 usage error or a file that is missing, unreadable or refused; 3 port not opened;\n" +
        std::string(kStopStatusText) + " stopped the upgrade after its current exchange.\n"
        "With several ports (or --json), every port runs at once: one result line per port (\"COM3: Upgrade\n"
        "PASS\"), exit status 0 only when all passed.\n"
        "--results appends each port's attempt to FILE.csv as a station does (exit status 4 when a line\n"
        "could not be written); --db then sends the new lines to the site database (what it could not take\n"
        "waits in the file for \"records push\"; with --db-required nothing is upgraded while the database\n"
        "cannot be reached).");
    cmd->callback([options, &run] { run = [options] { return Upgrade(*options); }; });
}

}  // namespace tolm::cli
